// mcload: the command-line loader. Saves an MC's EEPROM to an Intel HEX file, loads one back,
// identifies the board's loader and programs a PIC18 from a hex file, over the link that
// param.ini configures. The program (mcload_main.cpp) does the start-up and calls these; the
// tests call them directly on a link to the simulated MC.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace selector {

enum class McloadCommand { Help, Version, Identify, Read, Write, Flash };

struct McloadOptions {
    McloadCommand command = McloadCommand::Help;
    std::string file;
    std::uint16_t start = 0;
    std::uint16_t length = 256;
    // A source file with a PROCESSOR line for a dry run without a port (COM 0).
    std::string processorFile;
    // No banners and statistics.
    bool quiet = false;
    // The link for this run in place of the COM parameter; empty: COM.
    std::string port;
};

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr std::uint16_t kEepromSize = 256;

// args are the command-line arguments after the program name. False with the reason in error.
bool ParseMcloadArguments(const std::vector<std::string>& args, McloadOptions& options,
                          std::string& error);
const char* McloadUsage();
const char* McloadHelp();
const char* McloadVersion();

// Runs a transfer command on a started link and returns the exit code; messages of failures
// that are not fatal stops go to err. Fatal stops end the program through FatalError (a
// test's handler returns, and so does this with code 1). A transfer without a file name is
// refused with code 2 before anything reaches the link.
int RunMcloadCommand(const McloadOptions& options, std::ostream& err);

} // namespace selector
