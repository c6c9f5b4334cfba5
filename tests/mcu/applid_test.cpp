#include "foundation/params.h"
#include "mcu/appl.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

using namespace mcu;
using testing_support::FatalRecorder;
using testing_support::ParamGuard;
using testing_support::TempDir;

namespace {

TEST(ApplIdLines, NameNumberAndCommentRules) {
    ApplIdNames t;
    ApplyApplIdLine("APPL_MOTOR EQU 12", t);
    EXPECT_EQ(t[12], "MOTOR");
    ApplyApplIdLine("APPL_TRAIL EQU 13 ", t); // a trailing blank leaves no number
    EXPECT_EQ(t[13], "");
    ApplyApplIdLine("APPL_TRAIL EQU 14 ;comment", t); // nor does a blank before a comment
    EXPECT_EQ(t[14], "");
    ApplyApplIdLine("APPL_DRIVE EQU 15;drive unit", t);
    EXPECT_EQ(t[15], "DRIVE");
    ApplyApplIdLine("NOUNDERSCORE EQU 40", t);
    EXPECT_EQ(t[40], "NOUNDERS"); // no "_": the name starts the line, cut to 8
    ApplyApplIdLine("APPL_A\tEQU\t41", t);
    EXPECT_EQ(t[41], "A"); // a tab ends the name and separates the number
    ApplyApplIdLine("X_ EQU 42", t);
    EXPECT_EQ(t[42], " EQU"); // the first character after "_" is taken even when blank
    ApplyApplIdLine("APPL_OLD EQU 20", t);
    ApplyApplIdLine("APPL_NEW EQU 20", t);
    EXPECT_EQ(t[20], "NEW");
    ApplyApplIdLine("A17", t); // no blank: the number is the line after its first character
    EXPECT_EQ(t[17], "A17");
    ApplyApplIdLine("Q7", t);
    EXPECT_EQ(t[7], "Q7");

    ApplIdNames before = t;
    for (const char* ignored : {"APPL_BIG EQU 300", "APPL_NEG EQU -1", "APPL_HEX EQU $10",
                                "APPL_X EQU 12x", "", ";only a comment", "_", "APPL_E EQU ", "5"}) {
        ApplyApplIdLine(ignored, t);
    }
    EXPECT_EQ(t, before);
}

TEST(ApplIdFile, LoadsAlongFilePathAndMissingFileIsFatal) {
    ParamGuard guard;
    TempDir cfg;
    ASSERT_TRUE(foundation::ReadParamFile(
        cfg.Write("p.ini", "[FILE_PATH]\n" + std::string(MCU_DATA_DIR) + "\n")));
    ApplIdTable()[99] = "STALE";
    LoadApplIdTable();
    EXPECT_EQ(ApplIdTable()[12], "MOTOR");
    EXPECT_EQ(ApplIdTable()[133], "DRIVEUNI");
    EXPECT_EQ(ApplIdTable()[7], "SHORT");
    EXPECT_EQ(ApplIdTable()[13], "");
    EXPECT_EQ(ApplIdTable()[20], "NEW");
    EXPECT_EQ(ApplIdTable()[99], "");

    foundation::ResetParams();
    foundation::SetSystemParamFile(guard.systemFile());
    TempDir empty;
    testing_support::ScopedCwd cwd(empty.path());
    FatalRecorder fatal;
    LoadApplIdTable();
    ASSERT_EQ(fatal.messages().size(), 1u);
    EXPECT_EQ(fatal.messages()[0], "applid file applid.inc not found");
    EXPECT_EQ(ApplIdTable()[12], "");
}

} // namespace
