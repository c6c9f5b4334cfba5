#include "link/port_list.h"

#include "link/posix_serial.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace comlink {

namespace {

namespace fs = std::filesystem;

// "ttyUSB12" with prefix "ttyUSB" gives 12; -1 when the rest is not a number.
long NumberAfter(const std::string& name, const std::string& prefix) {
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) {
        return -1;
    }
    long n = -1;
    const char* first = name.data() + prefix.size();
    const char* last = name.data() + name.size();
    auto [end, ec] = std::from_chars(first, last, n);
    return ec == std::errc() && end == last ? n : -1;
}

// The first line of a sysfs attribute as a number, or fallback.
long ReadNumber(const fs::path& file, long fallback) {
    std::ifstream in(file);
    long n = fallback;
    return in >> n ? n : fallback;
}

void CheckAccess(SerialPortInfo& info) {
    info.accessible = ::access(info.path.c_str(), R_OK | W_OK) == 0;
    if (!info.accessible) {
        info.accessProblem = OpenFailureText(info.path, errno);
    }
}

// The device node's own name (ttyUSB0) for a path in devRoot.
int LatencyOf(const std::string& sysRoot, const std::string& deviceName) {
    return static_cast<int>(
        ReadNumber(fs::path(sysRoot) / "class/tty" / deviceName / "device/latency_timer", -1));
}

} // namespace

std::vector<SerialPortInfo> ListSerialPorts(const std::string& devRoot,
                                            const std::string& sysRoot) {
    std::vector<SerialPortInfo> ports;
    std::error_code ec;

    std::vector<fs::path> byId;
    for (const auto& entry : fs::directory_iterator(fs::path(devRoot) / "serial/by-id", ec)) {
        byId.push_back(entry.path());
    }
    std::sort(byId.begin(), byId.end());
    for (const auto& link : byId) {
        SerialPortInfo info;
        info.path = link.string();
        info.usb = true;
        fs::path target = fs::read_symlink(link, ec);
        if (!ec) {
            target = (link.parent_path() / target).lexically_normal();
            info.target = target.string();
            info.latencyTimerMs = LatencyOf(sysRoot, target.filename().string());
        }
        CheckAccess(info);
        ports.push_back(std::move(info));
    }

    struct Node {
        int kind; // order of the prefixes below
        long number;
        std::string name;
    };
    const std::string prefixes[] = {"ttyUSB", "ttyACM", "ttyS"};
    std::vector<Node> nodes;
    for (const auto& entry : fs::directory_iterator(fs::path(devRoot), ec)) {
        const std::string name = entry.path().filename().string();
        for (int kind = 0; kind < 3; ++kind) {
            const long n = NumberAfter(name, prefixes[kind]);
            if (n < 0) {
                continue;
            }
            // The kernel makes ttyS0..ttyS31 whether or not a UART is there; sysfs says
            // which have one (type 0 is "unknown", nothing behind it).
            if (kind == 2 && ReadNumber(fs::path(sysRoot) / "class/tty" / name / "type", 0) == 0) {
                break;
            }
            nodes.push_back({kind, n, name});
            break;
        }
    }
    std::sort(nodes.begin(), nodes.end(), [](const Node& a, const Node& b) {
        return a.kind != b.kind ? a.kind < b.kind : a.number < b.number;
    });
    for (const auto& node : nodes) {
        SerialPortInfo info;
        info.path = (fs::path(devRoot) / node.name).string();
        info.usb = node.kind < 2;
        info.latencyTimerMs = LatencyOf(sysRoot, node.name);
        if (node.kind == 2 && node.number < 255) {
            info.comNumber = static_cast<unsigned>(node.number) + 1;
        }
        CheckAccess(info);
        ports.push_back(std::move(info));
    }
    return ports;
}

} // namespace comlink
