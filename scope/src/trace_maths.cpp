#include "scope/trace_maths.h"

#include <cmath>
#include <cstdlib>
#include <limits>

namespace scope {

std::int32_t T(double x) {
    // Values outside the 32-bit range never reach here (bytes and pixel positions only);
    // clamping keeps a conversion of garbage defined all the same.
    constexpr double lo = std::numeric_limits<std::int32_t>::min();
    constexpr double hi = std::numeric_limits<std::int32_t>::max();
    if (!(x > lo)) {
        return std::numeric_limits<std::int32_t>::min();
    }
    if (!(x < hi)) {
        return std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int32_t>(std::trunc(x));
}

std::int32_t AnalogueRow(std::uint8_t v, int h) {
    return N((h - 1) - (h - 2) * static_cast<double>(v) / 255.0);
}

std::int32_t XYColumn(int slot, int w) {
    return N(w * static_cast<double>(slot - 1) / 255.0);
}

std::int32_t BitLaneY(std::uint8_t v, int lane, int h) {
    const bool set = ((v >> (lane - 1)) & 1) != 0;
    const double position = set ? lane - 0.66 : lane - 1.0;
    return N((h - 1) - h * position / 8.0);
}

std::int32_t GridRow(int i, int h) {
    return N(h * static_cast<double>(i) / 8.0);
}

std::int32_t GridColumn(int i, int divisions, int w) {
    return N(w * static_cast<double>(i) / divisions);
}

int GridDivisions(bool xActive, const std::string& xName) {
    return xActive && xName.find("ANGLE") != std::string::npos ? 12 : 8;
}

std::int32_t EdgeCount(const std::array<std::uint8_t, 257>& values) {
    long sum = 0;
    for (std::size_t i = 2; i <= 256; ++i) {
        sum += std::abs(static_cast<int>(values[i]) - static_cast<int>(values[i - 1]));
    }
    return N(static_cast<double>(sum) / 255.0);
}

std::string RateText(double rate) {
    return std::to_string(N(rate)) + " var/s";
}

} // namespace scope
