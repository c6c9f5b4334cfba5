// mcparams: shows which parameter file an installation finds and what it says, the port the
// link makes of COM, and where bare file names given as arguments resolve to; with --ports,
// the serial devices and FTDI adapters of this machine that COM can name. A first aid for a
// bench set-up that does not find its board or its MC application files.
#include "foundation/params.h"
#include "foundation/text_file.h"
#include "link/libftdi_library.h"
#include "link/link_port.h"
#include "link/port_list.h"
#include "link/serial_library.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// COM as the link takes it, never a value the link would not use.
std::string DescribeCom() {
    std::string text;
    const bool found = foundation::GetParam("COM", text);
    const comlink::PortChoice choice = comlink::ChoosePort(found, text);
    const unsigned port = choice.portNumber;
    if (!choice.devicePath.empty()) {
        return choice.devicePath + " (a device file, used as port 1)";
    }
    std::string what;
    if (port == 0) {
        what = "no port";
    } else if (port >= comlink::kFirstUsbPort) {
        what = "FTDI adapter " + std::to_string(port - comlink::kFirstUsbPort) + " through libftdi";
    } else {
        what = comlink::ComDevicePath(port);
    }
    if (!choice.reason.empty()) {
        what += "; " + choice.reason;
    }
    return std::to_string(port) + " (" + what + ")";
}

std::string LatencyText(const comlink::SerialPortInfo& port) {
    if (port.latencyTimerMs < 0) {
        return "; no latency timer in its driver";
    }
    std::string text = "; latency timer " + std::to_string(port.latencyTimerMs) + " ms";
    if (comlink::LowLatencyInForce(port.latencyTimerMs)) {
        return text + ": low latency in force";
    }
    return text + ": low latency NOT in force (the link asks for it when it opens the port; "
                  "see Configuration in README.md when this stays)";
}

int ListPorts() {
    std::printf("serial devices (COM = the path; /dev/serial/by-id/ names stay the same "
                "wherever the adapter is plugged in):\n");
    const auto ports = comlink::ListSerialPorts();
    for (const auto& port : ports) {
        if (!port.target.empty()) {
            std::printf("  %s -> %s\n", port.path.c_str(), port.target.c_str());
            continue;
        }
        std::string line = "  " + port.path;
        if (port.comNumber != 0) {
            line += " (COM = " + std::to_string(port.comNumber) + ")";
        }
        line += port.accessible ? ": may be opened" : ": " + port.accessProblem;
        if (port.usb) {
            line += LatencyText(port);
        }
        std::printf("%s\n", line.c_str());
    }
    if (ports.empty()) {
        std::printf("  none found\n");
    }

    std::printf("FTDI adapters through libftdi (the kernel's driver is set aside while the link "
                "holds one):\n");
    std::vector<comlink::FtdiAdapterInfo> adapters;
    std::string error;
    if (!comlink::ListFtdiAdapters(adapters, error)) {
        std::printf("  USB cannot be listed: %s\n", error.c_str());
        return 0;
    }
    for (std::size_t i = 0; i < adapters.size(); ++i) {
        const auto& a = adapters[i];
        std::string line = "  COM = " + std::to_string(comlink::kFirstUsbPort + i) + ": ";
        if (!a.problem.empty()) {
            line += "an adapter whose names cannot be read (" + a.problem + ")";
        } else {
            line += a.manufacturer + " " + a.description;
            if (!a.serial.empty()) {
                line += ", serial number " + a.serial;
            }
        }
        std::printf("%s\n", line.c_str());
    }
    if (adapters.empty()) {
        std::printf("  none found\n");
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    using namespace foundation;
    if (argc > 1 && std::strcmp(argv[1], "--ports") == 0) {
        return ListPorts();
    }
    if (argc > 1 && std::strcmp(argv[1], "--help") == 0) {
        std::printf("usage: mcparams [file ...]   the parameter file, COM and where files "
                    "resolve to\n       mcparams --ports      the ports COM can name\n");
        return 0;
    }
    InitProgramPaths();
    LoadParamFile();
    const std::string& file = LoadedParamFile();
    std::printf("root folder: %s\n", Paths().rootFolder.c_str());
    if (file.empty()) {
        std::printf("parameter file: none (%s)\n", ParamError().c_str());
    } else {
        std::printf("parameter file: %s\n", file.c_str());
    }
    std::printf("COM: %s\n", DescribeCom().c_str());
    for (const char* key : {"COM", "COM_DEBUG", "FILE_PATH"}) {
        std::string value;
        if (GetParam(key, value)) {
            std::printf("%s = \"%s\"\n", key, value.c_str());
        } else {
            std::printf("%s absent\n", key);
        }
    }
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        ResolveFilePath(name);
        std::printf("%s -> %s\n", argv[i], name.c_str());
    }
    return 0;
}
