#include "service/server.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace service {

namespace {

constexpr std::size_t kReadChunk = 65536;

void NonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) {
        fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    }
}

} // namespace

std::string SocketFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] != '\0') {
        return std::string(runtime) + "/ombrix";
    }
    return "/tmp/ombrix-" + std::to_string(::getuid());
}

bool PrepareSocketFolder(std::string& error) {
    const std::string folder = SocketFolder();
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = folder + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::getuid() || (info.st_mode & 077) != 0) {
        error = folder + " is not a private folder of this user";
        return false;
    }
    return true;
}

std::string ScopeSocketPath(long pid) {
    return SocketFolder() + "/scope-" + std::to_string(pid) + ".sock";
}

std::string FindScopeSocket() {
    const std::string folder = SocketFolder();
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return {};
    }
    std::string best;
    struct timespec newest {};
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        const std::string prefix = "scope-";
        const std::string suffix = ".sock";
        if (name.size() <= prefix.size() + suffix.size() || name.rfind(prefix, 0) != 0 ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
            continue;
        }
        const std::string digits =
            name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
        char* end = nullptr;
        const long pid = std::strtol(digits.c_str(), &end, 10);
        if (end == digits.c_str() || *end != '\0' || pid <= 0) {
            continue;
        }
        // A window that ended without removing its socket leaves a path nobody serves.
        if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
            continue;
        }
        struct stat info {};
        const std::string path = folder + "/" + name;
        if (::stat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) {
            continue;
        }
        if (best.empty() || info.st_mtim.tv_sec > newest.tv_sec ||
            (info.st_mtim.tv_sec == newest.tv_sec && info.st_mtim.tv_nsec > newest.tv_nsec)) {
            best = path;
            newest = info.st_mtim;
        }
    }
    ::closedir(dir);
    return best;
}

Server::Server(Service& service) : service_(service) {
    wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    service_.SetNotify([this] { Wake(); });
}

Server::~Server() {
    service_.SetNotify(nullptr);
    for (Connection& c : connections_) {
        Close(c);
    }
    if (listen_ >= 0) {
        ::close(listen_);
        ::unlink(path_.c_str());
    }
    ::close(wake_);
}

void Server::Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(wake_, &one, sizeof one);
}

void Server::Stop() {
    stop_.store(true);
    Wake();
}

bool Server::Listen(const std::string& path, std::string& error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        error = path + ": a socket path of 1 to " + std::to_string(sizeof address.sun_path - 1) +
                " bytes";
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) {
        if (!S_ISSOCK(info.st_mode)) {
            error = path + " exists and is not a socket";
            return false;
        }
        const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool live =
            ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(probe);
        if (live) {
            error = path + " is in use by a running service";
            return false;
        }
        ::unlink(path.c_str());
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    // The socket file is born 0600: no moment in which another user could connect.
    const mode_t previous = ::umask(0177);
    const int bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    const int bindErrno = errno;
    ::umask(previous);
    if (bound != 0 || ::chmod(path.c_str(), 0600) != 0 || ::listen(fd, 16) != 0) {
        error = path + ": " + std::strerror(bound != 0 ? bindErrno : errno);
        ::close(fd);
        return false;
    }
    listen_ = fd;
    path_ = path;
    return true;
}

void Server::ServeStream(int in, int out) {
    Connection c;
    c.id = nextClient_++;
    c.in = in;
    c.out = out;
    c.stream = true;
    // Input is read only after poll() said it is there, so it may stay blocking: a terminal's
    // flags are shared with the shell that started us. Output to a terminal likewise is written
    // as it comes; pipes and sockets are made non-blocking.
    if (::isatty(out) == 0) {
        NonBlocking(out);
    }
    connections_.push_back(std::move(c));
}

void Server::Accept() {
    while (true) {
        const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            // Out of descriptors the waiting client stays in the backlog, and the listening
            // socket would wake poll() at once, again and again: it waits for a client's end.
            acceptPaused_ =
                errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM;
            return;
        }
        Connection c;
        c.id = nextClient_++;
        c.in = fd;
        c.out = fd;
        connections_.push_back(std::move(c));
    }
}

bool Server::ReadFrom(Connection& c) {
    char buffer[kReadChunk];
    const ssize_t n = ::read(c.in, buffer, sizeof buffer);
    if (n < 0) {
        return errno == EAGAIN || errno == EINTR;
    }
    if (n == 0) {
        c.inEnded = true;
        return true;
    }
    c.input.append(buffer, static_cast<std::size_t>(n));
    TakeLines(c);
    return true;
}

