// Variable reads against the mcsim program on a pseudo-terminal, through the whole PC side as
// the programs run it: param.ini names the link path, the link opens it, OpenMCAppl identifies
// the application and loads its address file, and ReadVariable reads one page-0 byte in a
// loop. Each scenario starts its own mcsim.
//
//   mc_read                      every scenario
//   mc_read --smoke              a few reads of each; fails on any failed or wrong read
//   mc_read --scenario NAME      one scenario: 9600, 115200, 9600-1.5ms, no-pacing or u16-9600
//   mc_read --reads N            N reads per scenario instead of the defaults
//
// A page-0 read is one request and one reply byte, 20 bit times on the wire: the wire limit
// is baud / 20 reads per second, taken from the rate the terminal really runs at. An MC that
// takes time to answer has its own limit: one read per 20 bit times plus its reply time. The
// u16 row reads a 16-bit counter whole (ReadTypedValue): three byte reads while it holds, so
// its limit is a third of that.
#include "foundation/params.h"
#include "link/link_port.h"
#include "link/posix_serial.h"
#include "mcu/access.h"
#include "mcu/appl.h"
#include "mcu/ident.h"
#include "mcu/typed.h"
#include "mcu/vartable.h"
#include "sim/mcsim_process.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kDataDir = BENCH_DATA_DIR;
constexpr std::uint8_t kExpectedValue = 0x5A; // VALUE's constant in the scenarios

struct Scenario {
    const char* name;
    const char* file;
    std::uint32_t baud;
    bool pacing;
    int reads;
    int smokeReads;
    std::uint32_t latencyUs = 0; // the MC's reply time (mcsim --latency-us)
    bool wide = false;           // whole u16 samples of WIDE instead of byte reads of VALUE
};

// About four seconds each on the build machine.
constexpr Scenario kScenarios[] = {
    {"9600", "read_9600.scenario", 9600, true, 2000, 40},
    {"115200", "read_115200.scenario", 115200, true, 20000, 200},
    {"9600-1.5ms", "read_9600.scenario", 9600, true, 1200, 30, 1500},
    {"no-pacing", "read_9600.scenario", 9600, false, 100000, 500},
    {"u16-9600", "read_9600.scenario", 9600, true, 700, 15, 0, true},
};

struct Result {
    int reads = 0;
    int failures = 0;
    std::uint32_t baud = 0;
    double seconds = 0;
    double cpuSeconds = 0;
    double mcsimCpuSeconds = 0;
    double medianUs = 0;
    double p99Us = 0;
};

double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// The link's rate is 16 bits wide, as the programs have always kept it, so 115200 cannot go
// through SetBaud; it is set on the terminal, whose settings the link's descriptor shares. The
// link's own rate stays at 9600, so ReadVariable's SetBaud changes nothing.
bool SetTerminalRate(const std::string& path, std::uint32_t baud) {
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bool ok = comlink::SetCustomBaud(fd, baud);
    close(fd);
    return ok;
}

std::uint32_t TerminalRate(const std::string& path) {
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    std::uint32_t baud = comlink::DeviceBaud(fd);
    close(fd);
    return baud;
}

[[noreturn]] void Fail(const std::string& why) {
    std::fprintf(stderr, "mc_read: %s\n", why.c_str());
    std::exit(1);
}

Result Run(const Scenario& scenario, int reads) {
    std::string pattern = (fs::temp_directory_path() / "mc-read-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        Fail("no temporary folder");
    }
    const std::string folder = pattern;
    const std::string link = folder + "/mc";
    for (const char* name : {"applid.inc", "BENCH.ADR"}) {
        fs::copy_file(kDataDir + "/" + name, folder + "/" + name);
    }
    {
        std::ofstream param(folder + "/param.ini");
        param << "[COM]\n" << link << "\n[FILE_PATH]\n" << folder << "\n";
    }

    sim::McsimProcess mcsim;
    std::vector<std::string> args;
    if (!scenario.pacing) {
        args.push_back("--no-pacing");
    }
    if (scenario.latencyUs > 0) {
        args.push_back("--latency-us");
        args.push_back(std::to_string(scenario.latencyUs));
    }
    args.push_back(kDataDir + "/" + scenario.file);
    args.push_back(link);
    if (!mcsim.Start(MCSIM_PATH, args)) {
        Fail(mcsim.Error());
    }

    foundation::ResetParams();
    if (!foundation::ReadParamFile(folder + "/param.ini")) {
        Fail(foundation::ParamError());
    }
    mcu::LoadApplIdTable();
    comlink::InitLink();
    if (!comlink::StartLink()) {
        Fail("link did not open: " + comlink::LinkError());
    }
    if (scenario.baud != comlink::BaudRate() && !SetTerminalRate(link, scenario.baud)) {
        Fail("cannot set " + std::to_string(scenario.baud) + " baud on " + link);
    }

    mcu::MCAppl appl;
    if (!mcu::OpenMCAppl(appl)) {
        Fail("OpenMCAppl: " + appl.errorText);
    }
    std::uint16_t address = 0;
    std::uint8_t mask = 0;
    if (!mcu::FindVariable(appl, scenario.wide ? "WIDE" : "VALUE", address, mask)) {
        Fail(appl.errorText);
    }
    const mcu::TypedName wide{"WIDE", address, 0, mcu::VarType::U16};

    Result r;
    std::uint8_t value = 0;
    for (int i = 0; i < 20; ++i) {
        mcu::ReadVariable(appl, address, 0, value);
    }
    std::vector<double> times;
    times.reserve(static_cast<std::size_t>(reads));
    const double cpu0 = ProcessCpuSeconds();
    const double mcsimCpu0 = mcsim.CpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    auto last = t0;
    for (int i = 0; i < reads; ++i) {
        if (scenario.wide) {
            mcu::TypedValue sample;
            if (!mcu::ReadTypedValue(appl, wide, mcu::ByteOrder::Little, sample)) {
                ++r.failures;
            }
        } else if (!mcu::ReadVariable(appl, address, 0, value) || value != kExpectedValue) {
            ++r.failures;
        }
        const auto now = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::micro>(now - last).count());
        last = now;
    }
    r.seconds = std::chrono::duration<double>(last - t0).count();
    r.cpuSeconds = ProcessCpuSeconds() - cpu0;
    r.mcsimCpuSeconds = mcsim.CpuSeconds() - mcsimCpu0;
    r.reads = reads;
    r.baud = TerminalRate(link);
    std::sort(times.begin(), times.end());
    r.medianUs = times[times.size() / 2];
    r.p99Us = times[std::min(times.size() - 1, times.size() * 99 / 100)];

    mcu::CloseMCAppl(appl);
    comlink::CloseLink();
    comlink::ResetLink();
    mcsim.Stop();
    fs::remove_all(folder);
    return r;
}

