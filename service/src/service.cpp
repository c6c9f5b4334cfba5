#include "service/service.h"

#include "acquisition/channel_name.h"
#include "acquisition/sampling.h"
#include "foundation/text.h"
#include "recorder/mcrec.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace service {

namespace {

std::string Upper(std::string text) {
    foundation::UpperCaseText(text);
    return text;
}

// A float's value with the float's own shortest digits, so that 0.1f is sent as 0.1.
double Shown(double value, mcu::VarType type) {
    if (type != mcu::VarType::F32) {
        return value;
    }
    // from_chars, not strtod: the window's locale may write its decimals with a comma.
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, static_cast<float>(value));
    double shown = value;
    std::from_chars(text, end, shown);
    return shown;
}

const char* ReasonName(acq::LinkReason reason) {
    switch (reason) {
    case acq::LinkReason::None:
        return "none";
    case acq::LinkReason::PortInUse:
        return "port_in_use";
    case acq::LinkReason::DeviceGone:
        return "device_gone";
    case acq::LinkReason::McSilent:
        return "mc_silent";
    }
    return "none";
}

int BitNumber(std::uint8_t mask) {
    for (int b = 0; b < 8; ++b) {
        if (mask == (1u << b)) {
            return b;
        }
    }
    return -1;
}

bool WholeCount(const Json& value, std::uint64_t limit, std::uint64_t& count) {
    if (!value.IsNumber() || std::trunc(value.AsNumber()) != value.AsNumber() ||
        value.AsNumber() < 1 || value.AsNumber() > static_cast<double>(limit)) {
        return false;
    }
    count = static_cast<std::uint64_t>(value.AsNumber());
    return true;
}

} // namespace

bool ResolveName(const acq::VariableTable& table, const std::string& name, Resolved& resolved,
                 std::string& error) {
    std::string text = Upper(name);
    resolved = Resolved{};
    resolved.name = name;
    std::optional<mcu::VarType> type;
    if (const auto colon = text.find(':'); colon != std::string::npos) {
        mcu::VarType parsed = mcu::VarType::U8;
        if (!mcu::ParseTypeName(text.substr(colon + 1), parsed)) {
            error = "Unknown type " + name.substr(colon + 1);
            return false;
        }
        type = parsed;
        text.resize(colon);
    }
    acq::ResolvedChannel r;
    if (!acq::ResolveChannelName(table, text, r)) {
        acq::ChannelName parts;
        const std::string base = acq::SplitChannelName(text, parts) ? parts.base : text;
        const mcu::MCVar* known = table.Find(base);
        if (known != nullptr && !known->reachable) {
            error = "Var " + text + " cannot be read: " + known->reason;
            return false;
        }
        std::vector<std::string> names;
        for (const mcu::MCVar& v : table.Vars()) {
            if (!v.linkKeyword) {
                names.push_back(v.name);
            }
        }
        const auto close = recorder::CloseMatches(base, names);
        error = "Var " + text + " not defined";
        for (std::size_t i = 0; i < close.size(); ++i) {
            error += (i == 0 ? " (close: " : ", ") + close[i];
        }
        error += close.empty() ? "" : ")";
        return false;
    }
    resolved.variable = r.variable;
    resolved.item.address = r.address;
    resolved.item.mask = r.mask;
    if (r.mask != 0) {
        resolved.item.type = mcu::VarType::Bit;
    } else if (type) {
        resolved.item.type = *type;
    } else {
        resolved.item.type = r.type == mcu::VarType::Bit ? mcu::VarType::U8 : r.type;
    }
    if (type && *type == mcu::VarType::Bit && r.mask == 0) {
        error = "Type bit needs a bit: " + text + ".b";
        return false;
    }
    if (r.variable != nullptr && r.address >= r.variable->address) {
        resolved.offset = static_cast<std::uint8_t>(r.address - r.variable->address);
    }
    return true;
}

