// The script service against mcsim on a pseudo-terminal at 9600 baud, paced as a real line.
// Prints, all measured in the same run on the same mcsim:
//   - a read's round trip through the service (mcctl on a Unix socket, `read` of SINE, one
//     scan) against a direct ReadVariable of SINE, and their ratio;
//   - a subscription's samples per second (SINE, SAW, BLINK) against mcrec's rows per second
//     of the same names, and their ratio (goal >= 0.98).
//
//   service_bench [--seconds N]   N s per phase (default 10)
#include "bench_common.h"
#include "mcu/startup.h"
#include "service/json.h"
#include "sim/mcsim_process.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace bench_support;

// One client connection: lines out, lines in.
class Line {
public:
    explicit Line(const std::string& path) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
        ok_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~Line() { ::close(fd_); }
    bool Ok() const { return ok_; }
    void Send(const std::string& text) {
        const std::string line = text + "\n";
        [[maybe_unused]] const auto n = ::write(fd_, line.data(), line.size());
    }
    std::string Next() {
        while (true) {
            const auto nl = buffer_.find('\n');
            if (nl != std::string::npos) {
                std::string line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                return line;
            }
            pollfd p{fd_, POLLIN, 0};
            char chunk[65536];
            ssize_t n = 0;
            if (::poll(&p, 1, 5000) <= 0 || (n = ::read(fd_, chunk, sizeof chunk)) <= 0) {
                return {};
            }
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }

private:
    int fd_ = -1;
    bool ok_ = false;
    std::string buffer_;
};

} // namespace

int main(int argc, char** argv) {
    double seconds = 10;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::max(1.0, std::atof(argv[++i]));
        }
    }
    const std::string root = MakeBenchRoot("ombrix-svcbench", DEMO_DIR);
    if (root.empty()) {
        return 1;
    }
    fs::copy_file(MCCTL_PATH, root + "/bin/mcctl");
    fs::copy_file(MCREC_PATH, root + "/bin/mcrec");
    sim::McsimProcess mcsim;
    if (!mcsim.Start(MCSIM_PATH, {DEMO_DIR "/demo.scenario", root + "/mc"})) {
        std::fprintf(stderr, "service_bench: %s\n", mcsim.Error().c_str());
        return 1;
    }

    // Direct reads in this process, as mc_read makes them.
    mcu::StartOptions start;
    start.executablePath = root + "/bin/service_bench";
    mcu::StartModules(start);
    const double readRate = ReadLoopRate(seconds);
    const double direct = readRate > 0 ? 1 / readRate : 0;

    // Through the service.
    const std::string socket = root + "/mcctl.sock";
    int out = -1;
    const pid_t server = Spawn(root + "/bin/mcctl", {"--listen", socket}, &out);
    char ready[512] = {};
    pollfd p{out, POLLIN, 0};
    if (::poll(&p, 1, 10000) <= 0 || ::read(out, ready, sizeof ready - 1) <= 0) {
        std::fprintf(stderr, "service_bench: mcctl did not start\n");
        ::kill(server, SIGTERM);
        return 1;
    }
    double roundTrip = 0;
    double subscribed = 0;
    {
        Line line(socket);
        int answers = 0;
        auto t0 = Clock::now();
        while (Seconds(Clock::now() - t0) < seconds) {
            line.Send(R"({"jsonrpc":"2.0","id":1,"method":"read","params":{"names":["SINE"]}})");
            answers += line.Next().find("\"result\"") != std::string::npos ? 1 : 0;
        }
        roundTrip = answers > 0 ? Seconds(Clock::now() - t0) / answers : 0;
        line.Send(
            R"({"jsonrpc":"2.0","id":2,"method":"subscribe","params":{"names":["SINE","SAW","BLINK"]}})");
        std::uint64_t samples = 0;
        double first = -1;
        double last = 0;
        t0 = Clock::now();
        while (Seconds(Clock::now() - t0) < seconds) {
            service::Json m;
            std::string error;
            if (!service::ParseJson(line.Next(), m, error)) {
                break;
            }
            const service::Json* params = m.Find("params");
            if (params == nullptr) {
                continue;
            }
            for (const service::Json& s : params->Find("samples")->AsArray()) {
                const double t = s.Find("t")->AsNumber();
                first = first < 0 ? t : first;
                last = t;
                ++samples;
            }
        }
        subscribed = last > first ? static_cast<double>(samples - 1) / (last - first) : 0;
    }
    ::kill(server, SIGTERM);
    ::waitpid(server, nullptr, 0);

    // mcrec over the same names.
    const std::string file = root + "/mcrec.csv";
    const pid_t rec =
        Spawn(root + "/bin/mcrec",
              {"SINE", "SAW", "BLINK", "--duration", std::to_string(seconds), "-o", file}, nullptr);
    ::waitpid(rec, nullptr, 0);
    std::ifstream in(file);
    std::string row;
    std::getline(in, row);
    std::uint64_t rows = 0;
    double first = -1;
    double last = 0;
    while (std::getline(in, row)) {
        last = std::stod(row.substr(0, row.find(',')));
        first = first < 0 ? last : first;
        ++rows;
    }
    const double recorded = last > first ? static_cast<double>(rows - 1) / (last - first) : 0;

    std::printf("script service, demo on mcsim at 9600 baud paced, %.0f s phases\n", seconds);
    std::printf("%-44s %14s %10s\n", "figure", "value", "goal");
    std::printf("%-44s %11.3f ms\n", "direct ReadVariable of SINE", direct * 1e3);
    std::printf("%-44s %11.3f ms\n", "service read of SINE (round trip)", roundTrip * 1e3);
    std::printf("%-44s %14.3f\n", "  direct / service", roundTrip > 0 ? direct / roundTrip : 0);
    std::printf("%-44s %12.1f /s\n", "subscription SINE+SAW+BLINK: scans", subscribed);
    std::printf("%-44s %12.1f /s\n", "mcrec SINE SAW BLINK: rows", recorded);
    const double ratio = recorded > 0 ? subscribed / recorded : 0;
    std::printf("%-44s %14.3f %10s %s\n", "  subscription / mcrec", ratio, ">= 0.98",
                ratio >= 0.98 ? "ok" : "MISSED");
    fs::remove_all(root);
    return direct > 0 && roundTrip > 0 && subscribed > 0 && recorded > 0 ? 0 : 1;
}