// Reads per second the wire and the MC's reply time allow.
double WireLimit(const Scenario& scenario, const Result& r) {
    return 1.0 / (20.0 / r.baud + scenario.latencyUs * 1e-6) / (scenario.wide ? 3.0 : 1.0);
}

void Print(const Scenario& scenario, const Result& r) {
    const double rate = r.reads / r.seconds;
    char ratio[16] = "-"; // without pacing the rate is not on the wire
    if (scenario.pacing && r.baud > 0) {
        std::snprintf(ratio, sizeof ratio, "%.3fx", rate / WireLimit(scenario, r));
    }
    std::printf("%-10s %7u %8d %10.0f %9s %9.1f %9.1f %12.4f %12.4f %6d\n", scenario.name, r.baud,
                r.reads, rate, ratio, r.medianUs, r.p99Us, 1000.0 * r.cpuSeconds / r.reads,
                1000.0 * r.mcsimCpuSeconds / r.reads, r.failures);
}

void PrintGoal(const char* goal, bool met, double figure) {
    std::printf(figure >= 100 ? "goal %-40s %-6s (%.0f)\n" : "goal %-40s %-6s (%.4f)\n", goal,
                met ? "met" : "missed", figure);
}

// The goals of the MC protocol layer on this benchmark.
void PrintGoals(const Scenario& scenario, const Result& r) {
    const double rate = r.reads / r.seconds;
    const double ratio = r.baud > 0 ? rate / WireLimit(scenario, r) : 0.0;
    const std::string name = scenario.name;
    if (name == "9600") {
        PrintGoal(">= 0.95 of the wire limit at 9600", ratio >= 0.95, ratio);
        const double cpu = 1000.0 * r.cpuSeconds / r.reads;
        PrintGoal("< 0.05 CPU s per 1000 reads at 9600", cpu < 0.05, cpu);
    } else if (name == "u16-9600") {
        PrintGoal(">= 0.9 of three reads' wire time, u16", ratio >= 0.9, ratio);
    } else if (name == "115200") {
        PrintGoal(">= 0.95 of the wire limit at 115200", ratio >= 0.95, ratio);
    } else if (name == "9600-1.5ms") {
        PrintGoal(">= 0.95 of the limit with a 1.5 ms MC", ratio >= 0.95, ratio);
    } else {
        PrintGoal(">= 20000 reads/s without pacing", rate >= 20000, rate);
    }
}

} // namespace

int main(int argc, char** argv) {
    bool smoke = false;
    std::string only;
    int reads = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--smoke") {
            smoke = true;
        } else if (arg == "--scenario" && i + 1 < argc) {
            only = argv[++i];
        } else if (arg == "--reads" && i + 1 < argc) {
            reads = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: mc_read [--smoke] [--scenario "
                                 "9600|115200|9600-1.5ms|no-pacing|u16-9600] "
                                 "[--reads N]\n");
            return 2;
        }
    }
    std::printf("%-10s %7s %8s %10s %9s %9s %9s %12s %12s %6s\n", "scenario", "baud", "reads",
                "reads/s", "vs wire", "median us", "p99 us", "CPU s/1000", "mcsim s/1000",
                "failed");
    int failures = 0;
    std::vector<std::pair<const Scenario*, Result>> results;
    for (const Scenario& scenario : kScenarios) {
        if (!only.empty() && only != scenario.name) {
            continue;
        }
        const int n = reads > 0 ? reads : (smoke ? scenario.smokeReads : scenario.reads);
        const Result r = Run(scenario, n);
        Print(scenario, r);
        failures += r.failures;
        results.emplace_back(&scenario, r);
    }
    if (results.empty()) {
        std::fprintf(stderr, "mc_read: no scenario %s\n", only.c_str());
        return 2;
    }
    // A few reads say nothing about the goals; the smoke run only checks that reads work.
    if (!smoke) {
        for (const auto& [scenario, r] : results) {
            PrintGoals(*scenario, r);
        }
    }
    return failures == 0 ? 0 : 1;
}
