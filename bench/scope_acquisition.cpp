// The scope's acquisition against mcsim on a pseudo-terminal at 9600 baud, paced as a real
// line: the window (Qt's offscreen platform) polls SINE, SAW and BLINK of the demo application
// from its idle loop as the program does. Prints the rate the window shows in Label16 as a
// ratio to the wire limit (480 reads/s), the process's CPU use while acquiring, its resident
// memory, and the time to draw one burst of samples and copy the bitmap to the screen.
//
//   scope_acquisition [--seconds N]   full run (default 10 s of acquisition)
//   scope_acquisition --smoke         2 s; fails only when nothing was acquired
#include "foundation/clock.h"
#include "persistence/serializers.h"
#include "scope/scope_window.h"
#include "scope/startup.h"

#include <QApplication>
#include <QLabel>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr double kWireLimit = 9600.0 / 20.0; // a read is a request and a reply of 10 bits

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

double ChildCpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos) {
        return 0;
    }
    std::vector<std::string> fields;
    std::string field;
    for (char c : text.substr(close + 2)) {
        if (c == ' ') {
            fields.push_back(field);
            field.clear();
        } else {
            field += c;
        }
    }
    // utime and stime are fields 14 and 15 of the line, 12 and 13 after the name.
    if (fields.size() < 13) {
        return 0;
    }
    return (std::stod(fields[11]) + std::stod(fields[12])) /
           static_cast<double>(sysconf(_SC_CLK_TCK));
}

long ResidentKiB(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) == 0) {
            return std::strtol(line.c_str() + std::strlen(key), nullptr, 10);
        }
    }
    return 0;
}

void RunEventLoopFor(int ms) {
    QTimer::singleShot(ms, [] { QCoreApplication::exit(0); });
    QApplication::exec();
}

struct Mcsim {
    pid_t pid = -1;
    ~Mcsim() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            int status = 0;
            ::waitpid(pid, &status, 0);
        }
    }
};

} // namespace

