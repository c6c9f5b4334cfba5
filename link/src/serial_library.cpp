#include "link/serial_library.h"

#include "link/posix_serial.h"

#include <cctype>
#include <charconv>
#include <chrono>
#include <thread>

namespace comlink {

namespace {

SerialLibrary* installed = nullptr;

PosixSerialLibrary& PosixLibrary() {
    static PosixSerialLibrary library;
    return library;
}

bool EqualsIgnoringCase(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return i == a.size() && b[i] == '\0';
}

bool ParseUnsigned(const std::string& text, std::uint32_t& value) {
    if (text.empty()) {
        return false;
    }
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}

} // namespace

bool SerialLibrary::WaitReadable(std::uint32_t timeoutMs) {
    using namespace std::chrono;
    auto until = steady_clock::now() + milliseconds(timeoutMs);
    for (;;) {
        if (INBUFFER() != 0) {
            return true;
        }
        if (!IsOpen() || steady_clock::now() >= until) {
            return false;
        }
        std::this_thread::sleep_for(microseconds(100));
    }
}

std::string BuildModeText(std::uint16_t portNumber, std::uint32_t baud,
                          const std::string& devicePath) {
    std::string port = devicePath.empty() ? "COM" + std::to_string(portNumber) : devicePath;
    return port + ":" + std::to_string(baud) + ",N,8,1";
}

std::string ComDevicePath(unsigned portNumber) {
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

bool ParseModeText(const std::string& mode, ModeSettings& settings, std::string& error) {
    auto fail = [&](const std::string& why) {
        error = "invalid mode \"" + mode + "\": " + why;
        return false;
    };
    // The device part may itself hold a colon (a path); the settings never do.
    auto colon = mode.rfind(':');
    if (colon == std::string::npos) {
        return fail("no ':' before the line settings");
    }
    std::string port = mode.substr(0, colon);
    std::string line = mode.substr(colon + 1);

    if (!port.empty() && port[0] == '/') {
        settings.device = port;
    } else if (port.size() > 3 && EqualsIgnoringCase(port.substr(0, 3), "COM")) {
        std::uint32_t n = 0;
        if (!ParseUnsigned(port.substr(3), n) || n < 1 || n > 255) {
            return fail("port number outside 1..255");
        }
        settings.device = ComDevicePath(n);
    } else {
        return fail("port is neither COM1..COM255 nor a device path");
    }

    auto comma = line.find(',');
    if (comma == std::string::npos) {
        return fail("no framing after the baud rate");
    }
    std::uint32_t baud = 0;
    if (!ParseUnsigned(line.substr(0, comma), baud) || baud == 0) {
        return fail("baud rate is not a positive number");
    }
    if (!EqualsIgnoringCase(line.substr(comma), ",N,8,1")) {
        return fail("only no parity, 8 data bits and 1 stop bit are supported");
    }
    settings.baud = baud;
    return true;
}

SerialLibrary& Serial() {
    return installed != nullptr ? *installed : PosixLibrary();
}

void SetSerialLibrary(SerialLibrary* library) {
    installed = library;
}

} // namespace comlink