bool Settable(const acq::VariableTable& table, const Resolved& resolved) {
    const mcu::MCVar* v = resolved.variable;
    const mcu::MCVar* begin = table.Find("COMSET_VAR_BEG");
    const mcu::MCVar* end = table.Find("COMSET_VAR_END");
    if (v == nullptr || begin == nullptr || end == nullptr || resolved.item.mask != 0 ||
        resolved.item.type == mcu::VarType::Bit) {
        return false;
    }
    // The setters' rule: a whole byte between the markers, the markers themselves, the x
    // variable's byte and USERRAM left out.
    if (v->name == "COM_VARX" || v->name == "COMSET_VAR_BEG" || v->name == "COMSET_VAR_END" ||
        v->name == "USERRAM") {
        return false;
    }
    const unsigned first = begin->address & 0xFF;
    const unsigned last = end->address & 0xFF;
    const unsigned address = resolved.item.address;
    const unsigned size = static_cast<unsigned>(mcu::TypeSize(resolved.item.type));
    return address >= first && address + size <= last;
}

Service::Service(ServiceSetup setup) : setup_(std::move(setup)), nextWatch_(setup_.firstWatchId) {}

Service::~Service() {
    Shutdown();
}

void Service::SetNotify(std::function<void()> notify) {
    std::lock_guard lock(mutex_);
    notify_ = std::move(notify);
}

bool Service::Send(ClientId client, std::string line, bool droppable) {
    Outgoing& o = out_[client];
    if (droppable && o.bytes + line.size() + 1 > kOutputLimit) {
        return false;
    }
    o.bytes += line.size() + 1;
    o.lines.push_back(std::move(line));
    notified_ = true;
    return true;
}

void Service::Reply(ClientId client, const Json& id, Json result) {
    Json message(Json::Object{});
    message.Set("jsonrpc", "2.0");
    message.Set("id", id);
    message.Set("result", std::move(result));
    Send(client, WriteJson(message), false);
}

void Service::Error(ClientId client, const Json& id, int code, const std::string& text) {
    Json error(Json::Object{});
    error.Set("code", code);
    error.Set("message", text);
    Json message(Json::Object{});
    message.Set("jsonrpc", "2.0");
    message.Set("id", id);
    message.Set("error", std::move(error));
    Send(client, WriteJson(message), false);
}

std::string Service::TakeOutput(ClientId client) {
    std::lock_guard lock(mutex_);
    const auto found = out_.find(client);
    if (found == out_.end()) {
        return {};
    }
    std::string text;
    text.reserve(found->second.bytes);
    for (const std::string& line : found->second.lines) {
        text += line;
        text += '\n';
    }
    found->second = Outgoing{};
    return text;
}

bool Service::Busy(ClientId client) const {
    std::lock_guard lock(mutex_);
    std::size_t requests = 0;
    for (const PendingRead& r : reads_) {
        requests += r.client == client ? 1 : 0;
    }
    for (const PendingWrite& w : writes_) {
        requests += w.client == client ? 1 : 0;
    }
    const auto found = out_.find(client);
    return requests >= kMaxPending || (found != out_.end() && found->second.bytes >= kOutputLimit);
}

bool Service::Pending(ClientId client) const {
    std::lock_guard lock(mutex_);
    for (const PendingRead& r : reads_) {
        if (r.client == client) {
            return true;
        }
    }
    for (const PendingWrite& w : writes_) {
        if (w.client == client) {
            return true;
        }
    }
    return false;
}

void Service::LineTooLong(ClientId client) {
    std::lock_guard lock(mutex_);
    Error(client, Json(), kInvalidRequest, "Line too long");
    Notify();
}

void Service::Notify() {
    // Under the lock: SetNotify(nullptr) then returns only when no call of the old callback
    // runs, so the host that goes away is never woken after its end.
    if (notified_ && notify_) {
        notify_();
    }
}

void Service::HandleLine(ClientId client, std::string_view line) {
    {
        std::lock_guard lock(mutex_);
        notified_ = false;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        Json message;
        std::string why;
        if (line.size() > kMaxLine) {
            Error(client, Json(), kInvalidRequest, "Line too long");
        } else if (!ParseJson(line, message, why)) {
            Error(client, Json(), kParseError, "Parse error");
        } else {
            const Json* id = message.Find("id");
            const Json* version = message.Find("jsonrpc");
            const Json* method = message.Find("method");
            const Json* params = message.Find("params");
            const bool idValid = id == nullptr || id->IsNull() || id->IsNumber() || id->IsString();
            const Json shownId = id != nullptr && idValid ? *id : Json();
            if (!message.IsObject() || version == nullptr || !version->IsString() ||
                version->AsString() != "2.0" || method == nullptr || !method->IsString() ||
                !idValid || (params != nullptr && !params->IsObject() && !params->IsArray())) {
                Error(client, shownId, kInvalidRequest, "Invalid request");
            } else {
                // A request without an id is a notification: it runs, and nothing answers.
                silent_ = id == nullptr;
                Dispatch(client, shownId, method->AsString(), params);
                silent_ = false;
            }
        }
        Notify();
    }
}

