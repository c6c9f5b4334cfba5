#include "child_process.h"

#include <chrono>
#include <csignal>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

using Clock = std::chrono::steady_clock;

ChildProcess::ChildProcess(const std::string& path, const std::vector<std::string>& args) {
    int out[2];
    int err[2];
    if (pipe(out) != 0 || pipe(err) != 0) {
        return;
    }
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(err[0]);
        std::vector<std::string> all{path};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !ended_) {
        Stop(SIGKILL);
    }
    close(out_);
    close(err_);
}

std::string ChildProcess::FirstLine() {
    std::string line;
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
        pollfd fd{out_, POLLIN, 0};
        if (poll(&fd, 1, 100) > 0) {
            char c;
            if (read(out_, &c, 1) != 1) {
                break;
            }
            if (c == '\n') {
                return line;
            }
            line += c;
        }
    }
    return line;
}

Outcome ChildProcess::Wait(int limitS) {
    Outcome o;
    auto deadline = Clock::now() + std::chrono::seconds(limitS);
    bool outOpen = true;
    bool errOpen = true;
    auto drain = [](int fd, short revents, bool& open, std::string& into) {
        if (!open || (revents & (POLLIN | POLLHUP)) == 0) {
            return;
        }
        char buffer[4096];
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, static_cast<std::size_t>(n));
        } else {
            open = false;
        }
    };
    while ((outOpen || errOpen) && Clock::now() < deadline) {
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        if (poll(fds, 2, 100) > 0) {
            drain(out_, fds[0].revents, outOpen, o.out);
            drain(err_, fds[1].revents, errOpen, o.err);
        }
    }
    if (outOpen || errOpen) {
        kill(pid_, SIGKILL);
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    ended_ = true;
    o.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return o;
}

Outcome ChildProcess::Stop(int signal) {
    kill(pid_, signal);
    return Wait();
}

} // namespace testing_support
