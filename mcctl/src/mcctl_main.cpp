// mcctl: the script service from the command line, without a window.
#include "mcctl/mcctl.h"
#include "mcu/startup.h"

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

namespace {

void OnStopSignal(int) {
    mcctl::RequestStop();
}

void InstallStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction previous {};
        sigaction(signal, nullptr, &previous);
        if (previous.sa_handler != SIG_IGN) {
            sigaction(signal, &action, nullptr);
        }
    }
    // A client gone away is an error of one write, never the service's end.
    std::signal(SIGPIPE, SIG_IGN);
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
    InstallStopSignals();
    mcu::StartOptions start;
    start.port = options.port;
    mcu::StartModules(start);
    return mcctl::Run(options, std::cout, std::cerr);
}
