// The suffixes a channel box accepts, split without a window or an MC.
#include "acquisition/channel_name.h"
#include "mcu/cdb.h"

#include <gtest/gtest.h>

using acq::ChannelName;
using acq::ParseNameInteger;
using acq::SplitChannelName;

namespace {

ChannelName Split(const std::string& text) {
    ChannelName name;
    EXPECT_TRUE(SplitChannelName(text, name)) << text;
    return name;
}

bool Refused(const std::string& text) {
    ChannelName name;
    return !SplitChannelName(text, name);
}

TEST(ChannelNameTest, BitSuffixGivesTheMaskOfItsDigit) {
    EXPECT_EQ(Split("CTR").base, "CTR");
    EXPECT_EQ(Split("CTR").suffixMask, 0);
    EXPECT_EQ(Split("CTR.3").base, "CTR");
    EXPECT_EQ(Split("CTR.3").suffixMask, 0x08);
    EXPECT_EQ(Split("CTR.0").suffixMask, 0x01);
    EXPECT_EQ(Split("CTR.7").suffixMask, 0x80);
    EXPECT_TRUE(Refused("CTR.8"));
    EXPECT_TRUE(Refused("CTR."));
    EXPECT_TRUE(Refused("CTR.X"));
    // Only the first "." counts; what follows its digit is not part of the name.
    EXPECT_EQ(Split("CTR.3X").base, "CTR");
}

TEST(ChannelNameTest, IndexSuffixIsAByteOffsetUpTo255) {
    EXPECT_EQ(Split("BUF[255]").arrayIndex, 255);
    EXPECT_EQ(Split("BUF[255]").base, "BUF");
    EXPECT_EQ(Split("BUF[0]").arrayIndex, 0);
    EXPECT_EQ(Split("BUF[$1F]").arrayIndex, 0x1F);
    EXPECT_EQ(Split("BUF[$ff]").arrayIndex, 0xFF);
    EXPECT_TRUE(Refused("BUF[300]"));
    EXPECT_TRUE(Refused("BUF[256]"));
    EXPECT_TRUE(Refused("BUF[$100]"));
    EXPECT_TRUE(Refused("BUF[3"));
    EXPECT_TRUE(Refused("BUF[]"));
    EXPECT_TRUE(Refused("BUF[-1]"));
    EXPECT_TRUE(Refused("BUF[ 3]"));
    EXPECT_TRUE(Refused("BUF[3X]"));
}

TEST(ChannelNameTest, BothSuffixesInEitherOrder) {
    for (const char* text : {"BUF[4].2", "BUF.2[4]"}) {
        ChannelName name = Split(text);
        EXPECT_EQ(name.base, "BUF") << text;
        EXPECT_EQ(name.arrayIndex, 4) << text;
        EXPECT_EQ(name.suffixMask, 0x04) << text;
    }
    EXPECT_TRUE(Refused("BUF.9[4]"));
    EXPECT_TRUE(Refused("BUF[400].2"));
}

TEST(ChannelNameTest, IntegersAreDecimalOrDollarHexWithinTheirLimit) {
    std::uint32_t value = 0;
    EXPECT_TRUE(ParseNameInteger("32", 0xFFFF, value));
    EXPECT_EQ(value, 32u);
    EXPECT_TRUE(ParseNameInteger("$7fF", 0xFFFF, value));
    EXPECT_EQ(value, 0x7FFu);
    EXPECT_TRUE(ParseNameInteger("65535", 0xFFFF, value));
    EXPECT_FALSE(ParseNameInteger("65536", 0xFFFF, value));
    EXPECT_FALSE(ParseNameInteger("99999999999999999999", 0xFFFF, value));
    for (const char* text : {"", "$", "+3", "-3", "3 ", "0x10", "12A", "SINE"}) {
        EXPECT_FALSE(ParseNameInteger(text, 0xFFFF, value)) << text;
    }
}

// A variable the debug file lists in memory the link cannot read resolves to nothing.
TEST(ChannelNameTest, UnreachableVariableIsNotResolved) {
    mcu::MCAppl appl;
    appl.vars.resize(2);
    appl.vars[0].name = "CURVE";
    appl.vars[0].address = 0x36F;
    appl.vars[0].reachable = false;
    appl.vars[1].name = "LEVEL";
    appl.vars[1].address = 0x21;
    const acq::VariableTable table(appl);
    acq::ResolvedChannel r;
    EXPECT_FALSE(acq::ResolveChannelName(table, "CURVE", r));
    EXPECT_FALSE(acq::ResolveChannelName(table, "CURVE[1]", r));
    ASSERT_TRUE(acq::ResolveChannelName(table, "LEVEL[1]", r));
    EXPECT_EQ(r.address, 0x22);
}

TEST(ChannelNameTest, TypeAfterAColonIsSplitOff) {
    const ChannelName element = Split("BUF[2]:i16");
    EXPECT_EQ(element.base, "BUF");
    EXPECT_EQ(element.arrayIndex, 2);
    EXPECT_TRUE(element.typed && element.type == mcu::VarType::I16);
    EXPECT_FALSE(Split("$3A").typed);
    EXPECT_TRUE(Refused("SPEED:Q"));
}

// Names of an SDCC debug file: types, members and elements listed whole, suffixes on them.
TEST(ChannelNameTest, TypedNamesMembersAndElementsOfADebugFile) {
    mcu::MCAppl appl;
    ASSERT_TRUE(mcu::LoadCdbFile(appl, std::string(SDCC_DIR) + "/kiln.cdb")) << appl.errorText;
    const acq::VariableTable table(appl);
    using mcu::VarType;
    struct Case {
        const char* text;
        std::uint16_t address;
        std::uint8_t mask;
        VarType type;
        const char* variable; // null: a bare address
    };
    const Case cases[] = {
        {"TICKS", 0x23, 0, VarType::U16, "TICKS"},
        {"TICKS:U8", 0x23, 0, VarType::U8, "TICKS"},
        {"SPEED:i16", 0x25, 0, VarType::I16, "SPEED"},
        {"SPEED:F32", 0x25, 0, VarType::F32, "SPEED"},
        {"$3A:U16", 0x3A, 0, VarType::U16, nullptr},
        {"$3A", 0x3A, 0, VarType::U8, nullptr},
        {"SAMPLES[2]", 0x37, 0, VarType::U16, "SAMPLES[2]"},
        {"SAMPLES[2]:U8", 0x37, 0, VarType::U8, "SAMPLES[2]"},
        {"SAMPLES.3", 0x33, 0x08, VarType::U8, "SAMPLES"},
        {"ZONE.TEMP", 0x3A, 0, VarType::I16, "ZONE.TEMP"},
        {"ZONE.TEMP[1]", 0x3C, 0, VarType::I16, "ZONE.TEMP"}, // elements of its type
        {"ZONE.HIST[1].2", 0x3D, 0x04, VarType::U8, "ZONE.HIST[1]"},
        {"POINTS[1].Y", 0x41, 0, VarType::I8, "POINTS[1].Y"},
        {"ALARM", 0x29, 0x01, VarType::U8, "ALARM"},
        {"ALARM:U8", 0x29, 0, VarType::U8, "ALARM"},
        {"ALARM.3", 0x29, 0x01, VarType::U8, "ALARM"}, // a bit of the table keeps its mask
        {"$1000", 0x1000, 0, VarType::U8, nullptr},    // a byte address is any 16-bit one
        {"LEVEL.1:BIT", 0x21, 0x02, VarType::U8, "LEVEL"},
    };
    for (const Case& c : cases) {
        acq::ResolvedChannel r;
        std::string error;
        ASSERT_TRUE(acq::ResolveChannelName(table, c.text, r, error)) << c.text << ": " << error;
        EXPECT_EQ(r.address, c.address) << c.text;
        EXPECT_EQ(r.mask, c.mask) << c.text;
        EXPECT_EQ(r.type, c.type) << c.text;
        EXPECT_EQ(r.variable == nullptr ? "" : r.variable->name,
                  c.variable == nullptr ? "" : c.variable)
            << c.text;
    }
    const std::pair<const char*, const char*> refused[] = {
        {"SPEED:I24", "Unknown type I24"},
        {"DEEP", "Var DEEP cannot be read: indirect RAM above $7F"},
        {"CURVE[1]", "Var CURVE[1] cannot be read: code memory"},
        {"NOSUCH", "Var NOSUCH not defined"},
        {"ZONE", "Var ZONE not defined"},
        {"LEVEL:BIT", "Type bit needs a bit: LEVEL.b"},
        {"LEVEL.3:U16", "A bit takes no type but bit: LEVEL.3"},
        {"$7FF:U16", "$7FF lies beyond the link's memory"},
        {"SAMPLES[256]", "Bad name SAMPLES[256]"},
    };
    for (const auto& [text, why] : refused) {
        acq::ResolvedChannel r;
        std::string error;
        EXPECT_FALSE(acq::ResolveChannelName(table, text, r, error)) << text;
        EXPECT_EQ(error, why) << text;
    }
}

} // namespace
