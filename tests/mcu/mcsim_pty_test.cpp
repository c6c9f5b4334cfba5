// The MC protocol against the mcsim program on a pseudo-terminal at 9600 baud, through the real
// link, the real clock and param.ini, as the programs run it. Skipped when mcsim is not built.
#include "foundation/params.h"
#include "link/link_port.h"
#include "mcu/access.h"
#include "mcu/ident.h"
#include "mcu/vartable.h"
#include "sim/mcsim_process.h"
#include "temp_dir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <unistd.h>

using namespace mcu;

namespace {

const std::string kData = std::string(MCU_DATA_DIR) + "/pty";

TEST(McsimOnPty, IdentifiesReadsAndWritesAtRealPace) {
    const std::string program = MCSIM_PATH;
    if (program.empty() || access(program.c_str(), X_OK) != 0) {
        GTEST_SKIP() << "mcsim is not built";
    }
    testing_support::ParamGuard guard;
    testing_support::TempDir dir;
    for (const char* name : {"applid.inc", "PTYMC.ADR"}) {
        std::filesystem::copy_file(kData + "/" + name, dir.path() + "/" + name);
    }
    const std::string link = dir.path() + "/mc";
    ASSERT_TRUE(foundation::ReadParamFile(
        dir.Write("param.ini", "[COM]\n" + link + "\n[FILE_PATH]\n" + dir.path() + "\n")));

    sim::McsimProcess mcsim;
    const std::string trace = dir.path() + "/trace.txt";
    ASSERT_TRUE(mcsim.Start(program, {"--trace", trace, kData + "/ptymc.scenario", link}))
        << mcsim.Error();
    ResetMcuModule();
    LoadApplIdTable();
    comlink::InitLink();
    ASSERT_TRUE(comlink::StartLink()) << comlink::LinkError();

    MCAppl appl;
    ASSERT_TRUE(OpenMCAppl(appl)) << appl.errorText;
    EXPECT_EQ(appl.applName, "PTYMC");
    EXPECT_TRUE(appl.adrMode);
    EXPECT_TRUE(appl.opened);
    EXPECT_EQ(appl.baudRate, 9600);
    EXPECT_EQ(appl.VarCount(), 7);
    // A pseudo-terminal has no control lines: the MC answers on the first channel tried.
    EXPECT_EQ(appl.channel, 1);

    std::uint8_t value = 0;
    EXPECT_TRUE(ReadVariable(appl, 0x30, 0, value));
    EXPECT_EQ(value, 0x5A);
    EXPECT_TRUE(ReadVariable(appl, 0x31, 0, value));
    EXPECT_EQ(value, 0x08);
    EXPECT_TRUE(ReadVariable(appl, 0x123, 0, value)); // behind a page command
    EXPECT_EQ(value, 0x77);

    EXPECT_TRUE(SetVariable(appl, "GAIN", 0, 0x33)) << appl.errorText;
    EXPECT_TRUE(ReadVariable(appl, 0x41, 0, value));
    EXPECT_EQ(value, 0x33);
    EXPECT_TRUE(ReadVariable(appl, 0x40, 0, value)); // its neighbour untouched
    EXPECT_EQ(value, 100);
    const auto failedTries = appl.errorCount;

    CloseMCAppl(appl);
    comlink::CloseLink();
    comlink::ResetLink();
    EXPECT_EQ(mcsim.Stop(), 0);

    // On the wire: the page command of the paged read, and the write request 0xA0 + 0x41
    // answered by its echo.
    std::ifstream in(trace);
    const std::string wire((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(wire.find("PC>MC  F1"), std::string::npos) << wire;
    EXPECT_NE(wire.find("PC>MC  E1"), std::string::npos) << wire;
    EXPECT_NE(wire.find("MC>PC  41"), std::string::npos) << wire;
    // Not one try failed: the timing learned at the identification judges the reads that follow.
    EXPECT_EQ(failedTries, 0) << wire;
}

} // namespace
