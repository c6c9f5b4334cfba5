// mcrec: records MC variables to a CSV file without a window, over the link param.ini
// configures, with the scope's identification, name resolution and acquisition engine. The
// program (mcrec_main.cpp) does the start-up and the signals and calls these.
#pragma once

#include "acquisition/variable_table.h"

#include <atomic>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace recorder {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
// With --x: as many trace channels as the scope has. Without: the engine's watch list reads
// them all in one scan, as many as a recording has columns.
inline constexpr std::size_t kMaxXNames = 3;
inline constexpr std::size_t kMaxNames = 255;
// With no successful read for this long the link counts as lost and the recording ends.
inline constexpr std::int64_t kGiveUpUs = 5'000'000;

struct McrecOptions {
    bool help = false;
    bool list = false;
    std::vector<std::string> names;
    std::string x;
    double durationS = 0;      // 0: until stopped
    std::uint64_t samples = 0; // rows; 0: no limit
    std::string output = "-";
    // The link for this run in place of the COM parameter; empty: COM.
    std::string port;
};

// args are the command-line arguments after the program name. False with the reason in error.
bool ParseMcrecArguments(const std::vector<std::string>& args, McrecOptions& options,
                         std::string& error);
const char* McrecUsage();
const char* McrecHelp();

// Up to five names of the table nearest to name (letter case ignored): those that differ by at
// most two edits, or that begin or end with it.
std::vector<std::string> CloseMatches(const std::string& name,
                                      const std::vector<std::string>& table);

// The table as --list prints it: name, address, bit, unit, type, one variable a line, link
// keywords left out; a variable the link cannot reach says why after its type.
void ListVariables(const acq::VariableTable& table, std::ostream& out);

// Opens the link and the application and records (or lists the variables) until the duration
// or the row count is reached, stop becomes true, the link is lost or a write fails. Rows go to
// options.output, the table to out, messages to err; progress (rows, rate, elapsed) on err
// when progress is set. Returns the exit code.
int RunMcrec(const McrecOptions& options, std::ostream& out, std::ostream& err,
             const std::atomic<bool>& stop, bool progress);

} // namespace recorder