void Service::Dispatch(ClientId client, const Json& id, const std::string& method,
                       const Json* params) {
    if (method == "describe") {
        Describe(client, id);
    } else if (method == "status") {
        Json result(Json::Object{});
        result.Set("link", LinkJson());
        result.Set("rate", static_cast<int>(rate_));
        result.Set("subscriptions", static_cast<std::uint64_t>(subscriptions_.size()));
        result.Set("recording", recording_ ? Json(recording_->writer->Path()) : Json());
        Answer(client, id, std::move(result));
    } else if (method == "read") {
        Read(client, id, params);
    } else if (method == "write") {
        Write(client, id, params);
    } else if (method == "subscribe") {
        Subscribe(client, id, params);
    } else if (method == "unsubscribe") {
        Unsubscribe(client, id, params);
    } else if (method == "record_start") {
        RecordStart(client, id, params);
    } else if (method == "record_stop") {
        RecordStop(client, id);
    } else {
        Fail(client, id, kMethodNotFound, "Method not found: " + method);
    }
}

void Service::Answer(ClientId client, const Json& id, Json result) {
    if (!silent_) {
        Reply(client, id, std::move(result));
    }
}

void Service::Fail(ClientId client, const Json& id, int code, const std::string& text) {
    if (!silent_) {
        Error(client, id, code, text);
    }
}

Json Service::LinkJson() const {
    Json link(Json::Object{});
    link.Set("state", status_.link == acq::LinkState::Up ? "up" : "down");
    link.Set("reason", ReasonName(status_.reason));
    link.Set("text", status_.linkError);
    return link;
}

bool Service::LinkUp(ClientId client, const Json& id) {
    if (status_.link == acq::LinkState::Up) {
        return true;
    }
    Fail(client, id, kLinkDown,
         status_.linkError.empty() ? "no answer on " + setup_.port : status_.linkError);
    return false;
}

bool Service::Names(const Json* params, ClientId client, const Json& id,
                    std::vector<Resolved>& resolved, std::vector<std::string>& names) {
    const Json* list = params != nullptr ? params->Find("names") : nullptr;
    if (list == nullptr || !list->IsArray() || list->AsArray().empty() ||
        list->AsArray().size() > kMaxNames) {
        Fail(client, id, kInvalidParams,
             "names: a list of 1 to " + std::to_string(kMaxNames) + " variable names");
        return false;
    }
    for (const Json& n : list->AsArray()) {
        if (!n.IsString()) {
            Fail(client, id, kInvalidParams, "names: every name is a string");
            return false;
        }
        Resolved r;
        std::string error;
        if (!ResolveName(setup_.variables, n.AsString(), r, error)) {
            Fail(client, id, kInvalidParams, error);
            return false;
        }
        resolved.push_back(r);
        names.push_back(n.AsString());
    }
    return true;
}

void Service::Describe(ClientId client, const Json& id) {
    Json variables(Json::Array{});
    for (const mcu::MCVar& v : setup_.variables.Vars()) {
        if (v.linkKeyword) {
            continue;
        }
        Resolved r;
        r.variable = &v;
        r.item = {v.address, v.bitMask, v.bitMask != 0 ? mcu::VarType::Bit : v.type};
        Json var(Json::Object{});
        var.Set("name", v.name);
        var.Set("type", mcu::TypeName(r.item.type));
        var.Set("space", mcu::SpaceName(v.space));
        var.Set("address", static_cast<int>(v.address));
        const int bit = BitNumber(v.bitMask);
        var.Set("bit", v.bitMask == 0 ? Json() : Json(bit >= 0 ? bit : int{v.bitMask}));
        var.Set("unit", v.unit);
        var.Set("factor", v.factor);
        var.Set("offset", v.offset);
        var.Set("readable", v.reachable);
        if (!v.reachable) {
            var.Set("reason", v.reason);
        }
        var.Set("settable", v.reachable && Settable(setup_.variables, r));
        variables.Push(std::move(var));
    }
    Json result(Json::Object{});
    result.Set("application", setup_.application);
    result.Set("port", setup_.port);
    result.Set("link", LinkJson());
    result.Set("variables", std::move(variables));
    Answer(client, id, std::move(result));
}

