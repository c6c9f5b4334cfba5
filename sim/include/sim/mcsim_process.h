// Runs the mcsim program as a child process for the PC-side programs that talk to it over a
// pseudo-terminal (integration tests, benchmarks): starts it, waits until its link is
// published, reports its CPU time, and ends it with SIGTERM.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace sim {

class McsimProcess {
public:
    McsimProcess() = default;
    ~McsimProcess();
    McsimProcess(const McsimProcess&) = delete;
    McsimProcess& operator=(const McsimProcess&) = delete;

    // Starts program with args (options, SCENARIO, LINK) and waits up to timeoutMs for the
    // line that says the link is published. False, with the reason in Error(), when the
    // program cannot be started, ends early or says nothing in time; it is not left running.
    bool Start(const std::string& program, const std::vector<std::string>& args,
               int timeoutMs = 10000);
    // SIGTERM, then waits for the end. Returns the exit code (128 + signal when killed), or -1
    // when nothing runs.
    int Stop();

    bool Running() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    // The line mcsim printed when its link was up ("mcsim: LINK -> /dev/pts/N").
    const std::string& PublishedLine() const { return published_; }
    const std::string& Error() const { return error_; }
    // User and system CPU time the process has used so far; 0 when it cannot be read.
    double CpuSeconds() const;

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string published_;
    std::string error_;
};

} // namespace sim
