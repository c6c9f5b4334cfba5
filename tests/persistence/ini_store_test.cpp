#include "persistence/errors.h"
#include "persistence/ini_file.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

using namespace persistence;
using testing_support::TempDir;

namespace {

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(IniStoreRead, NamesIgnoreCaseAndValuesReadBack) {
    TIniFile f = TIniFile::FromText("; comment before any section\n"
                                    "[TComboBox0]\n"
                                    "Text = CNT_A \n"
                                    "noequals\n"
                                    "[tcombobox0\\ITEMS]\n"
                                    "Line0=one\n"
                                    "Line1=\n"
                                    "[Empty]\n"
                                    "; only a comment\n");
    EXPECT_EQ(f.ReadString("tcombobox0", "TEXT"), "CNT_A");
    EXPECT_TRUE(f.ValueExists("TComboBox0\\Items", "line1"));
    EXPECT_EQ(f.ReadString("TComboBox0\\Items", "Line1", "def"), "");
    EXPECT_EQ(f.ReadString("TComboBox0\\Items", "Line2", "def"), "def");
    EXPECT_FALSE(f.ValueExists("TComboBox0", "noequals"));
    EXPECT_TRUE(f.SectionExists("TCOMBOBOX0"));
    EXPECT_FALSE(f.SectionExists("Empty")); // a section counts only with a key in it
    EXPECT_FALSE(f.SectionExists("Nowhere"));
    EXPECT_EQ(f.ReadSections(),
              (std::vector<std::string>{"TComboBox0", "tcombobox0\\ITEMS", "Empty"}));
    EXPECT_EQ(f.ReadSection("TComboBox0\\items"), (std::vector<std::string>{"Line0", "Line1"}));
    EXPECT_FALSE(f.Modified());
}

TEST(IniStoreRead, LineEndsBomQuotesAndRepeatedSections) {
    TIniFile f = TIniFile::FromText("\xEF\xBB\xBF[A]\r\n"
                                    "k1=\"  padded  \"\r\n"
                                    "k2='x'\r"
                                    "k3=\"half\n"
                                    "[B]\n"
                                    "k=b\n"
                                    "[a]\n"
                                    "k1=shadowed\n"
                                    "k4=second part\n");
    EXPECT_EQ(f.ReadString("A", "k1"), "  padded  ");
    EXPECT_EQ(f.ReadString("A", "k2"), "x");
    EXPECT_EQ(f.ReadString("A", "k3"), "\"half");
    // A section written twice by hand reads as one; the first holder of a key wins.
    EXPECT_EQ(f.ReadString("A", "k1"), "  padded  ");
    EXPECT_EQ(f.ReadString("A", "k4"), "second part");
    EXPECT_EQ(f.ReadSection("A"), (std::vector<std::string>{"k1", "k2", "k3", "k4"}));
}

TEST(IniStoreRead, LongValuesAreReadWhole) {
    const std::string v2047(2047, 'x');
    const std::string v5000 = std::string(4999, 'y') + "z";
    TIniFile f = TIniFile::FromText("[S]\nA=" + v2047 + "\nB=" + v5000 + "\n");
    EXPECT_EQ(f.ReadString("S", "A"), v2047);
    EXPECT_EQ(f.ReadString("S", "B"), v5000);
}

TEST(IniStoreWrite, ReplaceInPlaceAppendAndNewSectionAtTheEnd) {
    const std::string written = "; settings\n"
                                "[First]\n"
                                "a=1\n"
                                "  ; keep me\n"
                                "b=2\n"
                                "\n"
                                "[Second]\n"
                                "c=3\n";
    TIniFile f = TIniFile::FromText(written);
    EXPECT_EQ(f.Text(), written);

    f.WriteString("FIRST", "A", "one"); // replaced where it stands, its spelling kept
    f.WriteString("first", "z", "new"); // after the last key, before the blank line
    f.WriteInteger("Third", "n", -42);  // a new section at the end
    f.WriteString("second", "c", "  both ends  ");
    f.WriteString("Second", "d", "\"quoted\"");
    f.WriteString("Second", "e", "two\nlines");
    EXPECT_TRUE(f.Modified());
    EXPECT_EQ(f.Text(), "; settings\n"
                        "[First]\n"
                        "a=one\n"
                        "  ; keep me\n"
                        "b=2\n"
                        "z=new\n"
                        "\n"
                        "[Second]\n"
                        "c=\"  both ends  \"\n"
                        "d=\"\"quoted\"\"\n"
                        "e=two lines\n"
                        "[Third]\n"
                        "n=-42\n");
    TIniFile back = TIniFile::FromText(f.Text());
    EXPECT_EQ(back.ReadString("Second", "c"), "  both ends  ");
    EXPECT_EQ(back.ReadString("Second", "d"), "\"quoted\"");
    EXPECT_EQ(back.ReadInteger("Third", "N"), -42);
}

TEST(IniStoreWrite, EraseSectionAndDeleteKey) {
    TIniFile f = TIniFile::FromText("[X]\na=1\n[Y]\nb=2\n[x]\nc=3\n");
    f.EraseSection("x"); // every part of it
    EXPECT_EQ(f.Text(), "[Y]\nb=2\n");
    f.EraseSection("Missing");
    f.WriteString("X", "a", "again");
    f.DeleteKey("Y", "B");
    EXPECT_EQ(f.Text(), "[Y]\n[X]\na=again\n");
    EXPECT_FALSE(f.SectionExists("Y"));

    EXPECT_THROW(f.WriteString("S]", "k", "v"), std::invalid_argument);
    EXPECT_THROW(f.WriteString("S", "k=1", "v"), std::invalid_argument);
    EXPECT_THROW(f.WriteString("S", "[k", "v"), std::invalid_argument);
    EXPECT_THROW(f.WriteString("S", "", "v"), std::invalid_argument);
}

TEST(IniStoreWrite, CrLfFilesStayCrLf) {
    TIniFile f = TIniFile::FromText("[A]\r\nk=1\r\n");
    f.WriteString("B", "x", "y");
    EXPECT_EQ(f.Text(), "[A]\r\nk=1\r\n[B]\r\nx=y\r\n");
}

TEST(IniValueForms, Integers) {
    using ini_value::ParseInteger;
    EXPECT_EQ(ParseInteger("123", 0), 123);
    EXPECT_EQ(ParseInteger("-2147483648", 0), INT32_MIN);
    EXPECT_EQ(ParseInteger("+7", 0), 7);
    EXPECT_EQ(ParseInteger("$FF", 0), 255);
    EXPECT_EQ(ParseInteger("$f", 0), 15);
    EXPECT_EQ(ParseInteger("0x1A", 0), 26);
    EXPECT_EQ(ParseInteger("0X1a", 0), 26);
    EXPECT_EQ(ParseInteger("$FFFFFFFF", 0), -1);
    EXPECT_EQ(ParseInteger("$000000010", 0), 16);
    for (const char* bad : {"", "0x", "$", "12a", "1.5", "2147483648", "$100000000", "0xG", "- 1",
                            "+-1", "0b101", "x12", "1e3"}) {
        EXPECT_EQ(ParseInteger(bad, -9), -9) << bad;
    }
}

TEST(IniValueForms, FloatsDatesAndTimes) {
    using namespace ini_value;
    EXPECT_EQ(FormatFloat(0.1), "0.1");
    EXPECT_EQ(FormatFloat(-2.5e20), "-2.5e+20");
    EXPECT_EQ(FormatFloat(1.0 / 3.0), "0.333333333333333");
    EXPECT_EQ(ParseFloat("1,5", 0), 1.5);
    EXPECT_EQ(ParseFloat(" -3.25 ", 0), -3.25);
    EXPECT_EQ(ParseFloat("1.5x", 7), 7);
    EXPECT_EQ(ParseFloat("", 7), 7);
    EXPECT_EQ(ParseFloat("1e999", 7), 7);

    const double d = EncodeDate(2024, 2, 29);
    EXPECT_EQ(d, 45351);
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0);
    EXPECT_EQ(FormatDate(d), "2024-02-29");
    EXPECT_EQ(ParseDate("2024-02-29", -1), d);
    EXPECT_EQ(ParseDate("2023-02-29", -1), -1);
    EXPECT_EQ(ParseDate("2024-2-9", -1), EncodeDate(2024, 2, 9));

