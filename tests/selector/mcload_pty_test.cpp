// The mcload program end to end: installed beside its parameter file, talking to the mcsim
// program over a pseudo-terminal in real time.
#include "child_process.h"
#include "selector/eepmem.h"
#include "temp_dir.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using testing_support::ChildProcess;
using testing_support::Outcome;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// mcload installed in an installation tree of its own (bin/ and config/param.ini), so that
// it finds its parameter file as it would on a bench; mcsim publishes its terminal there.
class McloadProgram : public ::testing::Test {
protected:
    McloadProgram() {
        fs::create_directories(tree.path() + "/bin");
        fs::copy_file(MCLOAD_PATH, Mcload());
        tree.Write("config/param.ini", "[COM] the link\n" + Link() + "\n");
        dumps = tree.MakeDir("dumps");
    }
    std::string Mcload() const { return tree.path() + "/bin/mcload"; }
    std::string Link() const { return tree.path() + "/link"; }
    Outcome Run(const std::vector<std::string>& args) {
        return ChildProcess(Mcload(), args).Wait();
    }
    std::unique_ptr<ChildProcess> StartMcsim(const std::string& scenario) {
        auto mcsim = std::make_unique<ChildProcess>(
            MCSIM_PATH, std::vector<std::string>{"--dump-dir", dumps,
                                                 tree.Write("s.scenario", scenario), Link()});
        EXPECT_NE(mcsim->FirstLine(), "");
        return mcsim;
    }
    // An image of a hex file, as the loader itself reads it.
    selector::oEEPMem Hex(const std::string& path, std::uint32_t size) {
        selector::oEEPMem image;
        selector::InitImage(image, size);
        EXPECT_TRUE(selector::ReadImageFromFile(image, path, 0, size)) << image.ErrorText;
        EXPECT_EQ(image.ErrorText, "") << path;
        return image;
    }

    testing_support::TempDir tree;
    std::string dumps;
};

TEST_F(McloadProgram, HelpVersionAndWrongArguments) {
    Outcome help = Run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind("Usage: mcload identify", 0), 0u) << help.out;
    EXPECT_NE(help.out.find("Exit codes:"), std::string::npos);

    Outcome version = Run({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "mcload 1.0\n");

    Outcome wrong = Run({"read"});
    EXPECT_EQ(wrong.exitCode, 2);
    EXPECT_EQ(wrong.err.rfind("mcload: read needs one FILE.hex\nUsage: mcload", 0), 0u)
        << wrong.err;
    EXPECT_EQ(wrong.out, "");

    // An empty name is no name: nothing is read, let alone written back to the MC.
    Outcome empty = Run({"read", ""});
    EXPECT_EQ(empty.exitCode, 2);
    EXPECT_EQ(empty.err.rfind("mcload: read: the file name is empty\n", 0), 0u) << empty.err;
}

TEST_F(McloadProgram, ALinkThatCannotBeOpenedEndsWithCodeOne) {
    // No mcsim: the link path leads nowhere.
    Outcome o = Run({"read", tree.path() + "/x.hex"});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.err.rfind("COM could not be opened (" + Link(), 0), 0u) << o.err;
}

const char* kEeprom = R"(
device MC
  appl_id 0x12
  eeprom 0 0x10 0x11 0x12 0x13 0x14 0x15 0x16 0x17 0x18 0x19 0x1A 0x1B 0x1C 0x1D 0x1E 0x1F
  eeprom 0x80 0xC0 0xFF 0xEE
end
channel 1 MC
)";

TEST_F(McloadProgram, SavesChangesAndReloadsTheEeprom) {
    auto mcsim = StartMcsim(kEeprom);
    const std::string saved = tree.path() + "/saved.hex";
    Outcome read = Run({"read", saved});
    ASSERT_EQ(read.exitCode, 0) << read.err;
    EXPECT_NE(read.out.find("Read data via COM from MC.EEP"), std::string::npos) << read.out;
    selector::oEEPMem image = Hex(saved, 256);
    EXPECT_EQ(image.Used, 256);
    EXPECT_EQ(std::count(image.Marks.begin(), image.Marks.end(), 1), 256);
    EXPECT_EQ(image.Data[0x0F], 0x1F);
    EXPECT_EQ(image.Data[0x81], 0xFF);
    EXPECT_EQ(image.Data[0x82], 0xEE);
    EXPECT_EQ(image.Data[0xFF], 0xFF);

    // Change two bytes and write the file back.
    const std::string changed = tree.path() + "/changed.hex";
    image.Data[0x05] = 0x55;
    image.Data[0xFF] = 0x66;
    ASSERT_TRUE(selector::WriteImageToFile(image, changed)) << image.ErrorText;
    Outcome write = Run({"write", changed});
    ASSERT_EQ(write.exitCode, 0) << write.err;
    EXPECT_NE(write.out.find("16 records processed"), std::string::npos) << write.out;

    const std::string again = tree.path() + "/again.hex";
    Outcome reread = Run({"read", again, "--quiet"});
    ASSERT_EQ(reread.exitCode, 0) << reread.err;
    EXPECT_EQ(reread.out, "");
    EXPECT_EQ(ReadText(again), ReadText(changed));

    Outcome end = mcsim->Stop(SIGTERM);
    EXPECT_EQ(end.exitCode, 0) << end.err;
    EXPECT_EQ(ReadText(dumps + "/ch1-MC.eeprom.hex"), ReadText(changed));
}

