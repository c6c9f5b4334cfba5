// The commands of mcload run in memory against the simulated MC, and its arguments.
#include "selector/mcload.h"
#include "selector_fixture.h"
#include "sim/dump.h"

#include <fstream>

using namespace selector;
using namespace selector_test;

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Parse(std::vector<std::string> args, McloadOptions& options, std::string& error) {
    return ParseMcloadArguments(args, options, error);
}

TEST(McloadArguments, CommandsAndTheirOptions) {
    McloadOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"read", "a.hex"}, o, error)) << error;
    EXPECT_EQ(o.command, McloadCommand::Read);
    EXPECT_EQ(o.file, "a.hex");
    EXPECT_EQ(o.start, 0);
    EXPECT_EQ(o.length, 256);
    EXPECT_FALSE(o.quiet);

    ASSERT_TRUE(Parse({"read", "--start", "0x10", "a.hex", "--length", "8", "-q"}, o, error));
    EXPECT_EQ(o.start, 16);
    EXPECT_EQ(o.length, 8);
    EXPECT_TRUE(o.quiet);
    // Without a length the read runs to the end of the EEPROM.
    ASSERT_TRUE(Parse({"read", "a.hex", "--start", "$F0"}, o, error));
    EXPECT_EQ(o.start, 0xF0);
    EXPECT_EQ(o.length, 16);
    ASSERT_TRUE(Parse({"read", "a.hex", "--start", "255", "--length", "1"}, o, error));

    ASSERT_TRUE(Parse({"write", "b.hex"}, o, error));
    EXPECT_EQ(o.command, McloadCommand::Write);
    ASSERT_TRUE(Parse({"flash", "c.hex", "--processor", "main.asm"}, o, error));
    EXPECT_EQ(o.command, McloadCommand::Flash);
    EXPECT_EQ(o.processorFile, "main.asm");
    ASSERT_TRUE(Parse({"identify"}, o, error));
    EXPECT_EQ(o.command, McloadCommand::Identify);
    ASSERT_TRUE(Parse({"write", "--help"}, o, error));
    EXPECT_EQ(o.command, McloadCommand::Help);
    ASSERT_TRUE(Parse({"--version"}, o, error));
    EXPECT_EQ(o.command, McloadCommand::Version);
}

TEST(McloadArguments, WrongArgumentsAreRefusedWithAReason) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "a command is needed"},
        {{"erase"}, "unknown command erase"},
        {{"read"}, "read needs one FILE.hex"},
        {{"read", "a.hex", "b.hex"}, "read needs one FILE.hex"},
        {{"identify", "a.hex"}, "identify takes no file"},
        {{"read", "a.hex", "--start"}, "--start needs a value"},
        {{"read", "a.hex", "--start", "256"}, "invalid --start 256 (0..255)"},
        {{"read", "a.hex", "--start", "-1"}, "invalid --start -1 (0..255)"},
        {{"read", "a.hex", "--start", "1x"}, "invalid --start 1x (0..255)"},
        {{"read", "a.hex", "--start", "0x"}, "invalid --start 0x (0..255)"},
        {{"read", "a.hex", "--length", "0"}, "invalid --length 0 (1..256)"},
        {{"read", "a.hex", "--length", "257"}, "invalid --length 257 (1..256)"},
        {{"read", "a.hex", "--start", "200", "--length", "100"},
         "--start 200 and --length 100 reach beyond address 255"},
        {{"write", "a.hex", "--start", "1"}, "--start and --length go with read"},
        {{"read", "a.hex", "--processor", "x"}, "--processor goes with identify and flash"},
        {{"flash", "a.hex", "--force"}, "unknown option --force"},
        {{"read", ""}, "read: the file name is empty"},
        {{"write", ""}, "write: the file name is empty"},
        {{"flash", ""}, "flash: the file name is empty"},
    };
    for (const auto& [args, reason] : cases) {
        McloadOptions o;
        std::string error;
        EXPECT_FALSE(Parse(args, o, error)) << reason;
        EXPECT_EQ(error, reason);
    }
}

