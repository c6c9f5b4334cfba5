// Recording against mcsim on a pseudo-terminal at 9600 baud, paced as a real line, with SINE,
// SAW and BLINK of the demo application. Prints:
//   - mcrec's successful reads per second (counted in the file it wrote: the filled fields over
//     the span of time_s) as a ratio to the wire limit (480 reads/s) and to a loop of
//     ReadVariable on the same mcsim in the same run (what mc_read measures; taken before and
//     after mcrec, so the machine's load counts on both sides), and mcrec's CPU;
//   - the window (Qt's offscreen platform, the engine on its thread as in the program): the CPU
//     of the process while acquiring without and with a recording, in alternating phases, and
//     the difference in percentage points of one core, and the CPU of the writer's thread
//     alone.
//
//   recording [--seconds N]   full run (N s per phase, default 10)
//   recording --smoke         short; fails only when nothing was recorded
#include "bench_support.h"
#include "foundation/clock.h"
#include "persistence/serializers.h"
#include "scope/dialogs.h"
#include "scope/scope_window.h"
#include "scope/startup.h"
#include "sim/mcsim_process.h"

#include <QAction>
#include <QApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace bench_support;

struct McrecRun {
    int exitCode = -1;
    double cpu = 0;
    double wall = 0;
    std::uint64_t rows = 0;
    std::uint64_t reads = 0;
    double span = 0; // last time_s - first time_s
};

// mcrec as a child process; its reads counted in its file.
McrecRun RunMcrec(const std::string& program, const std::vector<std::string>& args,
                  const std::string& file) {
    McrecRun run;
    const auto start = Clock::now();
    const pid_t pid = Spawn(program, args);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    run.wall = Seconds(Clock::now() - start);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.cpu = CpuSeconds(usage);
    std::ifstream in(file);
    std::string line;
    std::getline(in, line); // time_s,SINE,SINE [V],SAW,BLINK
    double first = -1;
    double last = 0;
    while (std::getline(in, line)) {
        std::vector<std::string> fields(1);
        for (char c : line) {
            if (c == ',') {
                fields.emplace_back();
            } else {
                fields.back() += c;
            }
        }
        if (fields.size() != 5) {
            continue;
        }
        ++run.rows;
        last = std::stod(fields[0]);
        first = first < 0 ? last : first;
        for (std::size_t i : {1u, 3u, 4u}) {
            run.reads += fields[i].empty() ? 0 : 1;
        }
    }
    run.span = first < 0 ? 0 : last - first;
    return run;
}

} // namespace

int main(int argc, char** argv) {
    bool smoke = false;
    int seconds = 10;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--smoke") == 0) {
            smoke = true;
            seconds = 1;
        } else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::max(1, std::atoi(argv[++i]));
        }
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);

    // An installation root: config/param.ini points COM at mcsim's link and FILE_PATH at the
    // demo application, for the window and for mcrec in bin/.
    const std::string root = MakeBenchRoot("ombrix-recbench", DEMO_DIR);
    if (root.empty()) {
        return 1;
    }
    const std::string linkPath = root + "/mc";
    const std::string mcrec = root + "/bin/mcrec";
    fs::copy_file(MCREC_PATH, mcrec);
    sim::McsimProcess mcsim;
    if (!mcsim.Start(MCSIM_PATH, {DEMO_DIR "/demo.scenario", linkPath})) {
        std::fprintf(stderr, "recording: %s\n", mcsim.Error().c_str());
        return 1;
    }

    QApplication app(argc, argv);
    scope::InitScopeModules(root + "/bin/ombrix");

    // mcrec between two read loops.
    const double before = smoke ? 0 : ReadLoopRate(seconds);
    const std::string file = root + "/mcrec.csv";
    const McrecRun rec = RunMcrec(
        mcrec, {"SINE", "SAW", "BLINK", "--duration", std::to_string(seconds), "-o", file}, file);
    const double after = smoke ? 0 : ReadLoopRate(seconds);
    const double mcRead = (before + after) / 2;
    const double recRate = rec.span > 0 ? static_cast<double>(rec.reads) / rec.span : 0;

    // The window: acquiring, then recording, in turns.
    auto form = std::make_unique<scope::ScopeWindow>();
    if (!ShowDemoChannels(*form, "recording")) {
        return 1;
    }
    RunEventLoopFor(1000);
    scope::FileDialogScript dialog;
    const int rounds = smoke ? 1 : 3;
    double plainCpu = 0;
    double plainWall = 0;
    double recCpu = 0;
    double recWall = 0;
    std::uint64_t windowRows = 0;
    double writerCpu = 0;
    for (int r = 0; r < rounds; ++r) {
        for (bool recording : {false, true}) {
            if (recording) {
                dialog.Answer(
                    QString::fromStdString(root + "/window" + std::to_string(r) + ".csv"));
                form->findChild<QAction*>("RecordToCsv")->trigger();
            }
            const double cpu0 = ProcessCpuSeconds();
            const auto wall0 = Clock::now();
            RunEventLoopFor(seconds * 1000);
            (recording ? recCpu : plainCpu) += ProcessCpuSeconds() - cpu0;
            (recording ? recWall : plainWall) += Seconds(Clock::now() - wall0);
            if (recording) {
                form->findChild<QAction*>("StopRecording")->trigger();
                windowRows += form->RecordedRows();
                writerCpu += form->Recorder().WriterCpuSeconds();
            }
        }
    }
    form.reset();
    const double plainPct = plainCpu / plainWall * 100;
    const double recPct = recCpu / recWall * 100;

    std::printf("recording, demo SINE + SAW + BLINK, mcsim at 9600 baud paced, %d s phases\n",
                seconds);
    std::printf("%-40s %20s %10s\n", "figure", "value", "goal");
    std::printf("%-40s %15llu rows\n", "mcrec: rows written",
                static_cast<unsigned long long>(rec.rows));
    std::printf("%-40s %17.0f /s\n", "mcrec: successful reads", recRate);
    std::printf("%-40s %20.3f %10s\n", "  ratio to the wire limit 480/s", recRate / kWireLimit,
                "(0.95 idle)");
    if (!smoke) {
        std::printf("%-40s %17.0f /s\n", "ReadVariable loop, same mcsim", mcRead);
        std::printf("%-40s %20.3f %10s %s\n", "  mcrec's ratio to it", recRate / mcRead, ">= 0.98",
                    recRate / mcRead >= 0.98 ? "ok" : "MISSED");
    }
    std::printf("%-40s %19.1f%%\n", "mcrec: CPU (of its whole run)", rec.cpu / rec.wall * 100);
    std::printf("%-40s %19.2f%%\n", "window acquiring: CPU of the process", plainPct);
    std::printf("%-40s %19.2f%%\n", "window acquiring and recording", recPct);
    std::printf("%-40s %17.2f pp %7s pp %s\n", "  extra CPU of recording", recPct - plainPct, "< 1",
                recPct - plainPct < 1 ? "ok" : "MISSED");
    std::printf("%-40s %19.2f%%\n", "  of it the writer thread", writerCpu / recWall * 100);
    std::printf("%-40s %15llu rows\n", "window: rows recorded",
                static_cast<unsigned long long>(windowRows));
    int code = 0;
    if (rec.exitCode != 0 || rec.rows == 0 || windowRows == 0) {
        std::fprintf(stderr, "recording: nothing was recorded (mcrec exit code %d)\n",
                     rec.exitCode);
        code = 1;
    }
    persistence::FreeGlobalSerializer();
    mcsim.Stop();
    std::error_code error;
    fs::remove_all(root, error);
    return code;
}
