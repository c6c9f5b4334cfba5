// Identification and opening of the MC application against the simulated MCs.
#include "foundation/params.h"
#include "mcu/access.h"
#include "mcu/bus.h"
#include "mcu/ident.h"
#include "mcu/vartable.h"
#include "sim_link.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

using namespace mcu;
using Bytes = std::vector<std::uint8_t>;

namespace {

class IdentTest : public ::testing::Test {
protected:
    IdentTest() {
        ResetMcuModule();
        ApplIdTable().fill("");
        ApplIdTable()[0x85] = "DRIVE";
        ApplIdTable()[0x12] = "MOTOR*2";
        ApplIdTable()[7] = "SEVEN";
    }
    ~IdentTest() override {
        ResetMcuModule();
        ApplIdTable().fill("");
    }

    // A parameter file whose FILE_PATH points at the application files of the test.
    std::string Params(const std::string& com = "") {
        std::string text = "[FILE_PATH]\n" + files.path() + "\n";
        if (!com.empty()) {
            text += "[COM]\n" + com + "\n";
        }
        return text;
    }

    testing_support::TempDir files;
    MCAppl appl;
};

TEST_F(IdentTest, FindsTheApplicationOnTheThirdChannel) {
    testing_support::SimBench bench("device D\n appl_id 0x85\nend\nchannel 3 D\n", Params());
    bool answered = false;
    std::string fileName;
    ASSERT_TRUE(IdentifyMCAppl(appl, answered, fileName)) << appl.errorText;
    EXPECT_TRUE(answered);
    EXPECT_EQ(appl.channel, 3);
    EXPECT_EQ(appl.baudRate, 9600);
    EXPECT_EQ(appl.applName, "DRIVE");
    EXPECT_TRUE(appl.adrMode);
    EXPECT_EQ(fileName, "DRIVE.ADR"); // not found along FILE_PATH: left bare

    // Each channel gets an attention whose reply is dropped, then the id request.
    const Bytes sent = bench.Sent();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), 0x07), 6);
}

TEST_F(IdentTest, ObjectModeFileNameIsCutAtTheStarAndResolved) {
    std::string objectFile = files.Write("sub/MOTOR", "");
    bool answered = false;
    std::string fileName;
    {
        testing_support::SimBench bench("device M\n appl_id 0x12\nend\nchannel 1 M\n", Params());
        ASSERT_TRUE(IdentifyMCAppl(appl, answered, fileName));
        EXPECT_FALSE(appl.adrMode);
        EXPECT_EQ(appl.applName, "MOTOR*2");
        EXPECT_EQ(fileName, objectFile);
        EXPECT_EQ(appl.channel, 1);
    }
    testing_support::SimBench seven("device S\n appl_id 7\nend\nchannel 1 S\n", Params());
    ASSERT_TRUE(IdentifyMCAppl(appl, answered, fileName));
    EXPECT_TRUE(appl.adrMode);
}

TEST_F(IdentTest, UnknownIdsAndSilenceAreReported) {
    bool answered = false;
    std::string fileName;
    {
        testing_support::SimBench bench("device U\n appl_id 0x3C\nend\nchannel 3 U\n", Params());
        EXPECT_FALSE(IdentifyMCAppl(appl, answered, fileName));
        EXPECT_TRUE(answered);
        EXPECT_EQ(appl.errorText, "MC-Application  not connected to COM, MC returns $3C");
    }
    {
        testing_support::SimBench bench("device F\n appl_id 0xFF\nend\nchannel 3 F\n", Params());
        EXPECT_FALSE(IdentifyMCAppl(appl, answered, fileName));
        EXPECT_FALSE(answered); // 0xFF counts as no answer
        EXPECT_EQ(appl.errorText, "MC-Application  not connected to COM");
    }
    {
        // An unknown id on channel 1 only: the last channel tried was silent.
        testing_support::SimBench bench("device U\n appl_id 0x3C\nend\nchannel 1 U\n", Params());
        const auto start = bench.Clock().NowUs();
        EXPECT_FALSE(IdentifyMCAppl(appl, answered, fileName));
        EXPECT_FALSE(answered);
        EXPECT_EQ(appl.errorText, "MC-Application  not connected to COM");
        // Two silent channels cost 250 ms + 1 s each.
        EXPECT_GE(bench.Clock().NowUs() - start, 2500000u);
        EXPECT_LT(bench.Clock().NowUs() - start, 2700000u);
    }
}

