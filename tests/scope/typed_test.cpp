// Typed channels: the range a typed trace is drawn over and its label, the setter's and the
// trigger's bar in the variable's values, the readout of typed history, the 1-2-5 steps of the
// held view, and the OVEN demo, whose debug file makes TICKS a u16 and files its registers.
#include "scope/typed_range.h"
#include "scope_bench.h"

#include <QLineEdit>
#include <QSlider>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>

using namespace scope;
using mcu::VarType;
using scope_testing::CountPixels;
using scope_testing::ScopeBench;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(TypedRange, FitsWithAMarginInsideTheType) {
    const struct {
        double lo, hi;
        VarType type;
        ValueRange expected;
    } cases[] = {
        {1000, 1100, VarType::U16, {995, 1105}},
        {5, 5, VarType::U16, {4, 6}},            // flat: at least 1 either side
        {1000, 1000, VarType::I16, {950, 1050}}, // flat: a twentieth of its size
        {0, 65535, VarType::U16, {0, 65535}},    // never beyond the type
        {-200, -100, VarType::I16, {-205, -95}},
        {-1.5, 1.5, VarType::F32, {-1.65, 1.65}},
        {0.5, 0.6, VarType::I32, {0, 1}}, // integers: whole numbers outward
    };
    for (const auto& c : cases) {
        const ValueRange r = FitRange(c.lo, c.hi, c.type);
        EXPECT_NEAR(r.lo, c.expected.lo, 1e-9) << c.lo << ".." << c.hi;
        EXPECT_NEAR(r.hi, c.expected.hi, 1e-9) << c.lo << ".." << c.hi;
    }
}

TEST(TypedRange, FirstSweepWidensLaterSweepsHoldUntilTheirEnd) {
    TypedScale scale;
    scale.Reset(VarType::U16, 0, std::nullopt);
    ASSERT_TRUE(scale.On());
    EXPECT_TRUE(scale.Take(1000));
    EXPECT_EQ(scale.Range(), (ValueRange{950, 1050}));
    EXPECT_FALSE(scale.Take(1020)); // inside: no change
    EXPECT_TRUE(scale.Take(2000));
    EXPECT_EQ(scale.Range(), (ValueRange{950, 2050}));
    // The sweep rose by 1000: the next one has room to rise as far again.
    EXPECT_TRUE(scale.EndSweep());
    EXPECT_EQ(scale.Range(), (ValueRange{900, 3100}));
    // Fixed while the next sweep runs, refitted to it at its end.
    EXPECT_FALSE(scale.Take(5000));
    EXPECT_EQ(scale.Range(), (ValueRange{900, 3100}));
    EXPECT_TRUE(scale.EndSweep());
    EXPECT_EQ(scale.Range(), (ValueRange{4750, 5250}));
    // A falling value gets its room below; one back where it began gets none.
    for (double v : {400.0, 300.0, 200.0}) {
        scale.Take(v);
    }
    scale.EndSweep();
    EXPECT_EQ(scale.Range(), (ValueRange{0, 420})); // never below the type
    for (double v : {100.0, 300.0, 100.0}) {
        scale.Take(v);
    }
    scale.EndSweep();
    EXPECT_EQ(scale.Range(), (ValueRange{90, 310}));

    // A conversion's range is never refitted; bytes and bits are not scaled at all.
    Conversion converted;
    converted.physical = true;
    scale.Reset(VarType::I16, 0, ConversionRange(VarType::I16, converted));
    EXPECT_FALSE(scale.Take(3));
    EXPECT_FALSE(scale.EndSweep());
    EXPECT_EQ(scale.Range(), (ValueRange{-32768, 32767}));
    EXPECT_FALSE(ConversionRange(VarType::U32, converted));
    EXPECT_FALSE(ConversionRange(VarType::U16, Conversion{}));
    for (const auto& [type, mask] :
         {std::pair{VarType::U8, 0}, {VarType::Bit, 0}, {VarType::U16, 4}}) {
        scale.Reset(type, static_cast<std::uint8_t>(mask), std::nullopt);
        EXPECT_FALSE(scale.On()) << mcu::TypeName(type);
    }
}

