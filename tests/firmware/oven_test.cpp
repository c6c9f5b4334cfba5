// The OVEN demo's C program, built with the debug-link driver and run in the 8051 simulator s51
// on a pseudo-terminal, recorded by mcrec and set through the PC's protocol code: what comes
// back is what the compiled C computes. Skipped without sdcc, s51 or socat.
#include "child_process.h"
#include "foundation/params.h"
#include "link/link_port.h"
#include "mcu/access.h"
#include "mcu/appl.h"
#include "mcu/ident.h"
#include "mcu/vartable.h"
#include "temp_dir.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using testing_support::ChildProcess;

namespace {

bool Installed(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// The rows of a CSV recording as fields; an empty field stays empty.
std::vector<std::vector<std::string>> Rows(const std::string& csv) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(csv);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::string field;
        std::istringstream in(line);
        while (std::getline(in, field, ',')) {
            fields.push_back(field);
        }
        if (!line.empty() && line.back() == ',') {
            fields.emplace_back();
        }
        rows.push_back(fields);
    }
    return rows;
}

class OvenInS51 : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!Installed("sdcc") || !Installed("s51") || !Installed("socat")) {
            return;
        }
        tree = new testing_support::TempDir;
        // Built here, so the object file the PC reads is the one of the program that runs.
        Outcome built = ChildProcess(REPO_DIR "/firmware/build.sh",
                                     {tree->path() + "/build", REPO_DIR "/demo/sdcc/oven.c"})
                            .Wait(120);
        ASSERT_EQ(built.exitCode, 0) << built.err;
        fs::create_directories(tree->path() + "/files");
        fs::create_directories(tree->path() + "/bin");
        fs::copy_file(REPO_DIR "/demo/sdcc/applid.inc", tree->path() + "/files/applid.inc");
        fs::copy_file(tree->path() + "/build/oven.omf", tree->path() + "/files/oven.omf");
        fs::copy_file(MCREC_PATH, tree->path() + "/bin/mcrec");
        tree->Write("config/param.ini", "[COM] the link\n" + Link() + "\n[FILE_PATH] files\n" +
                                            tree->path() + "/files\n");
        s51 = new ChildProcess(REPO_DIR "/firmware/s51-link.sh",
                               {tree->path() + "/build/oven.ihx", Link(), "120"});
        for (int i = 0; i < 100 && !fs::exists(Link()); ++i) {
            usleep(100000);
        }
        ASSERT_TRUE(fs::exists(Link())) << "s51 did not come up";
    }
    static void TearDownTestSuite() {
        if (s51 != nullptr) {
            s51->Stop(SIGTERM); // the script stops s51 and socat itself
            delete s51;
            s51 = nullptr;
        }
        delete tree;
        tree = nullptr;
    }
    void SetUp() override {
        if (s51 == nullptr) {
            GTEST_SKIP() << "sdcc, s51 or socat is not installed";
        }
    }
    static std::string Link() { return tree->path() + "/link"; }
    static testing_support::Outcome Record(std::vector<std::string> args) {
        args.insert(args.end(), {"--port", Link()});
        return ChildProcess(tree->path() + "/bin/mcrec", args).Wait(120);
    }
    using Outcome = testing_support::Outcome;

    static testing_support::TempDir* tree;
    static ChildProcess* s51;
};

testing_support::TempDir* OvenInS51::tree = nullptr;
ChildProcess* OvenInS51::s51 = nullptr;

// Constants set by main(), the beat (+4 per 10 ms tick) and a value derived from a settable
// byte (fan_speed = fan_level * 80), read one by one and streamed with the beat as x.
TEST_F(OvenInS51, RecordedVariablesAreWhatTheProgramComputes) {
    Outcome plain = Record({"SETPOINT", "BEAT", "FAN_SPEED", "--samples", "40"});
    ASSERT_EQ(plain.exitCode, 0) << plain.err;
    auto rows = Rows(plain.out);
    ASSERT_EQ(rows.size(), 41u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"time_s", "SETPOINT", "BEAT", "FAN_SPEED"}));
    std::vector<int> beats;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].size(), 4u) << plain.out;
        EXPECT_EQ(rows[i][1], "180");
        EXPECT_EQ(std::stoi(rows[i][2]) % 4, 0) << rows[i][2];
        EXPECT_EQ(rows[i][3], "160");
        beats.push_back(std::stoi(rows[i][2]));
    }
    EXPECT_NE(beats.front(), beats.back()) << "the beat never moved";

    // Streaming: each row's x is the beat the MC sampled together with the channel's byte.
    Outcome xy = Record({"TIMER", "FAN_LEVEL", "--x", "BEAT", "--samples", "40"});
    ASSERT_EQ(xy.exitCode, 0) << xy.err;
    rows = Rows(xy.out);
    ASSERT_EQ(rows.size(), 41u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"time_s", "x", "TIMER", "FAN_LEVEL"}));
    int values = 0;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].size(), 4u) << xy.out;
        EXPECT_EQ(std::stoi(rows[i][1]) % 4, 0) << rows[i][1];
        for (std::size_t c : {2u, 3u}) {
            if (!rows[i][c].empty()) {
                EXPECT_EQ(rows[i][c], c == 2 ? "30" : "2");
                ++values;
            }
        }
    }
    EXPECT_GT(values, 0);
}

// A setter's write lands inside the window and the program acts on it; outside the window the
// MC changes nothing and the PC's echo check reports it.
TEST_F(OvenInS51, SettersLandInsideTheWindowOnly) {
    testing_support::ParamGuard guard;
    ASSERT_TRUE(foundation::ReadParamFile(tree->path() + "/config/param.ini"));
    mcu::ResetMcuModule();
    mcu::LoadApplIdTable();
    comlink::InitLink();
    ASSERT_TRUE(comlink::StartLink()) << comlink::LinkError();
    mcu::MCAppl appl;
    ASSERT_TRUE(mcu::OpenMCAppl(appl)) << appl.errorText;
    EXPECT_EQ(appl.applName, "OVEN");

    auto read = [&appl](const char* name) {
        std::uint16_t address = 0;
        std::uint8_t mask = 0;
        EXPECT_TRUE(mcu::FindVariable(appl, name, address, mask)) << name;
        std::uint8_t value = 0;
        EXPECT_TRUE(mcu::ReadVariable(appl, address, 0, value)) << appl.errorText;
        return value;
    };
    ASSERT_TRUE(mcu::SetVariable(appl, "FAN_LEVEL", 0, 3)) << appl.errorText;
    EXPECT_EQ(read("FAN_LEVEL"), 3);
    // fan_speed follows on the program's next 10 ms tick; reads take longer than that.
    std::uint8_t speed = 0;
    for (int i = 0; i < 50 && speed != 240; ++i) {
        speed = read("FAN_SPEED");
    }
    EXPECT_EQ(speed, 240);

    // ERRORS (0x0F) lies outside the window; it stays 0 while the oven is not overheated.
    EXPECT_FALSE(mcu::SetVariable(appl, "ERRORS", 0, 9));
    EXPECT_EQ(appl.errorText, " Error during set of MC variable ERRORS");
    EXPECT_EQ(read("ERRORS"), 0);
    EXPECT_EQ(read("FAN_LEVEL"), 3);

    mcu::CloseMCAppl(appl);
    comlink::CloseLink();
    comlink::ResetLink();
    mcu::ResetMcuModule();
}

} // namespace
