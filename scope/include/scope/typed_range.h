// Typed channels and setters without a window: which vertical range a typed trace is drawn
// over (fitted to what the last sweep showed, or its conversion's), the row of a value, the text
// at the trace's edge, the span a setter's bar offers for a type, the typed history reduced per
// column.
#pragma once

#include "acquisition/history.h"
#include "mcu/var_type.h"
#include "scope/held_view.h"
#include "scope/trace_maths.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace scope {

struct ValueRange {
    double lo = 0;
    double hi = 255;

    bool operator==(const ValueRange&) const = default;
};

// Bytes and bits keep the fixed picture of a byte; every other type is drawn over its values.
bool DrawnTyped(mcu::VarType type, std::uint8_t mask);
// The values a type holds (f32: its finite range).
ValueRange TypeRange(mcu::VarType type);
bool IsInteger(mcu::VarType type);

// A range around the values lo..hi seen, with a margin of a twentieth of their spread on each
// side (a flat trace: of a twentieth of its size, at least 1), whole numbers for an integer
// type, inside the type's own range.
ValueRange FitRange(double lo, double hi, mcu::VarType type);
// A converted 8- or 16-bit variable is drawn over its whole type, as a converted byte is over
// 0..255: its conversion gives its values a meaning from one end to the other. 32-bit and float
// variables, and those without a conversion, are fitted.
std::optional<ValueRange> ConversionRange(mcu::VarType type, const Conversion& conversion);

// Row of value v drawn over range: lo at the bottom row h - 1, hi at row 1 (as a byte's 0 and
// 255); values outside stay at the edge, a NaN at the bottom.
std::int32_t TypedRow(double v, const ValueRange& range, int h);

// The range a typed trace is drawn over. It holds still while a sweep is drawn and is refitted
// when the sweep ends, so the picture of a sweep never moves under it; until a first sweep
// ended it widens to take every value that arrives. The refit adds the sweep's drift (last
// value less first) on the side it went, so a steadily rising value stays on the screen.
class TypedScale {
public:
    // A new variable; fixed: its conversion's range, which is never refitted.
    void Reset(mcu::VarType type, std::uint8_t mask, std::optional<ValueRange> fixed);
    bool On() const { return on_; }
    mcu::VarType Type() const { return type_; }
    const ValueRange& Range() const { return range_; }
    // A value drawn; true when the range changed to take it.
    bool Take(double v);
    // The sweep ended: the next is drawn over what this one showed; true when that changed.
    bool EndSweep();

private:
    bool on_ = false;
    bool fixed_ = false;
    bool fitted_ = false;
    bool any_ = false;
    mcu::VarType type_ = mcu::VarType::U8;
    ValueRange range_;
    double seenLo_ = 0;
    double seenHi_ = 0;
    double firstValue_ = 0;
    double lastValue_ = 0;
};

// The text at the trace's edge: the values of the range's top and bottom, converted.
struct RangeLabel {
    std::string top;
    std::string bottom;
};
RangeLabel RangeLabelText(const ValueRange& range, const Conversion& conversion);

// A typed value as the panels show it: integers whole, floats by NumberText.
std::string TypedText(double value, mcu::VarType type);

// What a setter's or the trigger's bar offers: position p (0..steps) stands for lo + p * step.
struct BarSpan {
    double lo = 0;
    double step = 1;
    int steps = 255;

    bool operator==(const BarSpan&) const = default;
    double Value(int position) const;
    // Held within 0..steps; a NaN in the middle.
    int Position(double value) const;
};
// 8- and 16-bit types: their whole range, one step per value. 32-bit integers: 65536 values
// around the value the setter read (clipped to the type), as the bar cannot tell four billion
// positions apart; floats: the value read +- its size (at least 1) in 2000 steps. A new
// selection centres the bar anew.
BarSpan SetterSpan(mcu::VarType type, double around);

// Decimate on the typed values: a column's first, last, least and greatest value.
struct TypedColumn {
    int column = 0;
    double first = 0;
    double last = 0;
    double low = 0;
    double high = 0;

    bool operator==(const TypedColumn&) const = default;
};
std::vector<TypedColumn> DecimateTyped(const acq::ChannelTrace& trace, const TimeWindow& view,
                                       int w);

// The tooltip of a variable of the tree: "not readable: REASON" for one the link cannot read,
// the type of a typed one ("u16"), nothing for a byte or a bit.
std::string VariableTip(const mcu::MCVar& var);
// What the x-variable box says of a typed variable: it is read as a byte.
std::string XVariableNotice(const std::string& name, mcu::VarType type);

} // namespace scope
