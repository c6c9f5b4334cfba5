#include "acquisition/recording.h"

#include "mcu/typed.h"

#include <charconv>
#include <cmath>

namespace acq {

namespace {

void AppendInteger(std::string& out, std::int64_t value) {
    char text[24];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    out.append(text, end);
}

// A byte or bit as the scope has always written it; any other type as its own value.
bool WrittenWhole(const RecordChannel& c) {
    return !c.bit && c.type != mcu::VarType::U8 && c.type != mcu::VarType::Bit;
}

} // namespace

bool HasConversion(const mcu::MCVar& variable) {
    return variable.factor != 1.0 || variable.offset != 0.0 || variable.unit != "1";
}

RecordChannel MakeRecordChannel(int channel, const std::string& name, std::uint8_t mask,
                                const mcu::MCVar* variable, mcu::VarType type) {
    RecordChannel c;
    c.channel = channel;
    c.name = name;
    c.bit = mask != 0 || type == mcu::VarType::Bit;
    c.type = c.bit ? mcu::VarType::U8 : type;
    // A conversion scales the variable's byte; a single bit of it stays 0 or 1.
    if (variable != nullptr && !c.bit && HasConversion(*variable)) {
        c.converted = true;
        c.factor = variable->factor;
        c.offset = variable->offset;
        c.unit = variable->unit;
    }
    return c;
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') {
            quoted += '"';
        }
        quoted += c;
    }
    return quoted + '"';
}

std::string CsvNumber(double value) {
    // Ten significant digits keep what a factor of 0.1 makes of a byte (7.2, not
    // 7.200000000000001) and lose nothing a byte times a 5-digit factor can carry.
    char text[32];
    const auto end =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, 10).ptr;
    std::string s(text, end);
    return s == "-0" ? "0" : s;
}

RowBuilder::RowBuilder(RecordLayout layout, std::int64_t startUs, std::uint64_t maxRows)
    : layout_(std::move(layout)), startUs_(startUs), maxRows_(maxRows),
      values_(layout_.channels.size()) {}

std::string RowBuilder::Header() const {
    std::string h = "time_s";
    if (layout_.xMode) {
        h += ",x";
    }
    for (const RecordChannel& c : layout_.channels) {
        h += ',' + CsvField(c.name);
        if (c.converted) {
            h += ',' + CsvField(c.name + " [" + c.unit + "]");
        }
    }
    return h + '\n';
}

std::size_t RowBuilder::Add(const std::vector<Sample>& samples, std::string& out) {
    const std::uint64_t before = rows_;
    // A scan under way when the recording began is left out as a whole.
    bool skipping = false;
    std::uint64_t skipScan = 0;
    for (const Sample& s : samples) {
        std::size_t column = 0;
        while (column < layout_.channels.size() && layout_.channels[column].channel != s.channel) {
            ++column;
        }
        if (column == layout_.channels.size() || (skipping && s.scan == skipScan)) {
            continue;
        }
        if (open_ && (s.scan != scan_ || (layout_.xMode && s.slot != slot_) || values_[column])) {
            Emit(out);
        }
        if (!open_) {
            if (Full()) {
                break;
            }
            if (s.arrivalUs < startUs_) {
                skipping = true;
                skipScan = s.scan;
                continue;
            }
            open_ = true;
            scan_ = s.scan;
            slot_ = s.slot;
            timeUs_ = s.arrivalUs;
        }
        const RecordChannel& c = layout_.channels[column];
        values_[column] = WrittenWhole(c) ? s.typed : c.bit ? (s.value != 0 ? 1 : 0) : s.value;
    }
    // A scan never spans two batches: the engine begins every burst with a new one.
    if (open_) {
        Emit(out);
    }
    return static_cast<std::size_t>(rows_ - before);
}

void RowBuilder::Emit(std::string& out) {
    const std::int64_t us = timeUs_ - startUs_;
    AppendInteger(out, us / 1000000);
    out += '.';
    const std::string micro = std::to_string(us % 1000000);
    out.append(6 - micro.size(), '0');
    out += micro;
    if (layout_.xMode) {
        out += ',';
        AppendInteger(out, slot_ - 1);
    }
    for (std::size_t i = 0; i < layout_.channels.size(); ++i) {
        const RecordChannel& c = layout_.channels[i];
        const std::optional<double>& v = values_[i];
        out += ',';
        if (v && WrittenWhole(c)) {
            mcu::TypedValue whole;
            whole.type = c.type;
            // A float's NaN or infinity has no integer: converting it would be undefined.
            if (c.type == mcu::VarType::F32) {
                whole.real = static_cast<float>(*v);
            } else {
                whole.integer = static_cast<std::int64_t>(*v);
            }
            out += mcu::FormatValue(whole);
        } else if (v) {
            AppendInteger(out, static_cast<std::int64_t>(*v));
        }
        if (c.converted) {
            out += ',';
            if (v) {
                out += CsvNumber(*v * c.factor + c.offset);
            }
        }
        values_[i].reset();
    }
    out += '\n';
    open_ = false;
    ++rows_;
}

} // namespace acq