TEST_F(IdentTest, SingleChannelPortsTryOnlyChannelOne) {
    testing_support::SimBench bench("device D\n appl_id 0x85\nend\nchannel 3 D\n", Params("9"));
    bool answered = false;
    std::string fileName;
    EXPECT_FALSE(IdentifyMCAppl(appl, answered, fileName));
    const Bytes sent = bench.Sent();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), 0x07), 2);
}

TEST_F(IdentTest, OpenLoadsTheAddressFileAndConversions) {
    files.Write("DRIVE.ADR", "SPEED $30\nTEMP $31\nUSERRAM $30\n");
    files.Write("DRIVE.ADR.cvt", "SPEED 2 1 rpm\n");
    testing_support::SimBench bench("device D\n appl_id 0x85\nend\nchannel 2 D\n", Params());
    ASSERT_TRUE(OpenMCAppl(appl)) << appl.errorText;
    EXPECT_TRUE(appl.opened);
    EXPECT_EQ(appl.channel, 2);
    EXPECT_EQ(appl.VarCount(), 3);
    EXPECT_EQ(appl.frontCount, 0);
    EXPECT_EQ(appl.vars[0].factor, 2.0);
    EXPECT_EQ(appl.vars[0].unit, "rpm");

    // The record works for reads right away.
    std::uint8_t value = 0;
    bench.Sim().DeviceAt(2)->SetMemory(0x31, 0x5C);
    EXPECT_TRUE(ReadVariable(appl, 0x31, 0, value));
    EXPECT_EQ(value, 0x5C);
}

TEST_F(IdentTest, OpenFailuresCarryTheirMessages) {
    {
        testing_support::SimBench bench("device D\n appl_id 0x85\nend\nchannel 1 D\n", Params());
        EXPECT_FALSE(OpenMCAppl(appl));
        EXPECT_EQ(appl.errorText, "file DRIVE.ADR not found");
        EXPECT_FALSE(appl.opened);
    }

    // An unknown id from a bus master whose bus answers: the list is built, the loaders fail.
    testing_support::SimBench busBench(
        "device B\n appl_id 0x3C\nend\ndevice P\n appl_id 0x85\nend\n"
        "channel 1 B\nchannel 2 B\nchannel 3 B\nbus 3 2 P\n",
        Params());
    MCAppl other;
    EXPECT_FALSE(OpenMCAppl(other));
    EXPECT_EQ(ScopeLastDeviceIndex(), 1);
    EXPECT_EQ(ScopeDeviceList()[1].name, "DRIVE");
    EXPECT_EQ(other.errorText, "File Error : objectfile  does not exist");
}

TEST_F(IdentTest, SelectorRecordIsPreparedAndClosed) {
    testing_support::SimBench bench("device D\n appl_id 0x85\n mem 7 0x77\nend\nchannel 1 D\n",
                                    Params());
    SetProgramKind(ProgramKind::Selector);
    appl.errorCount = 5;
    appl.streamingMode = true;
    InitMCAppl(appl);
    EXPECT_TRUE(appl.adrMode);
    EXPECT_EQ(appl.channel, 1);
    EXPECT_EQ(appl.baudRate, 9600);
    EXPECT_EQ(appl.lastDeviceIndex, -1);
    EXPECT_EQ(appl.currentDevice, -1);
    EXPECT_EQ(appl.errorCount, 0);
    EXPECT_EQ(bench.Sent().back(), 0x07); // the read of address 7

    // Right after that attention 0xE5 would be a write request: the selector's read goes
    // through page 0 (and does not compare the page echo).
    bench.ClearWire();
    std::uint8_t value = 0;
    bench.Sim().DeviceAt(1)->SetMemory(0xE5, 0x11);
    EXPECT_TRUE(ReadVariable(appl, 0xE5, 0, value));
    EXPECT_EQ(bench.Sent(), (Bytes{0xF0, 0xE5}));
    EXPECT_EQ(value, 0x11);
    CloseMCAppl(appl);
    EXPECT_FALSE(appl.opened);
}

} // namespace
