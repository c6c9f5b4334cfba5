// Helpers shared by the test suites: a temporary folder that cleans up after itself, a
// recorder for fatal errors, and a guard that puts the parameter module back.
#pragma once

#include "foundation/fatal.h"
#include "foundation/params.h"

#include <string>
#include <vector>

namespace testing_support {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // Writes content to path()/relative, creating folders on the way; returns the full path.
    std::string Write(const std::string& relative, const std::string& content) const;
    std::string MakeDir(const std::string& relative) const;

private:
    std::string path_;
};

// Collects FatalError texts instead of ending the process.
class FatalRecorder {
public:
    FatalRecorder();
    ~FatalRecorder();
    FatalRecorder(const FatalRecorder&) = delete;
    FatalRecorder& operator=(const FatalRecorder&) = delete;

    const std::vector<std::string>& messages() const { return messages_; }

private:
    std::vector<std::string> messages_;
};

// Empties the parameter table and points the system-wide file into a folder that holds
// nothing, so the machine's own /etc/param.ini never takes part in a test.
class ParamGuard {
public:
    ParamGuard();
    ~ParamGuard();
    ParamGuard(const ParamGuard&) = delete;
    ParamGuard& operator=(const ParamGuard&) = delete;

    const std::string& systemFile() const { return systemFile_; }

private:
    TempDir dir_;
    std::string systemFile_;
};

// Changes the working directory for one scope.
class ScopedCwd {
public:
    explicit ScopedCwd(const std::string& dir);
    ~ScopedCwd();
    ScopedCwd(const ScopedCwd&) = delete;
    ScopedCwd& operator=(const ScopedCwd&) = delete;

private:
    std::string previous_;
};

} // namespace testing_support