TEST(TypedRange, RowsAndTheLabelAtTheEdge) {
    constexpr int H = 442;
    const ValueRange r{1000, 2000};
    const struct {
        double v;
        int row;
    } rows[] = {{1000, H - 1}, {2000, 1}, {1500, 221},    {0, H - 1},
                {9999, 1},     {kInf, 1}, {-kInf, H - 1}, {std::nan(""), H - 1}};
    for (const auto& c : rows) {
        EXPECT_EQ(TypedRow(c.v, r, H), c.row) << c.v;
    }
    Conversion tenths;
    tenths.physical = true;
    tenths.factor = 0.1;
    tenths.unit = "C";
    EXPECT_EQ(RangeLabelText(r, tenths).top, "200 C");
    EXPECT_EQ(RangeLabelText(r, tenths).bottom, "100 C");
    EXPECT_EQ(RangeLabelText({-1.25, 3}, Conversion{}).bottom, "-1.25");
    // A float's whole range, converted beyond what whole digits could show.
    tenths.factor = 1e40;
    const RangeLabel floats = RangeLabelText(TypeRange(VarType::F32), tenths);
    EXPECT_EQ(floats.top, "3.402823e+78 C");
    EXPECT_EQ(floats.bottom, "-3.402823e+78 C");
}

TEST(TypedRange, SetterSpansPerType) {
    const struct {
        VarType type;
        double around;
        BarSpan span;
    } cases[] = {
        {VarType::U8, 7, {0, 1, 255}},
        {VarType::U16, 7, {0, 1, 65535}},
        {VarType::I16, 7, {-32768, 1, 65535}},
        {VarType::I8, 7, {-128, 1, 255}},
        {VarType::U32, 10, {0, 1, 65535}},
        {VarType::I32, 100000, {67232, 1, 65535}},
        {VarType::U32, 4294967295.0, {4294901760.0, 1, 65535}},
        {VarType::F32, 2.5, {0, 0.0025, 2000}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SetterSpan(c.type, c.around), c.span) << mcu::TypeName(c.type);
    }
    const BarSpan u16 = SetterSpan(VarType::U16, 0);
    EXPECT_EQ(u16.Value(u16.Position(4660)), 4660);
    EXPECT_EQ(u16.Position(70000), 65535);
    // A float that read NaN or infinity: the bar around 0, in its middle.
    const BarSpan nan = SetterSpan(VarType::F32, std::nan(""));
    EXPECT_EQ(nan, SetterSpan(VarType::F32, kInf));
    EXPECT_EQ(nan.Position(std::nan("")), 1000);
    EXPECT_EQ(nan.Value(1000), 0);
}

TEST(TypedRange, TimePerDivisionSteps125) {
    const struct {
        double perDivUs;
        int steps;
        std::int64_t next;
        const char* text; // over 8 divisions
    } cases[] = {
        {250000, -1, 200000, "200 ms/div"}, {250000, 1, 500000, "500 ms/div"},
        {488281, 1, 500000, "500 ms/div"},  {500000, 1, 1000000, "1 s/div"},
        {100000, -1, 50000, "50 ms/div"},   {200000, -2, 50000, "50 ms/div"},
        {488281, -1, 200000, "200 ms/div"}, {1, -1, 1, "1 \u00B5s/div"},
    };
    for (const auto& c : cases) {
        const std::int64_t next = StepTimePerDiv(c.perDivUs, c.steps);
        EXPECT_EQ(next, c.next) << c.perDivUs << " " << c.steps;
        EXPECT_EQ(TimeScaleText(next * 8, 8), c.text);
    }
}

TEST(TypedRange, TypedHistoryReadsAndDecimates) {
    acq::ChannelTrace trace;
    trace.times = {0, 5, 20, 1000};
    trace.values = {0xE8, 0xE9, 0x10, 0x00};
    trace.typed = {1000, 1001, -3.5, 7};
    Conversion typed;
    typed.typed = true;
    EXPECT_EQ(ChannelReadout("SPEED", trace, 10, 20, typed), "SPEED  A 1001  B -3.5  B-A -1004");
    // The same trace as bytes, as a byte channel reads it.
    EXPECT_EQ(ChannelReadout("SPEED", trace, 10, std::nullopt, Conversion{}), "SPEED  A 233");
    const auto columns = DecimateTyped(trace, {0, 100}, 10);
    ASSERT_EQ(columns.size(), 3u);
    EXPECT_EQ(columns[0], (TypedColumn{0, 1000, 1001, 1000, 1001}));
    EXPECT_EQ(columns[1], (TypedColumn{2, -3.5, -3.5, -3.5, -3.5}));
    EXPECT_EQ(columns[2].column, 10);
}

