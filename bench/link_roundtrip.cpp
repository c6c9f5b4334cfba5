// Link round trip: SendByte + ReceiveByte against an echo peer on a pseudo-terminal, through
// the real POSIX device layer and the real clock. The peer answers at once (the link's own
// cost) or at the pace of a 9600 baud line (request and reply each take 10 bit times), where
// the waits must not burn the CPU.
//
//   link_roundtrip           full run
//   link_roundtrip --smoke   a few exchanges of each kind; fails on any lost or wrong echo
#include "foundation/params.h"
#include "link/link_port.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr double kWireBaud = 9600.0;
// One exchange is a request and a reply character of 10 bits each.
constexpr double kWireLimit = kWireBaud / 20.0;

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

class EchoPeer {
public:
    EchoPeer(int master, bool paced) : master_(master), paced_(paced) {
        thread_ = std::thread([this] { Run(); });
    }
    ~EchoPeer() {
        stop_ = true;
        thread_.join();
    }

private:
    void Run() {
        const long charNs = static_cast<long>(10.0 / kWireBaud * 1e9);
        while (!stop_) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) {
                continue;
            }
            std::uint8_t buffer[256];
            ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) {
                continue;
            }
            if (paced_) {
                // The request finishes arriving one character time after it started; the
                // reply then takes another.
                timespec due{};
                clock_gettime(CLOCK_MONOTONIC, &due);
                long ns = due.tv_nsec + 2 * charNs * n;
                due.tv_sec += ns / 1000000000L;
                due.tv_nsec = ns % 1000000000L;
                while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
                }
            }
            if (::write(master_, buffer, static_cast<std::size_t>(n)) != n) {
                std::fprintf(stderr, "peer write failed: %s\n", std::strerror(errno));
            }
        }
    }

    int master_;
    bool paced_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct Result {
    int exchanges = 0;
    int failures = 0;
    double seconds = 0;
    double cpuSeconds = 0;
    double medianUs = 0;
    double p99Us = 0;
};

Result RunScenario(const std::string& folder, int exchanges, bool paced, bool logged) {
    Result r;
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name, sizeof name) != 0) {
        std::fprintf(stderr, "no pseudo-terminal: %s\n", std::strerror(errno));
        std::exit(1);
    }
    std::string param = folder + "/param.ini";
    {
        std::ofstream out(param);
        out << "[COM]\n" << name << "\n";
        if (logged) {
            out << "[COM_DEBUG]\n" << folder << "/traffic.log\n";
        }
    }
    foundation::ResetParams();
    foundation::ReadParamFile(param);
    comlink::InitLink();
    if (!comlink::StartLink()) {
        std::fprintf(stderr, "link did not open: %s\n", comlink::LinkError().c_str());
        std::exit(1);
    }
    {
        EchoPeer peer(master, paced);
        std::vector<double> times;
        times.reserve(static_cast<std::size_t>(exchanges));
        double cpu0 = ThreadCpuSeconds();
        auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < exchanges; ++i) {
            auto a = std::chrono::steady_clock::now();
            auto sent = static_cast<std::uint8_t>(i * 7 + 1);
            std::uint8_t got = 0;
            if (!comlink::SendByte(sent) || !comlink::ReceiveByte(got, 25) || got != sent) {
                ++r.failures;
            }
            times.push_back(
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - a)
                    .count());
        }
        r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        r.cpuSeconds = ThreadCpuSeconds() - cpu0;
        r.exchanges = exchanges;
        std::sort(times.begin(), times.end());
        r.medianUs = times[times.size() / 2];
        r.p99Us = times[std::min(times.size() - 1, times.size() * 99 / 100)];
    }
    comlink::CloseLink();
    ::close(master);
    return r;
}

void Print(const char* scenario, const Result& r) {
    double rate = r.exchanges / r.seconds;
    std::printf("%-22s %9d %11.0f %10.1f %9.1f %9.1f %12.4f %10.3fx %6d\n", scenario, r.exchanges,
                rate, 1e6 * r.seconds / r.exchanges, r.medianUs, r.p99Us,
                1000.0 * r.cpuSeconds / r.exchanges, rate / kWireLimit, r.failures);
}

} // namespace

int main(int argc, char** argv) {
    bool smoke = argc > 1 && std::strcmp(argv[1], "--smoke") == 0;
    char folder[] = "/tmp/link-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }

    Result fast = RunScenario(folder, smoke ? 200 : 50000, false, false);
    Result paced = RunScenario(folder, smoke ? 10 : 1000, true, false);
    Result logged = RunScenario(folder, smoke ? 200 : 20000, false, true);

    std::printf("link round trip over a pseudo-terminal (SendByte + ReceiveByte, echo peer)\n");
    std::printf("wire limit at %.0f baud: %.0f exchanges/s (20 bit times per exchange)\n\n",
                kWireBaud, kWireLimit);
    std::printf("%-22s %9s %11s %10s %9s %9s %12s %11s %6s\n", "scenario", "exchanges", "exch/s",
                "us/exch", "median", "p99", "CPU s/1000", "vs wire", "lost");
    Print("immediate echo", fast);
    Print("echo at 9600 pace", paced);
    Print("immediate, log on", logged);

    bool rateGoal = fast.exchanges / fast.seconds >= 20000.0;
    bool cpuGoal = 1000.0 * paced.cpuSeconds / paced.exchanges < 0.05;
    std::printf("\ngoal >= 20000 exchanges/s (immediate echo): %s\n", rateGoal ? "met" : "MISSED");
    std::printf("goal < 0.05 CPU s per 1000 exchanges at 9600 pace: %s\n",
                cpuGoal ? "met" : "MISSED");

    std::remove((std::string(folder) + "/traffic.log").c_str());
    std::remove((std::string(folder) + "/param.ini").c_str());
    ::rmdir(folder);
    int lost = fast.failures + paced.failures + logged.failures;
    return lost == 0 ? 0 : 1;
}
