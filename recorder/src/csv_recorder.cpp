#include "recorder/csv_recorder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace acq {

CsvRecorder::~CsvRecorder() {
    Stop();
}

void CsvRecorder::SetErrorHandler(ErrorHandler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    handler_ = std::move(handler);
}

bool CsvRecorder::Start(const std::string& path, RecordLayout layout, std::int64_t startUs,
                        std::uint64_t maxRows, std::string& error) {
    Stop();
    int fd = STDOUT_FILENO;
    const bool own = path != "-";
    if (own) {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) {
            error = std::strerror(errno);
            return false;
        }
    }
    path_ = path;
    fd_ = fd;
    ownFd_ = own;
    written_ = 0;
    builder_ = std::make_unique<RowBuilder>(std::move(layout), startUs, maxRows);
    if (!WriteAll(builder_->Header())) {
        error = error_;
        if (ownFd_) {
            ::close(fd_);
        }
        fd_ = -1;
        builder_.reset();
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    recording_ = true;
    stopping_ = false;
    rows_ = 0;
    full_ = false;
    error_.clear();
    queue_.clear();
    thread_ = std::thread([this] { Run(); });
    return true;
}

void CsvRecorder::Feed(const Batch& batch) {
    if (batch.samples.empty()) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!recording_ || full_) {
            return;
        }
        queue_.insert(queue_.end(), batch.samples.begin(), batch.samples.end());
    }
    fed_.notify_one();
}

bool CsvRecorder::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!thread_.joinable()) {
            return error_.empty();
        }
        stopping_ = true;
    }
    fed_.notify_one();
    thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    recording_ = false;
    return error_.empty();
}

bool CsvRecorder::Recording() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return recording_;
}

std::uint64_t CsvRecorder::Rows() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return rows_;
}

bool CsvRecorder::Full() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return full_;
}

std::string CsvRecorder::Error() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

void CsvRecorder::Run() {
    std::vector<Sample> samples;
    std::string text;
    bool failed = false;
    for (;;) {
        bool last = false;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            fed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            samples.swap(queue_);
            last = stopping_;
        }
        text.clear();
        if (!failed && !samples.empty()) {
            builder_->Add(samples, text);
        }
        samples.clear();
        // Rows go to the system as soon as they are made: a program that ends in any way
        // leaves them in the file.
        if (!failed && !text.empty()) {
            const std::uint64_t before = rows_;
            failed = !WriteAll(text);
            std::lock_guard<std::mutex> lock(mutex_);
            if (failed) {
                recording_ = false;
                rows_ = before + keptRows_;
            } else {
                rows_ = builder_->Rows();
                full_ = builder_->Full();
            }
        }
        if (failed) {
            ErrorHandler handler;
            std::string reason;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                handler = handler_;
                reason = error_;
            }
            if (handler && !last) {
                handler(reason);
            }
            // Nothing more is taken; wait for Stop.
            std::unique_lock<std::mutex> lock(mutex_);
            queue_.clear();
            fed_.wait(lock, [this] { return stopping_; });
            last = true;
        }
        if (last) {
            break;
        }
    }
    if (ownFd_ && ::close(fd_) != 0 && !failed) {
        // A network file system may report a failed write only now.
        std::lock_guard<std::mutex> lock(mutex_);
        error_ = std::strerror(errno);
    }
    fd_ = -1;
    builder_.reset();
    timespec cpu{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
    std::lock_guard<std::mutex> lock(mutex_);
    writerCpu_ = static_cast<double>(cpu.tv_sec) + static_cast<double>(cpu.tv_nsec) * 1e-9;
}

double CsvRecorder::WriterCpuSeconds() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return writerCpu_;
}

bool CsvRecorder::WriteAll(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const std::string reason = n < 0 ? std::strerror(errno) : "nothing written";
            // The rows that got in stay; a row cut in the middle goes again, so that the
            // file ends with a whole row.
            const std::string_view in(text.data(), done);
            const std::size_t keep = in.empty() ? 0 : in.rfind('\n') + 1;
            if (ownFd_ && keep < done) {
                (void)!::ftruncate(fd_, written_ + static_cast<std::int64_t>(keep));
            }
            keptRows_ = static_cast<std::uint64_t>(std::count(in.begin(), in.begin() + keep, '\n'));
            std::lock_guard<std::mutex> lock(mutex_);
            error_ = reason;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    written_ += static_cast<std::int64_t>(text.size());
    return true;
}

} // namespace acq
