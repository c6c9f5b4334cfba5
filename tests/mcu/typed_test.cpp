// Typed names and whole values: names and types parsed against the kiln fixture's table, bytes
// decoded in both orders, and a 16-bit counter of the simulated MC read thousands of times
// without a torn value.
#include "foundation/params.h"
#include "mcu/access.h"
#include "mcu/cdb.h"
#include "mcu/typed.h"
#include "sim_link.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace mcu;

namespace {

const std::string kSdcc = std::string(MCU_DATA_DIR) + "/../sdcc";

std::string Describe(const TypedName& t) {
    std::ostringstream out;
    out << t.name << " $" << std::hex << std::uppercase << t.address << "/" << int(t.bitMask) << " "
        << TypeName(t.type);
    return out.str();
}

TEST(TypedNames, NamesAddressesSuffixesAndTypes) {
    MCAppl appl;
    ASSERT_TRUE(LoadCdbFile(appl, kSdcc + "/kiln.cdb")) << appl.errorText;
    struct Case {
        const char* text;
        const char* result; // what it reads, or the error
    };
    const Case cases[] = {
        {"TICKS", "TICKS $23/0 u16"}, // the table's type
        {"ticks", "TICKS $23/0 u16"}, // names in upper case
        {"SPEED:i16", "SPEED $25/0 i16"},
        {"TICKS:u8", "TICKS $23/0 u8"}, // a type overrides the table's
        {"GAIN", "GAIN $2F/0 f32"},
        {"$3A:u16", " $3A/0 u16"},
        {"$3A", " $3A/0 u8"}, // an address without a type is a byte
        {"58:I8", " $3A/0 i8"},
        {"SAMPLES[2]:u16", "SAMPLES[2] $37/0 u16"}, // listed as a whole
        {"SAMPLES[70]", "SAMPLES $BF/0 u16"},       // an index counts elements
        {"ZONE.TEMP", "ZONE.TEMP $3A/0 i16"},
        {"POINTS[1].Y", "POINTS[1].Y $41/0 i8"},
        {"ZONE.HIST[1]:u8", "ZONE.HIST[1] $3D/0 u8"},
        {"LEVEL.3", "LEVEL $21/8 bit"}, // a bit of a byte
        {"LEVEL[1].7", "LEVEL $22/80 bit"},
        {"READY", "READY $20/1 bit"},
        {"CY", "CY $D0/80 bit"},
        {"XCOUNT", "XCOUNT $200/0 u16"},
        {"$7FF:u8", " $7FF/0 u8"},
        {"TICKS:q7", "Unknown type q7"},
        {"NOPE", "Var NOPE not defined"},
        {"NOPE.3", "Var NOPE.3 not defined"},
        {"TICKS[x]", "Bad name TICKS[X]"},
        {"DEEP", "Var DEEP cannot be read: indirect RAM above $7F"},
        {"CURVE[1]", "Var CURVE[1] cannot be read: code memory"},
        {"LEVEL:bit", "Type bit needs a bit: LEVEL.b"},
        {"LEVEL.3:u16", "A bit takes no type but bit: LEVEL.3"},
        {"$7FF:u16", "$7FF lies beyond the link's memory"},
        {"$800", "Var $800 not defined"},
    };
    for (const Case& c : cases) {
        TypedName typed;
        std::string error;
        const bool ok = ParseTypedName(appl, c.text, typed, error);
        EXPECT_EQ(ok ? Describe(typed) : error, c.result) << c.text;
    }
}

TEST(TypedValues, DecodedInBothOrdersAndFormatted) {
    struct Case {
        VarType type;
        std::vector<std::uint8_t> bytes; // in address order
        ByteOrder order;
        const char* text;
    };
    const Case cases[] = {
        {VarType::U8, {0xFB}, ByteOrder::Little, "251"},
        {VarType::I8, {0x80}, ByteOrder::Little, "-128"},
        {VarType::U16, {0x34, 0x12}, ByteOrder::Little, "4660"},
        {VarType::U16, {0x12, 0x34}, ByteOrder::Big, "4660"},
        {VarType::I16, {0xFB, 0xFF}, ByteOrder::Little, "-5"},
        {VarType::I16, {0xFF, 0xFB}, ByteOrder::Big, "-5"},
        {VarType::U32, {0x78, 0x56, 0x34, 0x12}, ByteOrder::Little, "305419896"},
        {VarType::U32, {0xFF, 0xFF, 0xFF, 0xFF}, ByteOrder::Big, "4294967295"},
        {VarType::I32, {0x00, 0x00, 0x00, 0x80}, ByteOrder::Little, "-2147483648"},
        {VarType::F32, {0x00, 0x00, 0xC0, 0x3F}, ByteOrder::Little, "1.5"},
        {VarType::F32, {0x3D, 0xCC, 0xCC, 0xCD}, ByteOrder::Big, "0.1"},
        {VarType::F32, {0xFF, 0xFF, 0x7F, 0xFF}, ByteOrder::Little, "-3.4028235e+38"},
        {VarType::F32, {0x01, 0x00, 0x80, 0x3F}, ByteOrder::Little, "1.0000001"},
    };
    for (const Case& c : cases) {
        const TypedValue v = DecodeValue(c.type, c.bytes.data(), c.order);
        EXPECT_EQ(FormatValue(v), c.text) << TypeName(c.type);
    }
    EXPECT_EQ(
        DecodeValue(VarType::I16, std::vector<std::uint8_t>{0xFB, 0xFF}.data(), ByteOrder::Little)
            .AsDouble(),
        -5.0);
}

TEST(TypedValues, ByteOrderIsAnApplicationOption) {
    testing_support::ParamGuard guard;
    EXPECT_EQ(ApplicationByteOrder("KILN"), ByteOrder::Little); // no parameter file
    testing_support::TempDir dir;
    ASSERT_TRUE(foundation::ReadParamFile(
        dir.Write("p.ini", "[BIG_ENDIAN] Keil builds\nmotor, pump;KEIL\n")));
    EXPECT_EQ(ApplicationByteOrder("MOTOR"), ByteOrder::Big);
    EXPECT_EQ(ApplicationByteOrder("Keil"), ByteOrder::Big);
    EXPECT_EQ(ApplicationByteOrder("KILN"), ByteOrder::Little);
    ASSERT_TRUE(foundation::ReadParamFile(dir.Write("q.ini", "[BIG_ENDIAN]\n*\n")));
    EXPECT_EQ(ApplicationByteOrder("KILN"), ByteOrder::Big);
}

// A counter of the simulated MC crossing a byte boundary every eight byte reads or so (16 more
// every millisecond; a read takes two character times, about 2 ms at 9600 baud).
std::string CounterScenario(bool big) {
    return std::string("device KILN\n appl_id 0x21\n var TICKS 0x23 counter16 1 16") +
           (big ? " big" : "") + "\nend\nchannel 1 KILN\n";
}

struct Sample {
    std::uint32_t value;
    std::uint64_t us;
};

// Consecutive samples of the counter never step back (modulo 65536) and never run ahead of
// what the time between them allows: a torn value does one or the other.
int Violations(const std::vector<Sample>& samples) {
    int bad = 0;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        const std::uint32_t step = (samples[i].value - samples[i - 1].value) & 0xFFFF;
        const std::uint64_t allowed = 16 * ((samples[i].us - samples[i - 1].us) / 1000 + 2);
        if (step >= 0x8000 || step > allowed) {
            ++bad;
        }
    }
    return bad;
}