const char* kEeprom = R"(
device MC
  appl_id 0x12
  eeprom 0 0x10 0x11 0x12 0x13 0x14 0x15 0x16 0x17 0x18 0x19 0x1A 0x1B 0x1C 0x1D 0x1E 0x1F
  eeprom 250 1 2 3 4 5 6
end
channel 1 MC
)";

class McloadCommands : public SelectorTest {
protected:
    int Run(std::vector<std::string> args) {
        McloadOptions options;
        std::string error;
        EXPECT_TRUE(ParseMcloadArguments(args, options, error)) << error;
        err.str("");
        return RunMcloadCommand(options, err);
    }
    std::vector<std::uint8_t> Eeprom() const {
        const auto& e = bench->Sim().DeviceAt(1)->Eeprom();
        return {e.begin(), e.end()};
    }
    std::stringstream err;
};

TEST_F(McloadCommands, ReadSavesTheEepromAsTheSimulatorWouldDumpIt) {
    Bench(kEeprom);
    const std::string file = dir.path() + "/eeprom.hex";
    ASSERT_EQ(Run({"read", file}), kExitOk) << err.str();
    EXPECT_EQ(ReadText(file), sim::IntelHex(Eeprom()));
    EXPECT_NE(Out().find("Read data via COM from MC.EEP"), std::string::npos);
    EXPECT_NE(Out().find("256 bytes saved to " + file), std::string::npos);

    // A part of it, quietly.
    console.str("");
    ASSERT_EQ(Run({"read", file, "--start", "250", "--length", "3", "--quiet"}), kExitOk);
    EXPECT_EQ(ReadText(file), ":0300FA00010203FD\n:00000001FF\n");
    EXPECT_EQ(Out(), "");
}

TEST_F(McloadCommands, WriteLoadsOnlyTheBytesOfTheFile) {
    Bench(kEeprom);
    const std::string file = dir.Write("new.hex", ":02000100AABB98\n:0100FF0077"
                                                  "89\n:00000001FF\n");
    ASSERT_EQ(Run({"write", file}), kExitOk) << err.str();
    std::vector<std::uint8_t> expected = Eeprom();
    EXPECT_EQ(expected[0], 0x10);
    EXPECT_EQ(expected[1], 0xAA);
    EXPECT_EQ(expected[2], 0xBB);
    EXPECT_EQ(expected[3], 0x13);
    EXPECT_EQ(expected[255], 0x77);
    EXPECT_NE(Out().find("2 records processed"), std::string::npos) << Out();
}

TEST_F(McloadCommands, WriteRefusesFilesThatDoNotFitOrAreDamaged) {
    Bench(kEeprom);
    const std::vector<std::uint8_t> before = Eeprom();

    std::string file = dir.Write("big.hex", ":0100FF0077"
                                            "89\n:01010000AA54\n");
    EXPECT_EQ(Run({"write", file}), kExitFailed);
    EXPECT_EQ(err.str(), file + ": data at address $0100 lies beyond the EEPROM (256 bytes)\n");

    file = dir.Write("bad.hex", ":0100FF0077"
                                "80\n");
    EXPECT_EQ(Run({"write", file}), kExitFailed);
    EXPECT_EQ(err.str(), file + ": wrong checksum in hexfile, 89 expected\n");

    file = dir.Write("empty.hex", ":00000001FF\n");
    EXPECT_EQ(Run({"write", file}), kExitFailed);
    EXPECT_EQ(err.str(), file + ": no data records\n");

    file = dir.Write("text.hex", "hello\n");
    EXPECT_EQ(Run({"write", file}), kExitFailed);
    EXPECT_EQ(err.str(), file + ": start character wrong\n");

    file = dir.path() + "/none.hex";
    EXPECT_EQ(Run({"write", file}), kExitFailed);
    EXPECT_EQ(err.str(), "inputfile " + file + " not found\n");

    // The last address of the range is seen too, not cut off with the rest kept.
    file = dir.Write("top.hex", ":0100100055"
                                "9A\n:01FFFF0066"
                                "9B\n:00000001FF\n");
    EXPECT_EQ(Run({"write", file}), kExitFailed);
    EXPECT_EQ(err.str(), file + ": data at address $FFFF lies beyond the EEPROM (256 bytes)\n");

    EXPECT_TRUE(bench->Sent().empty());
    EXPECT_EQ(Eeprom(), before);
}

