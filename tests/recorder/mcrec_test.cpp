// mcrec: its arguments and the close matches of an unknown name in memory, then the program
// installed beside its parameter file, recording the mcsim program's demo MC over a
// pseudo-terminal in real time (bounds wide enough for any machine's speed).
#include "child_process.h"
#include "recorder/mcrec.h"
#include "recording_files.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using recorder::McrecOptions;
using testing_support::ChildProcess;
using testing_support::Outcome;
using testing_support::ReadCsvFile;
using testing_support::WaitForCsvRows;
namespace fs = std::filesystem;

TEST(McrecArguments, WhatIsTakenAndWhatIsRefused) {
    McrecOptions o;
    std::string error;
    ASSERT_TRUE(recorder::ParseMcrecArguments({"SINE", "saw", "BLINK", "--x", "ANGLE", "--duration",
                                               "2.5", "-o", "a.csv", "--port", "/dev/ttyUSB1"},
                                              o, error))
        << error;
    EXPECT_EQ(o.names, (std::vector<std::string>{"SINE", "saw", "BLINK"}));
    EXPECT_EQ(o.x, "ANGLE");
    EXPECT_EQ(o.durationS, 2.5);
    EXPECT_EQ(o.output, "a.csv");
    EXPECT_EQ(o.port, "/dev/ttyUSB1");
    ASSERT_TRUE(recorder::ParseMcrecArguments({"SINE", "--samples", "5000"}, o, error));
    EXPECT_EQ(o.samples, 5000u);
    EXPECT_EQ(o.output, "-");

    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{}, "no variable to record"},
        {{"A", "B", "C", "D", "--x", "E"}, "at most 3 variables with --x"},
        {std::vector<std::string>(256, "A"), "at most 255 variables"},
        {{"A", "--duration", "abc"}, "invalid --duration abc (seconds above 0)"},
        {{"A", "--duration", "0"}, "invalid --duration 0 (seconds above 0)"},
        {{"A", "--samples", "-3"}, "invalid --samples -3 (a count above 0)"},
        {{"A", "-o"}, "-o needs a value"},
        {{"A", "--port", ""}, "--port needs a device path or a port number"},
        {{"A", "--fast"}, "unknown option --fast"},
        {{"--list", "A"}, "--list takes no names"},
    };
    for (const auto& [args, message] : refused) {
        EXPECT_FALSE(recorder::ParseMcrecArguments(args, o, error)) << message;
        EXPECT_EQ(error, message);
    }
}

TEST(McrecArguments, CloseMatchesOfAnUnknownName) {
    const std::vector<std::string> table = {"SINE", "SAW", "COUNTER", "CYCLES", "SPEED", "SPARE"};
    EXPECT_EQ(recorder::CloseMatches("SINUS", table), (std::vector<std::string>{"SINE"}));
    EXPECT_EQ(recorder::CloseMatches("countr", table), (std::vector<std::string>{"COUNTER"}));
    EXPECT_EQ(recorder::CloseMatches("SP", table),
              (std::vector<std::string>{"SAW", "SPEED", "SPARE"}));
    EXPECT_TRUE(recorder::CloseMatches("TEMPERATURE", table).empty());
}

// mcrec in an installation tree of its own (bin/ and config/param.ini naming the demo's files
// and a link nobody serves, so that every run names its link with --port).
class McrecProgram : public ::testing::Test {
protected:
    McrecProgram() {
        fs::create_directories(tree.path() + "/bin");
        fs::copy_file(MCREC_PATH, tree.path() + "/bin/mcrec");
        tree.Write("config/param.ini",
                   "[COM] the link\n" + tree.path() + "/nobody\n[FILE_PATH] files\n" DEMO_DIR "\n");
    }
    std::string Link() const { return tree.path() + "/link"; }
    std::vector<std::string> With(std::vector<std::string> args) {
        args.push_back("--port");
        args.push_back(Link());
        return args;
    }
    Outcome Run(const std::vector<std::string>& args) {
        return ChildProcess(tree.path() + "/bin/mcrec", args).Wait();
    }
    void StartMcsim() {
        mcsim = std::make_unique<ChildProcess>(
            MCSIM_PATH, std::vector<std::string>{DEMO_DIR "/demo.scenario", Link()});
        ASSERT_NE(mcsim->FirstLine(), "");
    }

    testing_support::TempDir tree;
    std::unique_ptr<ChildProcess> mcsim;
};