void Service::Read(ClientId client, const Json& id, const Json* params) {
    std::vector<Resolved> resolved;
    PendingRead read;
    if (!Names(params, client, id, resolved, read.names)) {
        return;
    }
    read.wanted = 1;
    const Json* n = params->Find("n");
    // The answer is held until its last scan: its size is bounded, not only its scans.
    const std::uint64_t most =
        std::min<std::uint64_t>(kMaxReadScans, kMaxReadValues / resolved.size());
    if (n != nullptr && !WholeCount(*n, most, read.wanted)) {
        Fail(
            client, id, kInvalidParams,
            "n: a whole number of scans from 1 to " + std::to_string(most) +
                (most < kMaxReadScans ? " for " + std::to_string(resolved.size()) + " names" : ""));
        return;
    }
    if (!LinkUp(client, id)) {
        return;
    }
    read.client = client;
    read.id = id;
    read.silent = silent_;
    read.watch = nextWatch_++;
    acq::Watch watch{read.watch, {}, read.wanted};
    for (const Resolved& r : resolved) {
        watch.items.push_back(r.item);
        read.types.push_back(r.item.type);
    }
    read.anyValue.assign(resolved.size(), false);
    reads_.push_back(std::move(read));
    setup_.post(std::move(watch));
}

void Service::Write(ClientId client, const Json& id, const Json* params) {
    const Json* name = params != nullptr ? params->Find("name") : nullptr;
    const Json* value = params != nullptr ? params->Find("value") : nullptr;
    if (name == nullptr || !name->IsString() || value == nullptr ||
        !(value->IsNumber() || value->IsBool())) {
        Fail(client, id, kInvalidParams, "write takes a name and a number as value");
        return;
    }
    Resolved r;
    std::string error;
    if (!ResolveName(setup_.variables, name->AsString(), r, error)) {
        Fail(client, id, kInvalidParams, error);
        return;
    }
    // The name as the user's texts show it: upper case, its type as the type names are written.
    std::string shown = Upper(name->AsString());
    if (const std::size_t colon = shown.find(':'); colon != std::string::npos) {
        shown = shown.substr(0, colon + 1) +
                mcu::TypeName(r.item.mask != 0 ? mcu::VarType::Bit : r.item.type);
    }
    if (!Settable(setup_.variables, r)) {
        Fail(client, id, kWriteFailed, "Var " + shown + " outside the settable window");
        return;
    }
    const double v = value->IsBool() ? (value->AsBool() ? 1 : 0) : value->AsNumber();
    if (!acq::FitsType(r.item.type, v)) {
        Fail(client, id, kInvalidParams,
             "Var " + shown + " cannot hold " + WriteJson(*value) + " as " +
                 mcu::TypeName(r.item.type));
        return;
    }
    if (!LinkUp(client, id)) {
        return;
    }
    PendingWrite write{client, id, 0, name->AsString(), Json(Shown(v, r.item.type)), silent_};
    write.command = setup_.post(acq::WriteVariable{r.variable->name, r.item.type, v, r.offset});
    writes_.push_back(std::move(write));
}

void Service::Subscribe(ClientId client, const Json& id, const Json* params) {
    std::vector<Resolved> resolved;
    Subscription s;
    if (!Names(params, client, id, resolved, s.names)) {
        return;
    }
    // Every subscription is read in every scan: a client may not grind the engine down.
    std::size_t own = 0;
    for (const auto& [number, other] : subscriptions_) {
        own += other.client == client ? 1 : 0;
    }
    if (own >= kMaxSubscriptions) {
        Fail(client, id, kInvalidParams,
             "A client has at most " + std::to_string(kMaxSubscriptions) + " subscriptions");
        return;
    }
    s.client = client;
    s.watch = nextWatch_++;
    acq::Watch watch{s.watch, {}};
    for (const Resolved& r : resolved) {
        watch.items.push_back(r.item);
        s.types.push_back(r.item.type);
    }
    Json result(Json::Object{});
    result.Set("subscription", s.watch);
    Json names(Json::Array{});
    for (const std::string& n : s.names) {
        names.Push(n);
    }
    result.Set("names", std::move(names));
    subscriptions_.emplace(s.watch, std::move(s));
    setup_.post(std::move(watch));
    Answer(client, id, std::move(result));
}

