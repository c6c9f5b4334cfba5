#include "mcctl/mcctl.h"

#include "acquisition/driver.h"
#include "acquisition/sampling.h"
#include "foundation/params.h"
#include "link/link_port.h"
#include "recorder/mcrec.h"
#include "service/server.h"
#include "service/service.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <unistd.h>

namespace mcctl {

namespace {

// The scope's sweep width; nothing is drawn, but the engine notes sweep ends against it.
constexpr int kSweepWidth = 704;
// The one client of a one-shot request.
constexpr service::ClientId kSelf = 1;

std::atomic<service::Server*> serving{nullptr};
std::atomic<bool> stopRequested{false};

const char* const kUsage = "Usage: mcctl [--listen PATH] [--port DEVICE|N]\n"
                           "       mcctl get NAME... [--port DEVICE|N]\n"
                           "       mcctl set NAME VALUE [--port DEVICE|N]\n"
                           "       mcctl list [--port DEVICE|N]\n"
                           "       mcctl --find\n"
                           "       mcctl --help\n";

const char* const kHelp = R"(
Drives the MC from scripts over the debug link that the COM parameter of param.ini names,
through the script service: JSON-RPC 2.0, one message a line (docs/service.md lists the
methods describe, status, read, write, subscribe, unsubscribe, record_start and record_stop).
Names are those the scope's channel boxes take: NAME, NAME.b, NAME[i], $33, with a type after
":" (SPEED:i16).

  (no command)     serve on standard input and output; ends when standard input ends and
                   every request has its answer
  --listen PATH    serve on a Unix socket at PATH (mode 0600) until Ctrl-C or SIGTERM;
                   prints PATH once clients may connect
  get NAME...      print each variable's value, one "NAME VALUE" a line
  set NAME VALUE   write a settable variable, every byte's echo checked
  list             print the variable table as mcrec --list does
  --find           print the socket of the newest running scope window
  --port DEVICE|N  the link for this run instead of COM
  --help           show this text

Exit codes: 0 done; 1 failed (link, identification, a refused or failed read or write: the
message is on standard error); 2 wrong arguments, unknown names; --find: 1 when no scope
window serves.
)";

void OnStop() {
    stopRequested.store(true);
    if (service::Server* s = serving.load()) {
        s->Stop();
    }
}

// Sends one request through the service and waits for its answer.
class OneShot {
public:
    explicit OneShot(service::Service& s) : service_(s) {
        service_.SetNotify([this] {
            std::lock_guard lock(mutex_);
            ready_ = true;
            changed_.notify_all();
        });
    }
    ~OneShot() { service_.SetNotify(nullptr); }

    service::Json Ask(const std::string& method, service::Json params) {
        service::Json request(service::Json::Object{});
        request.Set("jsonrpc", "2.0");
        request.Set("id", 1);
        request.Set("method", method);
        request.Set("params", std::move(params));
        service_.HandleLine(kSelf, service::WriteJson(request));
        std::string text;
        while (text.empty() && !stopRequested.load()) {
            std::unique_lock lock(mutex_);
            changed_.wait_for(lock, std::chrono::milliseconds(100), [this] { return ready_; });
            ready_ = false;
            lock.unlock();
            text = service_.TakeOutput(kSelf);
        }
        service::Json reply;
        std::string error;
        service::ParseJson(text, reply, error);
        return reply;
    }

private:
    service::Service& service_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool ready_ = false;
};

std::string Number(const service::Json& value) {
    return value.IsNull() ? "null" : service::WriteJson(value);
}

// The answer's error on err; the exit code it means.
int Failed(const service::Json& reply, std::ostream& err) {
    const service::Json* error = reply.Find("error");
    if (error == nullptr) {
        err << "mcctl: no answer\n";
        return kExitFailed;
    }
    const service::Json* message = error->Find("message");
    const service::Json* code = error->Find("code");
    err << "mcctl: " << (message != nullptr ? message->AsString() : "failed") << '\n';
    return code != nullptr && code->AsNumber() == service::kInvalidParams ? kExitUsage
                                                                          : kExitFailed;
}

} // namespace

void RequestStop() {
    OnStop();
}

const char* Usage() {
    return kUsage;
}

const char* Help() {
    return kHelp;
}

