// The script service: the JSON it reads, and the protocol as a client sees it through mcctl
// over the simulated MC (mcsim on a pseudo-terminal).
#include "acquisition/variable_table.h"
#include "child_process.h"
#include "recording_files.h"
#include "service/json.h"
#include "service/server.h"
#include "service/service.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using service::Json;
using testing_support::ChildProcess;
using testing_support::Outcome;

TEST(ServiceJson, StrictTextOnlyAndTheWriterReadsBack) {
    struct Case {
        std::string text;
        bool ok;
        std::string written; // as the writer gives the value back
    };
    const Case cases[] = {
        {R"({"a":[1,2.5,-3e2,true,false,null],"b":"x\"\\\n\u00e9"})", true,
         R"({"a":[1,2.5,-300,true,false,null],"b":"x\"\\\n)"
         "\xc3\xa9\"}"},
        {" [ ] ", true, "[]"},
        {R"("\ud83d\ude00")", true, "\"\xf0\x9f\x98\x80\""},
        {"0.1", true, "0.1"},
        {"9007199254740993", true, "9007199254740992"},
        {"{\"a\":1,}", false, ""},
        {"[1 2]", false, ""},
        {"01", false, ""},
        {"1.", false, ""},
        {"NaN", false, ""},
        {"1e999", false, ""},
        {"1e-400", true, "0"},
        {"\"\x01\"", false, ""},
        {R"("\ud800")", false, ""},
        {"{'a':1}", false, ""},
        // Text is UTF-8, so what a reply echoes reads back: malformed, overlong, surrogate,
        // beyond U+10FFFF and cut-off sequences are refused.
        {"\"\xe2\x82\xac\xf0\x9f\x98\x80\"", true, "\"\xe2\x82\xac\xf0\x9f\x98\x80\""},
        {"\"\xff\"", false, ""},
        {"\"\xc0\xaf\"", false, ""},
        {"\"\xed\xa0\x80\"", false, ""},
        {"\"\xf4\x90\x80\x80\"", false, ""},
        {"\"\xe2\x82\"", false, ""},
        {"[1] x", false, ""},
        {"", false, ""},
        {std::string(service::kMaxDepth, '[') + std::string(service::kMaxDepth, ']'), true,
         std::string(service::kMaxDepth, '[') + std::string(service::kMaxDepth, ']')},
        {std::string(service::kMaxDepth + 2, '[') + std::string(service::kMaxDepth + 2, ']'), false,
         ""},
    };
    for (const Case& c : cases) {
        Json value;
        std::string error;
        EXPECT_EQ(service::ParseJson(c.text, value, error), c.ok) << c.text << ": " << error;
        if (c.ok) {
            EXPECT_EQ(service::WriteJson(value), c.written) << c.text;
        } else {
            EXPECT_NE(error, "") << c.text;
        }
    }
}

// What the service writes is UTF-8 also when its own text is not (a unit in a single-byte code
// page, or cut in the middle of a character).
TEST(ServiceJson, TheWriterGivesUtf8Only) {
    EXPECT_EQ(service::WriteJson(Json("\xb0"
                                      "C \xc2\xb5m \xc2")),
              "\"\xef\xbf\xbd"
              "C \xc2\xb5m \xef\xbf\xbd\"");
}

// A client of the service's Unix socket.
class Client {
public:
    explicit Client(const std::string& path) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Client() { Close(); }
    void Close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    bool Connected() const { return connected_; }
    void Send(const std::string& line) {
        const std::string text = line + "\n";
        std::size_t at = 0;
        while (at < text.size()) {
            const ssize_t n = ::write(fd_, text.data() + at, text.size() - at);
            ASSERT_GT(n, 0);
            at += static_cast<std::size_t>(n);
        }
    }
    // The next message, waiting up to 10 s; null when none came.
    Json Next() {
        while (true) {
            const auto newline = buffer_.find('\n');
            if (newline != std::string::npos) {
                Json value;
                std::string error;
                EXPECT_TRUE(service::ParseJson(buffer_.substr(0, newline), value, error))
                    << buffer_.substr(0, newline);
                buffer_.erase(0, newline + 1);
                return value;
            }
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 10000) <= 0) {
                return Json();
            }
            char chunk[65536];
            const ssize_t n = ::read(fd_, chunk, sizeof chunk);
            if (n <= 0) {
                return Json();
            }
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }
    // Sends a request and returns its answer; notifications meanwhile are kept for Samples.
    Json Call(const std::string& method, const std::string& params = "{}") {
        const int id = ++lastId_;
        Send(R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + R"(,"method":")" + method +
             R"(","params":)" + params + "}");
        return Answer(id);
    }
    Json Answer(int id) {
        while (true) {
            Json m = Next();
            if (m.IsNull()) {
                return m;
            }
            const Json* got = m.Find("id");
            if (got == nullptr) {
                notifications_.push_back(std::move(m));
                continue;
            }
            if (got->IsNumber() && got->AsNumber() == id) {
                return m;
            }
            if (got->IsNull()) {
                return m; // an answer to a line that could not be read
            }
        }
    }
    // The samples of the subscription, in order, until count arrived.
    std::vector<Json> Samples(double subscription, std::size_t count,
                              std::uint64_t* gaps = nullptr) {
        std::vector<Json> samples;
        auto take = [&](const Json& m) {
            const Json* params = m.Find("params");
            if (params == nullptr || params->Find("subscription")->AsNumber() != subscription) {
                return;
            }
            if (gaps != nullptr) {
                *gaps += static_cast<std::uint64_t>(params->Find("gap")->AsNumber());
            }
            for (const Json& s : params->Find("samples")->AsArray()) {
                samples.push_back(s);
            }
        };
        for (const Json& m : notifications_) {
            take(m);
        }
        notifications_.clear();
        while (samples.size() < count) {
            Json m = Next();
            if (m.IsNull()) {
                break;
            }
            take(m);
        }
        return samples;
    }

