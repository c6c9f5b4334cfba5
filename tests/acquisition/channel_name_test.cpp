// The suffixes a channel box accepts, split without a window or an MC.
#include "acquisition/channel_name.h"

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

} // namespace
