// A held view of the history without a window: which stretch of time the paint box shows
// (zoom around the pointer in 1-2-5 steps of the time per division, pan by a drag, the last sweep),
// the pixel column of a moment and the moment of a column, the samples of a channel reduced to
// their least and greatest value per column (so a view costs the same at any zoom), the time-scale
// label, and the readout of two cursors in the variables' own units.
#pragma once

#include "acquisition/history.h"
#include "mcu/appl.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace scope {

// The paint box shows startUs .. startUs + spanUs of the arrival clock across its width.
struct TimeWindow {
    std::int64_t startUs = 0;
    std::int64_t spanUs = 1;

    bool operator==(const TimeWindow&) const = default;
};

// How far a held view may go: the history's first and last moment (and the last sweep's
// window, which may reach beyond the newest sample), and the narrowest span.
struct ViewLimits {
    std::int64_t firstUs = 0;
    std::int64_t lastUs = 0;
    std::int64_t minSpanUs = 1;
};

// A view never shows fewer than about this many samples of its densest channel across the box.
inline constexpr int kFewestSamples = 20;

double ColumnOfTime(std::int64_t us, const TimeWindow& view, int w);
std::int64_t TimeOfColumn(double x, const TimeWindow& view, int w);

// The limits of a history held together with its last sweep (home).
ViewLimits LimitsOf(const acq::Traces& traces, const TimeWindow& home);
// The span kept between the narrowest and the whole, the window inside the limits.
TimeWindow ClampWindow(TimeWindow view, const ViewLimits& limits);
// The span times factor (below 1 narrows), the moment under column x staying under it.
TimeWindow ZoomAround(const TimeWindow& view, double x, int w, double factor,
                      const ViewLimits& limits);
// The next time per division of the 1-2-5 series (1, 2, 5, 10, 20 ... microseconds) below
// (steps < 0) or above (steps > 0) perDivUs, steps of them; a time off the series takes the
// nearest one of it in that direction as the first step.
std::int64_t StepTimePerDiv(double perDivUs, int steps);

// One notch of the wheel per step: notches > 0 narrow the view to the next smaller time per
// division of the series, < 0 widen it, the moment under column x staying under it.
TimeWindow ZoomSteps(const TimeWindow& view, double x, int w, int notches, int divisions,
                     const ViewLimits& limits);

// Dragged dx columns to the right: the view moves back in time by as much.
TimeWindow PanBy(const TimeWindow& view, double dx, int w, const ViewLimits& limits);

// A column's samples: the first and last in time order, the least and greatest value, and
// which bits were set in any of them and in all of them (for an eight-lane bit display).
struct ColumnSpan {
    int column = 0;
    std::uint8_t first = 0;
    std::uint8_t last = 0;
    std::uint8_t low = 0;
    std::uint8_t high = 0;
    std::uint8_t anySet = 0;
    std::uint8_t allSet = 0;

    bool operator==(const ColumnSpan&) const = default;
};

// One entry per column holding samples of the view, left to right, with the last sample before
// the view and the first after it (at column -1 and w at most), so the trace runs to the edges.
std::vector<ColumnSpan> Decimate(const acq::ChannelTrace& trace, const TimeWindow& view, int w);

// What a decimation walks: the samples [from, to) of the view with one either side, and the
// column (-1..w) of each, for the byte values here and the typed ones (typed_range.h) alike.
struct ViewSamples {
    std::size_t from = 0;
    std::size_t to = 0;
};
ViewSamples SamplesOfView(const std::vector<std::int64_t>& times, const TimeWindow& view);
int DecimationColumn(std::int64_t t, const TimeWindow& view, int w);

// "100 ms/div" for a span over the grid's divisions.
std::string TimeScaleText(std::int64_t spanUs, int divisions);

// How a channel's byte reads: a bit as 0 or 1, a variable its conversion file names as
// byte x factor + offset in its unit, anything else as the byte.
struct Conversion {
    bool bit = false;
    bool physical = false;
    double factor = 1.0;
    double offset = 0.0;
    std::string unit;
    // A typed channel's readout reads the typed values beside the bytes.
    bool typed = false;
};

// var: the channel's variable (null for a bare address); mask: the channel's bit mask.
Conversion ConversionOf(const mcu::MCVar* var, std::uint8_t mask);
double PhysicalValue(double raw, const Conversion& conversion);
// A value PhysicalValue gave (or a difference of two) with its unit: "7.2 V", "200", "1".
std::string ValueText(double value, const Conversion& conversion);
// The value of the last sample at or before us; none before the first sample or after the last.
std::optional<std::uint8_t> ValueAt(const acq::ChannelTrace& trace, std::int64_t us);
// The same of the typed values.
std::optional<double> TypedValueAt(const acq::ChannelTrace& trace, std::int64_t us);

// "SINE  A 7.2 V  B -3.1 V  B-A -10.3 V" (the parts of a cursor not placed left out).
std::string ChannelReadout(const std::string& name, const acq::ChannelTrace& trace,
                           std::optional<std::int64_t> a, std::optional<std::int64_t> b,
                           const Conversion& conversion);
// "B-A 12.5 ms  80 Hz"; empty until both cursors are placed.
std::string TimeReadout(std::optional<std::int64_t> a, std::optional<std::int64_t> b);

// A number as the readouts show it: about four significant digits, no exponent below 1e15
// (seven significant digits with one from there), "." always.
std::string NumberText(double value);

} // namespace scope
