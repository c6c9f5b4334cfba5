// mcsim: the simulated MCs of a scenario file on a pseudo-terminal, published under a link
// path that the programs' COM parameter can name.
#include "pty_link.h"
#include "sim/dump.h"
#include "sim/scenario.h"
#include "sim/simulator.h"
#include "sim/uart.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char* kHelp = R"(Usage: mcsim [OPTIONS] SCENARIO LINK
       mcsim --check SCENARIO

Runs the simulated MCs described in the file SCENARIO on a pseudo-terminal and publishes
the terminal as the symbolic link LINK (replaced in one step if it exists, removed on exit).
Point the COM parameter of param.ini at LINK to talk to them.

Every byte takes 10 bit times on the line, at the rate the PC has set on the terminal when
the PC sends it and at the MC's own rate when the MC sends it. The MCs listen at 9600 baud
(or the scenario's rate, or the rate an EEPROM handshake or a loader switched to); a byte
sent at another rate arrives as garbage, as on a real UART.

A pseudo-terminal has no modem control lines: the MC on the scenario's pty_channel is the
one that answers, and reset pulses cannot reach it (a scenario can start a device in its
loader with start_in_loader instead).

Options:
  --no-pacing        answer at once; rates are not compared (throughput measurements)
  --latency-us N     time each MC takes before it answers (overrides latency_us)
  --trace FILE       write every byte received and sent, with its time, to FILE
                     ("-" for standard output)
  --dump-dir DIR     on exit write each MC's EEPROM and programmed flash as Intel HEX files
                     CH-NAME.eeprom.hex and CH-NAME.flash.hex into DIR
  --check            only read SCENARIO and report what is wrong with it
  --help             show this text

When LINK is published mcsim prints "mcsim: LINK -> /dev/pts/N" on standard output.
SIGINT and SIGTERM end it cleanly. Exit codes: 0 normal end, 1 failure while running,
2 wrong arguments or a broken scenario. The scenario format is described in README.md
(section "Scenario files").
)";

// Bytes the PC may have on the line before mcsim stops taking more from the terminal, as a
// UART's full transmit buffer would hold the writer back.
constexpr std::size_t kMaxBytesOnTheLine = 4096;

// A sleeping process wakes tens of microseconds late, more after a long sleep. So the wait
// for a byte due at the PC ends this much early and the rest is spent polling, which keeps a
// read exchange within a few microseconds of its wire time.
constexpr std::uint64_t kMaxSpinUs = 60;

volatile std::sig_atomic_t stopRequested = 0;

void OnStopSignal(int) {
    stopRequested = 1;
}

std::uint64_t NowUs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

struct Options {
    std::string scenario;
    std::string link;
    bool pacing = true;
    bool check = false;
    std::optional<std::uint32_t> latencyUs;
    std::string trace;
    std::string dumpDir;
};

bool ParseArguments(int argc, char** argv, Options& options, std::string& error) {
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        if (arg == "--no-pacing") {
            options.pacing = false;
        } else if (arg == "--check") {
            options.check = true;
        } else if (arg == "--latency-us") {
            std::string text;
            if (!value(text)) {
                return false;
            }
            char* end = nullptr;
            errno = 0;
            unsigned long us = std::strtoul(text.c_str(), &end, 10);
            if (text.empty() || *end != '\0' || errno != 0 || us > 10000000) {
                error = "invalid --latency-us " + text;
                return false;
            }
            options.latencyUs = static_cast<std::uint32_t>(us);
        } else if (arg == "--trace") {
            if (!value(options.trace)) {
                return false;
            }
        } else if (arg == "--dump-dir") {
            if (!value(options.dumpDir)) {
                return false;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg;
            return false;
        } else {
            positional.push_back(arg);
        }
    }
    std::size_t wanted = options.check ? 1 : 2;
    if (positional.size() != wanted) {
        error = options.check ? "--check takes one scenario file" : "SCENARIO and LINK needed";
        return false;
    }
    options.scenario = positional[0];
    if (!options.check) {
        options.link = positional[1];
    }
    return true;
}

void WriteDumps(sim::Simulator& simulator, const std::string& dir) {
    for (int channel = 1; channel <= 3; ++channel) {
        for (int slot = 0; slot <= 7; ++slot) {
            sim::Device* device = simulator.DeviceAt(channel, slot);
            if (device == nullptr) {
                continue;
            }
            std::string base = dir + "/ch" + std::to_string(channel);
            if (slot > 0) {
                base += "-slot" + std::to_string(slot);
            }
            base += "-" + device->Config().name;
            const auto& eeprom = device->Eeprom();
            std::ofstream(base + ".eeprom.hex")
                << sim::IntelHex(std::vector<std::uint8_t>(eeprom.begin(), eeprom.end()));
            std::ofstream(base + ".flash.hex")
                << sim::IntelHex(device->Flash(), &device->FlashWritten());
        }
    }
}

// Sends what the simulator has delivered to the PC; what the terminal cannot take yet stays
// in pending.
bool FlushToPc(int master, std::vector<std::uint8_t>& pending) {
    while (!pending.empty()) {
        ssize_t n = write(master, pending.data(), pending.size());
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                return true;
            }
            if (errno == EIO) {
                pending.clear(); // nobody on the other side: a real line would lose them too
                return true;
            }
            return false;
        }
        pending.erase(pending.begin(), pending.begin() + n);
    }
    return true;
}

