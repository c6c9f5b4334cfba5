// The script service: JSON-RPC 2.0, one message a line (docs/service.md), over the acquisition
// engine. The service never touches the link: reads are watches (acquisition/watch.h) and writes
// are WriteVariable commands posted to the engine, and the answers come back in the engine's
// batches through OnBatch. It serves any number of clients, each known by a number its host
// gives it, and keeps for each a bounded queue of outgoing lines that the host takes and sends.
//
// Threads: every member may be called from any thread; one lock guards the state and no member
// waits for a client or for the engine. A host calls OnBatch with every batch from the engine's
// batch sink (on the engine's thread, before any queue that may drop batches), HandleLine and
// Disconnect from its server's thread, and TakeOutput when the client can be written to; the
// notify callback tells it that output is waiting.
#pragma once

#include "acquisition/batch.h"
#include "acquisition/commands.h"
#include "acquisition/engine.h"
#include "acquisition/variable_table.h"
#include "recorder/csv_recorder.h"
#include "service/json.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace service {

using ClientId = std::uint64_t;

// A message line is at most this long (without its "\n").
inline constexpr std::size_t kMaxLine = 65536;
// Bytes a client's outgoing queue holds; samples that would go beyond are dropped as whole
// batches and counted in the next notification's gap. Replies are never dropped.
inline constexpr std::size_t kOutputLimit = 4u << 20;
// The most scans one read may ask for, and the most names a request may carry.
inline constexpr std::uint64_t kMaxReadScans = 100000;
inline constexpr std::size_t kMaxNames = 1200;
// The most values (scans times names) one read may ask for: its answer is held whole.
inline constexpr std::uint64_t kMaxReadValues = 1000000;
// A client with this many requests unanswered, or a full queue, is not read from until its
// answers went out: what it may make the service hold is bounded.
inline constexpr std::size_t kMaxPending = 16;
// The most subscriptions one client may hold.
inline constexpr std::size_t kMaxSubscriptions = 64;
// A recording's columns are the engine's channel numbers, one byte each.
inline constexpr std::size_t kMaxRecordNames = 255;

inline constexpr int kParseError = -32700;
inline constexpr int kInvalidRequest = -32600;
inline constexpr int kMethodNotFound = -32601;
inline constexpr int kInvalidParams = -32602;
inline constexpr int kLinkDown = -32000;
inline constexpr int kWriteFailed = -32001;
inline constexpr int kReadFailed = -32002;
inline constexpr int kRecording = -32003;

// What the host tells the service about the engine it runs over.
struct ServiceSetup {
    std::function<std::uint64_t(acq::Command)> post; // Engine::Post or Driver::Post
    acq::VariableTable variables;
    std::string application;
    std::string port;
    // The steady clock (acq::SteadyUs) at the host's start: sample times count from here.
    std::int64_t startUs = 0;
    // The service's watch ids (subscription numbers among them) count up from here; a host
    // with watches of its own keeps their ids apart (mcctl has none).
    std::uint64_t firstWatchId = 1;
};

// A variable as a request names it, resolved against the table.
struct Resolved {
    std::string name; // as the client gave it
    acq::WatchItem item;
    const mcu::MCVar* variable = nullptr;
    std::uint8_t offset = 0; // the index above the variable
};

// Resolves a name as a channel box does; false with the user's text ("Var FOO not defined
// (close: FOLLOW)", "Var X cannot be read: REASON").
bool ResolveName(const acq::VariableTable& table, const std::string& name, Resolved& resolved,
                 std::string& error);
// Whether the variable may be written: a whole variable of the table between the markers
// COMSET_VAR_BEG and COMSET_VAR_END, as the scope's setters offer them.
bool Settable(const acq::VariableTable& table, const Resolved& resolved);

class Service {
public:
    explicit Service(ServiceSetup setup);
    ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    // Called whenever a client's queue gained lines (from whichever thread added them).
    void SetNotify(std::function<void()> notify);