class WholeReads : public ::testing::TestWithParam<ByteOrder> {};

TEST_P(WholeReads, CounterCrossingByteBoundariesIsNeverTorn) {
    const ByteOrder order = GetParam();
    ResetMcuModule();
    testing_support::SimBench bench(CounterScenario(order == ByteOrder::Big));
    MCAppl appl;
    appl.channel = 1;
    appl.baudRate = 9600;
    appl.vars.resize(1);
    appl.vars[0].name = "TICKS";
    appl.vars[0].address = 0x23;
    appl.vars[0].type = VarType::U16;
    TypedName ticks;
    std::string error;
    ASSERT_TRUE(ParseTypedName(appl, "TICKS", ticks, error)) << error;
    bench.ClearWire();

    std::vector<Sample> whole;
    int failed = 0;
    int wraps = 0;
    for (int i = 0; i < 3000; ++i) {
        TypedValue v;
        if (ReadTypedValue(appl, ticks, order, v)) {
            if (!whole.empty() && static_cast<std::uint32_t>(v.integer) < whole.back().value) {
                ++wraps;
            }
            whole.push_back({static_cast<std::uint32_t>(v.integer), bench.Clock().NowUs()});
        } else {
            EXPECT_EQ(appl.errorText, "Value of TICKS changed while it was read");
            ++failed;
        }
    }
    EXPECT_EQ(Violations(whole), 0);
    EXPECT_GT(whole.size(), 2900u); // a failed read needs three changes in a row
    // The counter does move under the reads: some took a second try (a byte read sends one
    // byte here, a steady value three).
    EXPECT_GT(bench.Sent().size(), 3u * 3000u + 100u);
    EXPECT_GE(wraps, 3); // and goes round more than once

    // The same bytes read one after the other, as two byte channels would: torn values.
    const int low = order == ByteOrder::Little ? 0 : 1;
    std::vector<Sample> bytewise;
    for (int i = 0; i < 3000; ++i) {
        std::uint8_t lo = 0;
        std::uint8_t hi = 0;
        ASSERT_TRUE(ReadVariable(appl, 0x23, static_cast<std::uint8_t>(low), lo));
        ASSERT_TRUE(ReadVariable(appl, 0x23, static_cast<std::uint8_t>(1 - low), hi));
        bytewise.push_back({static_cast<std::uint32_t>(hi << 8 | lo), bench.Clock().NowUs()});
    }
    EXPECT_GT(Violations(bytewise), 50);
    ResetMcuModule();
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, WholeReads,
                         ::testing::Values(ByteOrder::Little, ByteOrder::Big));

// A byte read that fails ends the whole read with its own error; a bit reads 0 or 1.
TEST(WholeReadsTest, FailedByteReadAndBits) {
    ResetMcuModule();
    testing_support::SimBench bench("device KILN\n appl_id 0x21\n var B 0x21\n mem 0x21 0x08\n"
                                    " mem 0x30 0xFB 0xFF\nend\nchannel 1 KILN\n");
    MCAppl appl;
    appl.channel = 1;
    appl.baudRate = 9600;
    TypedValue v;
    ASSERT_TRUE(ReadTypedValue(appl, {"", 0x21, 0x08, VarType::Bit}, ByteOrder::Little, v));
    EXPECT_EQ(v.integer, 1);
    ASSERT_TRUE(ReadTypedValue(appl, {"", 0x21, 0x04, VarType::Bit}, ByteOrder::Little, v));
    EXPECT_EQ(v.integer, 0);
    ASSERT_TRUE(ReadTypedValue(appl, {"", 0x30, 0, VarType::I16}, ByteOrder::Little, v));
    EXPECT_EQ(v.integer, -5);
    appl.channel = 2; // nobody answers there
    EXPECT_FALSE(ReadTypedValue(appl, {"", 0x30, 0, VarType::I16}, ByteOrder::Little, v));
    EXPECT_EQ(appl.errorText, "Error during reading MC variable");
    ResetMcuModule();
}

} // namespace
