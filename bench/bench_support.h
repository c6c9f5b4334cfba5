// What the benchmarks of the window share: CPU and wall time, running the event loop for a
// while, an installation root whose param.ini points at mcsim's link and the demo, and the
// ReadVariable loop that every ratio to mc_read is taken against.
#pragma once

#include "link/link_port.h"
#include "mcu/access.h"
#include "mcu/ident.h"
#include "mcu/vartable.h"
#include "scope/scope_window.h"

#include <QApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <utility>

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

// The opened window, shown and active, with the demo's SINE, SAW and BLINK on its channels;
// false (and why, on standard error) when the application did not open.
inline bool ShowDemoChannels(scope::ScopeWindow& form, const char* program) {
    if (form.TerminationRequested()) {
        std::fprintf(stderr, "%s: the MC application did not open\n", program);
        return false;
    }
    form.show();
    for (auto [name, text] : {std::pair{"VarName1", "SINE"}, std::pair{"VarName2", "SAW"},
                              std::pair{"VarName3", "BLINK"}}) {
        auto* box = form.findChild<scope::TComboBox*>(name);
        box->SetText(text);
        Q_EMIT box->UserChanged();
    }
    Q_EMIT form.findChild<scope::TApplicationEvents*>("ApplicationEvents1")->Activate();
    return true;
}

inline void RunEventLoopFor(int ms) {
    QTimer::singleShot(ms, [] { QCoreApplication::exit(0); });
    QApplication::exec();
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

} // namespace bench_support
