#include "recording_files.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/inotify.h>
#include <unistd.h>

namespace testing_support {

std::vector<CsvRow> ReadCsvFile(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    if (text != nullptr) {
        *text = all.str();
    }
    std::vector<CsvRow> rows;
    for (std::string line; std::getline(all, line);) {
        CsvRow row(1);
        for (char c : line) {
            if (c == ',') {
                row.emplace_back();
            } else {
                row.back() += c;
            }
        }
        rows.push_back(row);
    }
    return rows;
}

bool WaitForCsvRows(const std::string& path, std::size_t rows, int limitS) {
    // The folder is watched, so that the file's creation wakes the wait too.
    const int fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    const std::string folder = std::filesystem::path(path).parent_path().string();
    inotify_add_watch(fd, folder.c_str(), IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limitS);
    bool enough = false;
    while (!(enough = ReadCsvFile(path).size() >= rows)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        char events[4096];
        while (read(fd, events, sizeof events) > 0) {
        }
    }
    close(fd);
    return enough;
}

FileSizeLimit::FileSizeLimit(rlim_t bytes) {
    if (getrlimit(RLIMIT_FSIZE, &previous_) != 0) {
        return;
    }
    handler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = previous_;
    small.rlim_cur = bytes;
    set_ = setrlimit(RLIMIT_FSIZE, &small) == 0;
}

FileSizeLimit::~FileSizeLimit() {
    if (set_) {
        setrlimit(RLIMIT_FSIZE, &previous_);
    }
    std::signal(SIGXFSZ, handler_);
}

} // namespace testing_support