private:
    int fd_ = -1;
    bool connected_ = false;
    std::string buffer_;
    std::vector<Json> notifications_;
    int lastId_ = 0;
};

std::string Repeated(const std::string& item, int times) {
    std::string list = item;
    for (int i = 1; i < times; ++i) {
        list += "," + item;
    }
    return list;
}

double Code(const Json& reply) {
    const Json* error = reply.Find("error");
    return error == nullptr ? 0 : error->Find("code")->AsNumber();
}

std::string Message(const Json& reply) {
    const Json* error = reply.Find("error");
    return error == nullptr ? "" : error->Find("message")->AsString();
}

class ServiceProgram : public ::testing::Test {
protected:
    ServiceProgram() {
        fs::create_directories(tree.path() + "/bin");
        fs::copy_file(MCCTL_PATH, tree.path() + "/bin/mcctl");
        tree.Write("config/param.ini",
                   "[COM] the link\n" + tree.path() + "/nobody\n[FILE_PATH] files\n" DEMO_DIR "\n");
        mcsim = std::make_unique<ChildProcess>(
            MCSIM_PATH, std::vector<std::string>{DEMO_DIR "/demo.scenario", Link()});
        EXPECT_NE(mcsim->FirstLine(), "");
    }
    ~ServiceProgram() override {
        if (server) {
            server->Stop(SIGTERM);
        }
    }
    std::string Link() const { return tree.path() + "/link"; }
    std::string Socket() const { return tree.path() + "/mcctl.sock"; }
    Outcome Run(const std::vector<std::string>& args) {
        std::vector<std::string> with = args;
        with.push_back("--port");
        with.push_back(Link());
        return ChildProcess(tree.path() + "/bin/mcctl", with).Wait();
    }
    void Listen() {
        server = std::make_unique<ChildProcess>(
            tree.path() + "/bin/mcctl",
            std::vector<std::string>{"--listen", Socket(), "--port", Link()});
        ASSERT_EQ(server->FirstLine(), Socket());
    }

    testing_support::TempDir tree;
    std::unique_ptr<ChildProcess> mcsim;
    std::unique_ptr<ChildProcess> server;
};

