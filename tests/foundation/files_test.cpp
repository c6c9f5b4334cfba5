#include "foundation/params.h"
#include "foundation/text.h"
#include "foundation/text_file.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

using namespace foundation;
using testing_support::ParamGuard;
using testing_support::ScopedCwd;
using testing_support::TempDir;

namespace {

using Fields = std::vector<std::string>;

TEST(SplitText, FieldsTrimmingAndQuotes) {
    EXPECT_EQ(SplitText("a; b;;c", ';', true, false), (Fields{"a", "b", "", "c"}));
    EXPECT_EQ(SplitText("a;", ';', true, false), (Fields{"a"}));
    EXPECT_EQ(SplitText("", ';', true, false), Fields{});
    EXPECT_EQ(SplitText(" a ; b ", ';', false, false), (Fields{" a ", " b "}));
    EXPECT_EQ(SplitText("\"x;y\";z", ';', false, true), (Fields{"x;y", "z"}));
    EXPECT_EQ(SplitText("\"x;y\";z", ';', false, false), (Fields{"\"x", "y\"", "z"}));
    // A quoted field that begins with the separator loses it.
    EXPECT_EQ(SplitText("\";a\";b", ';', false, true), (Fields{"a", "b"}));
}

TEST(SplitFileName, FolderNameAndExtension) {
    std::string folder, name, ext;
    SplitFileName("/home/u/appl/motor.v2.adr", folder, name, ext);
    EXPECT_EQ(folder, "/home/u/appl/");
    EXPECT_EQ(name, "motor");
    EXPECT_EQ(ext, ".v2.adr");
    SplitFileName("plain", folder, name, ext);
    EXPECT_EQ(folder, "");
    EXPECT_EQ(name, "plain");
    EXPECT_EQ(ext, "");
}

class FilePathTest : public ::testing::Test {
protected:
    ParamGuard guard;
    TempDir cfg;
    TempDir a;
    TempDir b;

    void SetFilePath(const std::string& value) {
        ASSERT_TRUE(ReadParamFile(cfg.Write("p.ini", "[FILE_PATH]\n" + value + "\n")));
    }
};

TEST_F(FilePathTest, FoldersAreTriedInOrderWithOneLevelOfSubfolders) {
    a.Write("x/deeper/appl.adr", "");
    std::string inB = b.Write("appl.adr", "");
    std::string inA = a.Write("sub/appl.adr", "");
    SetFilePath(a.path() + ";" + b.path());

    std::string name = "appl.adr";
    ResolveFilePath(name);
    EXPECT_EQ(name, inA);

    name = "other.adr";
    ResolveFilePath(name);
    EXPECT_EQ(name, "other.adr");

    a.Write("appl.adr", "");
    name = "appl.adr";
    ResolveFilePath(name);
    EXPECT_EQ(name, a.path() + "/appl.adr"); // the folder itself before its subfolders

    name = "sub/appl.adr"; // a name with a folder is never searched
    ResolveFilePath(name);
    EXPECT_EQ(name, "sub/appl.adr");
}

TEST_F(FilePathTest, FolderWithTrailingSeparatorAndUnlistableFolders) {
    std::string inB = b.Write("appl.adr", "");
    SetFilePath("/no/such/folder;" + b.path() + "/");
    std::string name = "appl.adr";
    ResolveFilePath(name);
    EXPECT_EQ(name, b.path() + "/appl.adr");

    std::string n2 = "appl.adr";
    EXPECT_FALSE(FindFileInFolder(n2, "/no/such/folder"));
    EXPECT_EQ(n2, "appl.adr");
}

TEST_F(FilePathTest, CurrentDirectoryWinsOnceAnyListedFolderExists) {
    b.Write("appl.adr", "");
    TempDir work;
    work.Write("appl.adr", "");
    ScopedCwd cwd(work.path());
    SetFilePath(b.path());
    std::string name = "appl.adr";
    ResolveFilePath(name);
    EXPECT_EQ(name, "appl.adr");
}

TEST_F(FilePathTest, LetterCaseIsIgnoredOnlyWhenNoFolderHasTheExactName) {
    a.Write("Appl.ADR", "");
    std::string exactInB = b.Write("sub/APPL.ADR", "");
    SetFilePath(a.path() + ";" + b.path());
    struct Case {
        std::string name;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"APPL.ADR", exactInB},               // the exact name in a later folder comes first
        {"appl.adr", a.path() + "/Appl.ADR"}, // else the first folder with a case variant
        {"APPL", "APPL"},                     // a longer name is not a case variant
        {"other.adr", "other.adr"},
    };
    for (const auto& c : cases) {
        std::string name = c.name;
        ResolveFilePath(name);
        EXPECT_EQ(name, c.expected) << c.name;
    }

    // Several variants in one place: the first in name order; the folder itself before its
    // subfolders; a folder of that name is no file.
    a.MakeDir("motor");
    std::string inSub = a.Write("a/MOTOR", "");
    std::string name = "Motor";
    ResolveFilePath(name);
    EXPECT_EQ(name, inSub);
    a.Write("motor.inc", "");
    a.Write("MOTOR.inc", "");
    a.Write("Motor.INC", "");
    name = "motor.INC";
    ResolveFilePath(name);
    EXPECT_EQ(name, a.path() + "/MOTOR.inc");
}

TEST_F(FilePathTest, PathsFindTheirFileIgnoringLetterCase) {
    std::string upper = a.Write("DRIVE.ADR.CVT", "");
    a.Write("drive.adr.cvt.old", "");
    std::string path = a.path() + "/Drive.adr.cvt";
    EXPECT_TRUE(FindFileIgnoringCase(path));
    EXPECT_EQ(path, upper);
    EXPECT_TRUE(FindFileIgnoringCase(path)); // the exact file stays as it is
    EXPECT_EQ(path, upper);
    for (std::string missing :
         {a.path() + "/none.cvt", std::string("/no/such/x"), std::string("bare")}) {
        const std::string before = missing;
        EXPECT_FALSE(FindFileIgnoringCase(missing)) << before;
        EXPECT_EQ(missing, before);
    }
}

TEST(FilePathAbsent, WithoutFilePathNamesStayBare) {
    ParamGuard guard;
    std::string name = "appl.adr";
    ResolveFilePath(name);
    EXPECT_EQ(name, "appl.adr");
}

} // namespace