TEST_F(McrecProgram, ACounterRecordsWithRisingTimesAndTheCountersOwnSteps) {
    StartMcsim();
    const std::string file = tree.path() + "/counter.csv";
    const Outcome o = Run(With({"COUNTER", "PORT2", "--samples", "300", "-o", file}));
    ASSERT_EQ(o.exitCode, 0) << o.err;
    // Not a terminal: no progress.
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.out, "");
    std::string text;
    const auto rows = ReadCsvFile(file, &text);
    ASSERT_EQ(rows.size(), 301u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"time_s", "COUNTER", "PORT2"}));
    // COUNTER moves on by one every 10 ms of the MC's time: between two rows by as many steps
    // as their times are apart, give or take the replies' own jitter.
    int moved = 0;
    for (std::size_t i = 2; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].size(), 3u) << i;
        EXPECT_EQ(rows[i][2], "165") << i;
        const double dt = std::stod(rows[i][0]) - std::stod(rows[i - 1][0]);
        EXPECT_GT(dt, 0) << i;
        const int step = (std::stoi(rows[i][1]) - std::stoi(rows[i - 1][1]) + 256) % 256;
        EXPECT_NEAR(step, dt / 0.010, 2.0) << i << ": " << rows[i][0] << " " << rows[i][1];
        moved += step;
    }
    EXPECT_GT(moved, 0);
    EXPECT_EQ(text.back(), '\n');
}

TEST_F(McrecProgram, CtrlCAndSigtermEndWithACompleteFile) {
    StartMcsim();
    for (int signal : {SIGINT, SIGTERM}) {
        const std::string file = tree.path() + "/stopped" + std::to_string(signal) + ".csv";
        ChildProcess rec(tree.path() + "/bin/mcrec", With({"SINE", "SAW", "BLINK", "-o", file}));
        // Until a few rows are in; then the signal.
        WaitForCsvRows(file, 20, 20);
        std::string text;
        const Outcome o = rec.Stop(signal);
        EXPECT_EQ(o.exitCode, 0) << o.err;
        const auto rows = ReadCsvFile(file, &text);
        ASSERT_GE(rows.size(), 20u);
        EXPECT_EQ(rows[0],
                  (std::vector<std::string>{"time_s", "SINE", "SINE [V]", "SAW", "BLINK"}));
        for (std::size_t i = 1; i < rows.size(); ++i) {
            ASSERT_EQ(rows[i].size(), 5u) << i;
            // The stop may cut the last scan short: its reads that did not happen are empty.
            const bool last = i + 1 == rows.size();
            EXPECT_TRUE(rows[i][4] == "0" || rows[i][4] == "1" || (last && rows[i][4].empty()))
                << i;
        }
        EXPECT_EQ(text.back(), '\n');
    }
}

TEST_F(McrecProgram, ProgressOnATerminalAndALinkLostForGoodEndsWithCodeOne) {
    StartMcsim();
    const std::string file = tree.path() + "/lost.csv";
    const std::string program = tree.path() + "/bin/mcrec";
    const std::string link = Link();
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::execl(program.c_str(), "mcrec", "SINE", "-o", file.c_str(), "--port", link.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // What the terminal shows, until it closes or stop holds.
    std::string shown;
    auto readUntil = [&](const std::function<bool()>& stop) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!stop() && std::chrono::steady_clock::now() < deadline) {
            pollfd fd{terminal, POLLIN, 0};
            if (::poll(&fd, 1, 100) > 0) {
                char buffer[256];
                const ssize_t n = ::read(terminal, buffer, sizeof buffer);
                if (n <= 0) {
                    return;
                }
                shown.append(buffer, static_cast<std::size_t>(n));
            }
        }
    };
    readUntil([&] { return shown.find(" var/s, ") != std::string::npos; });
    EXPECT_NE(shown.find(" rows, "), std::string::npos) << shown;
    // The device goes away and does not come back.
    mcsim->Stop(SIGTERM);
    readUntil([] { return false; });
    ::close(terminal);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1) << shown;
    EXPECT_NE(shown.find("mcrec: link lost ("), std::string::npos) << shown;
    std::string text;
    const auto rows = ReadCsvFile(file, &text);
    ASSERT_GT(rows.size(), 1u);
    EXPECT_EQ(text.back(), '\n');
    EXPECT_NE(shown.find("recording ended after " + std::to_string(rows.size() - 1) + " rows"),
              std::string::npos)
        << shown;
}