TEST_F(ServiceProgram, EveryErrorIsAnsweredAndTheServiceGoesOn) {
    Listen();
    struct stat info {};
    ASSERT_EQ(::stat(Socket().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    Client c(Socket());
    ASSERT_TRUE(c.Connected());
    struct Case {
        std::string line;
        double code;
        std::string message;
    };
    const std::string request = R"({"jsonrpc":"2.0","id":7,"method":)";
    const Case cases[] = {
        {R"({"jsonrpc":"2.0","id":7,"method":"read",)", -32700, "Parse error"},
        {"[1,2]", -32600, "Invalid request"},
        {R"({"id":7,"method":"status"})", -32600, "Invalid request"},
        {request + R"("status","params":3})", -32600, "Invalid request"},
        {R"({"jsonrpc":"2.0","id":7,"method":")" + std::string(70000, 'x') + "\"}", -32600,
         "Line too long"},
        {request + R"("resd"})", -32601, "Method not found: resd"},
        {request + R"("read","params":{}})", -32602, "names: a list of 1 to 1200 variable names"},
        {request + R"("read","params":{"names":["COUNTER"],"n":0}})", -32602,
         "n: a whole number of scans from 1 to 100000"},
        {request + R"("read","params":{"names":[)" + Repeated("\"SAW\"", 20) + R"(],"n":100000}})",
         -32602, "n: a whole number of scans from 1 to 50000 for 20 names"},
        {request + "\"read\",\"params\":{\"names\":[\"\xff\"]}}", -32700, "Parse error"},
        {request + R"("read","params":{"names":["FOLOW"]}})", -32602,
         "Var FOLOW not defined (close: FOLLOW, SLOW)"},
        {request + R"("subscribe","params":{"names":[3]}})", -32602,
         "names: every name is a string"},
        {request + R"("write","params":{"name":"COUNTER","value":1}})", -32001,
         "Var COUNTER outside the settable window"},
        {request + R"("write","params":{"name":"COM_VARX","value":1}})", -32001,
         "Var COM_VARX outside the settable window"},
        {request + R"("write","params":{"name":"SETPOINT","value":256}})", -32602,
         "Var SETPOINT cannot hold 256 as u8"},
        {request + R"("write","params":{"name":"setpoint:I8","value":-129}})", -32602,
         "Var SETPOINT:i8 cannot hold -129 as i8"},
        {request + R"("write","params":{"name":"SETPOINT"}})", -32602,
         "write takes a name and a number as value"},
        {request + R"("unsubscribe","params":{"subscription":99}})", -32602, "No subscription 99"},
        {request + R"("record_stop"})", -32003, "No recording is running"},
        {request + R"("record_start","params":{"path":"/nonexistent/x.csv","names":["SAW"]}})",
         -32003, "/nonexistent/x.csv: No such file or directory"},
    };
    for (const Case& k : cases) {
        c.Send(k.line);
        const Json reply = c.Answer(7);
        EXPECT_EQ(Code(reply), k.code) << k.line.substr(0, 120);
        if (!k.message.empty()) {
            EXPECT_EQ(Message(reply), k.message) << k.line.substr(0, 120);
        }
        // Still serving, on the same connection.
        const Json status = c.Call("status");
        ASSERT_NE(status.Find("result"), nullptr) << k.line.substr(0, 120);
    }
    // A notification is not answered: the next answer is the next request's.
    c.Send(R"({"jsonrpc":"2.0","method":"nope"})");
    EXPECT_NE(c.Call("status").Find("result"), nullptr);
    // A second server on the same socket is refused; the first serves on.
    const Outcome second = Run({"--listen", Socket()});
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_NE(second.err.find("is in use"), std::string::npos) << second.err;
    EXPECT_NE(c.Call("status").Find("result"), nullptr);
}

// Out of descriptors, a client waits in the socket's backlog and the server sleeps until a client
// ends (a listening socket it cannot accept from would wake it at once, again and again).
TEST_F(ServiceProgram, OutOfDescriptorsTheServerSleepsUntilAClientEnds) {
    server = std::make_unique<ChildProcess>(
        "/bin/sh",
        std::vector<std::string>{"-c", "ulimit -n 24; exec \"$0\" --listen \"$1\" --port \"$2\"",
                                 tree.path() + "/bin/mcctl", Socket(), Link()});
    ASSERT_EQ(server->FirstLine(), Socket());
    // More than it may accept, fewer than it and its backlog hold (a connect would wait).
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 24; ++i) {
        clients.push_back(std::make_unique<Client>(Socket()));
        ASSERT_TRUE(clients.back()->Connected());
    }
    auto cpuTicks = [&] {
        std::ifstream stat("/proc/" + std::to_string(server->Pid()) + "/stat");
        std::string field;
        long ticks = 0;
        for (int i = 1; i <= 15 && stat >> field; ++i) {
            ticks += i >= 14 ? std::stol(field) : 0; // utime, stime
        }
        return ticks;
    };
    const long before = cpuTicks();
    pollfd none{-1, 0, 0};
    ::poll(&none, 1, 1000);
    EXPECT_LT(cpuTicks() - before, ::sysconf(_SC_CLK_TCK) / 4);
    // Once clients ended, the next is served.
    clients.clear();
    Client last(Socket());
    EXPECT_NE(last.Call("status").Find("result"), nullptr);
}

