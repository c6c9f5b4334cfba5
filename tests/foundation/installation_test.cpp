// The parameter tool copied into an installation tree finds that tree's parameter file
// through its own real path, as the programs do at start-up.
#include "temp_dir.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace {

std::string RunCommand(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) {
        return out;
    }
    std::array<char, 256> buf{};
    while (fgets(buf.data(), buf.size(), p) != nullptr) {
        out += buf.data();
    }
    pclose(p);
    return out;
}

TEST(Installation, ProgramInBinFindsConfigParamIniAndResolvesAlongFilePath) {
    testing_support::TempDir t;
    std::filesystem::create_directories(t.path() + "/bin");
    std::filesystem::copy_file(MCPARAMS_PATH, t.path() + "/bin/mcparams");
    t.Write("config/param.ini", "[COM] port\n3\n[COM_DEBUG]\n#\n[FILE_PATH]\n%ROOT%/appl\n");
    std::string adr = t.Write("appl/motor/motor.adr", "SPEED $30\n");
    testing_support::TempDir elsewhere; // a working folder that holds nothing

    std::string out =
        RunCommand("cd " + elsewhere.path() + " && " + t.path() + "/bin/mcparams motor.adr");
    EXPECT_NE(out.find("parameter file: " + t.path() + "/config/param.ini\n"), std::string::npos)
        << out;
    EXPECT_NE(out.find("COM: 3\n"), std::string::npos) << out;
    EXPECT_NE(out.find("COM_DEBUG = \"\"\n"), std::string::npos) << out;
    EXPECT_NE(out.find("FILE_PATH = \"" + t.path() + "/appl\"\n"), std::string::npos) << out;
    EXPECT_NE(out.find("motor.adr -> " + adr + "\n"), std::string::npos) << out;
}

} // namespace
