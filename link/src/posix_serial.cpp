#include "link/posix_serial.h"

#include "wait.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace comlink {

namespace {

struct SpeedCode {
    std::uint32_t baud;
    speed_t code;
};

constexpr SpeedCode kStandardSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool StandardSpeed(std::uint32_t baud, speed_t& code) {
    for (const auto& s : kStandardSpeeds) {
        if (s.baud == baud) {
            code = s.code;
            return true;
        }
    }
    return false;
}

bool ProcessIsInGroup(gid_t gid) {
    if (getegid() == gid) {
        return true;
    }
    int n = getgroups(0, nullptr);
    if (n <= 0) {
        return false;
    }
    std::vector<gid_t> groups(static_cast<std::size_t>(n));
    n = getgroups(n, groups.data());
    for (int i = 0; i < n; ++i) {
        if (groups[static_cast<std::size_t>(i)] == gid) {
            return true;
        }
    }
    return false;
}

// Errors after which the descriptor is of no further use: the device is gone or hung up.
bool DeviceGone(int error) {
    return error == EIO || error == ENXIO || error == ENODEV || error == EBADF;
}

} // namespace

std::string InUseText(const std::string& device) {
    return device + " is in use by another program";
}

std::string OpenFailureText(const std::string& device, int error) {
    std::string text = device + ": " + std::strerror(error);
    struct stat st {};
    if (error == EACCES && stat(device.c_str(), &st) == 0) {
        const struct group* g = getgrgid(st.st_gid);
        if (g != nullptr && std::strcmp(g->gr_name, "dialout") == 0 &&
            !ProcessIsInGroup(st.st_gid)) {
            text += " (serial devices belong to the group dialout: add the user to it and log in "
                    "again)";
        }
    }
    return text;
}

PosixSerialLibrary::~PosixSerialLibrary() {
    CLOSECOM();
}

int PosixSerialLibrary::OPENCOM(const SerialSettings& settings) {
    CLOSECOM();
    const std::string& device = settings.device;
    if (settings.baud == 0) {
        lastError_ = device + ": no line speed given";
        return -1;
    }
    // Non-blocking so that no call can hang on a device that stopped answering; O_NOCTTY so
    // that a terminal device never becomes the program's controlling terminal.
    int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        lastError_ = OpenFailureText(device, errno);
        return -1;
    }
    // Taken before anything touches the line settings, so that the program holding the port
    // goes on undisturbed. TIOCEXCL would be no help: root ignores it, and it outlives our own
    // close while a peer (mcsim) holds the other side, which breaks the close-and-reopen of a
    // rate change. The lock goes with the descriptor, whatever ends the program.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        ::close(fd);
        lastError_ = InUseText(device);
        return -1;
    }
    auto fail = [&](const std::string& text) {
        ::close(fd);
        lastError_ = text;
        return -1;
    };
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        return fail(device + (errno == ENOTTY ? std::string(": not a serial device")
                                              : ": " + std::string(std::strerror(errno))));
    }
    cfmakeraw(&t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    // With VMIN 0 an empty read returns 0, which cannot be told from a hang-up; with VMIN 1
    // and O_NONBLOCK it fails with EAGAIN instead.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    speed_t code = B0;
    const bool standard = StandardSpeed(settings.baud, code);
    if (standard) {
        cfsetspeed(&t, code);
    }
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        return fail(device + ": " + std::strerror(errno));
    }
    if (!standard && !SetCustomBaud(fd, settings.baud)) {
        return fail(device + ": " + std::to_string(settings.baud) +
                    " baud is not supported by the device");
    }
    fd_ = fd;
    device_ = device;
    lastError_.clear();
    return 0;
}

void PosixSerialLibrary::CLOSECOM() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void PosixSerialLibrary::Drop(const char* what, int error) {
    CLOSECOM();
    lastError_ = device_ + ": device lost (" + (error != 0 ? std::strerror(error) : what) + ")";
}

int PosixSerialLibrary::SENDBYTE(std::uint8_t b) {
    if (fd_ < 0) {
        return -1;
    }
    for (;;) {
        ssize_t n = ::write(fd_, &b, 1);
        if (n == 1) {
            return 0;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && DeviceGone(errno)) {
            Drop("write failed", errno);
        }
        // A full output queue (EAGAIN) keeps the device; the byte was simply not taken.
        return -1;
    }
}

int PosixSerialLibrary::READBYTE() {
    if (fd_ < 0) {
        return -1;
    }
    std::uint8_t b = 0;
    ssize_t n = ::read(fd_, &b, 1);
    if (n == 1) {
        return b;
    }
    if (n == 0) {
        // End of file: a hang-up, unless the driver disagrees.
        if (HungUp()) {
            Drop("hung up", 0);
        }
    } else if (errno != EAGAIN && errno != EINTR) {
        Drop("read failed", errno);
    }
    return -1;
}

bool PosixSerialLibrary::HungUp() const {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

int PosixSerialLibrary::INBUFFER() {
    if (fd_ < 0) {
        return 0;
    }
    // FIONREAD alone reports 0 on a hung-up pseudo-terminal; the poll sees the hang-up and
    // spares the ioctl when nothing is waiting.
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) {
        return 0;
    }
    if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        Drop("hung up", 0);
        return 0;
    }
    int n = 0;
    if (ioctl(fd_, FIONREAD, &n) != 0) {
        if (DeviceGone(errno)) {
            Drop("status failed", errno);
        }
        return 0;
    }
    return n;
}

int PosixSerialLibrary::OUTBUFFER() {
    if (fd_ < 0) {
        return 0;
    }
    int n = 0;
    if (ioctl(fd_, TIOCOUTQ, &n) != 0) {
        if (DeviceGone(errno)) {
            Drop("status failed", errno);
        }
        return 0;
    }
    return n;
}

void PosixSerialLibrary::SetModemLine(int line, int on) {
    if (fd_ >= 0) {
        // Pseudo-terminals and some adapters have no modem lines: the error is expected there
        // and a lost device shows itself on the next transfer anyway.
        (void)ioctl(fd_, on != 0 ? TIOCMBIS : TIOCMBIC, &line);
    }
}

void PosixSerialLibrary::RTS(int on) {
    SetModemLine(TIOCM_RTS, on);
}

void PosixSerialLibrary::DTR(int on) {
    SetModemLine(TIOCM_DTR, on);
}

bool PosixSerialLibrary::WaitReadable(std::uint32_t timeoutMs) {
    if (fd_ < 0) {
        return false;
    }
    short events = WaitForInput(fd_, std::chrono::milliseconds(timeoutMs));
    if ((events & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        Drop("hung up", 0);
        return false;
    }
    return (events & POLLIN) != 0;
}

bool PosixSerialLibrary::RequestLowLatency() {
    if (fd_ < 0) {
        return false;
    }
    // Pseudo-terminals and plain files answer ENOTTY; drivers without the flag ignore it or
    // answer EINVAL. Either way the port works as before, only with the driver's own latency.
    serial_struct info{};
    if (ioctl(fd_, TIOCGSERIAL, &info) != 0) {
        return false;
    }
    if ((info.flags & ASYNC_LOW_LATENCY) != 0) {
        return true;
    }
    info.flags |= ASYNC_LOW_LATENCY;
    return ioctl(fd_, TIOCSSERIAL, &info) == 0;
}

} // namespace comlink