TEST_F(ServiceProgram, EveryMethodAnswersAsDocumented) {
    Listen();
    Client c(Socket());
    ASSERT_TRUE(c.Connected());
    const Json described = c.Call("describe");
    const Json* result = described.Find("result");
    ASSERT_NE(result, nullptr) << service::WriteJson(described);
    EXPECT_EQ(result->Find("application")->AsString(), "DEMO");
    EXPECT_EQ(result->Find("link")->Find("state")->AsString(), "up");
    std::map<std::string, Json> variables;
    for (const Json& v : result->Find("variables")->AsArray()) {
        variables[v.Find("name")->AsString()] = v;
    }
    struct Expected {
        std::string name, type;
        bool settable;
        Json bit;
    };
    for (const Expected& e :
         {Expected{"SETPOINT", "u8", true, Json()}, Expected{"COUNTER", "u8", false, Json()},
          Expected{"RUN", "bit", false, Json(0)}, Expected{"READY", "bit", false, Json(7)}}) {
        ASSERT_EQ(variables.count(e.name), 1u) << e.name;
        const Json& v = variables[e.name];
        EXPECT_EQ(v.Find("type")->AsString(), e.type) << e.name;
        EXPECT_EQ(v.Find("settable")->AsBool(), e.settable) << e.name;
        EXPECT_EQ(service::WriteJson(*v.Find("bit")), service::WriteJson(e.bit)) << e.name;
    }
    EXPECT_EQ(variables.count("COM_VARX"), 0u); // the link's own

    // n scans in order: consecutive scan numbers, rising times, the constant and the bit.
    const Json read = c.Call("read", R"({"names":["COUNTER","SETPOINT","READY"],"n":5})");
    ASSERT_NE(read.Find("result"), nullptr) << service::WriteJson(read);
    const auto& samples = read.Find("result")->Find("samples")->AsArray();
    ASSERT_EQ(samples.size(), 5u);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto& values = samples[i].Find("values")->AsArray();
        EXPECT_EQ(values[1].AsNumber(), 100);
        EXPECT_EQ(values[2].AsNumber(), 1);
        if (i > 0) {
            EXPECT_EQ(samples[i].Find("scan")->AsNumber(),
                      samples[i - 1].Find("scan")->AsNumber() + 1);
            EXPECT_GT(samples[i].Find("t")->AsNumber(), samples[i - 1].Find("t")->AsNumber());
        }
    }
    // A write reads back, through the MC; FOLLOW follows it.
    const Json wrote = c.Call("write", R"({"name":"SETPOINT","value":42})");
    EXPECT_EQ(service::WriteJson(*wrote.Find("result")), R"({"name":"SETPOINT","value":42})");
    const Json back = c.Call("read", R"({"names":["SETPOINT"]})");
    EXPECT_EQ(
        back.Find("result")->Find("samples")->AsArray()[0].Find("values")->AsArray()[0].AsNumber(),
        42);

    const Json sub = c.Call("subscribe", R"({"names":["SAW","RUN"]})");
    ASSERT_NE(sub.Find("result"), nullptr);
    const double id = sub.Find("result")->Find("subscription")->AsNumber();
    EXPECT_EQ(c.Samples(id, 50).size() >= 50, true);
    const Json status = c.Call("status");
    EXPECT_EQ(status.Find("result")->Find("subscriptions")->AsNumber(), 1);
    EXPECT_EQ(
        service::WriteJson(*c.Call("unsubscribe", R"({"subscription":)" +
                                                      std::to_string(static_cast<int>(id)) + "}")
                                .Find("result")),
        "true");

    const std::string file = tree.path() + "/rec.csv";
    const Json started =
        c.Call("record_start", R"({"path":")" + file + R"(","names":["COUNTER","RUN"]})");
    EXPECT_EQ(service::WriteJson(*started.Find("result")), R"({"path":")" + file + "\"}");
    EXPECT_EQ(Message(c.Call("record_start", R"({"path":"x","names":["SAW"]})")),
              "A recording is running");
    EXPECT_EQ(c.Call("status").Find("result")->Find("recording")->AsString(), file);
    c.Call("read", R"({"names":["SAW"],"n":200})");
    const Json stopped = c.Call("record_stop");
    ASSERT_NE(stopped.Find("result"), nullptr);
    const auto rows = testing_support::ReadCsvFile(file);
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"time_s", "COUNTER", "RUN"}));
    EXPECT_EQ(stopped.Find("result")->Find("rows")->AsNumber(),
              static_cast<double>(rows.size() - 1));
    c.Call("write", R"({"name":"SETPOINT","value":100})");
}

