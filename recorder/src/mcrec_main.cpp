// mcrec: MC variables to a CSV file from the command line, without a window.
#include "foundation/stop_signals.h"
#include "link/link_port.h"
#include "mcu/startup.h"
#include "recorder/mcrec.h"

#include <atomic>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::atomic<bool> stopRequested{false};

// Only what is safe in a handler: a flag, and the link's stop, which is a flag and a write to
// an event counter; the main loop then ends the recording and closes the file.
void OnStopSignal(int) {
    stopRequested.store(true);
    comlink::RequestLinkStop();
}

} // namespace

int main(int argc, char** argv) {
    using namespace recorder;
    std::vector<std::string> args(argv + 1, argv + argc);
    McrecOptions options;
    std::string error;
    if (!ParseMcrecArguments(args, options, error)) {
        std::cerr << "mcrec: " << error << '\n' << McrecUsage();
        return kExitUsage;
    }
    if (options.help) {
        std::cout << McrecUsage() << McrecHelp();
        return kExitOk;
    }
    // The link's stop state exists before a handler can touch it.
    comlink::LinkStopRequested();
    foundation::InstallStopSignals(OnStopSignal);

    // Start-up as the scope's; a missing applid.inc ends the program through the default fatal
    // handler (the message on standard error, exit code 1).
    mcu::StartOptions start;
    start.port = options.port;
    mcu::StartModules(start);
    return RunMcrec(options, std::cout, std::cerr, stopRequested, ::isatty(STDERR_FILENO) == 1);
}
