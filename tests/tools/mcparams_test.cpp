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
    EXPECT_NE(out.find("COM: 3 (/dev/ttyS2)\n"), std::string::npos) << out;
    EXPECT_NE(out.find("COM_DEBUG = \"\"\n"), std::string::npos) << out;
    EXPECT_NE(out.find("FILE_PATH = \"" + t.path() + "/appl\"\n"), std::string::npos) << out;
    EXPECT_NE(out.find("motor.adr -> " + adr + "\n"), std::string::npos) << out;
}

// COM as the link takes it, from an installation whose bin folder is not the last one
// (~/bin/mc/): its root is ~/mc, not the glued ~/mc's neighbours.
TEST(Installation, ComIsShownAsTheLinkWillUseIt) {
    struct Case {
        std::string com;
        std::string shown;
    };
    const std::string byId =
        "/dev/serial/by-id/usb-Silicon_Labs_CP2102_USB_to_UART_00012-if00-port0";
    for (const auto& c :
         {Case{byId, byId + " (a device file, used as port 1)"},
          Case{"256", "256 (FTDI adapter 0 through libftdi)"}, Case{"0", "0 (no port)"},
          Case{"70000", "1 (/dev/ttyS0; default, \"70000\" is outside 0..65535)"},
          Case{"COM3", "1 (/dev/ttyS0; default, \"COM3\" is not a number)"}}) {
        testing_support::TempDir home;
        std::filesystem::create_directories(home.path() + "/bin/mc");
        std::filesystem::copy_file(MCPARAMS_PATH, home.path() + "/bin/mc/mcparams");
        home.Write("mc/config/param.ini", "[COM]\n" + c.com + "\n");
        std::string out = RunCommand(home.path() + "/bin/mc/mcparams");
        EXPECT_NE(out.find("root folder: " + home.path() + "/mc\n"), std::string::npos) << out;
        EXPECT_NE(out.find("COM: " + c.shown + "\n"), std::string::npos) << out;
    }
}

TEST(Installation, PortsListsSerialDevicesAndFtdiAdapters) {
    std::string out = RunCommand(std::string(MCPARAMS_PATH) + " --ports");
    EXPECT_EQ(out.rfind("serial devices", 0), 0u) << out;
    EXPECT_NE(out.find("\nFTDI adapters through libftdi"), std::string::npos) << out;
}

} // namespace