// Every scan the subscription sent is a row of the recording the CSV writer (mcrec's) made of
// the same variables in the same run: same values, same order, empty fields where the
// subscription has null, and the same time steps to the microsecond.
TEST_F(ServiceProgram, ASubscriptionCarriesWhatTheRecorderWrites) {
    Listen();
    Client c(Socket());
    ASSERT_TRUE(c.Connected());
    const std::string names = R"(["COUNTER","SAW","RUN","WALK"])";
    const Json sub = c.Call("subscribe", R"({"names":)" + names + "}");
    const double id = sub.Find("result")->Find("subscription")->AsNumber();
    const std::string file = tree.path() + "/same.csv";
    ASSERT_NE(c.Call("record_start", R"({"path":")" + file + R"(","names":)" + names + "}")
                  .Find("result"),
              nullptr);
    std::uint64_t gaps = 0;
    std::vector<Json> samples = c.Samples(id, 2000, &gaps);
    EXPECT_GT(c.Call("status").Find("result")->Find("rate")->AsNumber(), 0);
    ASSERT_NE(c.Call("record_stop").Find("result"), nullptr);
    c.Call("unsubscribe", R"({"subscription":)" + std::to_string(static_cast<int>(id)) + "}");
    std::vector<Json> rest = c.Samples(id, 0);
    samples.insert(samples.end(), rest.begin(), rest.end());
    EXPECT_EQ(gaps, 0u);
    ASSERT_GE(samples.size(), 2000u);
    for (std::size_t i = 1; i < samples.size(); ++i) {
        ASSERT_EQ(samples[i].Find("scan")->AsNumber(), samples[i - 1].Find("scan")->AsNumber() + 1)
            << i;
    }
    const auto rows = testing_support::ReadCsvFile(file);
    ASSERT_GT(rows.size(), 1000u);
    auto micros = [](double s) { return std::llround(s * 1e6); };
    auto field = [](const Json& v) { return v.IsNull() ? std::string() : service::WriteJson(v); };
    // The recording began a few scans after the subscription: its first row's place.
    std::size_t first = 0;
    auto matches = [&](std::size_t at, std::size_t row) {
        const auto& values = samples[at].Find("values")->AsArray();
        for (std::size_t k = 0; k < values.size(); ++k) {
            if (rows[row][k + 1] != field(values[k])) {
                return false;
            }
        }
        return row < 2 || micros(std::stod(rows[row][0])) - micros(std::stod(rows[row - 1][0])) ==
                              micros(samples[at].Find("t")->AsNumber()) -
                                  micros(samples[at - 1].Find("t")->AsNumber());
    };
    while (first < 200 && !(matches(first, 1) && matches(first + 1, 2) && matches(first + 2, 3))) {
        ++first;
    }
    ASSERT_LT(first, 200u);
    std::size_t compared = 0;
    for (std::size_t row = 1; row < rows.size() && first + row - 1 < samples.size(); ++row) {
        ASSERT_TRUE(matches(first + row - 1, row)) << "row " << row;
        ++compared;
    }
    EXPECT_GT(compared, 1000u);
}

TEST_F(ServiceProgram, TwoClientsAndOneThatLeavesMidStream) {
    Listen();
    auto a = std::make_unique<Client>(Socket());
    Client b(Socket());
    ASSERT_TRUE(a->Connected() && b.Connected());
    const double ida = a->Call("subscribe", R"({"names":["COUNTER"]})")
                           .Find("result")
                           ->Find("subscription")
                           ->AsNumber();
    const double idb = b.Call("subscribe", R"({"names":["SAW"]})")
                           .Find("result")
                           ->Find("subscription")
                           ->AsNumber();
    EXPECT_NE(ida, idb);
    // Each sees its own subscription only, and its own answers.
    EXPECT_GE(a->Samples(ida, 100).size(), 100u);
    EXPECT_GE(b.Samples(idb, 100).size(), 100u);
    EXPECT_EQ(Code(b.Call("unsubscribe",
                          R"({"subscription":)" + std::to_string(static_cast<int>(ida)) + "}")),
              -32602);
    // a leaves without a word while its samples stream.
    a.reset();
    EXPECT_GE(b.Samples(idb, 500).size(), 500u);
    EXPECT_EQ(b.Call("status").Find("result")->Find("subscriptions")->AsNumber(), 1);
    // A new client is served as the first was.
    Client d(Socket());
    EXPECT_NE(d.Call("read", R"({"names":["COUNTER"]})").Find("result"), nullptr);
}

