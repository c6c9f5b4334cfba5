// The script service hosted by the open scope window: a Unix socket in the user's runtime
// folder (service::ScopeSocketPath), so a script reads, writes, subscribes and records through
// the window's own engine while the window shows the traces. The service's reads are watches
// of the engine, so the window's channels stay the user's.
//
// Threads: the server runs on a thread of its own; OnBatch is called on the engine's thread
// (the driver's sink), before the window's queue may drop the batch, so no scan a script
// subscribed to is lost unseen.
#pragma once

#include "acquisition/commands.h"
#include "acquisition/variable_table.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace acq {
struct Batch;
}
namespace service {
class Service;
class Server;
} // namespace service

namespace scope {

class ScriptHost {
public:
    // post: the driver's Post; the rest as the engine's Open found them.
    ScriptHost(std::function<std::uint64_t(acq::Command)> post, acq::VariableTable variables,
               std::string application, std::string port);
    ~ScriptHost();
    ScriptHost(const ScriptHost&) = delete;
    ScriptHost& operator=(const ScriptHost&) = delete;

    // Makes the socket folder and the socket and starts serving. False with the reason (the
    // window goes on without scripts then).
    bool Start(std::string& error);
    const std::string& Path() const { return path_; }

    // Every batch of the engine, on the engine's thread.
    void OnBatch(const acq::Batch& batch);

private:
    std::unique_ptr<service::Service> service_;
    std::unique_ptr<service::Server> server_;
    std::thread thread_;
    std::string path_;
};

} // namespace scope
