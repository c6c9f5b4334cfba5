#include "link/serial_library.h"

#include "link/posix_serial.h"
#include "wait.h"

#include <chrono>

namespace comlink {

namespace {

SerialLibrary* installed = nullptr;

PosixSerialLibrary& PosixLibrary() {
    static PosixSerialLibrary library;
    return library;
}

} // namespace

bool SerialLibrary::WaitReadable(std::uint32_t timeoutMs) {
    using namespace std::chrono;
    auto until = steady_clock::now() + milliseconds(timeoutMs);
    for (;;) {
        if (INBUFFER() != 0) {
            return true;
        }
        if (!IsOpen() || steady_clock::now() >= until || StopRequested()) {
            return false;
        }
        WaitForInput(-1, microseconds(100));
    }
}

std::string ComDevicePath(unsigned portNumber) {
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

SerialLibrary& Serial() {
    return installed != nullptr ? *installed : PosixLibrary();
}

void SetSerialLibrary(SerialLibrary* library) {
    installed = library;
}

} // namespace comlink