TEST_F(ServiceProgram, ALostLinkIsAnsweredInItsOwnWords) {
    Listen();
    Client c(Socket());
    ASSERT_TRUE(c.Connected());
    ASSERT_NE(c.Call("read", R"({"names":["SINE"]})").Find("result"), nullptr);
    mcsim->Stop(SIGTERM);
    // The reads under way when the device went fail as reads; then the link is down.
    Json reply;
    for (int i = 0; i < 20 && Code(reply) != -32000; ++i) {
        reply = c.Call("read", R"({"names":["SINE"]})");
        ASSERT_TRUE(Code(reply) == -32000 || Code(reply) == -32002) << service::WriteJson(reply);
    }
    ASSERT_EQ(Code(reply), -32000);
    const Json link = *c.Call("status").Find("result")->Find("link");
    EXPECT_EQ(link.Find("state")->AsString(), "down");
    EXPECT_EQ(link.Find("reason")->AsString(), "device_gone");
    EXPECT_EQ(Message(reply), link.Find("text")->AsString());
    EXPECT_NE(Message(reply), "");
    EXPECT_EQ(Code(c.Call("write", R"({"name":"SETPOINT","value":1})")), -32000);
    EXPECT_NE(c.Call("describe").Find("result"), nullptr);
}

TEST_F(ServiceProgram, StandardStreamsAndTheOneShotCommands) {
    // Requests on standard input: every one answered before mcctl ends at its end.
    const std::string script =
        "printf '%s\\n' '{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"read\",\"params\":{\"names\":"
        "[\"SETPOINT\"],\"n\":3}}' 'x' '{\"jsonrpc\":\"2.0\",\"id\":2,\"method\":\"status\"}' | " +
        tree.path() + "/bin/mcctl --port " + Link();
    const Outcome piped = ChildProcess("/bin/sh", {"-c", script}).Wait();
    EXPECT_EQ(piped.exitCode, 0) << piped.err;
    EXPECT_NE(piped.out.find(R"("id":null,"error":{"code":-32700)"), std::string::npos);
    EXPECT_NE(piped.out.find(R"("id":2,"result")"), std::string::npos);
    EXPECT_NE(piped.out.find(R"("values":[100]}]}})"), std::string::npos) << piped.out;

    struct Case {
        std::vector<std::string> args;
        int code;
        std::string out;
        std::string err;
    };
    const Case cases[] = {
        {{"get", "SETPOINT", "READY"}, 0, "SETPOINT 100\nREADY 1\n", ""},
        {{"set", "GAIN", "9"}, 0, "", ""},
        {{"get", "GAIN"}, 0, "GAIN 9\n", ""},
        {{"set", "GAIN", "8"}, 0, "", ""},
        {{"set", "SAW", "1"}, 1, "", "mcctl: Var SAW outside the settable window\n"},
        {{"get", "COUNTR"}, 2, "", "mcctl: Var COUNTR not defined (close: COUNTER)\n"},
        {{"set", "GAIN", "many"}, 2, "", "mcctl: many is not a number\n"},
        {{"frobnicate"}, 2, "", ""},
    };
    for (const Case& k : cases) {
        const Outcome o = Run(k.args);
        EXPECT_EQ(o.exitCode, k.code) << k.args[0] << " " << o.err;
        EXPECT_EQ(o.out, k.out) << k.args[0];
        if (!k.err.empty()) {
            EXPECT_EQ(o.err, k.err) << k.args[0];
        }
    }
    const Outcome list = Run({"list"});
    EXPECT_NE(list.out.find("SETPOINT"), std::string::npos);

    // --find: the newest live window's socket, never a stale one.
    const std::string runtime = tree.path() + "/run";
    fs::create_directories(runtime);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    std::string error;
    ASSERT_TRUE(service::PrepareSocketFolder(error)) << error;
    ::chmod((runtime + "/ombrix").c_str(), 0755); // open to others: refused
    EXPECT_FALSE(service::PrepareSocketFolder(error));
    EXPECT_EQ(error, runtime + "/ombrix is not a private folder of this user");
    ::chmod((runtime + "/ombrix").c_str(), 0700);
    ASSERT_TRUE(service::PrepareSocketFolder(error)) << error;
    const Outcome none = ChildProcess(tree.path() + "/bin/mcctl", {"--find"}).Wait();
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_NE(none.err, "");
    const std::string live = runtime + "/ombrix/scope-" + std::to_string(::getpid()) + ".sock";
    {
        Outcome o;
        auto listener = std::make_unique<ChildProcess>(
            tree.path() + "/bin/mcctl",
            std::vector<std::string>{"--listen", live, "--port", Link()});
        ASSERT_EQ(listener->FirstLine(), live);
        const Outcome found = ChildProcess(tree.path() + "/bin/mcctl", {"--find"}).Wait();
        EXPECT_EQ(found.exitCode, 0);
        EXPECT_EQ(found.out, live + "\n");
        listener->Stop(SIGTERM);
    }
    ::unsetenv("XDG_RUNTIME_DIR");
}

} // namespace

