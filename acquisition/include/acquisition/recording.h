// Recording the engine's samples to a CSV file: the rows (one per scan) built from the batches,
// and the writer that puts them into the file on a thread of its own, so that neither the
// engine nor a window ever waits for the disk. The window and the headless recorder share both.
//
// The file: UTF-8, "." as decimal mark whatever the locale, "\n" line ends. The header is
// time_s, then x in x-y mode, then one column per channel named as its box shows it, followed
// by "NAME [unit]" with the converted value where the conversion file gives one. time_s is the
// arrival of the scan's first reply in seconds since the recording started; a failed read is an
// empty field; a bit is 0 or 1.
#pragma once

#include "acquisition/batch.h"
#include "mcu/appl.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace acq {

struct RecordChannel {
    int channel = 1;  // 1..3, the engine's channel
    std::string name; // as its box shows it
    bool bit = false; // a bit of a byte: 0 or 1
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
// The channel as recorded: a bit channel (mask set) is 0/1 and has no conversion; a byte of a
// variable with a conversion gets the converted column. variable is null for a bare address.
RecordChannel MakeRecordChannel(int channel, const std::string& name, std::uint8_t mask,
                                const mcu::MCVar* variable);

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
    // (-1: no reply).
    bool open_ = false;
    std::uint64_t scan_ = 0;
    std::uint16_t slot_ = 0;
    std::int64_t timeUs_ = 0;
    std::vector<int> values_;
};

// Writes rows into a file on its own thread. Feed may be called from any thread and never
// waits for the disk; whatever it got is written within the writer's next pass (well within a
// second) and at Stop. A write that fails (disk full, an I/O error, a closed pipe) ends the
// recording: the file is cut back to its last complete row, the reason is kept, and the
// handler (if set) is called on the writer's thread.
class CsvRecorder {
public:
    using ErrorHandler = std::function<void(const std::string& reason)>;

    CsvRecorder() = default;
    ~CsvRecorder();
    CsvRecorder(const CsvRecorder&) = delete;
    CsvRecorder& operator=(const CsvRecorder&) = delete;

    void SetErrorHandler(ErrorHandler handler);
    // Creates (or replaces) path and writes the header; "-" is standard output. False with
    // the reason in error, and nothing is recorded.
    bool Start(const std::string& path, RecordLayout layout, std::int64_t startUs,
               std::uint64_t maxRows, std::string& error);
    // Takes the batch's samples for the file; ignored while not recording.
    void Feed(const Batch& batch);
    // Writes what was fed, closes the file and ends the thread. False when a write failed.
    bool Stop();

    bool Recording() const;
    std::uint64_t Rows() const;
    // The row limit was reached; the rest is ignored.
    bool Full() const;
    // Why the recording failed; empty while it has not.
    std::string Error() const;
    const std::string& Path() const { return path_; }
    // The CPU time the writer's thread used in the last recording, known once it stopped.
    double WriterCpuSeconds() const;

private:
    void Run();
    bool WriteAll(const std::string& text);

    mutable std::mutex mutex_;
    std::condition_variable fed_;
    std::thread thread_;
    bool recording_ = false;
    bool stopping_ = false;
    std::vector<Sample> queue_;
    std::uint64_t rows_ = 0;
    bool full_ = false;
    std::string error_;
    ErrorHandler handler_;
    double writerCpu_ = 0;

    // The writer thread's own.
    std::unique_ptr<RowBuilder> builder_;
    int fd_ = -1;
    bool ownFd_ = false;
    std::string path_;
    // Bytes of complete rows in the file; a failed write is cut back to the last whole row
    // after here, and keptRows_ says how many of its rows that leaves.
    std::int64_t written_ = 0;
    std::uint64_t keptRows_ = 0;
};

} // namespace acq
