#include "foundation/params.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

using namespace foundation;
using testing_support::ParamGuard;
using testing_support::TempDir;

namespace {

class ParamFileTest : public ::testing::Test {
protected:
    ParamGuard guard;
    TempDir tree;

    // An installation T with the executable in T/bin.
    void InstallAt(const std::string& programFile = "scope.exe") {
        SetProgramPaths(tree.path() + "/bin/" + programFile);
    }
    std::string Value(const std::string& key) {
        std::string v;
        EXPECT_TRUE(GetParam(key, v)) << key;
        return v;
    }
};

TEST(ProgramPaths, SplitsTheExecutablePath) {
    auto p = MakeProgramPaths("/opt/mc/bin/ombrix.release.x");
    EXPECT_EQ(p.programFolder, "/opt/mc/bin/");
    EXPECT_EQ(p.programName, "ombrix");
    EXPECT_EQ(p.programExtension, ".release.x");
    EXPECT_EQ(p.programFolderWithSeparator, "/opt/mc/bin/");
    EXPECT_EQ(p.rootFolder, "/opt/mc");

    auto plain = MakeProgramPaths("/opt/mc/tarnel");
    EXPECT_EQ(plain.programName, "tarnel");
    EXPECT_EQ(plain.programExtension, "");
    EXPECT_EQ(plain.rootFolder, "/opt/mc/");
}

TEST(ProgramPaths, RootFolderDropsOnlyTheLastBinSegment) {
    struct Case {
        const char* folder;
        const char* root;
    };
    for (auto c : {
             Case{"/opt/mc/bin/", "/opt/mc"},       // the usual installation, as it always was
             Case{"/home/u/bin/mc/", "/home/u/mc"}, // neighbours are not glued together
             Case{"/bin/x/", "/x"},                 // and the root stays absolute
             Case{"/bin/", "/"},
             Case{"/a/bin/b/bin/", "/a/bin/b"},
             Case{"/a/Bin/b/BIN/", "/a/Bin/b"},
             Case{"/x/bi/bin/n/", "/x/bi/n"},
             Case{"/x/bIn/", "/x/bIn/"}, // not a bin segment: kept as it is
             Case{"/opt/binary/mybin/", "/opt/binary/mybin/"},
             Case{"/opt/mc/", "/opt/mc/"},
         }) {
        EXPECT_EQ(RootFolderOf(c.folder), c.root) << c.folder;
    }
}

TEST_F(ParamFileTest, ReadsKeysValuesAndRootSubstitution) {
    InstallAt();
    tree.Write("config/param.ini", "[COM] link port\r\n3\r\n[COM_DEBUG]\r\n#\r\n[FILE_PATH]\r\n"
                                   "%ROOT%/appl;/srv/mc\r\n");
    LoadParamFile();
    EXPECT_EQ(ParamError(), "");
    double com = 0;
    EXPECT_TRUE(GetParamNumber("COM", com));
    EXPECT_EQ(com, 3.0);
    EXPECT_EQ(Value("COM_DEBUG"), "");
    // The root of T/bin/ is T; the doubled separator of a bin-less folder is accepted too.
    EXPECT_EQ(Value("FILE_PATH"), tree.path() + "/appl;/srv/mc");
    ASSERT_EQ(ParamEntries().size(), 3u);
    EXPECT_EQ(ParamEntries()[0].description, " LINK PORT");
}

TEST_F(ParamFileTest, SearchOrderPrefersTheFileBesideTheProgramEvenWhenEmpty) {
    InstallAt("scope.exe");
    tree.Write("bin/scope.ini", "");
    tree.Write("user/config/param.ini", "[COM]\n5\n");
    tree.Write("config/param.ini", "[COM]\n6\n");
    LoadParamFile();
    std::string v;
    EXPECT_FALSE(GetParam("COM", v));
    EXPECT_TRUE(ParamEntries().empty());
    EXPECT_EQ(ParamError(), "");
}

TEST_F(ParamFileTest, SearchOrderUserConfigThenConfigThenSystemFile) {
    InstallAt();
    tree.Write("config/param.ini", "[COM]\n6\n");
    tree.Write("user/config/param.ini", "[COM]\n5\n");
    LoadParamFile();
    EXPECT_EQ(Value("COM"), "5");

    ResetParams();
    SetSystemParamFile(guard.systemFile());
    TempDir other;
    SetProgramPaths(other.path() + "/bin/scope");
    TempDir sys;
    std::string sysFile = sys.Write("param.ini", "[COM]\n7\n");
    SetSystemParamFile(sysFile);
    LoadParamFile();
    EXPECT_EQ(Value("COM"), "7");
}

TEST_F(ParamFileTest, NoFileAnywhereLeavesDefaultsAndNamesTheLastCandidate) {
    InstallAt();
    LoadParamFile();
    double com = 0;
    EXPECT_FALSE(GetParamNumber("COM", com));
    EXPECT_EQ(com, 1.0);
    std::string v = "stale";
    EXPECT_FALSE(GetParam("COM_DEBUG", v));
    EXPECT_EQ(v, "");
    EXPECT_EQ(ParamError(), "file error : " + guard.systemFile() + " does not exist");
    EXPECT_EQ(ParamFileCandidates().back(), guard.systemFile());
}

TEST(ParamDefaults, SystemFileIsEtcParamIni) {
    ResetParams();
    SetProgramPaths("/nowhere/bin/x");
    EXPECT_EQ(ParamFileCandidates(),
              (std::vector<std::string>{"/nowhere/bin/x.ini", "/nowhere/user/config/param.ini",
                                        "/nowhere/config/param.ini", "/etc/param.ini"}));
}

TEST_F(ParamFileTest, KeyMatchingRules) {
    InstallAt();
    std::string file = tree.Write("p.ini", "[com]\n4\n"
                                           " [FILE_PATH]\n/ignored\n"
                                           "[COM_DEBUG ]\nlog.txt\n"
                                           "[com]\n9\n"
                                           "[NOBRACKET rest\nx\n");
    ASSERT_TRUE(ReadParamFile(file));
    EXPECT_EQ(Value("Com"), "9"); // the later of two entries wins; case is folded
    std::string v;
    EXPECT_FALSE(GetParam("FILE_PATH", v)); // a blank before "[" starts nothing
    EXPECT_FALSE(GetParam("COM_DEBUG", v)); // the blank inside the brackets is kept
    EXPECT_EQ(Value("COM_DEBUG "), "log.txt");
    EXPECT_EQ(Value("NOBRACKET REST"), "x");
    EXPECT_EQ(ParamEntries().back().description, "NOBRACKET REST");
}

TEST_F(ParamFileTest, ValueLineRules) {
    SetProgramPaths("/r/bin/p");
    const std::string byId =
        "/dev/serial/by-id/usb-Silicon_Labs_CP2102_USB_to_UART_00012-if00-port0";
    ASSERT_EQ(byId.size(), 70u);
    std::string file =
        tree.Write("p.ini", "[A]\n#3\n[B]\n;3\n[C]\n[D]\n[E]\n%root%/x\n[F]\n" + byId + "\n" +
                                "[G]\n%ROOT%%ROOT%\n[H]\n  3\n[I]\n3 \n[J]\nMixed Case\n[LAST]");
    ASSERT_TRUE(ReadParamFile(file));
    EXPECT_EQ(Value("A"), "");
    EXPECT_EQ(Value("B"), "");
    EXPECT_EQ(Value("C"), "[D]"); // the line after a key line is its value, bracket or not
    std::string v;
    EXPECT_FALSE(GetParam("D", v));
    EXPECT_EQ(Value("E"), "%root%/x");
    EXPECT_EQ(Value("F"), byId); // a long device path is kept whole
    EXPECT_EQ(Value("G"), "/r/r");
    EXPECT_EQ(Value("J"), "Mixed Case");
    EXPECT_EQ(Value("LAST"), "");
    double n = 0;
    EXPECT_TRUE(GetParamNumber("H", n));
    EXPECT_EQ(n, 3.0);
    EXPECT_FALSE(GetParamNumber("I", n));
    EXPECT_FALSE(GetParamNumber("A", n)); // an empty text is no number
}

TEST_F(ParamFileTest, OversizedInputIsCutNotOverrun) {
    SetProgramPaths("/r/bin/p");
    std::string content;
    for (int i = 0; i < 50; ++i) {
        content += "[K" + std::to_string(i) + "]\n" + std::to_string(i) + "\n";
    }
    content += "[" + std::string(400, 'k') + "]" + std::string(400, 'd') + "\n" +
               std::string(5000, 'v') + "%ROOT%\n";
    std::string file = tree.Write("p.ini", content);
    ASSERT_TRUE(ReadParamFile(file));
    ASSERT_EQ(ParamEntries().size(), kMaxParamEntries);
    EXPECT_EQ(Value("K39"), "39");
    std::string v;
    EXPECT_FALSE(GetParam("K40", v));

    ResetParams();
    std::string longLines =
        tree.Write("q.ini", "[" + std::string(400, 'k') + "]" + std::string(400, 'd') + "\n" +
                                std::string(kMaxParamValue + 100, 'v') + "\n");
    ASSERT_TRUE(ReadParamFile(longLines));
    ASSERT_EQ(ParamEntries().size(), 1u);
    EXPECT_EQ(ParamEntries()[0].key.size(), kMaxParamKey);
    EXPECT_EQ(ParamEntries()[0].description.size(), kMaxParamDescription);
    EXPECT_EQ(ParamEntries()[0].value, std::string(kMaxParamValue, 'v'));
}

TEST_F(ParamFileTest, FailedAttemptReportsAndKeepsEntries) {
    std::string file = tree.Write("p.ini", "[COM]\n2\n");
    ASSERT_TRUE(ReadParamFile(file));
    EXPECT_FALSE(ReadParamFile(tree.path() + "/missing.ini"));
    EXPECT_EQ(ParamError(), "file error : " + tree.path() + "/missing.ini does not exist");
    EXPECT_FALSE(ReadParamFile(tree.path())); // a folder is not a parameter file
    EXPECT_EQ(Value("COM"), "2");
}

TEST(DecimalSyntax, AcceptsOnlyTheWholeNumberForm) {
    double v = 0;
    EXPECT_TRUE(ParseDecimal("  -12.5", v));
    EXPECT_EQ(v, -12.5);
    EXPECT_TRUE(ParseDecimal("+3", v));
    EXPECT_EQ(v, 3.0);
    EXPECT_TRUE(ParseDecimal("1.5e3", v));
    EXPECT_EQ(v, 1500.0);
    EXPECT_TRUE(ParseDecimal("2E-1", v));
    EXPECT_DOUBLE_EQ(v, 0.2);
    for (const char* bad : {"", " ", "3 ", "1,5", "1e", "1e+", "--1", "x", "1.2.3", "+", "."}) {
        EXPECT_FALSE(ParseDecimal(bad, v)) << '"' << bad << '"';
    }
}

} // namespace
