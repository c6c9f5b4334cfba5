// A child process with its standard output and error on pipes, for the tests that run the
// built programs (mcsim, mcload) in real time.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

class ChildProcess {
public:
    ChildProcess(const std::string& path, const std::vector<std::string>& args);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The first line on standard output, waiting up to 10 s for it.
    std::string FirstLine();
    // Collects the output until the process ends; one that runs past limitS is killed.
    Outcome Wait(int limitS = 60);
    // Sends signal, then waits as Wait does.
    Outcome Stop(int signal);
    int Pid() const { return pid_; }

private:
    int pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    bool ended_ = false;
};

} // namespace testing_support
