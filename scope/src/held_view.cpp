#include "scope/held_view.h"

#include "acquisition/recording.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace scope {

double ColumnOfTime(std::int64_t us, const TimeWindow& view, int w) {
    return static_cast<double>(us - view.startUs) * w / static_cast<double>(view.spanUs);
}

std::int64_t TimeOfColumn(double x, const TimeWindow& view, int w) {
    return view.startUs + std::llround(x * static_cast<double>(view.spanUs) / w);
}

ViewLimits LimitsOf(const acq::Traces& traces, const TimeWindow& home) {
    ViewLimits limits{home.startUs, home.startUs + home.spanUs, 0};
    std::int64_t interval = std::numeric_limits<std::int64_t>::max();
    for (const acq::ChannelTrace& trace : traces) {
        const std::size_t n = trace.Size();
        if (n == 0) {
            continue;
        }
        limits.firstUs = std::min(limits.firstUs, trace.times.front());
        limits.lastUs = std::max(limits.lastUs, trace.times.back());
        if (n >= 2) {
            const std::int64_t mean =
                (trace.times.back() - trace.times.front()) / static_cast<std::int64_t>(n - 1);
            interval = std::min(interval, std::max<std::int64_t>(mean, 1));
        }
    }
    // Without two samples to measure a rate by, a millisecond is as close as a view gets.
    const std::int64_t fewest =
        interval == std::numeric_limits<std::int64_t>::max() ? 1000 : interval * kFewestSamples;
    limits.minSpanUs = std::max<std::int64_t>(
        1, std::min(fewest, std::max<std::int64_t>(limits.lastUs - limits.firstUs, 1)));
    return limits;
}

TimeWindow ClampWindow(TimeWindow view, const ViewLimits& limits) {
    const std::int64_t whole = std::max<std::int64_t>(limits.lastUs - limits.firstUs, 1);
    view.spanUs = std::clamp(view.spanUs, std::min(limits.minSpanUs, whole), whole);
    view.startUs = std::clamp(view.startUs, limits.firstUs, limits.lastUs - view.spanUs);
    return view;
}

TimeWindow ZoomAround(const TimeWindow& view, double x, int w, double factor,
                      const ViewLimits& limits) {
    const std::int64_t at = TimeOfColumn(x, view, w);
    TimeWindow zoomed = view;
    const double span = std::clamp(static_cast<double>(view.spanUs) * factor, 1.0, 1e15);
    zoomed.spanUs = ClampWindow({view.startUs, std::llround(span)}, limits).spanUs;
    zoomed.startUs = at - std::llround(x * static_cast<double>(zoomed.spanUs) / w);
    return ClampWindow(zoomed, limits);
}

namespace {

// Member k of the 1-2-5 series in microseconds: 1, 2, 5, 10, 20, 50 ...
double SeriesValue(int k) {
    static constexpr double kMantissa[3] = {1, 2, 5};
    return kMantissa[k % 3] * std::pow(10.0, k / 3);
}

} // namespace

std::int64_t StepTimePerDiv(double perDivUs, int steps) {
    // Beyond a day per division nothing is held anyway.
    constexpr int kLast = 3 * 11;
    const double slack = 1e-9 * std::max(perDivUs, 1.0);
    int k = 0;
    if (steps < 0) {
        // The last member below perDivUs.
        while (k + 1 <= kLast && SeriesValue(k + 1) < perDivUs - slack) {
            ++k;
        }
        k = std::max(0, k + steps + 1);
    } else {
        // The first member above perDivUs.
        while (k < kLast && SeriesValue(k) <= perDivUs + slack) {
            ++k;
        }
        k = std::min(kLast, k + std::max(steps, 1) - 1);
    }
    return std::llround(SeriesValue(k));
}

TimeWindow ZoomSteps(const TimeWindow& view, double x, int w, int notches, int divisions,
                     const ViewLimits& limits) {
    if (notches == 0) {
        return view;
    }
    const double perDiv = static_cast<double>(view.spanUs) / std::max(divisions, 1);
    const std::int64_t next = StepTimePerDiv(perDiv, -notches);
    const double factor = static_cast<double>(next * std::max(divisions, 1)) / view.spanUs;
    return ZoomAround(view, x, w, factor, limits);
}

TimeWindow PanBy(const TimeWindow& view, double dx, int w, const ViewLimits& limits) {
    TimeWindow moved = view;
    moved.startUs -= std::llround(dx * static_cast<double>(view.spanUs) / w);
    return ClampWindow(moved, limits);
}

ViewSamples SamplesOfView(const std::vector<std::int64_t>& times, const TimeWindow& view) {
    const auto begin = std::lower_bound(times.begin(), times.end(), view.startUs);
    const auto end = std::upper_bound(begin, times.end(), view.startUs + view.spanUs);
    const auto from = static_cast<std::size_t>(begin - times.begin());
    const auto to = static_cast<std::size_t>(end - times.begin());
    return {from > 0 ? from - 1 : 0, to < times.size() ? to + 1 : to};
}

int DecimationColumn(std::int64_t t, const TimeWindow& view, int w) {
    const double x = std::floor(ColumnOfTime(t, view, w));
    return static_cast<int>(std::clamp(x, -1.0, static_cast<double>(w)));
}

