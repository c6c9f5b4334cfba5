#include "foundation/params.h"
#include "foundation/text_file.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

using namespace foundation;
using testing_support::ParamGuard;
using testing_support::TempDir;

namespace {

class TextFileTest : public ::testing::Test {
protected:
    ParamGuard guard;
    TempDir dir;
    TTextFile tf;

    void Open(const std::string& content) {
        ASSERT_TRUE(OpenTextFile(tf, dir.Write("f.txt", content)));
    }
    std::vector<std::pair<std::string, bool>> Tokens() {
        std::vector<std::pair<std::string, bool>> out;
        std::string token;
        for (;;) {
            bool ok = NextToken(tf, token);
            if (!ok && token.empty()) {
                return out;
            }
            out.emplace_back(token, ok);
        }
    }
    void TearDown() override { CloseTextFile(tf); }
};

using Toks = std::vector<std::pair<std::string, bool>>;

TEST_F(TextFileTest, OpenReadsTheFirstLineAndMissingFilesAreNamed) {
    Open("first line\r\nsecond\n");
    EXPECT_EQ(tf.line, "first line");
    EXPECT_EQ(tf.lineNumber, 1);
    EXPECT_EQ(tf.position, 1u);
    EXPECT_EQ(tf.errorText, "");
    ASSERT_TRUE(NextLine(tf));
    EXPECT_EQ(tf.line, "second");
    EXPECT_EQ(tf.lineNumber, 2);
    EXPECT_FALSE(NextLine(tf));
    EXPECT_EQ(tf.line, "second");
    EXPECT_EQ(tf.lineNumber, 2);

    TTextFile missing;
    EXPECT_FALSE(OpenTextFile(missing, "nothere.adr"));
    EXPECT_EQ(missing.errorText, "file nothere.adr not found");
}

TEST_F(TextFileTest, TokensSeparatorsCommentsAndQuotes) {
    Open("abc ;rest");
    EXPECT_EQ(Tokens(), (Toks{{"abc", true}, {";rest", false}}));

    Open(" \t  ");
    std::string token = "x";
    EXPECT_FALSE(NextToken(tf, token));
    EXPECT_EQ(token, "");

    Open("a\tb\x7f"
         "c\xe4"
         "d \"two words\" e");
    EXPECT_EQ(Tokens(), (Toks{{"a", true},
                              {"b", true},
                              {"c", true},
                              {"d", true},
                              {"\"two words\"", true},
                              {"e", true}}));

    Open("x \"open to the end");
    EXPECT_EQ(Tokens(), (Toks{{"x", true}, {"\"open to the end", true}}));

    Open("one\ntwo");
    EXPECT_EQ(Tokens(), (Toks{{"one", true}})); // tokens never run into the next line
    ASSERT_TRUE(NextLine(tf));
    EXPECT_EQ(Tokens(), (Toks{{"two", true}}));
}

TEST_F(TextFileTest, NumbersInTheMcForms) {
    Open("1,5 $1F $FFFFFFFF -2e2 1.5x ;c");
    double v = 0;
    ASSERT_TRUE(NextNumber(tf, v));
    EXPECT_EQ(v, 1.5);
    ASSERT_TRUE(NextNumber(tf, v));
    EXPECT_EQ(v, 31);
    ASSERT_TRUE(NextNumber(tf, v));
    EXPECT_EQ(v, -1);
    ASSERT_TRUE(NextNumber(tf, v));
    EXPECT_EQ(v, -200);
    EXPECT_FALSE(NextNumber(tf, v));
    EXPECT_EQ(tf.errorText, "Error in " + tf.fileName + " : invalid numeric format 1.5x");
    EXPECT_FALSE(NextNumber(tf, v));
    EXPECT_EQ(tf.errorText, "Error in " + tf.fileName + " : parameter missing");
}

TEST_F(TextFileTest, VeryLongLinesAreReadWhole) {
    std::string longLine;
    for (int i = 0; i < 300; ++i) {
        longLine += "t" + std::to_string(i) + " ";
    }
    Open(longLine + "\nnext");
    auto tokens = Tokens();
    ASSERT_EQ(tokens.size(), 300u);
    EXPECT_EQ(tokens.back().first, "t299");
    ASSERT_TRUE(NextLine(tf));
    EXPECT_EQ(tf.line, "next");
}

TEST_F(TextFileTest, BareNamesAreFoundAlongFilePath) {
    TempDir appl;
    appl.Write("sub/deep/hidden.adr", "");
    std::string inSub = appl.Write("sub/found.adr", "VAR 1\n");
    std::string param = dir.Write("param.ini", "[FILE_PATH]\n/nonexistent ; " + appl.path() + "\n");
    ASSERT_TRUE(ReadParamFile(param));
    ASSERT_TRUE(OpenTextFile(tf, "found.adr"));
    EXPECT_EQ(tf.fileName, inSub);
    EXPECT_EQ(tf.line, "VAR 1");

    TTextFile deep;
    EXPECT_FALSE(OpenTextFile(deep, "hidden.adr")); // only one level of subfolders
    EXPECT_EQ(deep.errorText, "file hidden.adr not found");
}

} // namespace