int Serve(const Options& options, sim::Scenario& scenario) {
    if (options.latencyUs) {
        scenario.latencyUs = *options.latencyUs;
    }
    std::ofstream traceFile;
    std::ostream* trace = nullptr;
    if (options.trace == "-") {
        trace = &std::cout;
    } else if (!options.trace.empty()) {
        traceFile.open(options.trace);
        if (!traceFile) {
            std::cerr << "mcsim: " << options.trace << " cannot be written\n";
            return 2;
        }
        trace = &traceFile;
    }
    struct stat dumpDir {};
    if (!options.dumpDir.empty() &&
        (stat(options.dumpDir.c_str(), &dumpDir) != 0 || !S_ISDIR(dumpDir.st_mode))) {
        std::cerr << "mcsim: " << options.dumpDir << " is not a folder\n";
        return 2;
    }

    sigset_t stopSignals;
    sigset_t waitMask;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    // Wake-ups are the pacing of the line; the default 50 us of slack would show in it.
    prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0);

    sim::PtyLink pty;
    std::string error;
    if (!sim::OpenPty(pty, error) || !sim::PublishLink(pty, options.link, error)) {
        std::cerr << "mcsim: " << error << "\n";
        sim::ClosePty(pty);
        return 1;
    }

    const std::uint64_t startUs = NowUs();
    sim::Simulator simulator(scenario, startUs);
    simulator.SetPacing(options.pacing);
    simulator.SetRecording(trace != nullptr);
    // No control lines on a pseudo-terminal: hold them where they select the served channel.
    if (scenario.wiring == sim::Wiring::ComThreeChannels) {
        int channel = scenario.ptyChannel;
        simulator.SetLines(channel != 2, channel != 1, startUs);
    } else if (scenario.ptyChannel != 1) {
        std::cerr << "mcsim: warning: with one-channel wiring only channel 1 can answer\n";
    }
    std::cout << "mcsim: " << options.link << " -> " << pty.slaveName << std::endl;

    std::vector<std::uint8_t> toPc;
    std::uint8_t buffer[512];
    // At high rates a quarter of a frame at most, so the polling stays a small share.
    std::uint64_t spinLimitUs = kMaxSpinUs;
    int result = 0;
    auto followPcRate = [&]() {
        std::uint32_t rate = sim::PtyBaud(pty.master);
        if (rate != 0 && rate != simulator.PcBaud()) {
            // The PC changed it at some moment since the last look.
            simulator.SetPcBaud(rate, simulator.LastUs());
        }
    };
    while (stopRequested == 0) {
        std::uint64_t now = NowUs();
        followPcRate();
        spinLimitUs = sim::FrameNs(simulator.PcBaud()) / 4000;
        auto arrived = simulator.ReadAll(now);
        toPc.insert(toPc.end(), arrived.begin(), arrived.end());
        if (!FlushToPc(pty.master, toPc)) {
            std::cerr << "mcsim: writing to the terminal failed: " << std::strerror(errno) << "\n";
            result = 1;
            break;
        }
        if (trace != nullptr) {
            for (const auto& entry : simulator.Traffic()) {
                *trace << sim::FormatTraffic(entry, startUs) << "\n";
            }
            trace->flush();
            simulator.ClearTraffic();
        }

        // Sleep until the next byte is due, or until the PC sends; at most a second, so a rate
        // the PC changes while all is quiet is noticed in time.
        std::uint64_t waitUs = 1000000;
        if (auto next = simulator.NextEventUs()) {
            waitUs = *next > now ? std::min<std::uint64_t>(*next - now, waitUs) : 0;
        }
        if (auto delivery = simulator.NextDeliveryUs(); delivery && options.pacing) {
            std::uint64_t untilDue = *delivery > now ? *delivery - now : 0;
            std::uint64_t spin = std::min(kMaxSpinUs, spinLimitUs);
            if (untilDue <= spin) {
                waitUs = 0;
            } else if (untilDue - spin < waitUs) {
                waitUs = untilDue - spin;
            }
        }
        timespec timeout{static_cast<time_t>(waitUs / 1000000),
                         static_cast<long>(waitUs % 1000000) * 1000};
        short events = toPc.empty() ? 0 : POLLOUT;
        if (simulator.PendingToMc() < kMaxBytesOnTheLine) {
            events |= POLLIN;
        }
        pollfd fd{pty.master, events, 0};
        int ready = ppoll(&fd, 1, &timeout, &waitMask);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            std::cerr << "mcsim: waiting failed: " << std::strerror(errno) << "\n";
            result = 1;
            break;
        }
        if ((fd.revents & POLLIN) != 0) {
            ssize_t n = read(pty.master, buffer, sizeof buffer);
            if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) {
                std::cerr << "mcsim: reading the terminal failed: " << std::strerror(errno) << "\n";
                result = 1;
                break;
            }
            std::uint64_t sentAt = NowUs();
            followPcRate();
            for (ssize_t i = 0; i < n; ++i) {
                simulator.Write(buffer[i], sentAt);
            }
        }
    }

    if (!options.dumpDir.empty()) {
        WriteDumps(simulator, options.dumpDir);
    }
    sim::ClosePty(pty);
    return result;
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::cout << kHelp;
            return 0;
        }
    }
    Options options;
    std::string error;
    if (!ParseArguments(argc, argv, options, error)) {
        std::cerr << "mcsim: " << error << "\nTry mcsim --help.\n";
        return 2;
    }
    sim::Scenario scenario;
    if (!sim::LoadScenarioFile(options.scenario, scenario, error)) {
        std::cerr << "mcsim: " << error << "\n";
        return 2;
    }
    if (options.check) {
        std::cout << "mcsim: " << options.scenario << ": " << scenario.devices.size()
                  << " device(s), fine\n";
        return 0;
    }
    return Serve(options, scenario);
}