TEST_F(McloadCommands, ReadIntoAFolderThatIsNotThere) {
    Bench(kEeprom);
    const std::string file = dir.path() + "/missing/eeprom.hex";
    EXPECT_EQ(Run({"read", file, "--quiet"}), kExitFailed);
    EXPECT_EQ(err.str(), "outputfile " + file + " could not be written\n");
}

TEST_F(McloadCommands, FatalStopsComeBackAsExitCodeOne) {
    Bench("channel 1 none\n");
    EXPECT_EQ(Run({"read", dir.path() + "/x.hex", "--quiet"}), kExitFailed);
    EXPECT_EQ(Fatals(), std::vector<std::string>{"no answer from MCU, can not access EEProm"});
}

TEST_F(McloadCommands, FlashProgramsAPic18AndFillsGapsAsErased) {
    Bench("device P\n  appl_id 0x12\n  loader 0x55\nend\nchannel 1 P\n");
    const std::string file =
        dir.Write("prog.hex", ":020000040000FA\n:0400000001020304F2\n:02000800AABB91\n"
                              ":020000040030CA\n:0100000011EE\n:00000001FF\n");
    ASSERT_EQ(Run({"flash", file}), kExitOk) << err.str();
    EXPECT_EQ(err.str(), file + ": 1 record above 64 KiB not transferred\n");
    const auto& flash = bench->Sim().DeviceAt(1)->Flash();
    const auto& written = bench->Sim().DeviceAt(1)->FlashWritten();
    const std::vector<std::uint8_t> expected{1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF, 0xAA, 0xBB};
    for (std::size_t a = 0; a < expected.size(); ++a) {
        EXPECT_EQ(flash[a], expected[a]) << a;
        EXPECT_TRUE(written[a]) << a;
    }
    EXPECT_FALSE(written[10]);
    EXPECT_NE(Out().find("connected to device : Tamselo 19200 Baud (PIC 18Fxx31 loading)"),
              std::string::npos)
        << Out();

    // A PIC16 board is refused.
    Bench("device P\n  appl_id 0x12\n  loader 0x32\nend\nchannel 1 P\n");
    EXPECT_EQ(Run({"flash", file}), kExitFailed);
    EXPECT_EQ(err.str(), file + ": 1 record above 64 KiB not transferred\n"
                                "Supported are only PIC18 devices\n");
}

TEST_F(McloadCommands, WhatAFileHoldsAbove64KiBIsCountedInOneLine) {
    // Data for the EEPROM at 0, then configuration words at 0x300000 and a PIC18's data
    // EEPROM at 0xF00000 (two records). The exit code stays the one the data give.
    const std::string code = ":0100000011EE\n";
    const std::string config = ":020000040030CA\n:0100000022DD\n";
    const std::string eeprom = ":0200000400F00A\n:0100000033CC\n:0100010044BA\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {code + config, ": 1 record above 64 KiB not transferred\n"},
        {code + eeprom, ": 2 records of the data EEPROM at $F00000 not transferred\n"},
        {code + config + eeprom,
         ": 3 records not transferred: 1 above 64 KiB, 2 of the data EEPROM at $F00000\n"},
        {code, ""},
    };
    for (const auto& [text, line] : cases) {
        Bench(kEeprom);
        const std::string file = dir.Write("mixed.hex", text + ":00000001FF\n");
        EXPECT_EQ(Run({"write", file, "--quiet"}), kExitOk) << text;
        EXPECT_EQ(err.str(), line.empty() ? "" : file + line) << text;
        EXPECT_EQ(Eeprom()[0], 0x11);
    }
}

