// Numbers as the programs read and write them: decimal with "." or ",", a "K" suffix,
// hexadecimal with "$", "h" or "H"; two-digit hexadecimal bytes; rounding half to even.
#pragma once

#include <cstdint>
#include <string>

namespace foundation {

// The last error of ParseNumber; the link writes its "USB not connected" here too.
std::string& ToolsError();

double ParseNumber(const std::string& text);
int HexDigitValue(char c);
char HexDigitChar(int value);
std::string ByteToHex(std::uint8_t b);
std::int32_t HexTextToInt(const std::string& text);
std::string IntToText(long long n);
std::string FloatToText(double n, int decimals);
void SetBit(std::uint8_t& b, int n);

// Round to nearest, ties to even, as every rounding of the programs does.
long long RoundHalfEven(double x);

} // namespace foundation
