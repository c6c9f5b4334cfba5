// What the recording tests share: a CSV file read back as any reader would read it, and a
// limit on the size of the files the process writes, which makes a write fail in the middle as
// on a full disk.
#pragma once

#include <string>
#include <sys/resource.h>
#include <vector>

namespace testing_support {

using CsvRow = std::vector<std::string>;

// The lines of a file split at every ","; the whole text in text when given.
std::vector<CsvRow> ReadCsvFile(const std::string& path, std::string* text = nullptr);

// Until the file another process writes holds at least rows lines, for up to limitS seconds;
// woken by the file's changes (inotify), never by a timer. False when the time ran out.
bool WaitForCsvRows(const std::string& path, std::size_t rows, int limitS);

// While it lives, a file this process writes cannot grow beyond bytes: the write that would
// fails with EFBIG (SIGXFSZ is ignored meanwhile).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool Set() const { return set_; }

private:
    rlimit previous_{};
    void (*handler_)(int) = nullptr;
    bool set_ = false;
};

} // namespace testing_support
