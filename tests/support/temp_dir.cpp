#include "temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <unistd.h>

namespace fs = std::filesystem;

namespace testing_support {

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "ombrix-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string TempDir::Write(const std::string& relative, const std::string& content) const {
    fs::path full = fs::path(path_) / relative;
    fs::create_directories(full.parent_path());
    std::ofstream out(full, std::ios::binary);
    out << content;
    return full.string();
}

std::string TempDir::MakeDir(const std::string& relative) const {
    fs::path full = fs::path(path_) / relative;
    fs::create_directories(full);
    return full.string();
}

FatalRecorder::FatalRecorder() {
    foundation::SetFatalHandler([this](const std::string& text) { messages_.push_back(text); });
}

FatalRecorder::~FatalRecorder() {
    foundation::SetFatalHandler({});
}

ParamGuard::ParamGuard() {
    foundation::ResetParams();
    systemFile_ = dir_.path() + "/param.ini";
    foundation::SetSystemParamFile(systemFile_);
}

ParamGuard::~ParamGuard() {
    foundation::ResetParams();
}

ScopedCwd::ScopedCwd(const std::string& dir) : previous_(fs::current_path().string()) {
    fs::current_path(dir);
}

ScopedCwd::~ScopedCwd() {
    std::error_code ec;
    fs::current_path(previous_, ec);
}

} // namespace testing_support
