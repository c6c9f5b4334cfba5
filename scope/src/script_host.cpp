#include "scope/script_host.h"

#include "acquisition/batch.h"
#include "acquisition/sampling.h"
#include "service/server.h"
#include "service/service.h"

#include <unistd.h>

namespace scope {

ScriptHost::ScriptHost(std::function<std::uint64_t(acq::Command)> post,
                       acq::VariableTable variables, std::string application, std::string port) {
    service::ServiceSetup setup;
    setup.post = std::move(post);
    setup.variables = std::move(variables);
    setup.application = std::move(application);
    setup.port = std::move(port);
    setup.startUs = acq::SteadyUs();
    service_ = std::make_unique<service::Service>(std::move(setup));
    server_ = std::make_unique<service::Server>(*service_);
}

ScriptHost::~ScriptHost() {
    server_->Stop();
    if (thread_.joinable()) {
        thread_.join();
    }
    // A recording a script started is closed complete; the server's end removes the socket.
    service_->Shutdown();
    server_.reset();
}

bool ScriptHost::Start(std::string& error) {
    if (!service::PrepareSocketFolder(error)) {
        return false;
    }
    const std::string path = service::ScopeSocketPath(static_cast<long>(getpid()));
    if (!server_->Listen(path, error)) {
        return false;
    }
    path_ = path;
    thread_ = std::thread([this] { server_->Run(); });
    return true;
}

void ScriptHost::OnBatch(const acq::Batch& batch) {
    service_->OnBatch(batch);
}

} // namespace scope
