// mcctl: the script service without a window. It opens the link param.ini (or --port) names as
// mcrec does, runs the acquisition engine on a thread and serves the service's lines on standard
// input and output or on a Unix socket; get, set and list are one request each.
#pragma once

#include <atomic>
#include <ostream>
#include <string>
#include <vector>

namespace mcctl {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

enum class Mode { Serve, Get, Set, List, Find, Help };

struct Options {
    Mode mode = Mode::Serve;
    std::string listen; // serve on this Unix socket instead of standard input/output
    std::vector<std::string> names;
    std::string value;
    std::string port;
};

bool ParseArguments(const std::vector<std::string>& args, Options& options, std::string& error);
const char* Usage();
const char* Help();

// Runs the mode after the start-up (mcu::StartModules). Results to out, messages to err.
int Run(const Options& options, std::ostream& out, std::ostream& err);
// Ends a serving mcctl (async-signal-safe).
void RequestStop();

} // namespace mcctl