void Server::TakeLines(Connection& c) {
    // Lines wait here while the service is busy with the client's earlier ones (and the client
    // is not read from meanwhile): a client that asks faster than it reads fills its socket,
    // not our memory.
    std::size_t from = 0;
    while (!service_.Busy(c.id)) {
        const std::size_t newline = c.input.find('\n', from);
        if (newline == std::string::npos) {
            break;
        }
        if (c.discarding) {
            c.discarding = false;
        } else if (newline - from > kMaxLine + 1) {
            service_.LineTooLong(c.id);
        } else {
            service_.HandleLine(c.id, std::string_view(c.input).substr(from, newline - from));
        }
        from = newline + 1;
    }
    c.input.erase(0, from);
    if (c.input.find('\n') != std::string::npos) {
        return;
    }
    if (!c.discarding && c.input.size() > kMaxLine + 1) {
        // Answered once, then the rest of the line is passed over up to its "\n".
        service_.LineTooLong(c.id);
        c.discarding = true;
    }
    if (c.discarding) {
        c.input.clear();
    }
}

bool Server::WriteTo(Connection& c) {
    while (!c.output.empty()) {
        const ssize_t n = ::write(c.out, c.output.data(), c.output.size());
        if (n < 0) {
            return errno == EAGAIN || errno == EINTR;
        }
        c.output.erase(0, static_cast<std::size_t>(n));
    }
    return true;
}

void Server::Close(Connection& c) {
    if (c.in < 0) {
        return;
    }
    service_.Disconnect(c.id);
    acceptPaused_ = false;
    if (!c.stream) {
        ::close(c.in);
    }
    c.in = -1;
    c.out = -1;
}

void Server::Run() {
    // A client gone while we write to it is an error of that write, not our end.
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<pollfd> fds;
    bool streamDone = false;
    while (!stop_.load() && !streamDone) {
        for (Connection& c : connections_) {
            if (c.in >= 0) {
                TakeLines(c);
            }
            if (c.output.empty()) {
                c.output = service_.TakeOutput(c.id);
            }
            if (!WriteTo(c)) {
                Close(c);
            }
        }
        for (Connection& c : connections_) {
            // A client whose input ended (a socket half-closed, standard input at its end) gets
            // the answers to what it asked, then the connection ends; the stream's end is the
            // server's.
            if (c.in >= 0 && c.inEnded && c.output.empty() && !service_.Pending(c.id) &&
                c.input.find('\n') == std::string::npos) {
                c.output = service_.TakeOutput(c.id);
                if (c.output.empty() || !WriteTo(c)) {
                    Close(c);
                }
            }
            streamDone = streamDone || (c.stream && c.in < 0);
        }
        std::erase_if(connections_, [](const Connection& c) { return c.in < 0; });
        if (streamDone) {
            break;
        }
        fds.clear();
        fds.push_back({wake_, POLLIN, 0});
        if (listen_ >= 0) {
            fds.push_back({acceptPaused_ ? -1 : listen_, POLLIN, 0});
        }
        for (const Connection& c : connections_) {
            const short wantOut = c.output.empty() ? 0 : POLLOUT;
            const bool wantIn = !c.inEnded && !service_.Busy(c.id);
            if (c.in == c.out) {
                fds.push_back({c.in, static_cast<short>((wantIn ? POLLIN : 0) | wantOut), 0});
            } else {
                fds.push_back({wantIn ? c.in : -1, POLLIN, 0});
                fds.push_back({c.out, wantOut, 0});
            }
        }
        if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) {
            break;
        }
        if (fds[0].revents != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto n = ::read(wake_, &count, sizeof count);
        }
        std::size_t at = 1;
        if (listen_ >= 0) {
            if (fds[at].revents != 0) {
                Accept();
            }
            ++at;
        }
        const std::size_t existing = fds.size();
        for (Connection& c : connections_) {
            if (at >= existing) {
                break; // accepted in this round: polled next time
            }
            const short inEvents = fds[at].revents;
            const short outEvents = c.in == c.out ? inEvents : fds[at + 1].revents;
            at += c.in == c.out ? 1 : 2;
            // POLLIN comes only when asked for; a hang-up is read even from a busy client, as
            // what its socket still holds is all it will ever send.
            if ((inEvents & (POLLIN | POLLHUP | POLLERR)) != 0 && !c.inEnded) {
                if (!ReadFrom(c)) {
                    Close(c);
                    continue;
                }
            }
            if ((outEvents & (POLLERR | POLLHUP)) != 0 && c.in != c.out && !c.output.empty()) {
                // The reader of the stream is gone.
                Close(c);
            }
        }
    }
}

} // namespace service
