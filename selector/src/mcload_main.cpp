// mcload: EEPROM images, loader identification and Intel HEX transfers from the command line.
#include "foundation/fatal.h"
#include "link/link_port.h"
#include "mcu/startup.h"
#include "selector/mcload.h"
#include "selector/mcsys.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace selector;
    std::vector<std::string> args(argv + 1, argv + argc);
    McloadOptions options;
    std::string error;
    if (!ParseMcloadArguments(args, options, error)) {
        std::cerr << "mcload: " << error << '\n' << McloadUsage();
        return kExitUsage;
    }
    if (options.command == McloadCommand::Help) {
        std::cout << McloadUsage() << McloadHelp();
        return kExitOk;
    }
    if (options.command == McloadCommand::Version) {
        std::cout << McloadVersion() << '\n';
        return kExitOk;
    }

    // Start-up as the selector program's, without applid.inc.
    mcu::StartOptions start;
    start.kind = mcu::ProgramKind::Selector;
    start.port = options.port;
    start.applIds = false;
    mcu::StartModules(start);
    InitMcSys();
    // The default fatal handler prints the message on standard error and exits with code 1.
    if (!comlink::StartLink() || comlink::LinkDown()) {
        std::string reason = comlink::LinkError();
        foundation::FatalError("COM could not be opened" +
                               (reason.empty() ? std::string() : " (" + reason + ")"));
        return kExitFailed;
    }
    const int code = RunMcloadCommand(options, std::cerr);
    comlink::CloseLink();
    return code;
}