namespace {

// The service alone, over a recorded command list instead of an engine: a client that does not
// take its output loses whole batches, and the next batch it gets says how many scans it lost.
TEST(ServiceQueue, AClientThatDoesNotReadLosesWholeBatchesAndIsToldTheGap) {
    mcu::MCAppl appl;
    appl.vars.push_back({"COUNTER", 0x33});
    appl.vars.push_back({"TEMP", 0x37});
    std::vector<acq::Command> posted;
    service::ServiceSetup setup;
    setup.post = [&](acq::Command c) {
        posted.push_back(std::move(c));
        return static_cast<std::uint64_t>(posted.size());
    };
    setup.variables = acq::VariableTable(appl);
    service::Service s(std::move(setup));
    s.HandleLine(
        1,
        R"({"jsonrpc":"2.0","id":1,"method":"subscribe","params":{"names":["COUNTER","TEMP"]}})");
    s.HandleLine(2, R"({"jsonrpc":"2.0","id":1,"method":"subscribe","params":{"names":["TEMP"]}})");
    ASSERT_EQ(posted.size(), 2u);
    const auto& watch = std::get<acq::Watch>(posted[0]);
    EXPECT_EQ(watch.items, (std::vector<acq::WatchItem>{{0x33, 0, mcu::VarType::U8},
                                                        {0x37, 0, mcu::VarType::U8}}));
    const std::string first = s.TakeOutput(1);
    EXPECT_EQ(first,
              R"({"jsonrpc":"2.0","id":1,"result":{"subscription":1,"names":["COUNTER","TEMP"]}})"
              "\n");
    s.TakeOutput(2);

    std::uint64_t scan = 0;
    auto batch = [&](int scans) {
        acq::Batch b;
        for (int i = 0; i < scans; ++i) {
            ++scan;
            b.watched.push_back({1,
                                 scan,
                                 static_cast<std::int64_t>(scan) * 1000,
                                 {static_cast<double>(scan % 256), std::nullopt}});
            b.watched.push_back({2, scan, static_cast<std::int64_t>(scan) * 1000, {1.5}});
        }
        s.OnBatch(b);
    };
    // Client 2 reads all along and loses nothing; client 1 reads nothing for 2000 batches.
    auto samplesIn = [](const std::string& text, std::uint64_t& gap) {
        std::size_t count = 0;
        std::size_t from = 0;
        while (from < text.size()) {
            const std::size_t end = text.find('\n', from);
            service::Json note;
            std::string error;
            EXPECT_TRUE(service::ParseJson(text.substr(from, end - from), note, error));
            gap += static_cast<std::uint64_t>(note.Find("params")->Find("gap")->AsNumber());
            count += note.Find("params")->Find("samples")->AsArray().size();
            from = end + 1;
        }
        return count;
    };
    std::uint64_t gap2 = 0;
    std::size_t got2 = 0;
    for (int i = 0; i < 2000; ++i) {
        batch(100);
        got2 += samplesIn(s.TakeOutput(2), gap2);
    }
    EXPECT_EQ(got2, 200000u);
    EXPECT_EQ(gap2, 0u);
    const std::string queued = s.TakeOutput(1);
    EXPECT_LE(queued.size(), service::kOutputLimit);
    std::uint64_t gap1 = 0;
    const std::size_t got1 = samplesIn(queued, gap1);
    EXPECT_GT(got1, 0u);
    EXPECT_LT(got1, 200000u);
    // The next batch that fits says how many scans were lost; the kept ones were in order.
    batch(3);
    const std::string after = s.TakeOutput(1);
    service::Json note;
    std::string error;
    ASSERT_TRUE(service::ParseJson(after.substr(0, after.find('\n')), note, error)) << error;
    const service::Json* params = note.Find("params");
    ASSERT_NE(params, nullptr);
    EXPECT_EQ(params->Find("gap")->AsNumber(), static_cast<double>(200000 - got1));
    const auto& samples = params->Find("samples")->AsArray();
    ASSERT_EQ(samples.size(), 3u);
    EXPECT_EQ(service::WriteJson(samples[2]),
              R"({"scan":)" + std::to_string(scan) + R"(,"t":)" +
                  service::WriteJson(service::Json(static_cast<double>(scan) / 1000)) +
                  R"(,"values":[)" + std::to_string(scan % 256) + ",null]}");
    // A client gone ends its subscription in the engine.
    s.Disconnect(1);
    EXPECT_EQ(std::get<acq::Unwatch>(posted.back()).id, 1u);
}

// A client that asks faster than it reads is read no further while kMaxPending of its requests
// wait: what it makes the service hold stays bounded, and every request is answered, in order.
TEST(ServiceQueue, AClientThatAsksAheadWaitsForItsAnswersBeforeMoreIsRead) {
    mcu::MCAppl appl;
    appl.vars.push_back({"COUNTER", 0x33});
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::uint64_t> watches;
    service::ServiceSetup setup;
    setup.post = [&](acq::Command c) {
        std::lock_guard lock(mutex);
        if (const auto* w = std::get_if<acq::Watch>(&c)) {
            watches.push_back(w->id);
            changed.notify_all();
        }
        return std::uint64_t{1};
    };
    setup.variables = acq::VariableTable(appl);
    service::Service s(std::move(setup));
    acq::Batch up;
    up.status.link = acq::LinkState::Up;
    s.OnBatch(up);
    testing_support::TempDir dir;
    service::Server server(s);
    std::string error;
    ASSERT_TRUE(server.Listen(dir.path() + "/s.sock", error)) << error;
    std::thread serving([&] { server.Run(); });
    struct Stop {
        service::Server& server;
        std::thread& thread;
        ~Stop() {
            server.Stop();
            thread.join();
        }
    } stop{server, serving};

    constexpr int kRequests = 200;
    std::string requests;
    for (int i = 1; i <= kRequests; ++i) {
        requests += (i > 1 ? "\n" : "") + std::string(R"({"jsonrpc":"2.0","id":)") +
                    std::to_string(i) + R"(,"method":"read","params":{"names":["COUNTER"]}})";
    }
    Client asker(dir.path() + "/s.sock");
    asker.Send(requests);
    // Another client's answer: the server has taken what the first one sent by then.
    Client other(dir.path() + "/s.sock");
    ASSERT_NE(other.Call("status").Find("result"), nullptr);
    std::size_t answered = 0;
    std::uint64_t scan = 0;
    while (answered < kRequests) {
        acq::Batch b;
        {
            std::unique_lock lock(mutex);
            ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10),
                                         [&] { return watches.size() > answered; }));
            ASSERT_LE(watches.size() - answered, service::kMaxPending);
            for (; answered < watches.size(); ++answered) {
                b.watched.push_back({watches[answered], ++scan, 0, {1.0}});
            }
        }
        b.status.link = acq::LinkState::Up;
        s.OnBatch(b);
    }
    for (int i = 1; i <= kRequests; ++i) {
        const Json reply = asker.Next();
        ASSERT_NE(reply.Find("result"), nullptr) << i;
        EXPECT_EQ(reply.Find("id")->AsNumber(), i);
    }
}

