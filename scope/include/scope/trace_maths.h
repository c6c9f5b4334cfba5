// The pixel arithmetic of the trace display, free of any window so that every row, column and
// lane can be checked on its own. W and H are the trace bitmap's width and height; divisions
// are done in floating point and rounded half to even (N) or truncated toward zero (T).
#pragma once

#include "acquisition/sampling.h"

#include <array>
#include <cstdint>
#include <string>

namespace scope {

// Shared with the engine, which decides by the same column where a sweep ends.
using acq::kSweepSpanMs;
using acq::MaskSample;
using acq::N;
using acq::TimeColumn;
using acq::TRateMeter;
// A change of this many rows or more between two samples of an analogue trace is drawn as a
// hold at the old row, without the vertical edge.
inline constexpr int kJumpRows = 32;

// Toward zero.
std::int32_t T(double x);

// Row of byte v in an analogue trace: 0 at the bottom row H - 1, 255 at row 1.
std::int32_t AnalogueRow(std::uint8_t v, int h);
// Column of x-y slot i (1..256): slot 1 at 0, slot 256 at W.
std::int32_t XYColumn(int slot, int w);
// Row of bit lane r (1..8, bit r - 1 of v): lane 1 at the bottom, each lane H / 8 high, a set
// bit raised by 0.34 of a lane.
std::int32_t BitLaneY(std::uint8_t v, int lane, int h);

// The grid: rows of the 7 horizontal lines, and how many vertical divisions the screen has (12
// for an active x-variable whose name contains "ANGLE", letter case kept, else 8).
std::int32_t GridRow(int i, int h);
std::int32_t GridColumn(int i, int divisions, int w);
int GridDivisions(bool xActive, const std::string& xName);

// The sum of the absolute steps between neighbouring slots 1..256, in full-scale steps: for a
// bit variable, the number of level changes across the x range.
std::int32_t EdgeCount(const std::array<std::uint8_t, 257>& values);

// The transfer rate as the rate label shows it.
std::string RateText(double rate);

} // namespace scope
