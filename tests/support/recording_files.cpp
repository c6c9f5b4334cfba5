#include "recording_files.h"

#include <csignal>
#include <fstream>
#include <sstream>

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
