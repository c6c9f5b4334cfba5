#include "pty_pair.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

namespace testing_support {

PtyPair::PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        throw std::runtime_error("cannot make a pseudo-terminal");
    }
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) {
        throw std::runtime_error("pseudo-terminal without a name");
    }
    slavePath_ = name;
}

PtyPair::~PtyPair() {
    Close();
}

void PtyPair::Close() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

void PtyPair::Write(const std::vector<std::uint8_t>& bytes) const {
    if (::write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        throw std::runtime_error("pseudo-terminal write failed");
    }
}

std::vector<std::uint8_t> PtyPair::Read(std::size_t n, int timeoutMs) const {
    std::vector<std::uint8_t> out;
    while (out.size() < n) {
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0 || (p.revents & POLLIN) == 0) {
            break;
        }
        std::uint8_t buffer[256];
        ssize_t got = ::read(master_, buffer, std::min(sizeof buffer, n - out.size()));
        if (got <= 0) {
            break;
        }
        out.insert(out.end(), buffer, buffer + got);
    }
    return out;
}

void PointLink(const std::string& link, const std::string& target) {
    std::string staging = link + ".new";
    ::unlink(staging.c_str());
    if (::symlink(target.c_str(), staging.c_str()) != 0 ||
        std::rename(staging.c_str(), link.c_str()) != 0) {
        throw std::runtime_error("cannot point " + link + " at " + target);
    }
}

} // namespace testing_support