TEST_F(McloadCommands, NoFileNameEverLeadsToTheMc) {
    Bench(kEeprom);
    const std::vector<std::uint8_t> before = Eeprom();
    for (McloadCommand command :
         {McloadCommand::Read, McloadCommand::Write, McloadCommand::Flash}) {
        McloadOptions options;
        options.command = command;
        options.file = "";
        err.str("");
        EXPECT_EQ(RunMcloadCommand(options, err), kExitUsage);
        EXPECT_EQ(err.str(), "mcload: the file name is empty\n");
    }
    EXPECT_TRUE(bench->Sent().empty());
    EXPECT_EQ(Eeprom(), before);
    EXPECT_TRUE(Fatals().empty());
}

TEST_F(McloadCommands, IdentifyPrintsTheDeviceAndItsBounds) {
    Bench("device P\n  appl_id 0x12\n  loader 0x50\nend\nchannel 1 P\n");
    ASSERT_EQ(Run({"identify"}), kExitOk);
    EXPECT_EQ(Out(), "connected to device : Lorpeth 19200 Baud (PIC 18Fxx2 loading)\n"
                     "device code $50, bounds: DevRangeLow $0000, DevLimit $7D00, "
                     "DevRangeHigh $01FF, DevLimit2 $FFFF, DevLimit3 $7FFF\n");
    EXPECT_EQ(comlink::BaudRate(), 9600);

    // No answer at all.
    Bench("channel 1 none\n");
    EXPECT_EQ(Run({"identify"}), kExitFailed);
    EXPECT_EQ(Fatals(), std::vector<std::string>{"no answer from MC"});
}

TEST_F(McloadCommands, WithoutAPortOnlyDryRunsGo) {
    foundation::FakeClock clock;
    foundation::ScopedTickSource useClock(clock);
    testing_support::ParamGuard params;
    foundation::ReadParamFile(dir.Write("param.ini", "[COM]\n0\n"));
    comlink::ResetLink();
    comlink::InitLink();
    comlink::StartLink();
    InitMcSys();
    EXPECT_EQ(Run({"read", dir.path() + "/x.hex"}), kExitFailed);
    EXPECT_EQ(err.str(), "no link port: COM is 0 in the parameter file\n");
    EXPECT_EQ(Run({"identify"}), kExitFailed);
    EXPECT_EQ(err.str(),
              "no link port: COM is 0 in the parameter file (--processor FILE runs dry)\n");

    const std::string cpu = dir.Write("cpu.asm", "  PROCESSOR 18F252\n");
    ASSERT_EQ(Run({"identify", "--processor", cpu}), kExitOk) << err.str();
    EXPECT_EQ(Out().rfind("connected to device : Lorpeth", 0), 0u) << Out();
    const std::string file = dir.Write("prog.hex", ":0400000001020304F2\n:00000001FF\n");
    console.str("");
    ASSERT_EQ(Run({"flash", file, "--processor", cpu}), kExitOk) << err.str();
    EXPECT_NE(Out().find("1 records processed\n4 bytes transfered"), std::string::npos) << Out();

    // The whole range, up to and with 0xFFFF: every block and byte counted.
    const std::string full = dir.Write("full.hex", ":01FFFF0077"
                                                   "8A\n:00000001FF\n");
    console.str("");
    ASSERT_EQ(Run({"flash", full, "--processor", cpu}), kExitOk) << err.str();
    EXPECT_NE(Out().find("4096 records processed\n65536 bytes transfered"), std::string::npos)
        << Out();
    comlink::ResetLink();
}

} // namespace