    const double t = EncodeTime(13, 5, 9, 0);
    EXPECT_EQ(FormatTime(t), "13:05:09");
    EXPECT_DOUBLE_EQ(ParseTime("13:05:09", -1), t);
    EXPECT_DOUBLE_EQ(ParseTime("13:05", -1), EncodeTime(13, 5, 0, 0));
    EXPECT_EQ(ParseTime("24:00:00", -1), -1);

    EXPECT_EQ(FormatDateTime(d), "2024-02-29"); // midnight: the time is left out
    EXPECT_EQ(FormatDateTime(d + t), "2024-02-29 13:05:09");
    EXPECT_DOUBLE_EQ(ParseDateTime("2024-02-29 13:05:09", -1), d + t);
    EXPECT_EQ(ParseDateTime("2024-02-29", -1), d);
    // Before the epoch the day counts back and the time still forward.
    const double early = EncodeDate(1899, 12, 29) - EncodeTime(6, 0, 0, 0);
    EXPECT_EQ(FormatDateTime(early), "1899-12-29 06:00:00");
    EXPECT_DOUBLE_EQ(ParseDateTime("1899-12-29 06:00:00", 0), early);
    EXPECT_EQ(FormatDate(NAN), "");
    EXPECT_EQ(ParseDateTime("yesterday", 0), 0);
}