// The listing of a debug file's table: types, and the variables the link cannot reach with the
// reason.
TEST(McrecList, TypesAndUnreachableVariables) {
    mcu::MCAppl appl;
    appl.vars.resize(4);
    appl.vars[0] = {"TICKS", 0x23, 0, 1.0, 0.0, "1", false, mcu::VarType::U16};
    appl.vars[1] = {"GAIN", 0x2F, 0, 2.0, 0.0, "V", false, mcu::VarType::F32};
    appl.vars[2] = {"CURVE", 0x36F, 0, 1.0, 0.0, "1", false, mcu::VarType::U8};
    appl.vars[2].space = mcu::MemSpace::Code;
    appl.vars[2].reachable = false;
    appl.vars[2].reason = "code memory";
    appl.vars[3] = {"COM_VARX", 0x47, 0, 1.0, 0.0, "1", true, mcu::VarType::U8};
    std::ostringstream out;
    recorder::ListVariables(acq::VariableTable(appl), out);
    EXPECT_EQ(out.str(), "name                 address bit unit  type\n"
                         "TICKS                $23     -   -     u16\n"
                         "GAIN                 $2F     -   V     f32\n"
                         "CURVE                $036F   -   -     u8  not readable: code memory\n");
}

TEST_F(McrecProgram, ExitCodesListAndXy) {
    // Nobody serves the link.
    Outcome o = Run(With({"SINE", "--samples", "3"}));
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.err.rfind("mcrec: MC application could not be opened on " + Link(), 0), 0u)
        << o.err;
    o = Run({"SINE", "--samples", "3", "--duration"});
    EXPECT_EQ(o.exitCode, 2);
    EXPECT_EQ(o.err.rfind("mcrec: --duration needs a value\nUsage: mcrec", 0), 0u) << o.err;
    o = Run({"--help"});
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_NE(o.out.find("Exit codes:"), std::string::npos);

    StartMcsim();
    o = Run(With({"SINUS", "COUNTR", "SAW"}));
    EXPECT_EQ(o.exitCode, 2);
    EXPECT_EQ(o.err, "mcrec: unknown variable SINUS (close: SINE)\n"
                     "mcrec: unknown variable COUNTR (close: COUNTER)\n"
                     "mcrec: --list shows the variables of DEMO\n");
    o = Run(With({"SINE", "-o", "/dev/full"}));
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.err, "mcrec: /dev/full: No space left on device\n");
    o = Run(With({"--list"}));
    EXPECT_EQ(o.exitCode, 0) << o.err;
    EXPECT_NE(o.out.find("\nSINE                 $30     -   V     u8\n"), std::string::npos)
        << o.out;
    EXPECT_NE(o.out.find("\nBLINK                $20     1   -     bit\n"), std::string::npos);
    EXPECT_NE(o.out.find("\nTABLE                $0100   -   -     u8\n"), std::string::npos);
    EXPECT_EQ(o.out.find("COM_VARX"), std::string::npos);

    // More names than the scope has channels: all of them in every row, read in one scan.
    o = Run(With({"SINE", "SAW", "COUNTER", "WALK", "SETPOINT", "BLINK", "--samples", "100"}));
    EXPECT_EQ(o.exitCode, 0) << o.err;
    EXPECT_EQ(
        o.out.rfind("time_s,SINE,SINE [V],SAW,COUNTER,WALK,SETPOINT,SETPOINT [bar],BLINK\n", 0), 0u)
        << o.out.substr(0, 200);
    EXPECT_EQ(std::count(o.out.begin(), o.out.end(), '\n'), 101);
    std::size_t full = 0;
    for (std::size_t at = o.out.find('\n') + 1; at < o.out.size(); at = o.out.find('\n', at) + 1) {
        const std::string row = o.out.substr(at, o.out.find('\n', at) - at);
        full += std::count(row.begin(), row.end(), ',') == 8 &&
                row.find(",,") == std::string::npos && row.find(",100,50,") != std::string::npos;
    }
    EXPECT_EQ(full, 100u);

    // x-y to standard output: the x value the MC streams with each sample.
    o = Run(With({"speed", "--x", "ANGLE", "--samples", "50", "-o", "-"}));
    EXPECT_EQ(o.exitCode, 0) << o.err;
    EXPECT_EQ(o.out.rfind("time_s,x,SPEED,SPEED [rpm]\n", 0), 0u) << o.out;
    EXPECT_EQ(std::count(o.out.begin(), o.out.end(), '\n'), 51);
}

} // namespace