TEST_F(McloadProgram, PortOverridesTheComParameterForOneRun) {
    auto mcsim = StartMcsim(kEeprom);
    tree.Write("config/param.ini", "[COM] the link\n" + tree.path() + "/nobody\n");
    const std::string saved = tree.path() + "/saved.hex";
    Outcome wrong = Run({"read", saved, "--quiet"});
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_EQ(wrong.err.rfind("COM could not be opened (" + tree.path() + "/nobody", 0), 0u)
        << wrong.err;
    Outcome read = Run({"read", saved, "--quiet", "--port", Link()});
    ASSERT_EQ(read.exitCode, 0) << read.err;
    EXPECT_EQ(Hex(saved, 256).Data[0x0F], 0x1F);
    Outcome empty = Run({"read", saved, "--port", ""});
    EXPECT_EQ(empty.exitCode, 2);
    EXPECT_EQ(empty.err.rfind("mcload: --port needs a device path or a port number\n", 0), 0u);
}

TEST_F(McloadProgram, ProgramsAPic18ThroughItsLoader) {
    // A pseudo-terminal carries no reset: the board sits in its loader from the start.
    auto mcsim = StartMcsim("device PIC\n  appl_id 0x12\n  loader 0x50\n  start_in_loader\n"
                            "end\nchannel 1 PIC\n");
    std::string hex = ":020000040000FA\n";
    for (int a = 0; a < 0x48; a += 8) {
        std::string line;
        std::uint8_t sum = static_cast<std::uint8_t>(8 + a);
        char head[16];
        std::snprintf(head, sizeof head, ":0800%02X00", a);
        line = head;
        for (int i = 0; i < 8; ++i) {
            const auto b = static_cast<std::uint8_t>(a * 3 + i);
            char digits[3];
            std::snprintf(digits, sizeof digits, "%02X", b);
            line += digits;
            sum = static_cast<std::uint8_t>(sum + b);
        }
        char check[3];
        std::snprintf(check, sizeof check, "%02X", static_cast<std::uint8_t>(0 - sum));
        hex += line + check + "\n";
    }
    hex += ":020000040030CA\n:0100000011EE\n:00000001FF\n";
    const std::string program = tree.Write("program.hex", hex);

    Outcome flash = Run({"flash", program});
    ASSERT_EQ(flash.exitCode, 0) << flash.err << flash.out;
    EXPECT_EQ(flash.out.rfind("connected to device : Lorpeth 19200 Baud (PIC 18Fxx2 loading)\n", 0),
              0u)
        << flash.out;
    EXPECT_NE(flash.out.find("5 records processed\n72 bytes transfered ("), std::string::npos)
        << flash.out;

    Outcome end = mcsim->Stop(SIGTERM);
    EXPECT_EQ(end.exitCode, 0) << end.err;
    selector::oEEPMem expected = Hex(program, 0xFFFF);
    selector::oEEPMem flashed = Hex(dumps + "/ch1-PIC.flash.hex", 0xFFFF);
    EXPECT_EQ(flashed.Used, 0x48);
    EXPECT_EQ(flashed.Marks, expected.Marks);
    EXPECT_EQ(flashed.Data, expected.Data);
}

TEST_F(McloadProgram, ASilentBoardIsAFatalStopOnStandardError) {
    auto mcsim = StartMcsim("device MC\n  appl_id 0x12\n  eeprom_mode none\nend\nchannel 1 MC\n");
    Outcome o = Run({"read", tree.path() + "/x.hex", "--quiet"});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.err, "no answer from MCU, can not access EEProm\n");
    EXPECT_FALSE(fs::exists(tree.path() + "/x.hex"));
}

} // namespace