// The OVEN demo with its debug file: TICKS is a u16.
class OvenTest : public ::testing::Test {
protected:
    OvenTest()
        : bench(scope_testing::ReadFile(std::string(DEMO_DIR) + "/sdcc/oven.scenario"),
                std::string(DEMO_DIR) + "/sdcc"),
          form(bench.Start()) {}

    void Type(const char* box, const char* text) {
        Ctl<TComboBox>(form, box)->SetText(text);
        Q_EMIT Ctl<TComboBox>(form, box)->UserChanged();
    }
    acq::Batch Next() {
        acq::Batch batch;
        batch.sequence = ++sequence;
        batch.appliedUpTo = ~std::uint64_t{0};
        batch.status.running = true;
        return batch;
    }
    // Channel 2's typed samples, one each 10 ms from t0; a sweep ends at the sample ending.
    void Draw(std::uint32_t t0, const std::vector<double>& values, int ending = -1) {
        acq::Batch batch = Next();
        batch.origin = origin;
        for (std::size_t k = 0; k < values.size(); ++k) {
            acq::Sample s;
            s.channel = 2;
            s.typed = values[k];
            s.value = static_cast<std::uint8_t>(static_cast<int>(values[k]) & 0xFF);
            s.stamp = t0 + static_cast<std::uint32_t>(10 * k);
            batch.samples.push_back(s);
        }
        if (ending >= 0) {
            batch.sweepEnds.push_back({static_cast<std::size_t>(ending), false, false});
            origin = batch.samples[static_cast<std::size_t>(ending)].stamp;
        }
        form.ShowBatch(batch);
    }

    ScopeBench bench;
    ScopeWindow& form;
    std::uint64_t sequence = 1000;
    std::uint32_t origin = 0;
};

TEST_F(OvenTest, DemoSettingsShowTicksAndTheTreeFilesEveryVariable) {
    std::string error;
    ASSERT_TRUE(form.LoadSettingsFile(std::string(DEMO_DIR) + "/sdcc/oven.dsw", error)) << error;
    EXPECT_EQ(form.Channel(2).name, "TICKS");
    EXPECT_EQ(form.Channel(2).type, VarType::U16);
    EXPECT_TRUE(form.Channel(2).scale.On());

    const auto* tree = form.findChild<QTreeWidget*>();
    ASSERT_NE(tree, nullptr);
    std::map<std::string, QTreeWidgetItem*> items;
    std::map<std::string, std::string> category;
    for (int c = 0; c < tree->topLevelItemCount(); ++c) {
        QTreeWidgetItem* node = tree->topLevelItem(c);
        for (int i = 0; i < node->childCount(); ++i) {
            const std::string name = node->child(i)->text(0).toStdString();
            items[name] = node->child(i);
            category[name] = node->text(0).toStdString();
        }
    }
    // Every variable of oven.cdb, the link's own keywords left out.
    std::size_t listed = 0;
    for (const mcu::MCVar& var : bench.Engine().Appl().vars) {
        listed += var.linkKeyword ? 0 : 1;
        EXPECT_TRUE(var.linkKeyword || items.count(var.name) == 1) << var.name;
    }
    EXPECT_EQ(items.size(), listed);
    EXPECT_GT(listed, 100u);
    const std::pair<const char*, const char*> filed[] = {
        {"ACC", "SFR bytes"},       {"P0", "SFR bytes"},          {"HEATER", "SFR bits"},
        {"CY", "SFR bits"},         {"TICKS", "USER bytes"},      {"TEMPERATURE", "USER bytes"},
        {"DOOR_OPEN", "USER bits"}, {"DL_APPL_ID", "USER bytes"},
    };
    for (const auto& [name, node] : filed) {
        EXPECT_EQ(category[name], node) << name;
    }
    EXPECT_EQ(items["TICKS"]->toolTip(0), "u16");
    EXPECT_EQ(items["TEMPERATURE"]->toolTip(0), "");
    EXPECT_EQ(items["DL_APPL_ID"]->toolTip(0), "not readable: code memory");

    // Choosing the unreadable variable is refused with the same text.
    Type("VarName3", "DL_APPL_ID");
    EXPECT_NE(form.Channel(3).name, "DL_APPL_ID");
    ASSERT_FALSE(bench.Boxes().isEmpty());
    EXPECT_EQ(bench.Boxes().back(), "not readable: code memory");
    // A typed x-variable is read as a byte, and says so.
    Type("VarNameX", "TICKS");
    EXPECT_EQ(form.Channel(0).type, VarType::U8);
    EXPECT_TRUE(bench.Boxes().back().startsWith("TICKS is u16: streaming and x-y mode"));
}