    // One line from the client, without its "\n".
    void HandleLine(ClientId client, std::string_view line);
    // The client sent a line longer than kMaxLine (the host discards it up to its "\n").
    void LineTooLong(ClientId client);
    // Every batch of the engine, in order.
    void OnBatch(const acq::Batch& batch);
    // The client is gone: its subscriptions and pending requests end (a recording goes on).
    void Disconnect(ClientId client);

    // Takes the client's queued lines, each ending in "\n".
    std::string TakeOutput(ClientId client);
    // The client still waits for answers to requests it sent.
    bool Pending(ClientId client) const;
    // The host takes no more lines of the client for now (kMaxPending requests unanswered, or
    // kOutputLimit bytes queued).
    bool Busy(ClientId client) const;

    // Ends a running recording (the host's end).
    void Shutdown();

private:
    struct Subscription {
        ClientId client = 0;
        std::uint64_t watch = 0;
        std::vector<std::string> names;
        std::vector<mcu::VarType> types;
        std::uint64_t gap = 0;
    };
    struct PendingRead {
        ClientId client = 0;
        Json id;
        std::uint64_t watch = 0;
        std::vector<std::string> names;
        std::vector<mcu::VarType> types;
        std::uint64_t wanted = 0;
        std::vector<acq::WatchedScan> scans; // kept raw: far smaller than their JSON
        std::uint64_t got = 0;
        std::vector<bool> anyValue;
        bool silent = false;
    };
    struct PendingWrite {
        ClientId client = 0;
        Json id;
        std::uint64_t command = 0;
        std::string name;
        Json value;
        bool silent = false;
    };
    struct Outgoing {
        std::deque<std::string> lines;
        std::size_t bytes = 0;
    };
    struct Recording {
        std::uint64_t watch = 0;
        std::vector<std::string> names;
        std::unique_ptr<acq::CsvRecorder> writer;
    };

    // Calls the notify callback when lines were queued (under the lock).
    void Notify();
    void Dispatch(ClientId client, const Json& id, const std::string& method, const Json* params);
    void Reply(ClientId client, const Json& id, Json result);
    void Error(ClientId client, const Json& id, int code, const std::string& message);
    // Reply and Error unless the request was a notification (silent_).
    void Answer(ClientId client, const Json& id, Json result);
    void Fail(ClientId client, const Json& id, int code, const std::string& message);
    // Queues a line; false (nothing queued) when droppable and the queue is full.
    bool Send(ClientId client, std::string line, bool droppable);
    bool Names(const Json* params, ClientId client, const Json& id, std::vector<Resolved>& resolved,
               std::vector<std::string>& names);
    bool LinkUp(ClientId client, const Json& id);
    Json LinkJson() const;
    Json SampleJson(const acq::WatchedScan& scan, const std::vector<mcu::VarType>& types) const;
    void Describe(ClientId client, const Json& id);
    void Read(ClientId client, const Json& id, const Json* params);
    void Write(ClientId client, const Json& id, const Json* params);
    void Subscribe(ClientId client, const Json& id, const Json* params);
    void Unsubscribe(ClientId client, const Json& id, const Json* params);
    void RecordStart(ClientId client, const Json& id, const Json* params);
    void RecordStop(ClientId client, const Json& id);
    void StopRecording(std::uint64_t& rows, std::string& error);

    ServiceSetup setup_;
    mutable std::mutex mutex_;
    std::function<void()> notify_;
    std::uint64_t nextWatch_;
    std::map<ClientId, Outgoing> out_;
    std::map<std::uint64_t, Subscription> subscriptions_; // by id (its watch)
    std::vector<PendingRead> reads_;
    std::vector<PendingWrite> writes_;
    std::optional<Recording> recording_;
    acq::EngineStatus status_;
    std::uint16_t rate_ = 0;
    bool notified_ = false;
    bool silent_ = false;
};

} // namespace service