TEST(IniStoreFile, WrittenWholeThroughATemporaryFile) {
    TempDir dir;
    const std::string path = dir.Write("s.dsw", "[Keep]\nx=1\n");
    ::chmod(path.c_str(), 0640);
    {
        TIniFile f(path);
        EXPECT_EQ(f.ReadInteger("keep", "X"), 1);
        f.WriteString("New", "k", "v");
        f.UpdateFile();
        EXPECT_FALSE(f.Modified());
    }
    EXPECT_EQ(Slurp(path), "[Keep]\nx=1\n[New]\nk=v\n");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    // Nothing else is left in the folder: the temporary file became the file.
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1);

    // Through a link the linked file is replaced and the link stays.
    const std::string link = dir.path() + "/link.dsw";
    std::filesystem::create_symlink(path, link);
    TIniFile viaLink(link);
    viaLink.WriteInteger("Keep", "x", 2);
    viaLink.UpdateFile();
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(Slurp(path), "[Keep]\nx=2\n[New]\nk=v\n");
}

TEST(IniStoreFile, RefusedWritesRaiseAndLoseNothing) {
    TempDir dir;
    const std::string missing = dir.path() + "/no/such/folder/s.dsw";
    TIniFile f(missing);
    EXPECT_FALSE(f.SectionExists("A"));
    f.WriteString("A", "k", "v");
    try {
        f.UpdateFile();
        FAIL() << "a file in a missing folder must not be written";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + missing);
    }

    // A directory in the file's place reads as empty and is never replaced.
    const std::string folder = dir.MakeDir("taken.dsw");
    TIniFile d(folder);
    d.WriteString("A", "k", "v");
    EXPECT_THROW(d.UpdateFile(), EIniFileException);
    EXPECT_TRUE(std::filesystem::is_directory(folder));

    // A file that exists but cannot be read is not overwritten with what little we know.
    if (::geteuid() != 0) {
        const std::string locked = dir.Write("locked.dsw", "[Precious]\nk=1\n");
        ::chmod(locked.c_str(), 0200);
        TIniFile l(locked);
        l.WriteString("A", "k", "v");
        EXPECT_THROW(l.UpdateFile(), EIniFileException);
        ::chmod(locked.c_str(), 0600);
        EXPECT_EQ(Slurp(locked), "[Precious]\nk=1\n");
    }

    // A file made read-only is refused by its mode bits, for root as for anyone, also
    // through a link; its text and mode stay.
    const std::string readOnly = dir.Write("ro.dsw", "[Precious]\nk=1\n");
    const std::string roLink = dir.path() + "/ro-link.dsw";
    std::filesystem::create_symlink(readOnly, roLink);
    for (const mode_t mode : {0444, 0400, 0500}) {
        ::chmod(readOnly.c_str(), mode);
        for (const std::string& name : {readOnly, roLink}) {
            TIniFile r(name);
            r.WriteString("Precious", "k", "2");
            try {
                r.UpdateFile();
                ADD_FAILURE() << "a read-only file was replaced: " << name << std::oct << mode;
            } catch (const EIniFileException& e) {
                EXPECT_EQ(std::string(e.what()), "Unable to write to " + name);
            }
        }
        struct stat st {};
        ASSERT_EQ(::stat(readOnly.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, mode);
    }
    ::chmod(readOnly.c_str(), 0600);
    EXPECT_EQ(Slurp(readOnly), "[Precious]\nk=1\n");

    // An unchanged store writes nothing, so it cannot fail.
    TIniFile untouched(missing);
    EXPECT_NO_THROW(untouched.UpdateFile());
}

} // namespace