void Service::Unsubscribe(ClientId client, const Json& id, const Json* params) {
    const Json* which = params != nullptr ? params->Find("subscription") : nullptr;
    std::uint64_t number = 0;
    if (which == nullptr || !WholeCount(*which, ~std::uint64_t{0} >> 12, number)) {
        Fail(client, id, kInvalidParams, "subscription: the number subscribe gave");
        return;
    }
    const auto found = subscriptions_.find(number);
    if (found == subscriptions_.end() || found->second.client != client) {
        Fail(client, id, kInvalidParams, "No subscription " + std::to_string(number));
        return;
    }
    subscriptions_.erase(found);
    setup_.post(acq::Unwatch{number});
    Answer(client, id, Json(true));
}

void Service::RecordStart(ClientId client, const Json& id, const Json* params) {
    if (recording_) {
        Fail(client, id, kRecording, "A recording is running");
        return;
    }
    const Json* path = params != nullptr ? params->Find("path") : nullptr;
    if (path == nullptr || !path->IsString() || path->AsString().empty()) {
        Fail(client, id, kInvalidParams, "path: the file to record to");
        return;
    }
    std::vector<Resolved> resolved;
    std::vector<std::string> names;
    if (!Names(params, client, id, resolved, names)) {
        return;
    }
    if (resolved.size() > kMaxRecordNames) {
        Fail(client, id, kInvalidParams,
             "A recording takes at most " + std::to_string(kMaxRecordNames) + " names");
        return;
    }
    acq::RecordLayout layout;
    for (std::size_t i = 0; i < resolved.size(); ++i) {
        acq::RecordChannel c =
            acq::MakeRecordChannel(static_cast<int>(i) + 1, Upper(names[i]), resolved[i].item.mask,
                                   resolved[i].variable, resolved[i].item.type);
        layout.channels.push_back(std::move(c));
    }
    Recording r;
    r.names = names;
    r.writer = std::make_unique<acq::CsvRecorder>();
    std::string error;
    if (!r.writer->Start(path->AsString(), std::move(layout), acq::SteadyUs(), 0, error)) {
        // As mcrec says it: the file, then what stood in the way.
        Fail(client, id, kRecording, path->AsString() + ": " + error);
        return;
    }
    r.watch = nextWatch_++;
    acq::Watch watch{r.watch, {}};
    for (const Resolved& x : resolved) {
        watch.items.push_back(x.item);
    }
    recording_ = std::move(r);
    setup_.post(std::move(watch));
    Json result(Json::Object{});
    result.Set("path", path->AsString());
    Answer(client, id, std::move(result));
}

void Service::StopRecording(std::uint64_t& rows, std::string& error) {
    setup_.post(acq::Unwatch{recording_->watch});
    if (!recording_->writer->Stop()) {
        error = recording_->writer->Error();
    }
    rows = recording_->writer->Rows();
    recording_.reset();
}

void Service::RecordStop(ClientId client, const Json& id) {
    if (!recording_) {
        Fail(client, id, kRecording, "No recording is running");
        return;
    }
    const std::string path = recording_->writer->Path();
    std::uint64_t rows = 0;
    std::string error;
    StopRecording(rows, error);
    if (!error.empty()) {
        Fail(client, id, kRecording, path + ": " + error);
        return;
    }
    Json result(Json::Object{});
    result.Set("path", path);
    result.Set("rows", rows);
    Answer(client, id, std::move(result));
}

Json Service::SampleJson(const acq::WatchedScan& scan,
                         const std::vector<mcu::VarType>& types) const {
    Json sample(Json::Object{});
    sample.Set("scan", scan.scan);
    sample.Set("t", static_cast<double>(scan.arrivalUs - setup_.startUs) / 1e6);
    Json values(Json::Array{});
    for (std::size_t i = 0; i < scan.values.size(); ++i) {
        const auto& v = scan.values[i];
        values.Push(v ? Json(Shown(*v, i < types.size() ? types[i] : mcu::VarType::U8)) : Json());
    }
    sample.Set("values", std::move(values));
    return sample;
}