bool ParseArguments(const std::vector<std::string>& args, Options& options, std::string& error) {
    options = Options{};
    std::vector<std::string> words;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.mode = Mode::Help;
            return true;
        } else if (arg == "--find") {
            options.mode = Mode::Find;
        } else if (arg == "--listen") {
            if (!foundation::TakeOptionValue(args, i, options.listen, error)) {
                return false;
            }
            if (options.listen.empty()) {
                error = "--listen needs a path";
                return false;
            }
        } else if (arg == "--port") {
            if (!foundation::TakePortOption(args, i, options.port, error)) {
                return false;
            }
        } else if (arg.size() > 1 && arg[0] == '-' && !(words.size() >= 2 && words[0] == "set")) {
            error = "unknown option " + arg;
            return false;
        } else {
            words.push_back(arg);
        }
    }
    if (options.mode == Mode::Find) {
        if (!words.empty() || !options.listen.empty()) {
            error = "--find takes nothing else";
            return false;
        }
        return true;
    }
    if (words.empty()) {
        return true;
    }
    if (!options.listen.empty()) {
        error = "--listen serves; it takes no command";
        return false;
    }
    const std::string command = words[0];
    words.erase(words.begin());
    if (command == "get") {
        options.mode = Mode::Get;
        options.names = words;
        if (options.names.empty()) {
            error = "get needs a name";
            return false;
        }
    } else if (command == "set") {
        options.mode = Mode::Set;
        if (words.size() != 2) {
            error = "set takes a name and a value";
            return false;
        }
        options.names = {words[0]};
        options.value = words[1];
    } else if (command == "list") {
        options.mode = Mode::List;
        if (!words.empty()) {
            error = "list takes no names";
            return false;
        }
    } else {
        error = "unknown command " + command;
        return false;
    }
    return true;
}

int Run(const Options& options, std::ostream& out, std::ostream& err) {
    if (options.mode == Mode::Find) {
        const std::string path = service::FindScopeSocket();
        if (path.empty()) {
            err << "mcctl: no scope window serves scripts (looked in " << service::SocketFolder()
                << ")\n";
            return kExitFailed;
        }
        out << path << '\n';
        return kExitOk;
    }
    const std::int64_t startUs = acq::SteadyUs();
    acq::ThreadDriver driver(acq::SweepLastMs(kSweepWidth));
    std::atomic<service::Service*> target{nullptr};
    driver.SetSink([&target](acq::Batch&& batch) {
        if (service::Service* s = target.load()) {
            s->OnBatch(batch);
        }
    });
    const acq::OpenResult opened = driver.Open();
    if (!opened.applOpened) {
        err << "mcctl: MC application could not be opened on " << opened.portName
            << (opened.reason.empty() ? "" : ": " + opened.reason) << '\n';
        driver.Shutdown();
        return kExitFailed;
    }
    if (options.mode == Mode::List) {
        recorder::ListVariables(opened.variables, out);
        driver.Shutdown();
        return kExitOk;
    }
    service::ServiceSetup setup;
    setup.post = [&driver](acq::Command c) { return driver.Post(std::move(c)); };
    setup.variables = opened.variables;
    setup.application = opened.applName;
    setup.port = opened.portName;
    setup.startUs = startUs;
    service::Service svc(std::move(setup));
    target.store(&svc);
    int code = kExitOk;
    if (options.mode == Mode::Serve) {
        service::Server server(svc);
        if (!options.listen.empty()) {
            std::string error;
            if (!server.Listen(options.listen, error)) {
                err << "mcctl: " << error << '\n';
                code = kExitFailed;
            } else {
                // A script that started mcctl in the background reads this line to know it
                // may connect.
                out << options.listen << std::endl;
            }
        } else {
            server.ServeStream(STDIN_FILENO, STDOUT_FILENO);
        }
        if (code == kExitOk) {
            serving.store(&server);
            if (!stopRequested.load()) {
                server.Run();
            }
            serving.store(nullptr);
        }
    } else {
        OneShot oneShot(svc);
        service::Json params(service::Json::Object{});
        if (options.mode == Mode::Get) {
            service::Json names(service::Json::Array{});
            for (const std::string& n : options.names) {
                names.Push(n);
            }
            params.Set("names", std::move(names));
            const service::Json reply = oneShot.Ask("read", std::move(params));
            const service::Json* result = reply.Find("result");
            if (result == nullptr) {
                code = Failed(reply, err);
            } else {
                const auto& values =
                    result->Find("samples")->AsArray().front().Find("values")->AsArray();
                for (std::size_t i = 0; i < options.names.size(); ++i) {
                    out << options.names[i] << ' ' << Number(values[i]) << '\n';
                }
            }
        } else {
            service::Json value;
            std::string error;
            if (!service::ParseJson(options.value, value, error) || !value.IsNumber()) {
                err << "mcctl: " << options.value << " is not a number\n";
                code = kExitUsage;
            } else {
                params.Set("name", options.names[0]);
                params.Set("value", value);
                const service::Json reply = oneShot.Ask("write", std::move(params));
                if (reply.Find("result") == nullptr) {
                    code = Failed(reply, err);
                }
            }
        }
    }
    target.store(nullptr);
    svc.Shutdown();
    comlink::ClearLinkStop();
    driver.Shutdown();
    return code;
}

} // namespace mcctl
