// mcctl: the script service from the command line, without a window.
#include "foundation/stop_signals.h"
#include "mcctl/mcctl.h"
#include "mcu/startup.h"

#include <iostream>
#include <string>
#include <vector>

namespace {

void OnStopSignal(int) {
    mcctl::RequestStop();
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    mcctl::Options options;
    std::string error;
    if (!mcctl::ParseArguments(args, options, error)) {
        std::cerr << "mcctl: " << error << '\n' << mcctl::Usage();
        return mcctl::kExitUsage;
    }
    if (options.mode == mcctl::Mode::Help) {
        std::cout << mcctl::Usage() << mcctl::Help();
        return mcctl::kExitOk;
    }
    if (options.mode == mcctl::Mode::Find) {
        return mcctl::Run(options, std::cout, std::cerr);
    }
    foundation::InstallStopSignals(OnStopSignal);
    mcu::StartOptions start;
    start.port = options.port;
    mcu::StartModules(start);
    return mcctl::Run(options, std::cout, std::cerr);
}
