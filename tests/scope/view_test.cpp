// The window as a view of the engine, end to end against the simulated MC: what the steps of
// the engine put on the screen, in the edits and in the rate label, and that nothing reaches
// the link from the window itself.
#include "scope_bench.h"
#include "wire_stubs.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>

#include <gtest/gtest.h>

using namespace scope;
using scope_testing::CountPixels;
using scope_testing::ScopeBench;

namespace {

constexpr int W = 704;
constexpr int H = 442;

class ViewTest : public ::testing::Test {
protected:
    ViewTest() : bench(scope_testing::DemoScenario(), DEMO_DIR), form(bench.Start()) {}

    void Select(TComboBox* box, const char* text) {
        box->SetText(text);
        Q_EMIT box->UserChanged();
    }

    ScopeBench bench;
    ScopeWindow& form;
};

TEST_F(ViewTest, ConstantByteDrawsALineAtItsRowAndTheSweepRestartsAfter2000Ms) {
    Select(Ctl<TComboBox>(form, "VarName1"), "PORT2"); // const $A5
    // The window sends; only the engine's step reads.
    bench.Sim().ClearWire();
    QCoreApplication::processEvents();
    EXPECT_TRUE(bench.Sim().Sent().empty());

    const QRgb blue = form.Channel(1).colour;
    const int row = AnalogueRow(0xA5, H);
    const std::uint64_t start = bench.Sim().Clock().NowUs();
    bench.RunFor(1000);
    EXPECT_GE(CountPixels(form.TraceBitmap(), 0, row, 340, row, blue), 340);
    EXPECT_EQ(CountPixels(form.TraceBitmap(), 0, 0, W - 1, row - 1, blue), 0);
    EXPECT_EQ(CountPixels(form.TraceBitmap(), 0, row + 1, W - 1, H - 1, blue), 0);
    const std::uint32_t firstOrigin = form.SweepOrigin();

    bench.RunFor(1500);
    // The sweep that began at the first sample ended 2000 ms later and a new one began at the
    // left edge on a cleared screen.
    EXPECT_GE(form.SweepOrigin() - firstOrigin, 2000u);
    EXPECT_LE(form.SweepOrigin() - firstOrigin, 2030u);
    EXPECT_GT(CountPixels(form.TraceBitmap(), 0, row, 100, row, blue), 95);
    EXPECT_EQ(CountPixels(form.TraceBitmap(), 250, row, W - 1, row, blue), 0);
    // The finished sweep's statistics and the rate of the reads.
    EXPECT_EQ(Ctl<QLineEdit>(form, "Min1")->text(), "165");
    EXPECT_EQ(Ctl<QLineEdit>(form, "Max1")->text(), "165");
    EXPECT_EQ(Ctl<QLineEdit>(form, "Avg1")->text(), "165");
    ASSERT_TRUE(Ctl<QLabel>(form, "Label16")->text().endsWith(" var/s"))
        << Ctl<QLabel>(form, "Label16")->text().toStdString();
    const double rate = Ctl<QLabel>(form, "Label16")->text().split(' ')[0].toInt();
    const double reads = static_cast<double>(bench.Sim().Sent().size()) * 1e6 /
                         static_cast<double>(bench.Sim().Clock().NowUs() - start);
    EXPECT_NEAR(rate, reads, reads * 0.03);
}

TEST_F(ViewTest, XYBurstIsDrawnOverTheSlotsOfTheXValues) {
    Select(Ctl<TComboBox>(form, "VarName1"), "SINE");
    Select(Ctl<TComboBox>(form, "VarNameX"), "SAW");
    bench.Pass();
    const TChannel& c = form.Channel(1);
    int drawn = 0;
    for (int i = 1; i <= kChannelSamples; ++i) {
        const auto slot = static_cast<std::size_t>(i);
        if (c.times[slot] != 0) {
            ++drawn;
            EXPECT_EQ(form.TraceBitmap().pixel(XYColumn(i, W), AnalogueRow(c.values[slot], H)),
                      c.colour)
                << i;
        }
    }
    EXPECT_GT(drawn, 40);
    EXPECT_TRUE(Ctl<QLabel>(form, "Label16")->text().endsWith(" var/s"));
}

TEST_F(ViewTest, OfflineSaysWhyInItsTooltipUntilTheRateIsWrittenAgain) {
    Select(Ctl<TComboBox>(form, "VarName1"), "SINE");
    bench.Pass();
    testing_support::PluggableLink link(bench.Sim().Serial());
    link.Mute(true);
    bench.Pass();
    EXPECT_EQ(Ctl<QLabel>(form, "Label16")->text(), "OFFLINE");
    EXPECT_EQ(Ctl<QLabel>(form, "Label16")->toolTip(), "MC silent: no answer on COM1");
    link.Mute(false);
    bench.RunFor(500);
    EXPECT_EQ(Ctl<QLabel>(form, "Label16")->text(), "OFFLINE");
    EXPECT_TRUE(Ctl<QLabel>(form, "Label16")->toolTip().isEmpty());
    bench.RunFor(2500); // a whole sweep of samples
    EXPECT_TRUE(Ctl<QLabel>(form, "Label16")->text().endsWith(" var/s"));

    link.Unplug();
    bench.Pass();
    EXPECT_EQ(Ctl<QLabel>(form, "Label16")->text(), "OFFLINE");
    EXPECT_EQ(Ctl<QLabel>(form, "Label16")->toolTip(), "Device gone: device gone");
    link.Replug();
    bench.RunFor(3000);
    EXPECT_TRUE(Ctl<QLabel>(form, "Label16")->text().endsWith(" var/s"));
}

} // namespace
