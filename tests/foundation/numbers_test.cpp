#include "foundation/numbers.h"
#include "foundation/text.h"

#include <gtest/gtest.h>

using namespace foundation;

namespace {

struct ParseCase {
    const char* text;
    double value;
    bool error;
};

TEST(ParseNumber, AllForms) {
    const ParseCase cases[] = {
        {"1Fh", 31, false},
        {"$1F", 31, false},
        {"h1F", 31, false},
        {"1FH", 31, false},
        {"H1f", 31, false},
        {"2K", 2048, false},
        {"1,5k", 1536, false},
        {"1.5", 1.5, false},
        {"-3", -3, false},
        {"", 0, true},
        {"1.5x", 0, true},
        {"G", 0, true},
        {"Gh", 15, false},
        {"$FFFFFFFF", -1, false},
        {"80000000h", -2147483648.0, false},
        {"$123456789", 0x23456789, false}, // a ninth digit from the right weighs nothing
        {"K", 0, true},
        {" 7", 7, false},
        {"7 ", 0, true},
    };
    for (const auto& c : cases) {
        ToolsError() = "stale";
        EXPECT_EQ(ParseNumber(c.text), c.value) << '"' << c.text << '"';
        EXPECT_EQ(ToolsError(), c.error ? "invalid numeric format" : "") << '"' << c.text << '"';
    }
}

TEST(HexDigits, ValuesCharactersAndBytes) {
    EXPECT_EQ(HexDigitValue('0'), 0);
    EXPECT_EQ(HexDigitValue('9'), 9);
    EXPECT_EQ(HexDigitValue('a'), 10);
    EXPECT_EQ(HexDigitValue('F'), 15);
    EXPECT_EQ(HexDigitValue('@'), 9); // anything below "A" counts as 9
    EXPECT_EQ(HexDigitValue(' '), 9);
    EXPECT_EQ(HexDigitValue('g'), 15); // anything from "A" up counts as 15
    EXPECT_EQ(HexDigitValue('\xe4'), 15);
    EXPECT_EQ(HexDigitChar(0), '0');
    EXPECT_EQ(HexDigitChar(11), 'B');
    EXPECT_EQ(ByteToHex(10), "0A");
    EXPECT_EQ(ByteToHex(255), "FF");
    EXPECT_EQ(ByteToHex(0), "00");
    EXPECT_EQ(HexTextToInt("$7FFFFFFF"), 2147483647);
    EXPECT_EQ(HexTextToInt("x10"), 16); // the first character is skipped whatever it is
    EXPECT_EQ(HexTextToInt("$"), 0);
    EXPECT_EQ(HexTextToInt(""), 0);
}

TEST(NumberText, IntegersAndFixedPoint) {
    EXPECT_EQ(IntToText(0), "0");
    EXPECT_EQ(IntToText(-42), "-42");
    EXPECT_EQ(IntToText(1234567), "1234567");
    EXPECT_EQ(FloatToText(2.5, 0), "2"); // ties go to the even neighbour
    EXPECT_EQ(FloatToText(3.5, 0), "4");
    EXPECT_EQ(FloatToText(-7.6, -1), "-8");
    EXPECT_EQ(FloatToText(3.14159, 2), "3.14");
    EXPECT_EQ(FloatToText(-0.5, 1), "-0.5");
    EXPECT_EQ(FloatToText(1e20, 0), "100000000000000000000");
    EXPECT_EQ(FloatToText(1e300, 1).find('e'), std::string::npos);
}

TEST(TextEdits, UpperCaseReplaceAndBits) {
    std::string t = "abc-xyz \xe4";
    UpperCaseText(t);
    EXPECT_EQ(t, "ABC-XYZ \xe4");

    std::string text = "a.b.c";
    ReplaceAll(text, ".", "::");
    EXPECT_EQ(text, "a::b::c");

    // Deleting rescans from the start, so a deletion that joins a new match removes it too.
    text = "aabb";
    ReplaceAll(text, "ab", "");
    EXPECT_EQ(text, "");

    // A replacement holding the pattern must not loop forever.
    text = "x.y.z";
    ReplaceAll(text, ".", "..");
    EXPECT_EQ(text, "x..y..z");
    text = "%ROOT%";
    ReplaceAll(text, "%ROOT%", "/a/%ROOT%/b");
    EXPECT_EQ(text, "/a/%ROOT%/b");

    // A replacement that forms a new match with the text before it is found again.
    text = "aab";
    ReplaceAll(text, "ab", "b");
    EXPECT_EQ(text, "b");

    std::string longText(1000, 'a');
    ReplaceAll(longText, "a", "bc");
    EXPECT_EQ(longText.size(), 2000u);

    std::uint8_t b = 0;
    SetBit(b, 0);
    SetBit(b, 7);
    EXPECT_EQ(b, 0x81);
    SetBit(b, 8);
    SetBit(b, 31);
    EXPECT_EQ(b, 0x81);
    SetBit(b, 33); // taken modulo 32
    EXPECT_EQ(b, 0x83);
}

} // namespace
