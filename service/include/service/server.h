// A poll()-based server that carries the service's lines over byte streams: one client on a
// pair of descriptors (standard input and output), and clients of a Unix socket. It runs on the
// thread that calls Run, which may be any thread of the host (the scope window runs it on one
// of its own); Stop may be called from any thread and from a signal handler.
#pragma once

#include "service/service.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace service {

// The folder of the scope window's sockets: $XDG_RUNTIME_DIR/ombrix, else /tmp/ombrix-UID.
std::string SocketFolder();
// Makes SocketFolder() (mode 0700) when it is missing. False with the reason when it cannot be
// made, or when it exists but is not a folder of ours that only we may enter: another user
// could otherwise put a socket in our name there.
bool PrepareSocketFolder(std::string& error);
// The scope window's socket for its process id.
std::string ScopeSocketPath(long pid);
// The socket of the newest scope window still running (by modification time, its process
// alive); empty when there is none.
std::string FindScopeSocket();

class Server {
public:
    explicit Server(Service& service);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Serves a Unix socket at path, created with mode 0600. A socket a running server answers
    // on is refused ("PATH is in use"), a stale one (nobody answers) removed, any other file
    // refused. The socket is removed when the server ends.
    bool Listen(const std::string& path, std::string& error);
    // Serves one client on in and out (standard input and output). When in ends, the server
    // answers what the client asked and Run returns.
    void ServeStream(int in, int out);
    // Serves until Stop, or until the stream client ended.
    void Run();
    // Async-signal-safe.
    void Stop();

private:
    struct Connection {
        ClientId id = 0;
        int in = -1;
        int out = -1;
        bool stream = false;
        bool inEnded = false;
        bool discarding = false; // the rest of a line too long is dropped up to its "\n"
        std::string input;
        std::string output;
    };
    void Wake();
    void Accept();
    bool ReadFrom(Connection& c);
    void TakeLines(Connection& c);
    bool WriteTo(Connection& c);
    void Close(Connection& c);

    Service& service_;
    int wake_ = -1;
    int listen_ = -1;
    std::string path_;
    std::vector<Connection> connections_;
    ClientId nextClient_ = 1;
    bool acceptPaused_ = false;
    std::atomic<bool> stop_{false};
};

} // namespace service