std::vector<ColumnSpan> Decimate(const acq::ChannelTrace& trace, const TimeWindow& view, int w) {
    std::vector<ColumnSpan> columns;
    const ViewSamples samples = SamplesOfView(trace.times, view);
    for (std::size_t k = samples.from; k < samples.to; ++k) {
        const int column = DecimationColumn(trace.times[k], view, w);
        const std::uint8_t v = trace.values[k];
        if (columns.empty() || columns.back().column != column) {
            columns.push_back({column, v, v, v, v, v, v});
            continue;
        }
        ColumnSpan& c = columns.back();
        c.last = v;
        c.low = std::min(c.low, v);
        c.high = std::max(c.high, v);
        c.anySet |= v;
        c.allSet &= v;
    }
    return columns;
}

std::string NumberText(double value) {
    if (!std::isfinite(value)) {
        return "-";
    }
    const double size = std::fabs(value);
    char text[64];
    if (size >= 1e15) {
        // A float's range (3.4e38 and its conversions) in whole digits would not fit the text,
        // nor could anyone read it.
        return std::string(text, std::to_chars(std::begin(text), std::end(text), value,
                                               std::chars_format::general, 7)
                                     .ptr);
    }
    const int decimals = size >= 1000 ? 0 : size >= 100 ? 1 : size >= 10 ? 2 : size >= 1 ? 3 : 4;
    const auto done =
        std::to_chars(std::begin(text), std::end(text), value, std::chars_format::fixed, decimals);
    std::string s(text, done.ptr);
    if (s.find('.') != std::string::npos) {
        while (s.back() == '0') {
            s.pop_back();
        }
        if (s.back() == '.') {
            s.pop_back();
        }
    }
    return s == "-0" ? "0" : s;
}

std::string TimeScaleText(std::int64_t spanUs, int divisions) {
    const double perDiv = static_cast<double>(spanUs) / std::max(divisions, 1);
    if (perDiv >= 1e6) {
        return NumberText(perDiv / 1e6) + " s/div";
    }
    if (perDiv >= 1e3) {
        return NumberText(perDiv / 1e3) + " ms/div";
    }
    return NumberText(perDiv) + " \u00B5s/div";
}

Conversion ConversionOf(const mcu::MCVar* var, std::uint8_t mask) {
    Conversion c;
    c.bit = mask != 0;
    if (!c.bit && var != nullptr && acq::HasConversion(*var)) {
        c.physical = true;
        c.factor = var->factor;
        c.offset = var->offset;
        c.unit = var->unit;
    }
    return c;
}

double PhysicalValue(double raw, const Conversion& conversion) {
    if (conversion.bit) {
        return raw != 0 ? 1 : 0;
    }
    return conversion.physical ? raw * conversion.factor + conversion.offset : raw;
}

std::string ValueText(double value, const Conversion& conversion) {
    std::string text = NumberText(value);
    if (conversion.physical && !conversion.unit.empty()) {
        text += " " + conversion.unit;
    }
    return text;
}

std::optional<std::uint8_t> ValueAt(const acq::ChannelTrace& trace, std::int64_t us) {
    const auto after = std::upper_bound(trace.times.begin(), trace.times.end(), us);
    // Past the newest sample nothing was read yet: the last value would be a guess.
    if (after == trace.times.begin() || us > trace.times.back()) {
        return std::nullopt;
    }
    return trace.values[static_cast<std::size_t>(after - trace.times.begin()) - 1];
}

std::optional<double> TypedValueAt(const acq::ChannelTrace& trace, std::int64_t us) {
    const auto after = std::upper_bound(trace.times.begin(), trace.times.end(), us);
    const auto k = static_cast<std::size_t>(after - trace.times.begin());
    if (after == trace.times.begin() || us > trace.times.back() || k > trace.typed.size()) {
        return std::nullopt;
    }
    return trace.typed[k - 1];
}

std::string ChannelReadout(const std::string& name, const acq::ChannelTrace& trace,
                           std::optional<std::int64_t> a, std::optional<std::int64_t> b,
                           const Conversion& conversion) {
    std::string text = name;
    std::optional<double> at[2];
    const std::optional<std::int64_t> cursors[2] = {a, b};
    const char* labels[2] = {"  A ", "  B "};
    for (int i = 0; i < 2; ++i) {
        if (!cursors[i]) {
            continue;
        }
        std::optional<double> raw;
        if (conversion.typed) {
            raw = TypedValueAt(trace, *cursors[i]);
        } else if (const auto byte = ValueAt(trace, *cursors[i])) {
            raw = *byte;
        }
        text += labels[i];
        if (!raw) {
            text += "-";
            continue;
        }
        at[i] = PhysicalValue(*raw, conversion);
        text += ValueText(*at[i], conversion);
    }
    if (at[0] && at[1]) {
        text += "  B-A " + ValueText(*at[1] - *at[0], conversion);
    }
    return text;
}

std::string TimeReadout(std::optional<std::int64_t> a, std::optional<std::int64_t> b) {
    if (!a || !b) {
        return {};
    }
    const std::int64_t dt = *b - *a;
    std::string text = "B-A " + NumberText(static_cast<double>(dt) / 1e3) + " ms";
    if (dt != 0) {
        text += "  " + NumberText(1e6 / std::fabs(static_cast<double>(dt))) + " Hz";
    }
    return text;
}

} // namespace scope
