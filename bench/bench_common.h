// What every benchmark shares, without the window: CPU and wall time, an installation root
// whose param.ini points at mcsim's link and the demo, the ReadVariable loop that every ratio
// to mc_read is taken against, and child processes.
#pragma once

#include "link/link_port.h"
#include "mcu/access.h"
#include "mcu/ident.h"
#include "mcu/vartable.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace bench_support {

using Clock = std::chrono::steady_clock;

inline constexpr double kWireLimit = 9600.0 / 20.0; // a read is a request and a reply of 10 bits

inline double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

inline double CpuSeconds(const rusage& usage) {
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

inline double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return CpuSeconds(usage);
}

// A fresh root (/tmp/PREFIX-XXXXXX) with bin/, demo/ (the demo's files) and config/param.ini
// pointing COM at root/mc and FILE_PATH at the demo; empty when it cannot be made. Sets a
// private XDG_RUNTIME_DIR when there is none (Qt complains on every run without one).
inline std::string MakeBenchRoot(const std::string& prefix, const std::string& demoDir) {
    namespace fs = std::filesystem;
    std::string pattern = "/tmp/" + prefix + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        return {};
    }
    const std::string root = pattern;
    fs::create_directories(root + "/bin");
    fs::create_directories(root + "/config");
    if (std::getenv("XDG_RUNTIME_DIR") == nullptr) {
        ::mkdir((root + "/run").c_str(), 0700);
        ::setenv("XDG_RUNTIME_DIR", (root + "/run").c_str(), 1);
    }
    fs::create_directory_symlink(demoDir, root + "/demo");
    std::ofstream param(root + "/config/param.ini");
    param << "[COM]\n" << root << "/mc\n[FILE_PATH]\n%ROOT%/demo\n";
    return root;
}

// ReadVariable of SINE in a loop on the link as the module start-up left it: the rate the
// whole PC side reaches on this mcsim, as mc_read measures it.
inline double ReadLoopRate(double seconds) {
    if (!comlink::StartLink()) {
        return 0;
    }
    mcu::MCAppl appl;
    std::uint16_t address = 0;
    std::uint8_t mask = 0;
    double rate = 0;
    if (mcu::OpenMCAppl(appl) && mcu::FindVariable(appl, "SINE", address, mask)) {
        int ok = 0;
        const auto start = Clock::now();
        while (Seconds(Clock::now() - start) < seconds) {
            std::uint8_t value = 0;
            ok += mcu::ReadVariable(appl, address, 0, value) ? 1 : 0;
        }
        rate = ok / Seconds(Clock::now() - start);
    }
    comlink::CloseLink();
    return rate;
}

// Starts program with args; with out, its standard output is a pipe whose reading end is
// put there. The process id, or -1.
inline pid_t Spawn(const std::string& program, const std::vector<std::string>& args,
                   int* out = nullptr) {
    int pipeFds[2] = {-1, -1};
    if (out != nullptr && ::pipe(pipeFds) != 0) {
        return -1;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (out != nullptr) {
            ::dup2(pipeFds[1], STDOUT_FILENO);
            ::close(pipeFds[0]);
            ::close(pipeFds[1]);
        }
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    if (out != nullptr) {
        ::close(pipeFds[1]);
        *out = pid > 0 ? pipeFds[0] : -1;
        if (pid < 0) {
            ::close(pipeFds[0]);
        }
    }
    return pid;
}

} // namespace bench_support
