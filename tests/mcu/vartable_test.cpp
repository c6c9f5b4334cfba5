#include "foundation/params.h"
#include "foundation/text_file.h"
#include "mcu/access.h"
#include "mcu/ident.h"
#include "mcu/vartable.h"
#include "omf_writer.h"
#include "sim/scenario.h"
#include "sim_link.h"
#include "temp_dir.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace mcu;
using testing_support::ParamGuard;
using testing_support::TempDir;

namespace {

const std::string kData = MCU_DATA_DIR;

const MCVar* Var(const MCAppl& a, const std::string& name) {
    for (const auto& v : a.vars) {
        if (v.name == name) {
            return &v;
        }
    }
    return nullptr;
}

class VarTableTest : public ::testing::Test {
protected:
    ParamGuard guard;
    TempDir dir;
    MCAppl appl;
};

TEST_F(VarTableTest, AddressFileFieldsAndConversions) {
    ASSERT_TRUE(LoadAddressFile(appl, kData + "/drive.ADR")) << appl.errorText;
    EXPECT_EQ(appl.errorText, "");
    ASSERT_EQ(appl.VarCount(), 8);
    EXPECT_EQ(appl.vars[0].name, "SPEED");
    EXPECT_EQ(appl.vars[0].address, 0x3A);
    EXPECT_EQ(appl.vars[0].bitMask, 0x04);
    EXPECT_EQ(Var(appl, "TEMP")->address, 59); // 58,6 rounds
    EXPECT_EQ(Var(appl, "TEMP")->bitMask, 0);
    EXPECT_TRUE(Var(appl, "USERRAM")->linkKeyword);
    EXPECT_FALSE(Var(appl, "SPEED")->linkKeyword);
    EXPECT_EQ(Var(appl, "HIGH")->address, 0x7FF);
    EXPECT_EQ(Var(appl, "FLAG")->bitMask, 0x80);
    EXPECT_EQ(Var(appl, "WIDE")->bitMask, 0); // bit 9 names no bit of a byte

    LoadConversions(appl);
    // Names are compared in upper case with the stored ones.
    EXPECT_EQ(Var(appl, "SPEED")->factor, 2.0);
    EXPECT_EQ(Var(appl, "SPEED")->offset, 0.5);
    EXPECT_EQ(Var(appl, "SPEED")->unit, "rpm");
    EXPECT_EQ(Var(appl, "TEMP")->offset, -40.0);
    EXPECT_EQ(Var(appl, "TEMP")->unit, "degC_");
    EXPECT_EQ(Var(appl, "COUNTER")->factor, 2.0); // the rest of a short line is skipped
    EXPECT_EQ(Var(appl, "COUNTER")->offset, 0.0);
    EXPECT_EQ(Var(appl, "COUNTER")->unit, "1");
    EXPECT_EQ(Var(appl, "HIGH")->factor, 1.0);
}

TEST_F(VarTableTest, TreeFromCaseInsensitiveFileSystemLoads) {
    // Names as a Windows copy may have them: the id table, the address file and its
    // conversions each in another letter case than the programs ask for.
    dir.Write("appl/Drive.adr", "SPEED $3A 2\nTEMP 58\n");
    dir.Write("appl/DRIVE.ADR.CVT", "SPEED 2 0,5 rpm\n");
    dir.Write("appl/APPLID.INC", "APPL_DRIVE EQU 133\n");
    TempDir cfg;
    ASSERT_TRUE(foundation::ReadParamFile(cfg.Write("p.ini", "[FILE_PATH]\n" + dir.path() + "\n")));
    testing_support::FatalRecorder fatal;
    LoadApplIdTable();
    EXPECT_TRUE(fatal.messages().empty());
    EXPECT_EQ(ApplIdTable()[133], "DRIVE");
    std::string name = "DRIVE.ADR";
    foundation::ResolveFilePath(name);
    ASSERT_TRUE(LoadAddressFile(appl, name)) << appl.errorText;
    EXPECT_EQ(appl.varFileName, dir.path() + "/appl/Drive.adr");
    LoadConversions(appl);
    EXPECT_EQ(Var(appl, "SPEED")->factor, 2.0);
    EXPECT_EQ(Var(appl, "SPEED")->unit, "rpm");
    ApplIdTable().fill("");
}

TEST_F(VarTableTest, AddressFileFailures) {
    EXPECT_FALSE(LoadAddressFile(appl, "nothere.ADR"));
    EXPECT_EQ(appl.errorText, "file nothere.ADR not found");

    MCAppl gap;
    EXPECT_FALSE(LoadAddressFile(gap, kData + "/gap.ADR"));
    EXPECT_EQ(gap.errorText, "Syntax error in address file");
    EXPECT_EQ(gap.VarCount(), 1); // what was read stays

    for (const char* bad : {"", ";comment first\nA 1\n", "A\n", "A x\n", "A 1\nB 2 3\n\n"}) {
        MCAppl a;
        EXPECT_FALSE(LoadAddressFile(a, dir.Write("bad.ADR", bad))) << bad;
        EXPECT_EQ(a.errorText, "Syntax error in address file") << bad;
    }
    MCAppl ok;
    EXPECT_TRUE(LoadAddressFile(ok, dir.Write("ok.ADR", "A 1\nB 2 x\n"))); // a final line break
    EXPECT_EQ(ok.VarCount(), 2);
    EXPECT_EQ(ok.vars[1].bitMask, 0); // a third field that is not a number is ignored
}

TEST_F(VarTableTest, AddressFileLimitsAndHostileLines) {
    std::string lines;
    for (int i = 0; i < 1201; ++i) {
        lines += "V" + std::to_string(i) + " " + std::to_string(i % 256) + "\n";
    }
    EXPECT_FALSE(LoadAddressFile(appl, dir.Write("many.ADR", lines)));
    EXPECT_EQ(appl.errorText, "Max number of vars reached: 1200");
    EXPECT_EQ(appl.VarCount(), 1200);

    MCAppl odd;
    std::string longName(300, 'N');
    ASSERT_TRUE(
        LoadAddressFile(odd, dir.Write("odd.ADR", longName + " 65537.5 3\nNEG -1\n"
                                                             "HUGE 1e300\nX $FFFFFFFF -2\n")))
        << odd.errorText;
    EXPECT_EQ(odd.vars[0].name, std::string(20, 'N'));
    EXPECT_EQ(odd.vars[0].address, 2); // 65538 in 16 bits
    EXPECT_EQ(odd.vars[1].address, 0xFFFF);
    EXPECT_EQ(odd.vars[3].address, 0xFFFF);
    EXPECT_EQ(odd.vars[3].bitMask, 0);
}

TEST_F(VarTableTest, FindVariableMovesFoundVariablesToTheFront) {
    std::string lines;
    for (int i = 1; i <= 12; ++i) {
        lines += "V" + std::to_string(i) + " " + std::to_string(0x100 + i) + "\n";
    }
    ASSERT_TRUE(LoadAddressFile(appl, dir.Write("v.ADR", lines)));
    auto order = [&] {
        std::string s;
        for (const auto& v : appl.vars) {
            s += v.name + " ";
        }
        return s;
    };
    std::uint16_t address = 0;
    std::uint8_t mask = 0xFF;
    ASSERT_TRUE(FindVariable(appl, "V10", address, mask));
    EXPECT_EQ(address, 0x10A);
    EXPECT_EQ(mask, 0);
    EXPECT_EQ(order(), "V10 V2 V3 V4 V5 V6 V7 V8 V9 V1 V11 V12 ");
    ASSERT_TRUE(FindVariable(appl, "V5", address, mask));
    EXPECT_EQ(order(), "V10 V5 V3 V4 V2 V6 V7 V8 V9 V1 V11 V12 ");
    std::uint8_t low = 0;
    ASSERT_TRUE(FindVariable(appl, "V10", low, mask));
    EXPECT_EQ(low, 0x0A);
    EXPECT_EQ(order(), "V10 V5 V3 V4 V2 V6 V7 V8 V9 V1 V11 V12 ");
    EXPECT_EQ(appl.frontCount, 2);

    EXPECT_FALSE(FindVariable(appl, "v10", address, mask)); // case counts
    EXPECT_EQ(appl.errorText, "Var v10 not defined");
}

TEST_F(VarTableTest, VariableDefinedCutsMembersAndIndexes) {
    ASSERT_TRUE(LoadAddressFile(appl, kData + "/drive.ADR"));
    auto before = appl.vars.front().name;
    appl.errorText = "kept";
    EXPECT_TRUE(VariableDefined(appl, "SPEED.3"));
    EXPECT_TRUE(VariableDefined(appl, "TEMP[2]"));
    EXPECT_TRUE(VariableDefined(appl, "USERRAM"));
    EXPECT_FALSE(VariableDefined(appl, "SPEEDY"));
    EXPECT_FALSE(VariableDefined(appl, "speed"));
    EXPECT_EQ(appl.errorText, "kept");
    EXPECT_EQ(appl.vars.front().name, before);
    EXPECT_TRUE(IsLinkKeyword("COMSET_VAR_BEG"));
    EXPECT_FALSE(IsLinkKeyword("com_varx"));
}

class ObjectFileTest : public VarTableTest {
protected:
    bool Load(const std::vector<std::uint8_t>& bytes) {
        appl = MCAppl{};
        appl.varFileName = dir.path() + "/APPL";
        omf::WriteFile(appl.varFileName, bytes);
        return LoadObjectFile(appl);
    }
};

TEST_F(ObjectFileTest, DataAndBitSymbolsAcrossDebugRecords) {
    auto file = omf::ObjectFile({
        {{0, 2, 0x30, "SPEED"},
         {0, 4, 0x13, "READY"},
         {0, 1, 0x99, "CODELABEL"},
         {0, 2, 0x1234, "HIGHBYTEIGNORED"}},
        {{5, 2, 0x41, "NEXTREC"}, {0, 4, 0x00, "B0"}, {0, 2, 0x7F, std::string(25, 'L')}},
    });
    ASSERT_TRUE(Load(file)) << appl.errorText;
    ASSERT_EQ(appl.VarCount(), 6);
    EXPECT_EQ(appl.vars[0].name, "SPEED");
    EXPECT_EQ(appl.vars[0].address, 0x30);
    EXPECT_EQ(appl.vars[1].name, "READY");
    EXPECT_EQ(appl.vars[1].address, 0x22);
    EXPECT_EQ(appl.vars[1].bitMask, 0x08);
    EXPECT_EQ(appl.vars[2].address, 0x34); // only the low byte of the value
    EXPECT_EQ(appl.vars[3].name, "NEXTREC");
    EXPECT_EQ(appl.vars[4].address, 0x20);
    EXPECT_EQ(appl.vars[4].bitMask, 0x01);
    EXPECT_EQ(appl.vars[5].name, std::string(20, 'L'));
    for (const auto& v : appl.vars) {
        EXPECT_FALSE(v.linkKeyword);
    }
}

TEST_F(ObjectFileTest, LongRecordsAndEntriesThatAreNotSymbols) {
    // A public-symbol record of well over 256 bytes, as compilers write them, between records
    // of line numbers and segment symbols whose bytes would read as DATA symbols.
    std::vector<omf::Symbol> publics;
    for (int i = 0; i < 80; ++i) {
        publics.push_back(
            {0, 2, static_cast<std::uint16_t>(0x08 + i), "GLOBAL_" + std::to_string(i)});
    }
    publics.push_back({0, 4, 0x05, "LASTBIT"});
    auto lines = omf::LineNumbers({{0, 0x3002, 0}, {0, 0x0002, 0x0731}, {0, 0, 0}});
    auto segments = omf::DebugItems({{1, 2, 0x30, "?DT?MAIN"}}, omf::kSegments);
    auto file = omf::Module({lines, omf::DebugItems(publics, omf::kPublics), segments,
                             omf::DebugItems({{0, 2, 0x70, "LOCAL"}})});
    ASSERT_GT(omf::DebugItems(publics, omf::kPublics).size(), 1000u);
    ASSERT_TRUE(Load(file)) << appl.errorText;
    ASSERT_EQ(appl.VarCount(), 82);
    EXPECT_EQ(appl.vars[0].name, "GLOBAL_0");
    EXPECT_EQ(appl.vars[79].name, "GLOBAL_79");
    EXPECT_EQ(appl.vars[79].address, 0x08 + 79);
    EXPECT_EQ(appl.vars[80].name, "LASTBIT");
    EXPECT_EQ(appl.vars[80].address, 0x20);
    EXPECT_EQ(appl.vars[80].bitMask, 0x20);
    EXPECT_EQ(appl.vars[81].name, "LOCAL");
}

TEST_F(ObjectFileTest, MissingFileAndFilesWithoutDebugInformation) {
    appl.varFileName = dir.path() + "/NOTHERE";
    EXPECT_FALSE(LoadObjectFile(appl));
    EXPECT_EQ(appl.errorText, "File Error : objectfile " + dir.path() + "/NOTHERE does not exist");

    const std::string noDebug = "no debug information found: please compile with debug-option";
    // A code content record: segment 0, offset 0x0020, code bytes.
    auto content = omf::Record(0x06, {0x00, 0x20, 0x00, 0x00, 0x02, 0x30, 0x00, 0x00, 0x03});
    auto header = omf::ModuleHeader("APPL");
    const std::vector<std::pair<const char*, omf::Bytes>> cases = {
        {"empty file", {}},
        {"module header only", header},
        {"code after the scope", omf::Module({content, omf::DebugItems({{0, 2, 0x30, "X"}})})},
        {"procedure scope third",
         omf::Module({omf::ScopeDefinition(2, "MAIN"), omf::DebugItems({{0, 2, 0x30, "X"}})})},
        {"only code symbols",
         omf::Module({omf::DebugItems({{0, 0, 0x30, "MAIN"}}, omf::kPublics)})},
        {"only line numbers", omf::Module({omf::LineNumbers({{0, 0x3002, 0}, {0, 2, 0x0731}})})},
    };
    for (const auto& [what, bytes] : cases) {
        EXPECT_FALSE(Load(bytes)) << what;
        EXPECT_EQ(appl.errorText, noDebug) << what;
        EXPECT_EQ(appl.VarCount(), 0) << what;
    }
}

TEST_F(ObjectFileTest, TruncatedAndHostileFilesEndTheWalkSafely) {
    auto file = omf::ObjectFile({{{0, 2, 0x30, "SPEED"}, {0, 2, 0x31, "TORQUE"}}});
    ASSERT_TRUE(Load(file));
    ASSERT_EQ(appl.VarCount(), 2);
    // Every prefix of a good file loads the whole entries it holds and nothing more.
    const std::size_t torqueEnd = file.size() - 8 - 1; // before the end record and checksum
    for (std::size_t cut = 0; cut < file.size(); ++cut) {
        omf::Bytes prefix(file.begin(), file.begin() + static_cast<long>(cut));
        const int expected = cut >= torqueEnd ? 2 : cut >= torqueEnd - 12 ? 1 : 0;
        EXPECT_EQ(Load(prefix), expected > 0) << cut;
        EXPECT_EQ(appl.VarCount(), expected) << cut;
    }
    // A record length that overstates its content runs into the end of the file.
    auto bad = file;
    const std::size_t debugRecord = file.size() - 8 - 28;
    bad[debugRecord + 2] = 0xFF;
    Load(bad);
    EXPECT_EQ(appl.VarCount(), 2);
}

TEST_F(ObjectFileTest, UsageTypeDecidesAndSfrBitsLieInTheirRegister) {
    struct Case {
        std::uint8_t info;
        std::uint16_t value;
        bool taken;
        std::uint16_t address;
        std::uint8_t mask;
    };
    // Flags above the usage type, and the edges of the bit areas (the SDCC fixture below
    // has the rest).
    const std::vector<Case> cases = {
        {0xC2, 0x7F, true, 0x7F, 0},    {0x44, 0x7F, true, 0x2F, 0x80},
        {0x44, 0x80, true, 0x80, 0x01}, {0x44, 0xFF, true, 0xF8, 0x80},
        {0x45, 0x30, false, 0, 0}, // a number
    };
    for (const auto& c : cases) {
        const bool loaded = Load(omf::Module(
            {omf::DebugItems({{0, c.info, c.value, "v"}, {0, 2, 0x55, "END"}}, omf::kPublics)}));
        ASSERT_TRUE(loaded) << appl.errorText;
        const MCVar* v = Var(appl, "V");
        ASSERT_EQ(v != nullptr, c.taken) << std::hex << int(c.info) << " " << c.value;
        if (c.taken) {
            EXPECT_EQ(v->address, c.address) << std::hex << c.value;
            EXPECT_EQ(v->bitMask, c.mask) << std::hex << c.value;
        }
    }
}

// The object file SDCC 4.2 makes of tests/data/sdcc/tank.c, found the way the scope finds it:
// the application TANK, no file of that name, then TANK.omf in another letter case.
TEST_F(ObjectFileTest, SdccObjectFileGivesEveryDataAndBitVariable) {
    const std::string sdccDir = kData + "/../sdcc";
    TempDir cfg;
    ASSERT_TRUE(foundation::ReadParamFile(cfg.Write("p.ini", "[FILE_PATH]\n" + sdccDir + "\n")));
    appl.varFileName = "TANK";
    ASSERT_TRUE(LoadObjectFile(appl)) << appl.errorText;
    EXPECT_EQ(appl.varFileName, sdccDir + "/tank.omf");

    struct Expected {
        const char* name;
        std::uint16_t address;
        std::uint8_t mask;
    };
    const std::vector<Expected> expected = {
        {"LEVEL", 0x08, 0},
        {"SETPOINT", 0x09, 0},
        {"INFLOW", 0x0A, 0},
        {"TOTAL", 0x0C, 0},
        {"TREND", 0x10, 0},
        {"HISTORY", 0x11, 0},
        {"LIMITS", 0x19, 0},
        {"MODE", 0x1B, 0},
        {"A_RATHER_LONG_VARIAB", 0x1C, 0},
        {"CALIBRATION", 0x30, 0},
        {"STATUS", 0x2C, 0},
        {"ALARM", 0x28, 0x01},
        {"OVERFLOW", 0x28, 0x02},
        {"FILLING", 0x28, 0x04},
        {"DRAINING", 0x28, 0x08},
        {"MANUAL", 0x28, 0x80},
        {"FAULT1", 0x29, 0x01},
        {"FAULT2", 0x29, 0x20},
        {"FAULT3", 0x2A, 0x80},
        {"SERVICE", 0x2B, 0x01},
        {"P0", 0x80, 0},
        {"P1", 0x90, 0},
        {"IE", 0xA8, 0},
        {"PSW", 0xD0, 0},
        {"VALVE", 0x90, 0x01},
        {"PUMP", 0x90, 0x80},
        {"EA", 0xA8, 0x80},
        {"CY", 0xD0, 0x80},
        {"SENSOR", 0x80, 0x08},
        {"STATUS_READY", 0x2C, 0x01},
        {"STATUS_ERROR", 0x2C, 0x80},
        {"TICKS", 0x1D, 0},
    };
    // In file order; code, indirect and external memory are left out.
    ASSERT_EQ(appl.VarCount(), static_cast<std::int32_t>(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(appl.vars[i].name, expected[i].name) << i;
        EXPECT_EQ(appl.vars[i].address, expected[i].address) << expected[i].name;
        EXPECT_EQ(appl.vars[i].bitMask, expected[i].mask) << expected[i].name;
    }
    // The fixture holds symbols well past byte 256 of their record.
    std::ifstream in(appl.varFileName, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_GT(bytes.find("STATUS_ERROR"), 24u + 256u);

    appl = MCAppl{};
    appl.varFileName = "GONE";
    EXPECT_FALSE(LoadObjectFile(appl));
    EXPECT_EQ(appl.errorText, "File Error : objectfile GONE or GONE.omf does not exist");
}

TEST_F(ObjectFileTest, StopsAtTheVariableLimit) {
    std::vector<std::vector<omf::Symbol>> records;
    int n = 0;
    while (n < 1210) {
        std::vector<omf::Symbol> symbols;
        for (int i = 0; i < 20 && n < 1210; ++i, ++n) {
            symbols.push_back(
                {0, 2, static_cast<std::uint16_t>(n & 0xFF), "V" + std::to_string(n)});
        }
        records.push_back(symbols);
    }
    EXPECT_FALSE(Load(omf::ObjectFile(records)));
    EXPECT_EQ(appl.errorText, "Max number of vars reached: 1200");
    EXPECT_EQ(appl.VarCount(), 1200);
    EXPECT_EQ(appl.vars.back().name, "V1199");
}

// The second demo: the simulated OVEN of demo/sdcc answers as the scope's MC would find it, its
// object file is found as the scope finds it, and every variable the simulation moves sits
// where the object file says; a setter's byte is written and read back on the wire.
TEST(SdccDemo, ObjectFileAndScenarioAgreeOnTheWire) {
    const std::string files = std::string(DEMO_DIR) + "/sdcc";
    std::ifstream in(files + "/oven.scenario");
    std::stringstream text;
    text << in.rdbuf();
    sim::Scenario scenario;
    std::string error;
    ASSERT_TRUE(sim::ParseScenario(text.str(), scenario, error)) << error;

    ResetMcuModule();
    testing_support::SimBench bench(text.str(), "[FILE_PATH]\n" + files + "\n");
    LoadApplIdTable();
    MCAppl appl;
    ASSERT_TRUE(OpenMCAppl(appl)) << appl.errorText;
    EXPECT_EQ(appl.applName, "OVEN");
    EXPECT_FALSE(appl.adrMode);
    EXPECT_EQ(appl.varFileName, files + "/oven.omf");

    const sim::DeviceConfig& oven = *scenario.FindDevice("OVEN");
    for (const auto& v : oven.variables) {
        const MCVar* var = Var(appl, v.name);
        ASSERT_NE(var, nullptr) << v.name;
        EXPECT_EQ(var->address, v.address) << v.name;
        EXPECT_EQ(var->bitMask, v.bit < 0 ? 0 : 1 << v.bit) << v.name;
    }
    std::uint8_t value = 0;
    ASSERT_TRUE(ReadVariable(appl, Var(appl, "SETPOINT")->address, 0, value));
    EXPECT_EQ(value, 180);
    ASSERT_TRUE(SetVariable(appl, "FAN_LEVEL", 0, 3)) << appl.errorText;
    ASSERT_TRUE(ReadVariable(appl, Var(appl, "FAN_LEVEL")->address, 0, value));
    EXPECT_EQ(value, 3);
    ApplIdTable().fill("");
    ResetMcuModule();
}

} // namespace
