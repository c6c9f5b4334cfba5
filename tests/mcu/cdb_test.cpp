// SDCC's debug file as the variable table's source: the fixture tests/data/sdcc/kiln.cdb
// (kiln.c as SDCC 4.2 compiles it) and the rules for what the link can and cannot read.
#include "foundation/params.h"
#include "mcu/cdb.h"
#include "mcu/vartable.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

using namespace mcu;
using testing_support::ParamGuard;
using testing_support::TempDir;

namespace {

const std::string kSdcc = std::string(MCU_DATA_DIR) + "/../sdcc";

std::string Row(const MCVar& v) {
    std::ostringstream row;
    row << v.name << " " << SpaceName(v.space) << " $" << std::hex << std::uppercase << v.address
        << "/" << int(v.bitMask) << " " << TypeName(v.type) << " "
        << (v.reachable ? "yes" : "no: " + v.reason);
    return row.str();
}

std::vector<std::string> Rows(const MCAppl& appl) {
    std::vector<std::string> rows;
    for (const MCVar& v : appl.vars) {
        rows.push_back(Row(v));
    }
    return rows;
}

const MCVar* Var(const MCAppl& a, const std::string& name) {
    for (const auto& v : a.vars) {
        if (v.name == name) {
            return &v;
        }
    }
    return nullptr;
}

// Every variable of kiln.c, in the debug file's order: name, space, address/bit mask, type, and
// whether the link reads it. Functions, SDCC's temporaries (sloc) and the register local of
// Step are no variables.
TEST(CdbFile, KilnFixtureGivesEveryVariableWithTypeSpaceAndReach) {
    MCAppl appl;
    ASSERT_TRUE(LoadCdbFile(appl, kSdcc + "/kiln.cdb")) << appl.errorText;
    EXPECT_EQ(appl.errorText, "");
    const std::vector<std::string> expected = {
        "LEVEL data $21/0 u8 yes",
        "TREND data $22/0 i8 yes",
        "TICKS data $23/0 u16 yes",
        "SPEED data $25/0 i16 yes", // initialised
        "UPTIME data $27/0 u32 yes",
        "TOTAL data $2B/0 i32 yes",
        "GAIN data $2F/0 f32 yes",
        "SAMPLES data $33/0 u16 yes", // arrays by element, element 0 by the bare name
        "SAMPLES[1] data $35/0 u16 yes",
        "SAMPLES[2] data $37/0 u16 yes",
        "ZONE.LOW data $39/0 u8 yes", // struct members, an array among them
        "ZONE.TEMP data $3A/0 i16 yes",
        "ZONE.HIST data $3C/0 u8 yes",
        "ZONE.HIST[1] data $3D/0 u8 yes",
        "POINTS.X data $3E/0 i8 yes", // an array of structs
        "POINTS.Y data $3F/0 i8 yes",
        "POINTS[1].X data $40/0 i8 yes",
        "POINTS[1].Y data $41/0 i8 yes",
        "SETTING.MODE data $42/0 u8 no: bit field",
        "SETTING.GEAR data $42/0 u8 no: bit field",
        "CURSOR data $43/0 u8 yes",   // a one-byte data pointer
        "ANYWHERE data $44/0 u8 yes", // a generic pointer: its three bytes
        "ANYWHERE[1] data $45/0 u8 yes",
        "ANYWHERE[2] data $46/0 u8 yes",
        "CALIB data $60/0 u8 yes",      // placed with __at
        "COUNT data $47/0 u8 yes",      // a file static
        "STEP.CALLS data $48/0 u8 yes", // a function static
        "SCRATCH idata $8/0 u8 yes",    // indirect RAM below 0x80 is direct RAM as well
        "SCRATCH[1] idata $9/0 u8 yes",
        "DEEP idata $90/0 u8 no: indirect RAM above $7F",
        // Bits SDCC placed itself take their address from kiln.rst.
        "READY bit $20/1 bit yes",
        "BLINK bit $20/2 bit yes",
        "ALARM bit $29/1 bit yes",
        "STEP.TOGGLED bit $20/4 bit yes",
        "PPAGE xdata $1/0 u8 no: external RAM outside the link's pages",
        "LOGCOUNT xdata $2/0 u16 no: external RAM outside the link's pages",
        "XCOUNT xdata $200/0 u16 yes",
        "STRADDLE xdata $7FE/0 u32 no: external RAM outside the link's pages",
        "P0 sfr $80/0 u8 yes",
        "PSW sfr $D0/0 u8 yes",
        "TMR0 sfr $8C8A/0 u16 no: SFRs not in a row",
        "SENSOR sbit $80/8 bit yes",
        "CY sbit $D0/80 bit yes",
        "CURVE code $36F/0 u8 no: code memory",
        "CURVE[1] code $370/0 u8 no: code memory",
        "CURVE[2] code $371/0 u8 no: code memory",
        "CURVE[3] code $372/0 u8 no: code memory",
    };
    EXPECT_EQ(Rows(appl), expected);

    // The tree files registers and their bits as such, without a USERRAM.
    EXPECT_TRUE(FiledAsSfr(*Var(appl, "P0"), 0));
    EXPECT_TRUE(FiledAsSfr(*Var(appl, "CY"), 0));
    EXPECT_FALSE(FiledAsSfr(*Var(appl, "READY"), 0));
    EXPECT_FALSE(FiledAsSfr(*Var(appl, "XCOUNT"), 0));

    // A variable the link cannot read is never looked up to an address.
    std::uint16_t address = 0;
    std::uint8_t mask = 0;
    EXPECT_FALSE(FindVariable(appl, "DEEP", address, mask));
    EXPECT_EQ(appl.errorText, "Var DEEP cannot be read: indirect RAM above $7F");
    EXPECT_FALSE(FindVariable(appl, "CURVE[2]", address, mask));
    ASSERT_TRUE(FindVariable(appl, "ZONE.TEMP", address, mask));
    EXPECT_EQ(address, 0x3A);
    // Members and elements are defined by their whole names, and by their base as before.
    EXPECT_TRUE(VariableDefined(appl, "ZONE.TEMP"));
    EXPECT_TRUE(VariableDefined(appl, "POINTS[1].Y"));
    EXPECT_TRUE(VariableDefined(appl, "SAMPLES[9]"));
    EXPECT_FALSE(VariableDefined(appl, "ZONE"));
}

// The scope asks for the application's name; the debug file is taken beside an object file of
// that name, or on its own, and without the listing beside it the bits SDCC placed itself are
// kept but cannot be read.
TEST(CdbFile, FoundBesideTheObjectFileOrAloneAndWithoutItsListing) {
    ParamGuard guard;
    TempDir dir;
    namespace fs = std::filesystem;
    fs::copy_file(kSdcc + "/kiln.cdb", dir.path() + "/KILN.CDB");
    fs::copy_file(kSdcc + "/tank.omf", dir.path() + "/kiln.omf");
    TempDir cfg;
    ASSERT_TRUE(foundation::ReadParamFile(cfg.Write("p.ini", "[FILE_PATH]\n" + dir.path() + "\n")));

    MCAppl appl;
    appl.varFileName = "KILN";
    ASSERT_TRUE(LoadObjectFile(appl)) << appl.errorText;
    EXPECT_EQ(appl.varFileName, dir.path() + "/kiln.omf"); // conversions stay kiln.omf.cvt
    ASSERT_NE(Var(appl, "TICKS"), nullptr);
    EXPECT_EQ(Var(appl, "INFLOW"), nullptr); // tank.omf's, not read
    const MCVar* ready = Var(appl, "READY");
    ASSERT_NE(ready, nullptr);
    EXPECT_FALSE(ready->reachable);
    EXPECT_EQ(ready->reason, "placed by the compiler: address only in kiln.rst");
    EXPECT_TRUE(Var(appl, "ALARM")->reachable); // placed with __at: in the debug file

    fs::remove(dir.path() + "/kiln.omf");
    fs::copy_file(kSdcc + "/kiln.rst", dir.path() + "/kiln.rst");
    appl = MCAppl{};
    appl.varFileName = "KILN";
    ASSERT_TRUE(LoadObjectFile(appl)) << appl.errorText;
    EXPECT_EQ(appl.varFileName, dir.path() + "/KILN.CDB");
    EXPECT_TRUE(Var(appl, "READY")->reachable);

    appl = MCAppl{};
    EXPECT_FALSE(LoadCdbFile(appl, dir.path() + "/none.cdb"));
    EXPECT_EQ(appl.errorText, "File Error : debug file " + dir.path() + "/none.cdb does not exist");
}

// Lines written by hand: what the reader takes, what it steps over, and the link's memory map.
TEST(CdbFile, MalformedLinesAreSkippedAndTheMapMovesTheExternalWindow) {
    TempDir dir;
    const std::string text = "M:m\n"
                             "S:G$good$0_0$0({2}SI:S),E,0,0\n"
                             "S:G$noparen$0_0$0{2}SI:S,E,0,0\n"
                             "S:G$badsize$0_0$0({x}SI:S),E,0,0\n"
                             "S:G$badarray$0_0$0({2}DAxd,SC:U),E,0,0\n"
                             "S:G$onstack$0_0$0({1}SC:U),B,1,-2\n"
                             "S:Lm.f$inreg$1_0$1({1}SC:U),R,0,0,[r7]\n"
                             "S:G$nostruct$0_0$0({2}STmissing:S),E,0,0\n"
                             "S:G$noaddr$0_0$0({1}SC:U),E,0,0\n"
                             "S:G$low$0_0$0({2}SI:U),F,0,0\n"
                             "S:G$huge$0_0$0({1000}DA1000d,SC:U),F,0,0\n"
                             "S:G$hook$0_0$0({2}DC,DF,SV:S),E,0,0\n"
                             "S:G$COM_VARX$0_0$0({1}SC:U),E,0,0\n"
                             "T:Fm$fl[({0}S:S$a$0_0$0({1}SC:U),Z,0,0)"
                             "({1}S:S$on$0_0$0({1}SB3$1:U),Z,0,0)]\n"
                             "S:G$flags$0_0$0({2}STfl:S),F,0,0\n"
                             "T:Fm$broken[({0}S:S$a$0_0$0({1}SC:U),Z,0,0\n"
                             "L:G$good$0_0$0:10\n"
                             "L:G$nostruct$0_0$0:12\n"
                             "L:G$low$0_0$0:20\n"
                             "L:G$huge$0_0$0:300\n"
                             "L:G$hook$0_0$0:16\n"
                             "L:G$COM_VARX$0_0$0:14\n"
                             "L:G$flags$0_0$0:30\n"
                             "L:G$good$0_0$0:zz\n";
    MCAppl appl;
    LinkMemoryMap map;
    map.xdataFirst = 0; // a firmware whose page 1 starts at external address 0
    ASSERT_TRUE(LoadCdbFile(appl, dir.Write("m.cdb", text), map)) << appl.errorText;
    std::vector<std::string> rows = Rows(appl);
    rows.resize(std::min<std::size_t>(rows.size(), 7));
    const std::vector<std::string> expected = {
        "GOOD data $10/0 i16 yes",
        "NOSTRUCT data $12/0 u8 no: struct not described",
        "NOADDR data $0/0 u8 no: no address in the debug file",
        "LOW xdata $120/0 u16 yes", // external 0x20 is read on page 1
        "HUGE xdata $400/0 u8 yes", // listed up to 64 elements
        "HUGE[1] xdata $401/0 u8 yes",
        "HUGE[2] xdata $402/0 u8 yes",
    };
    EXPECT_EQ(rows, expected);
    ASSERT_EQ(appl.VarCount(), 4 + 64 + 2 + 2);
    EXPECT_EQ(Row(appl.vars[68]), "HOOK data $16/0 u16 yes"); // a function pointer
    EXPECT_EQ(appl.vars[69].name, "COM_VARX");
    EXPECT_TRUE(appl.vars[69].linkKeyword);
    // A one-bit field of a struct in external RAM: its byte, under its mask.
    EXPECT_EQ(Row(appl.vars.back()), "FLAGS.ON xdata $131/8 bit yes");

    // Arrays of structs of arrays multiply (16 x 16 x 16 here); the table stops at its limit.
    appl = MCAppl{};
    ASSERT_TRUE(LoadCdbFile(appl, dir.Write("nested.cdb",
                                            "T:Fm$c[({0}S:S$v$0_0$0({16}DA16d,SC:U),Z,0,0)]\n"
                                            "T:Fm$a[({0}S:S$b$0_0$0({256}DA16d,STc:S),Z,0,0)]\n"
                                            "S:G$deep$0_0$0({4096}DA16d,STa:S),F,0,0\n"
                                            "L:G$deep$0_0$0:100\n")));
    ASSERT_EQ(appl.VarCount(), kMaxVars);
    EXPECT_EQ(Row(appl.vars[17]), "DEEP.B[1].V[1] xdata $111/0 u8 yes");

    // Structs of 40 members each nested 7 deep over an empty one hold nothing, in 40^7 ways:
    // the reader gives up on them in good time and takes the next symbol.
    std::string chain = "T:Fm$s7[]\n";
    for (int level = 0; level < 7; ++level) {
        chain += "T:Fm$s" + std::to_string(level) + "[";
        for (int k = 0; k < 40; ++k) {
            chain += "({0}S:S$m" + std::to_string(k) + "$0_0$0({1}STs" + std::to_string(level + 1) +
                     ":S),Z,0,0)";
        }
        chain += "]\n";
    }
    chain += "S:G$void$0_0$0({1}STs0:S),E,0,0\nS:G$after$0_0$0({1}SC:U),E,0,0\n"
             "L:G$void$0_0$0:10\nL:G$after$0_0$0:11\n";
    appl = MCAppl{};
    ASSERT_TRUE(LoadCdbFile(appl, dir.Write("void.cdb", chain)));
    EXPECT_EQ(Rows(appl), std::vector<std::string>{"AFTER data $11/0 u8 yes"});

    appl = MCAppl{};
    EXPECT_FALSE(LoadCdbFile(appl, dir.Write("empty.cdb", "M:m\nL:G$x$0_0$0:10\n")));
    EXPECT_EQ(appl.errorText, "no debug information found: please compile with debug-option");
}

} // namespace