void Service::OnBatch(const acq::Batch& batch) {
    {
        std::lock_guard lock(mutex_);
        notified_ = false;
        status_ = batch.status;
        rate_ = batch.rate;
        for (const acq::WriteAnswer& answer : batch.writes) {
            for (auto w = writes_.begin(); w != writes_.end(); ++w) {
                if (w->command != answer.command) {
                    continue;
                }
                silent_ = w->silent;
                if (answer.ok) {
                    Json result(Json::Object{});
                    result.Set("name", w->name);
                    result.Set("value", w->value);
                    Answer(w->client, w->id, std::move(result));
                } else {
                    Fail(w->client, w->id, kWriteFailed, "Write of " + Upper(w->name) + " failed");
                }
                silent_ = false;
                writes_.erase(w);
                break;
            }
        }
        // The scans of each watch in this batch, in order.
        std::map<std::uint64_t, std::vector<const acq::WatchedScan*>> scans;
        for (const acq::WatchedScan& s : batch.watched) {
            scans[s.id].push_back(&s);
        }
        for (auto& [watch, sub] : subscriptions_) {
            const auto found = scans.find(watch);
            if (found == scans.end()) {
                continue;
            }
            Json params(Json::Object{});
            params.Set("subscription", watch);
            params.Set("gap", sub.gap);
            Json samples(Json::Array{});
            for (const acq::WatchedScan* s : found->second) {
                samples.Push(SampleJson(*s, sub.types));
            }
            params.Set("samples", std::move(samples));
            Json message(Json::Object{});
            message.Set("jsonrpc", "2.0");
            message.Set("method", "samples");
            message.Set("params", std::move(params));
            if (Send(sub.client, WriteJson(message), true)) {
                sub.gap = 0;
            } else {
                sub.gap += found->second.size();
            }
        }
        for (auto r = reads_.begin(); r != reads_.end();) {
            const auto found = scans.find(r->watch);
            if (found != scans.end()) {
                for (const acq::WatchedScan* s : found->second) {
                    if (r->got == r->wanted) {
                        break;
                    }
                    ++r->got;
                    r->scans.push_back(*s);
                    for (std::size_t i = 0; i < s->values.size() && i < r->anyValue.size(); ++i) {
                        r->anyValue[i] = r->anyValue[i] || s->values[i].has_value();
                    }
                }
            }
            silent_ = r->silent;
            bool done = true;
            if (r->got == r->wanted) {
                std::size_t failed = 0;
                while (failed < r->anyValue.size() && r->anyValue[failed]) {
                    ++failed;
                }
                if (failed < r->anyValue.size()) {
                    Fail(r->client, r->id, kReadFailed,
                         "Read of " + Upper(r->names[failed]) + " failed");
                } else {
                    Json result(Json::Object{});
                    Json names(Json::Array{});
                    for (const std::string& n : r->names) {
                        names.Push(n);
                    }
                    result.Set("names", std::move(names));
                    Json samples(Json::Array{});
                    for (const acq::WatchedScan& scan : r->scans) {
                        samples.Push(SampleJson(scan, r->types));
                    }
                    r->scans.clear();
                    result.Set("samples", std::move(samples));
                    Answer(r->client, r->id, std::move(result));
                }
            } else if (status_.link == acq::LinkState::Down) {
                LinkUp(r->client, r->id);
            } else {
                done = false;
            }
            silent_ = false;
            if (done) {
                // A read that has its scans has ended its watch in the engine already.
                if (r->got < r->wanted) {
                    setup_.post(acq::Unwatch{r->watch});
                }
                r = reads_.erase(r);
            } else {
                ++r;
            }
        }
        if (recording_) {
            const auto found = scans.find(recording_->watch);
            if (found != scans.end()) {
                acq::Batch rows;
                acq::AppendWatchedSamples(batch.watched, recording_->watch, rows.samples);
                recording_->writer->Feed(rows);
            }
        }
        Notify();
    }
}

void Service::Disconnect(ClientId client) {
    std::lock_guard lock(mutex_);
    for (auto s = subscriptions_.begin(); s != subscriptions_.end();) {
        if (s->second.client == client) {
            setup_.post(acq::Unwatch{s->first});
            s = subscriptions_.erase(s);
        } else {
            ++s;
        }
    }
    std::erase_if(reads_, [&](const PendingRead& r) {
        if (r.client == client) {
            setup_.post(acq::Unwatch{r.watch});
            return true;
        }
        return false;
    });
    std::erase_if(writes_, [&](const PendingWrite& w) { return w.client == client; });
    out_.erase(client);
}

void Service::Shutdown() {
    std::lock_guard lock(mutex_);
    if (recording_) {
        std::uint64_t rows = 0;
        std::string error;
        StopRecording(rows, error);
    }
}

} // namespace service