int main(int argc, char** argv) {
    bool smoke = false;
    int seconds = 10;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--smoke") == 0) {
            smoke = true;
            seconds = 2;
        } else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::max(1, std::atoi(argv[++i]));
        }
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);

    // An installation root: param.ini beside the program points COM at mcsim's link and
    // FILE_PATH at the demo application (through a short link: values are cut at 47
    // characters).
    char rootTemplate[] = "/tmp/ombrix-bench-XXXXXX";
    if (::mkdtemp(rootTemplate) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string root = rootTemplate;
    const std::string linkPath = root + "/mc";
    fs::create_directories(root + "/bin");
    if (std::getenv("XDG_RUNTIME_DIR") == nullptr) {
        // Qt wants one, private to the user; without it, it complains on every run.
        ::mkdir((root + "/run").c_str(), 0700);
        ::setenv("XDG_RUNTIME_DIR", (root + "/run").c_str(), 1);
    }
    fs::create_directory_symlink(DEMO_DIR, root + "/demo");
    {
        std::ofstream param(root + "/bin/ombrix.ini");
        param << "[COM]\n" << linkPath << "\n[FILE_PATH]\n%ROOT%/demo\n";
    }

    Mcsim mcsim;
    mcsim.pid = ::fork();
    if (mcsim.pid == 0) {
        const int devNull = ::open("/dev/null", O_WRONLY);
        ::dup2(devNull, STDOUT_FILENO);
        ::execl(MCSIM_PATH, MCSIM_PATH, DEMO_DIR "/demo.scenario", linkPath.c_str(),
                static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    for (int i = 0; i < 100 && !fs::is_symlink(linkPath); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!fs::is_symlink(linkPath)) {
        std::fprintf(stderr, "scope_acquisition: mcsim did not publish %s\n", linkPath.c_str());
        return 1;
    }

    QApplication app(argc, argv);
    scope::InitScopeModules(root + "/bin/ombrix");
    int code = 0;
    {
        scope::TForm1 form;
        if (form.TerminationRequested()) {
            std::fprintf(stderr, "scope_acquisition: the MC application did not open\n");
            return 1;
        }
        form.show();
        for (auto [box, name] : {std::pair{form.VarName1, "SINE"}, std::pair{form.VarName2, "SAW"},
                                 std::pair{form.VarName3, "BLINK"}}) {
            box->SetText(name);
            form.OnChange(box);
        }
        form.SetRunFlag(true);

        // Settle, then measure.
        RunEventLoopFor(smoke ? 1200 : 2500);
        std::vector<int> shown;
        const double cpu0 = ProcessCpuSeconds();
        const double mcsimCpu0 = ChildCpuSeconds(mcsim.pid);
        const auto wall0 = std::chrono::steady_clock::now();
        for (int s = 0; s < seconds * 4; ++s) {
            RunEventLoopFor(250);
            const QString text = form.RateLabel->text();
            if (text.endsWith(" var/s")) {
                shown.push_back(text.split(' ')[0].toInt());
            }
        }
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
        const double cpu = ProcessCpuSeconds() - cpu0;
        const double mcsimCpu = ChildCpuSeconds(mcsim.pid) - mcsimCpu0;
        const long rss = ResidentKiB("VmRSS:");
        const long peak = ResidentKiB("VmHWM:");
        form.SetRunFlag(false);

        // One burst at the full rate holds about 26 ms of reads: 4 samples per channel. Drawn
        // into the bitmap and copied to the screen (the paint event that follows in the event
        // loop, and the flush of the window's backing store).
        const int bursts = smoke ? 200 : 3000;
        std::vector<double> us;
        us.reserve(static_cast<std::size_t>(bursts));
        std::uint32_t t = form.sweepOrigin + 5000;
        for (int b = 0; b < bursts; ++b) {
            const auto start = std::chrono::steady_clock::now();
            for (int ch = 1; ch <= 3; ++ch) {
                scope::TChannel& c = form.channels[static_cast<std::size_t>(ch)];
                for (int k = 1; k <= 4; ++k) {
                    c.values[static_cast<std::size_t>(k)] =
                        static_cast<std::uint8_t>(128 + 120 * std::sin((t + k * 6) / 300.0 + ch));
                    c.times[static_cast<std::size_t>(k)] = t + static_cast<std::uint32_t>(k * 6);
                }
                c.count = 4;
                form.DrawTimeSamples(ch);
            }
            QCoreApplication::processEvents();
            us.push_back(
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                    .count());
            t += 26;
        }
        std::sort(us.begin(), us.end());
        double sum = 0;
        for (double v : us) {
            sum += v;
        }

        double mean = 0;
        int low = 0;
        if (!shown.empty()) {
            low = *std::min_element(shown.begin(), shown.end());
            for (int v : shown) {
                mean += v;
            }
            mean /= static_cast<double>(shown.size());
        }
        const double cpuShare = cpu / wall;
        const double drawMean = sum / static_cast<double>(us.size());
        const double drawP99 = us[us.size() * 99 / 100];

        std::printf("scope acquisition, demo SINE + SAW + BLINK, mcsim at 9600 baud paced, "
                    "%.1f s\n",
                    wall);
        std::printf("%-34s %12s %12s %8s\n", "figure", "value", "goal", "");
        std::printf("%-34s %9.0f /s %9s /s\n", "rate shown in Label16 (mean)", mean, "");
        std::printf("%-34s %9d /s\n", "rate shown in Label16 (lowest)", low);
        std::printf("%-34s %12.3f %12s %8s\n", "  ratio to the wire limit 480/s", mean / kWireLimit,
                    ">= 0.93", mean / kWireLimit >= 0.93 ? "ok" : "MISSED");
        std::printf("%-34s %11.1f%% %11s%% %8s\n", "CPU of the scope process", cpuShare * 100,
                    "<= 10", cpuShare <= 0.10 ? "ok" : "MISSED");
        std::printf("%-34s %11.1f%%\n", "CPU of mcsim (for reference)", mcsimCpu / wall * 100);
        std::printf("%-34s %9.1f MB %9s MB %8s\n", "resident memory (peak)",
                    static_cast<double>(peak) / 1024.0, "< 100",
                    peak < 100 * 1024 ? "ok" : "MISSED");
        std::printf("%-34s %9.1f MB\n", "resident memory (now)", static_cast<double>(rss) / 1024.0);
        std::printf("%-34s %9.1f us %9s us %8s\n", "draw + copy one burst (mean)", drawMean,
                    "< 1000", drawMean < 1000 ? "ok" : "MISSED");
        std::printf("%-34s %9.1f us\n", "draw + copy one burst (p99)", drawP99);
        if (shown.empty()) {
            std::fprintf(stderr, "scope_acquisition: no rate was ever shown\n");
            code = 1;
        }
    }
    persistence::FreeGlobalSerializer();
    std::error_code error;
    fs::remove_all(root, error);
    return code;
}
