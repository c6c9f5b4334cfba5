// Recording the engine's samples to a CSV file: the rows (one per scan) built from the batches.
// The writer that puts them into a file (POSIX files, a thread of its own) is the recorder's:
// recorder/csv_recorder.h.
//
// The file: UTF-8, "." as decimal mark whatever the locale, "\n" line ends. The header is
// time_s, then x in x-y mode, then one column per channel named as its box shows it, followed
// by "NAME [unit]" with the converted value where the conversion file gives one. time_s is the
// arrival of the scan's first reply in seconds since the recording started; a failed read is an
// empty field; a bit is 0 or 1; a value of a wider, signed or float type is written whole, as
// mcu::FormatValue gives it, and converted from that whole value.
#pragma once

#include "acquisition/batch.h"
#include "mcu/appl.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace acq {

struct RecordChannel {
    int channel = 1;  // 1..3, the engine's channel
    std::string name; // as its box shows it
    bool bit = false; // a bit of a byte: 0 or 1
    // Typed values are written as FormatValue gives them (signed, floats with a float's digits).
    mcu::VarType type = mcu::VarType::U8;
    // From the conversion file: value x factor + offset, in unit.
    bool converted = false;
    double factor = 1.0;
    double offset = 0.0;
    std::string unit;
};

struct RecordLayout {
    bool xMode = false;
    std::vector<RecordChannel> channels;
};

// True when the conversion file gave the variable anything but the defaults.
bool HasConversion(const mcu::MCVar& variable);
// The channel as recorded: a bit channel (mask set) is 0/1 and has no conversion; a value of a
// variable with a conversion gets the converted column. variable is null for a bare address;
// type is the channel's (ResolvedChannel::type).
RecordChannel MakeRecordChannel(int channel, const std::string& name, std::uint8_t mask,
                                const mcu::MCVar* variable, mcu::VarType type = mcu::VarType::U8);

// A field as CSV carries it: quoted when it holds a comma, a quote or a line end.
std::string CsvField(const std::string& text);
// Shortest text that reads back as the value to 10 significant digits, "." as decimal mark.
std::string CsvNumber(double value);

class RowBuilder {
public:
    // startUs: the steady clock when the recording began; scans whose first reply came earlier
    // belong to no row. maxRows: 0 for no limit.
    RowBuilder(RecordLayout layout, std::int64_t startUs, std::uint64_t maxRows = 0);

    std::string Header() const;
    // Appends the rows of the samples (one per scan; in x-y mode a scan whose channels carry
    // different x values when the MC streams gives one row per x value) and returns how many.
    std::size_t Add(const std::vector<Sample>& samples, std::string& out);
    std::uint64_t Rows() const { return rows_; }
    // The row limit is reached: nothing more is added.
    bool Full() const { return maxRows_ != 0 && rows_ >= maxRows_; }

private:
    void Emit(std::string& out);

    RecordLayout layout_;
    std::int64_t startUs_;
    std::uint64_t maxRows_;
    std::uint64_t rows_ = 0;
    // The row being collected: its scan, x slot, time and the value of each column channel
    // in its type (none: no reply).
    bool open_ = false;
    std::uint64_t scan_ = 0;
    std::uint16_t slot_ = 0;
    std::int64_t timeUs_ = 0;
    std::vector<std::optional<double>> values_;
};

} // namespace acq