TEST_F(OvenTest, TypedChannelFitsItsSweepsShowsItsRangeAndTypedStatistics) {
    Type("VarName2", "TICKS");
    ASSERT_TRUE(form.Channel(2).scale.On());
    // The first sweep fits as values arrive.
    Draw(0, {1000, 1050, 1100});
    const ValueRange first{995, 1105};
    EXPECT_EQ(form.Channel(2).scale.Range(), first);
    // The label at the right edge in the channel's colour, at the top and at the bottom.
    const QRgb purple = kChannel2Colour;
    const int W = kTraceWidth;
    const int H = kTraceHeight;
    EXPECT_GT(CountPixels(form.TraceBitmap(), W - 40, 10, W - 1, 40, purple), 10);
    EXPECT_GT(CountPixels(form.TraceBitmap(), W - 40, H - 50, W - 1, H - 10, purple), 10);
    EXPECT_EQ(CountPixels(form.TraceBitmap(), W - 40, 100, W - 1, H - 100, purple), 0);
    // 1100 drawn at its row of the range fitted to take it (column 7 is 20 ms in).
    EXPECT_GT(CountPixels(form.TraceBitmap(), 6, TypedRow(1100, first, H) - 1, 8,
                          TypedRow(1100, first, H) + 1, purple),
              0);

    // The sweep ends: statistics in TICKS' own values; the next sweep is drawn over the range
    // the first showed (with room for its rise of 100), whatever it brings, and is fitted to at
    // its own end.
    Draw(2000, {1020}, 0);
    auto* min = Ctl<QLineEdit>(form, "Min2");
    auto* max = Ctl<QLineEdit>(form, "Max2");
    EXPECT_EQ(min->text(), "1000");
    EXPECT_EQ(max->text(), "1100");
    Draw(2010, {3000, 5000});
    EXPECT_EQ(form.Channel(2).scale.Range(), (ValueRange{990, 1210}));
    Draw(4000, {4000}, 0);
    EXPECT_EQ(form.Channel(2).scale.Range(), (ValueRange{622, 9378}));
    EXPECT_EQ(min->text(), "1020");
    EXPECT_EQ(max->text(), "5000");
}

TEST_F(OvenTest, SetterAndTriggerBarsOfferTheTypesRange) {
    Ctl<TComboBox>(form, "SetterName1")->SetText("TICKS");
    Ctl<TCheckBox>(form, "SetterSelected1")->SetChecked(true);
    const std::uint64_t reading = form.Setter(1).reading;
    ASSERT_NE(reading, 0u);
    EXPECT_EQ(form.Setter(1).type, VarType::U16);
    acq::Batch batch = Next();
    batch.setters.push_back({1, reading, false, true, 0x34, 4660});
    form.ShowBatch(batch);
    auto* bar = Ctl<QSlider>(form, "SetterTrackBar1");
    EXPECT_EQ(bar->maximum(), 65535);
    EXPECT_EQ(bar->value(), 4660);
    EXPECT_EQ(Ctl<QLineEdit>(form, "SetterVal1")->text(), "4660");
    // A write the MC took shows its typed answer.
    bar->setValue(30000);
    batch = Next();
    batch.setters.push_back({1, form.Setter(1).writing, true, true, 0x30, 30000});
    form.ShowBatch(batch);
    EXPECT_EQ(Ctl<QLineEdit>(form, "SetterVal1")->text(), "30000");
    EXPECT_EQ(form.Setter(1).typed, 30000);

    // The trigger's level in TICKS' values; a byte variable brings the byte's bar back.
    Ctl<TComboBox>(form, "TriggerName")->SetText("TICKS");
    auto* level = Ctl<QSlider>(form, "TriggerTrackBar");
    EXPECT_EQ(level->maximum(), 65535);
    level->setValue(1000);
    EXPECT_EQ(Ctl<QLineEdit>(form, "TriggerVal")->text(), "1000");
    Ctl<TComboBox>(form, "TriggerName")->SetText("POWER");
    EXPECT_EQ(level->maximum(), 255);
    EXPECT_EQ(Ctl<QLineEdit>(form, "TriggerVal")->text(), "255");
    // A type given with the name, as the engine reads it.
    Ctl<TComboBox>(form, "TriggerName")->SetText("POWER:i16");
    EXPECT_EQ(level->maximum(), 65535);
    level->setValue(0);
    EXPECT_EQ(Ctl<QLineEdit>(form, "TriggerVal")->text(), "-32768");
}

} // namespace
