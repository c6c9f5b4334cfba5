// The CSV writer: the rows of a recording (acquisition/recording.h) put into a file on a thread
// of its own, so that neither the engine nor a window ever waits for the disk. The scope
// window's recording and the headless recorder mcrec share it. POSIX files, so it stands above
// the acquisition, which is standard C++ only; it keeps the acquisition's namespace, as the
// rows and layouts it takes do.
#pragma once

#include "acquisition/batch.h"
#include "acquisition/recording.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace acq {

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
