// The debug-link driver of firmware/ in the 8051 simulator s51: page-0 reads per simulated
// second at 9600 baud against the wire limit, and the machine cycles the UART interrupt takes
// from the application per request. The application (firmware_link/harness.c) times its own
// main-loop passes and counts timer overflows, so both figures come from the simulated 8051,
// not from this machine's clock. Needs sdcc, s51 and socat.
//   firmware_link [--reads N] [--smoke]
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr double kWireLimit = 9600.0 / 20.0; // a read is a request and a reply of 10 bits
constexpr double kCyclesPerSecond = 11059200.0 / 12.0;

int Exchange(int fd, std::uint8_t request) {
    if (write(fd, &request, 1) != 1) {
        return -1;
    }
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 2000) <= 0) {
        return -1;
    }
    std::uint8_t reply = 0;
    return read(fd, &reply, 1) == 1 ? reply : -1;
}

// A 16-bit variable of the harness at address (low byte first), read until two reads agree
// (the main loop may change it between the two bytes).
long Read16(int fd, std::uint8_t address) {
    for (int tries = 0; tries < 10; ++tries) {
        int lo = Exchange(fd, address);
        int hi = Exchange(fd, static_cast<std::uint8_t>(address + 1));
        int again = Exchange(fd, address);
        if (lo < 0 || hi < 0 || again < 0) {
            return -1;
        }
        if (lo == again) {
            return hi * 256 + lo;
        }
    }
    return -1;
}

int Run(const std::string& command) {
    return std::system(command.c_str());
}

} // namespace

int main(int argc, char** argv) {
    long reads = 2000;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--smoke") {
            reads = 100;
        } else if (arg == "--reads" && i + 1 < argc) {
            reads = std::strtol(argv[++i], nullptr, 10);
        } else {
            std::fprintf(stderr, "usage: firmware_link [--reads N] [--smoke]\n");
            return 2;
        }
    }
    if (Run("command -v sdcc >/dev/null && command -v s51 >/dev/null && "
            "command -v socat >/dev/null") != 0) {
        std::printf("firmware_link: skipped, sdcc, s51 or socat is not installed\n");
        return 77;
    }
    char pattern[] = "/tmp/firmware_link.XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        return 1;
    }
    const std::string work = pattern;
    const std::string repo = REPO_DIR;
    if (Run(repo + "/firmware/build.sh " + work + " " + repo + "/bench/firmware_link/harness.c >" +
            work + "/build.log 2>&1") != 0) {
        std::fprintf(stderr, "firmware_link: the harness did not build (%s/build.log)\n",
                     work.c_str());
        return 1;
    }
    const std::string link = work + "/link";
    pid_t runner = fork();
    if (runner == 0) {
        execl((repo + "/firmware/s51-link.sh").c_str(), "s51-link.sh",
              (work + "/harness.ihx").c_str(), link.c_str(), "300", static_cast<char*>(nullptr));
        _exit(127);
    }
    int fd = -1;
    for (int i = 0; i < 100 && fd < 0; ++i) {
        usleep(100000);
        fd = open(link.c_str(), O_RDWR | O_NOCTTY);
    }
    int status = 1;
    if (fd >= 0) {
        termios tio{};
        tcgetattr(fd, &tio);
        cfmakeraw(&tio);
        cfsetspeed(&tio, B9600);
        tcsetattr(fd, TCSANOW, &tio);
        // gap_min 0x38, gap_max 0x3A, overflows 0x3C: see harness.c
        long before = Read16(fd, 0x3C);
        long failed = 0;
        for (long i = 0; i < reads; ++i) {
            failed += Exchange(fd, 0x40) != 0; // COMSET_VAR_BEG, 0 all along
        }
        long after = Read16(fd, 0x3C);
        // The longest path of the interrupt: streaming with an SFR both as the byte asked for
        // and as the x-variable (two reads through the SFR table). COM_VARX is at 0x08.
        bool streamed =
            Exchange(fd, 0x07) == 0x2B && Exchange(fd, 0x88) == 0x08 && Exchange(fd, 0x90) == 0x90;
        for (int i = 0; i < 100 && streamed; ++i) {
            streamed = Exchange(fd, 0x90) >= 0;
            pollfd p{fd, POLLIN, 0};
            std::uint8_t second = 0;
            streamed = streamed && poll(&p, 1, 2000) > 0 && read(fd, &second, 1) == 1;
        }
        streamed = streamed && Exchange(fd, 0x07) == 0x2B;
        failed += streamed ? 0 : 1;
        long gapMin = Read16(fd, 0x38);
        long gapMax = Read16(fd, 0x3A);
        if (before >= 0 && after > before && gapMin >= 0 && gapMax >= 0) {
            double seconds = static_cast<double>(after - before) * 65536.0 / kCyclesPerSecond;
            double rate = static_cast<double>(reads) / seconds;
            std::printf("| scenario | reads | failed | simulated s | reads/s | vs wire limit "
                        "| interrupt cycles per request (max) |\n|---|---|---|---|---|---|---|\n");
            std::printf("| s51, 9600 baud | %ld | %ld | %.2f | %.0f | %.3fx | %ld |\n", reads,
                        failed, seconds, rate, rate / kWireLimit, gapMax - gapMin);
            status = failed == 0 ? 0 : 1;
        } else {
            std::fprintf(stderr, "firmware_link: the harness did not answer\n");
        }
        close(fd);
    } else {
        std::fprintf(stderr, "firmware_link: no link at %s\n", link.c_str());
    }
    kill(runner, SIGTERM);
    waitpid(runner, nullptr, 0);
    std::filesystem::remove_all(work);
    return status;
}
