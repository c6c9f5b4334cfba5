#include "foundation/numbers.h"

#include "foundation/params.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace foundation {

namespace {

// Evaluates hexadecimal digits from the right with 32-bit weights, so that a ninth digit
// weighs nothing and eight digits read as a two's-complement number.
std::int32_t HexDigitsFromRight(const std::string& text, std::size_t first, std::size_t last) {
    std::uint32_t value = 0;
    std::uint32_t weight = 1;
    for (std::size_t i = last; i > first; --i) {
        value += weight * static_cast<std::uint32_t>(HexDigitValue(text[i - 1]));
        weight *= 16;
    }
    return static_cast<std::int32_t>(value);
}

} // namespace

std::string& ToolsError() {
    static std::string text;
    return text;
}

double ParseNumber(const std::string& text) {
    ToolsError().clear();
    if (text.empty()) {
        ToolsError() = "invalid numeric format";
        return 0;
    }
    const char last = text.back();
    if (last == 'h' || last == 'H') {
        return HexDigitsFromRight(text, 0, text.size() - 1);
    }
    const char first = text.front();
    if (first == '$' || first == 'h' || first == 'H') {
        return HexDigitsFromRight(text, 1, text.size());
    }
    std::string decimal = text;
    std::replace(decimal.begin(), decimal.end(), ',', '.');
    double factor = 1;
    if (decimal.back() == 'K' || decimal.back() == 'k') {
        decimal.pop_back();
        factor = 1024;
    }
    double value = 0;
    if (!ParseDecimal(decimal, value)) {
        ToolsError() = "invalid numeric format";
        return 0;
    }
    return value * factor;
}

int HexDigitValue(char c) {
    auto u = static_cast<unsigned char>(c);
    if (u >= 'a' && u <= 'z') {
        u = static_cast<unsigned char>(u - 'a' + 'A');
    }
    if (u >= '0' && u <= '9') {
        return u - '0';
    }
    if (u >= 'A' && u <= 'F') {
        return u - 'A' + 10;
    }
    return u < 'A' ? 9 : 15;
}

char HexDigitChar(int value) {
    static const char digits[] = "0123456789ABCDEF";
    return digits[value & 15];
}

std::string ByteToHex(std::uint8_t b) {
    return {HexDigitChar(b >> 4), HexDigitChar(b & 15)};
}

std::int32_t HexTextToInt(const std::string& text) {
    return text.empty() ? 0 : HexDigitsFromRight(text, 1, text.size());
}

std::string IntToText(long long n) {
    return std::to_string(n);
}

std::string FloatToText(double n, int decimals) {
    // Printing the rounded value instead of converting it to an integer keeps huge values
    // (beyond 64 bits) defined.
    const int places = decimals <= 0 ? 0 : decimals;
    const double value = decimals <= 0 ? std::nearbyint(n) : n;
    int length = std::snprintf(nullptr, 0, "%*.*f", places + 2, places, value);
    std::string text(static_cast<std::size_t>(std::max(length, 0)) + 1, '\0');
    std::snprintf(text.data(), text.size(), "%*.*f", places + 2, places, value);
    text.pop_back();
    if (decimals <= 0) {
        text.erase(0, text.find_first_not_of(' '));
    }
    // snprintf follows the C locale; the programs always show a decimal point.
    std::replace(text.begin(), text.end(), ',', '.');
    return text;
}

void SetBit(std::uint8_t& b, int n) {
    n &= 31;
    if (n < 8) {
        b = static_cast<std::uint8_t>(b | (1u << n));
    }
}

long long RoundHalfEven(double x) {
    return static_cast<long long>(std::nearbyint(x));
}

} // namespace foundation
