#include "pty_link.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {

std::string SystemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

} // namespace

bool OpenPty(PtyLink& pty, std::string& error) {
    pty.master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (pty.master < 0) {
        error = SystemError("posix_openpt");
        return false;
    }
    if (grantpt(pty.master) != 0 || unlockpt(pty.master) != 0) {
        error = SystemError("pseudo-terminal set-up");
        ClosePty(pty);
        return false;
    }
    const char* name = ptsname(pty.master);
    if (name == nullptr) {
        error = SystemError("ptsname");
        ClosePty(pty);
        return false;
    }
    pty.slaveName = name;
    pty.slave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (pty.slave < 0) {
        error = SystemError(pty.slaveName);
        ClosePty(pty);
        return false;
    }
    termios settings{};
    if (tcgetattr(pty.slave, &settings) == 0) {
        cfmakeraw(&settings);
        settings.c_cflag |= CLOCAL | CREAD;
        cfsetispeed(&settings, B9600);
        cfsetospeed(&settings, B9600);
        tcsetattr(pty.slave, TCSANOW, &settings);
    }
    return true;
}

bool PublishLink(PtyLink& pty, const std::string& path, std::string& error) {
    struct stat existing {};
    if (lstat(path.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode)) {
        error = path + " exists and is not a symbolic link; it is left alone";
        return false;
    }
    std::string temporary = path + ".mcsim-" + std::to_string(getpid());
    unlink(temporary.c_str());
    if (symlink(pty.slaveName.c_str(), temporary.c_str()) != 0) {
        error = SystemError(temporary);
        return false;
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        error = SystemError(path);
        unlink(temporary.c_str());
        return false;
    }
    pty.linkPath = path;
    return true;
}

void ClosePty(PtyLink& pty) {
    if (!pty.linkPath.empty()) {
        char target[4096];
        ssize_t n = readlink(pty.linkPath.c_str(), target, sizeof target - 1);
        if (n >= 0 && std::string(target, static_cast<std::size_t>(n)) == pty.slaveName) {
            unlink(pty.linkPath.c_str());
        }
        pty.linkPath.clear();
    }
    if (pty.slave >= 0) {
        close(pty.slave);
        pty.slave = -1;
    }
    if (pty.master >= 0) {
        close(pty.master);
        pty.master = -1;
    }
}

} // namespace sim
