#include "scope/typed_range.h"

#include "mcu/typed.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace scope {

using mcu::VarType;

bool DrawnTyped(VarType type, std::uint8_t mask) {
    return mask == 0 && type != VarType::U8 && type != VarType::Bit;
}

bool IsInteger(VarType type) {
    return type != VarType::F32;
}

ValueRange TypeRange(VarType type) {
    const mcu::TypeLimits limits = mcu::LimitsOf(type);
    return {limits.low, limits.high};
}

ValueRange FitRange(double lo, double hi, VarType type) {
    const double spread = hi - lo;
    const double margin = spread > 0 ? spread / 20 : std::max(1.0, std::fabs(lo) / 20);
    ValueRange r{lo - margin, hi + margin};
    if (IsInteger(type)) {
        r = {std::floor(r.lo), std::ceil(r.hi)};
    }
    const ValueRange whole = TypeRange(type);
    r.lo = std::max(r.lo, whole.lo);
    r.hi = std::min(r.hi, whole.hi);
    return r;
}

std::optional<ValueRange> ConversionRange(VarType type, const Conversion& conversion) {
    const bool narrow = type == VarType::I8 || type == VarType::U16 || type == VarType::I16;
    if (!conversion.physical || !narrow) {
        return std::nullopt;
    }
    return TypeRange(type);
}

std::int32_t TypedRow(double v, const ValueRange& range, int h) {
    const double spread = range.hi - range.lo;
    // A float's NaN has no place on the scale; it would reach the rounding to a row undefined.
    const double f = std::isnan(v) ? 0.0
                     : spread > 0  ? std::clamp((v - range.lo) / spread, 0.0, 1.0)
                                   : 0.5;
    return N((h - 1) - (h - 2) * f);
}

void TypedScale::Reset(VarType type, std::uint8_t mask, std::optional<ValueRange> fixed) {
    *this = TypedScale{};
    on_ = DrawnTyped(type, mask);
    type_ = type;
    if (on_ && fixed) {
        fixed_ = true;
        range_ = *fixed;
    }
}

bool TypedScale::Take(double v) {
    if (!on_ || fixed_ || !std::isfinite(v)) {
        return false;
    }
    seenLo_ = any_ ? std::min(seenLo_, v) : v;
    seenHi_ = any_ ? std::max(seenHi_, v) : v;
    firstValue_ = any_ ? firstValue_ : v;
    lastValue_ = v;
    const bool first = !any_;
    any_ = true;
    if (fitted_ || (!first && v >= range_.lo && v <= range_.hi)) {
        return false;
    }
    const ValueRange next = FitRange(seenLo_, seenHi_, type_);
    const bool changed = !(next == range_);
    range_ = next;
    return changed;
}

bool TypedScale::EndSweep() {
    if (!on_ || fixed_ || !any_) {
        return false;
    }
    // A value that drifted during the sweep (a counter, a temperature on its way up) gets room
    // to drift as far again, or the next sweep would run along the edge for most of its width.
    const double drift = lastValue_ - firstValue_;
    const ValueRange next =
        FitRange(std::min(seenLo_, seenLo_ + drift), std::max(seenHi_, seenHi_ + drift), type_);
    const bool changed = !(next == range_);
    range_ = next;
    fitted_ = true;
    any_ = false;
    return changed;
}

RangeLabel RangeLabelText(const ValueRange& range, const Conversion& conversion) {
    return {ValueText(PhysicalValue(range.hi, conversion), conversion),
            ValueText(PhysicalValue(range.lo, conversion), conversion)};
}

std::string TypedText(double value, VarType type) {
    if (IsInteger(type) && std::isfinite(value)) {
        return std::to_string(std::llround(value));
    }
    return NumberText(value);
}

double BarSpan::Value(int position) const {
    return lo + std::clamp(position, 0, steps) * step;
}

int BarSpan::Position(double value) const {
    // A float setter that read NaN has its span centred on 0: its bar stands in the middle
    // (converting NaN to a position would be undefined).
    if (std::isnan(value)) {
        return steps / 2;
    }
    const double p = std::round((value - lo) / step);
    return static_cast<int>(std::clamp(p, 0.0, static_cast<double>(steps)));
}

BarSpan SetterSpan(VarType type, double around) {
    const ValueRange whole = TypeRange(type);
    switch (type) {
    case VarType::U32:
    case VarType::I32: {
        const double lo = std::clamp(std::round(around) - 32768, whole.lo, whole.hi - 65535);
        return {lo, 1, 65535};
    }
    case VarType::F32: {
        const double size = std::isfinite(around) ? std::max(1.0, std::fabs(around)) : 1.0;
        const double centre = std::isfinite(around) ? around : 0.0;
        return {centre - size, size / 1000, 2000};
    }
    default:
        return {whole.lo, 1, static_cast<int>(whole.hi - whole.lo)};
    }
}

std::vector<TypedColumn> DecimateTyped(const acq::ChannelTrace& trace, const TimeWindow& view,
                                       int w) {
    std::vector<TypedColumn> columns;
    if (trace.typed.size() != trace.times.size()) {
        return columns;
    }
    const ViewSamples samples = SamplesOfView(trace.times, view);
    for (std::size_t k = samples.from; k < samples.to; ++k) {
        const int column = DecimationColumn(trace.times[k], view, w);
        const double v = trace.typed[k];
        if (columns.empty() || columns.back().column != column) {
            columns.push_back({column, v, v, v, v});
            continue;
        }
        TypedColumn& c = columns.back();
        c.last = v;
        c.low = std::min(c.low, v);
        c.high = std::max(c.high, v);
    }
    return columns;
}

std::string VariableTip(const mcu::MCVar& var) {
    if (!var.reachable) {
        return "not readable: " + var.reason;
    }
    return DrawnTyped(var.type, var.bitMask) ? mcu::TypeName(var.type) : std::string();
}

std::string XVariableNotice(const std::string& name, mcu::VarType type) {
    return name + " is " + mcu::TypeName(type) +
           ": streaming and x-y mode read the x-variable as a byte, the byte at its address";
}

} // namespace scope
