// The serial devices of this machine as a user looks for one to put into param.ini: the
// stable /dev/serial/by-id/ names of USB adapters with the device each points at, the USB
// serial devices, and the on-board ports that have a UART behind them.
#pragma once

#include <string>
#include <vector>

namespace comlink {

struct SerialPortInfo {
    std::string path;
    // For a /dev/serial/by-id/ name: the device it points at; else empty.
    std::string target;
    // The user may open it for reading and writing; else why not (with the dialout hint).
    bool accessible = false;
    std::string accessProblem;
    // A USB serial device (ttyUSB*, ttyACM*, and the by-id names).
    bool usb = false;
    // The driver's latency timer in ms (FTDI adapters), -1 when the driver has none.
    int latencyTimerMs = -1;
    // For /dev/ttyS{n-1}: n, the COM value that opens it; else 0.
    unsigned comNumber = 0;
};

// devRoot and sysRoot are "/dev" and "/sys" on the machine; tests give a tree of their own.
// By-id names first, then ttyUSB*, ttyACM* and ttyS* in number order.
std::vector<SerialPortInfo> ListSerialPorts(const std::string& devRoot = "/dev",
                                            const std::string& sysRoot = "/sys");

// A latency timer at which a one-byte request/reply protocol runs at its wire limit.
inline bool LowLatencyInForce(int latencyTimerMs) {
    return latencyTimerMs >= 0 && latencyTimerMs <= 1;
}

} // namespace comlink
