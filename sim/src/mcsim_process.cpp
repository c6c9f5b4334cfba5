#include "sim/mcsim_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace sim {

namespace {

int ExitCodeOf(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

McsimProcess::~McsimProcess() {
    Stop();
}

bool McsimProcess::Start(const std::string& program, const std::vector<std::string>& args,
                         int timeoutMs) {
    Stop();
    error_.clear();
    published_.clear();
    if (access(program.c_str(), X_OK) != 0) {
        error_ = program + ": " + std::strerror(errno);
        return false;
    }
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        error_ = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    std::vector<std::string> copies(args);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (auto& a : copies) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ < 0) {
        error_ = std::string("fork: ") + std::strerror(errno);
        close(out[0]);
        close(out[1]);
        return false;
    }
    if (pid_ == 0) {
        // Standard error stays the caller's, so mcsim's complaints are seen.
        dup2(out[1], 1);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    out_ = out[0];

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string line;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            error_ =
                program + " did not publish its link within " + std::to_string(timeoutMs) + " ms";
            break;
        }
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) {
            continue;
        }
        char c = 0;
        if (read(out_, &c, 1) != 1) {
            int status = 0;
            waitpid(pid_, &status, 0);
            pid_ = -1;
            error_ = program + " ended with exit code " + std::to_string(ExitCodeOf(status));
            break;
        }
        if (c != '\n') {
            line += c;
            continue;
        }
        if (line.rfind("mcsim: ", 0) == 0 && line.find(" -> ") != std::string::npos) {
            published_ = line;
            return true;
        }
        line.clear();
    }
    Stop();
    return false;
}

int McsimProcess::Stop() {
    int code = -1;
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        code = ExitCodeOf(status);
        pid_ = -1;
    }
    if (out_ >= 0) {
        close(out_);
        out_ = -1;
    }
    return code;
}

double McsimProcess::CpuSeconds() const {
    if (pid_ <= 0) {
        return 0;
    }
    std::ifstream in("/proc/" + std::to_string(pid_) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The command name in parentheses may hold blanks; the fields are counted after it.
    const auto nameEnd = text.rfind(')');
    if (nameEnd == std::string::npos || nameEnd + 2 > text.size()) {
        return 0;
    }
    std::istringstream fields(text.substr(nameEnd + 2));
    std::string field;
    double ticks = 0;
    // Fields 3.. follow the name; utime and stime are fields 14 and 15.
    for (int n = 3; n <= 15 && fields >> field; ++n) {
        if (n >= 14) {
            ticks += std::strtod(field.c_str(), nullptr);
        }
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

} // namespace sim