// A float goes out with its own shortest digits also where the host's locale (the window's, as
// Qt sets it from the environment) writes decimals with a comma.
TEST(ServiceQueue, AFloatIsSentWithItsOwnDigitsWhateverTheLocale) {
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) {
        GTEST_SKIP() << "no de_DE.UTF-8 locale here";
    }
    mcu::MCAppl appl;
    appl.vars.push_back({"COUNTER", 0x33});
    service::ServiceSetup setup;
    setup.post = [](acq::Command) { return std::uint64_t{1}; };
    setup.variables = acq::VariableTable(appl);
    service::Service s(std::move(setup));
    acq::Batch b;
    b.status.link = acq::LinkState::Up;
    s.OnBatch(b);
    s.HandleLine(1,
                 R"({"jsonrpc":"2.0","id":1,"method":"read","params":{"names":["COUNTER:f32"]}})");
    b.watched.push_back({1, 1, 0, {static_cast<double>(0.1f)}});
    s.OnBatch(b);
    const std::string reply = s.TakeOutput(1);
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_NE(reply.find(R"("values":[0.1])"), std::string::npos) << reply;
}

// Every subscription is read in every scan: one client's are bounded, another's are its own.
TEST(ServiceQueue, AClientHoldsABoundedNumberOfSubscriptions) {
    mcu::MCAppl appl;
    appl.vars.push_back({"COUNTER", 0x33});
    std::size_t watches = 0;
    service::ServiceSetup setup;
    setup.post = [&](acq::Command c) {
        watches += std::holds_alternative<acq::Watch>(c) ? 1 : 0;
        return std::uint64_t{1};
    };
    setup.variables = acq::VariableTable(appl);
    service::Service s(std::move(setup));
    const std::string subscribe =
        R"({"jsonrpc":"2.0","id":1,"method":"subscribe","params":{"names":["COUNTER"]}})";
    for (std::size_t i = 0; i <= service::kMaxSubscriptions; ++i) {
        s.HandleLine(1, subscribe);
    }
    s.HandleLine(2, subscribe);
    EXPECT_EQ(watches, service::kMaxSubscriptions + 1);
    const std::string out = s.TakeOutput(1);
    EXPECT_NE(out.find(R"("message":"A client has at most 64 subscriptions")"), std::string::npos);
}

} // namespace
