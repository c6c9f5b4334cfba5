#include "sim/simulator.h"

#include "sim/uart.h"

#include <algorithm>

namespace sim {

namespace {

constexpr std::uint64_t kNsPerUs = 1000;
constexpr std::uint64_t kNsPerMs = 1000000;
constexpr std::uint8_t kBusProbe = 0xFD;
constexpr std::uint8_t kBusProbeAnswer = 0x5A;
// A bus probe whose request byte does not follow within this time is forgotten.
constexpr std::uint64_t kBusRequestTimeoutNs = 1000 * kNsPerMs;

std::uint64_t CeilUs(std::uint64_t ns) {
    return (ns + kNsPerUs - 1) / kNsPerUs;
}

} // namespace

Simulator::Simulator(const Scenario& scenario, std::uint64_t startUs)
    : originNs_(startUs * kNsPerUs), nowNs_(originNs_), pcTxFreeNs_(originNs_),
      wiring_(scenario.wiring), latencyNs_(std::uint64_t{scenario.latencyUs} * kNsPerUs),
      jitterNs_(std::uint64_t{scenario.latencyJitterUs} * kNsPerUs),
      jitterRandom_(scenario.seed ^ 0x6A09E667F3BCC909ull), faults_(scenario.faults),
      random_(scenario.seed) {
    // The line levels of an opened link: channel 1 selected, no reset.
    rts_ = wiring_ != Wiring::UsbAdapter;
    dtr_ = wiring_ == Wiring::UsbAdapter;

    auto place = [this, &scenario](const std::string& name, int channel, int slot) {
        const DeviceConfig* config = scenario.FindDevice(name);
        if (config == nullptr) {
            return -1;
        }
        Unit unit;
        std::uint64_t seed = scenario.seed + 0x9E3779B97F4A7C15ull * (units_.size() + 1);
        unit.device = std::make_unique<Device>(*config, seed, originNs_);
        unit.channel = channel;
        unit.slot = slot;
        unit.tx.freeNs = originNs_;
        units_.push_back(std::move(unit));
        return static_cast<int>(units_.size() - 1);
    };
    for (int c = 1; c <= 3; ++c) {
        const ChannelConfig& config = scenario.channels[c];
        Channel& channel = channels_[c];
        channel.slots.fill(-1);
        channel.busTx.freeNs = originNs_;
        if (config.device.empty()) {
            continue;
        }
        channel.local = place(config.device, c, 0);
        channel.bus = config.bus && channel.local >= 0;
        for (int s = 1; s <= 7; ++s) {
            if (channel.bus && !config.slots[s].empty()) {
                channel.slots[s] = place(config.slots[s], c, s);
            }
        }
    }
    for (auto& unit : units_) {
        unit.device->Start(originNs_);
    }
}

Simulator::~Simulator() = default;

// ---------------------------------------------------------------------------- PC side

std::uint64_t Simulator::Write(std::uint8_t b, std::uint64_t nowUs) {
    AdvanceTo(nowUs);
    std::uint64_t start = std::max(nowNs_, pcTxFreeNs_);
    std::uint64_t end = start + Frame(pcBaud_);
    toMc_.push_back(Pending{start, end, b, pcBaud_});
    pcTxFreeNs_ = end;
    return CeilUs(end);
}

std::size_t Simulator::Available(std::uint64_t nowUs) {
    AdvanceTo(nowUs);
    return pcRx_.size();
}

std::optional<std::uint8_t> Simulator::ReadByte(std::uint64_t nowUs) {
    AdvanceTo(nowUs);
    if (pcRx_.empty()) {
        return std::nullopt;
    }
    std::uint8_t b = pcRx_.front();
    pcRx_.pop_front();
    return b;
}

std::vector<std::uint8_t> Simulator::ReadAll(std::uint64_t nowUs) {
    AdvanceTo(nowUs);
    std::vector<std::uint8_t> bytes(pcRx_.begin(), pcRx_.end());
    pcRx_.clear();
    return bytes;
}

std::uint64_t Simulator::PcTxIdleUs() const {
    return CeilUs(pcTxFreeNs_);
}

void Simulator::SetPcBaud(std::uint32_t baud, std::uint64_t nowUs) {
    AdvanceTo(nowUs);
    pcBaud_ = baud;
}

void Simulator::SetLines(bool rts, bool dtr, std::uint64_t nowUs) {
    AdvanceTo(nowUs);
    ApplyLines(rts, dtr);
}

void Simulator::ApplyLines(bool rts, bool dtr) {
    bool wasReset = InReset();
    rts_ = rts;
    dtr_ = dtr;
    bool reset = InReset();
    if (!wasReset && reset) {
        // Held in reset the MCs stop talking at once; what they had queued is lost.
        for (auto& unit : units_) {
            unit.device->HoldInReset();
            unit.tx = Transmitter{{}, {}, nowNs_};
        }
        for (int c = 1; c <= 3; ++c) {
            Channel& channel = channels_[c];
            channel.current = 0;
            channel.awaitingRequest = false;
            channel.busTx = Transmitter{{}, {}, nowNs_};
        }
    } else if (wasReset && !reset) {
        for (auto& unit : units_) {
            unit.device->Start(nowNs_);
        }
    }
}

bool Simulator::InReset() const {
    switch (wiring_) {
    case Wiring::ComThreeChannels:
        return !rts_ && !dtr_;
    case Wiring::ComOneChannel:
        return dtr_;
    case Wiring::UsbAdapter:
        return rts_;
    }
    return false;
}

int Simulator::SelectedChannel() const {
    if (InReset()) {
        return 0;
    }
    if (wiring_ != Wiring::ComThreeChannels) {
        return 1;
    }
    return rts_ && dtr_ ? 3 : rts_ ? 1 : 2;
}

int Simulator::CurrentSlot(int channel) const {
    if (channel < 1 || channel > 3) {
        return 0;
    }
    return channels_[channel].current;
}

Device* Simulator::DeviceAt(int channel, int slot) {
    if (channel < 1 || channel > 3 || slot < 0 || slot > 7) {
        return nullptr;
    }
    int index = slot == 0 ? channels_[channel].local : channels_[channel].slots[slot];
    return index >= 0 ? units_[index].device.get() : nullptr;
}

void Simulator::SetFaults(const FaultConfig& faults) {
    faults_ = faults;
    dropCount_ = echoCount_ = noiseCount_ = checksumCount_ = lateCount_ = 0;
}

void Simulator::SetVanished(bool vanished, std::uint64_t nowUs) {
    AdvanceTo(nowUs);
    vanishedByHand_ = vanished;
}

// ---------------------------------------------------------------------------- events

namespace {

struct Event {
    std::uint64_t timeNs;
    int kind; // order of events due at the same time
    int index;
};

} // namespace

std::optional<std::uint64_t> Simulator::NextEventUs() const {
    std::optional<std::uint64_t> next;
    auto consider = [&next](std::uint64_t t) {
        if (!next || t < *next) {
            next = t;
        }
    };
    for (const auto& unit : units_) {
        if (!unit.tx.rateChanges.empty()) {
            consider(unit.tx.rateChanges.front().first);
        }
        if (!unit.tx.queue.empty()) {
            consider(unit.tx.queue.front().endNs);
        }
        if (auto timer = unit.device->NextTimerNs()) {
            consider(*timer);
        }
    }
    for (int c = 1; c <= 3; ++c) {
        const Channel& channel = channels_[c];
        if (!channel.busTx.queue.empty()) {
            consider(channel.busTx.queue.front().endNs);
        }
        if (channel.awaitingRequest) {
            consider(channel.probeNs + kBusRequestTimeoutNs);
        }
    }
    if (!toMc_.empty()) {
        consider(toMc_.front().endNs);
    }
    if (!next) {
        return std::nullopt;
    }
    return CeilUs(std::max(*next, nowNs_));
}

std::optional<std::uint64_t> Simulator::NextDeliveryUs() const {
    std::optional<std::uint64_t> next;
    auto consider = [&next](const Transmitter& tx) {
        if (!tx.queue.empty() && (!next || tx.queue.front().endNs < *next)) {
            next = tx.queue.front().endNs;
        }
    };
    for (const auto& unit : units_) {
        consider(unit.tx);
    }
    for (int c = 1; c <= 3; ++c) {
        consider(channels_[c].busTx);
    }
    if (!next) {
        return std::nullopt;
    }
    return CeilUs(std::max(*next, nowNs_));
}

void Simulator::AdvanceTo(std::uint64_t nowUs) {
    std::uint64_t limit = nowUs * kNsPerUs;
    bool any = true;
    while (any) {
        ProcessOne(limit, any);
    }
    nowNs_ = std::max(nowNs_, limit);
}

void Simulator::ProcessOne(std::uint64_t limitNs, bool& any) {
    std::optional<Event> best;
    auto consider = [&best](std::uint64_t t, EventKind kind, int index) {
        Event e{t, static_cast<int>(kind), index};
        if (!best || e.timeNs < best->timeNs || (e.timeNs == best->timeNs && e.kind < best->kind)) {
            best = e;
        }
    };
    for (std::size_t i = 0; i < units_.size(); ++i) {
        const Unit& unit = units_[i];
        auto index = static_cast<int>(i);
        if (!unit.tx.rateChanges.empty()) {
            consider(unit.tx.rateChanges.front().first, EventKind::RateChange, index);
        }
        if (!unit.tx.queue.empty()) {
            consider(unit.tx.queue.front().endNs, EventKind::Delivery, index);
        }
        if (auto timer = unit.device->NextTimerNs()) {
            consider(*timer, EventKind::Timer, index);
        }
    }
    for (int c = 1; c <= 3; ++c) {
        const Channel& channel = channels_[c];
        // Bus masters are numbered after the devices.
        int index = static_cast<int>(units_.size()) + c;
        if (!channel.busTx.queue.empty()) {
            consider(channel.busTx.queue.front().endNs, EventKind::Delivery, index);
        }
        if (channel.awaitingRequest) {
            consider(channel.probeNs + kBusRequestTimeoutNs, EventKind::BusTimeout, c);
        }
    }
    if (!toMc_.empty()) {
        consider(toMc_.front().endNs, EventKind::Arrival, 0);
    }
    if (!best || best->timeNs > limitNs) {
        any = false;
        return;
    }
    any = true;
    nowNs_ = std::max(nowNs_, best->timeNs);

    switch (static_cast<EventKind>(best->kind)) {
    case EventKind::RateChange: {
        Unit& unit = units_[best->index];
        unit.device->SetBaud(unit.tx.rateChanges.front().second);
        unit.tx.rateChanges.pop_front();
        break;
    }
    case EventKind::Delivery:
        if (best->index < static_cast<int>(units_.size())) {
            Unit& unit = units_[best->index];
            Deliver(unit.tx, unit.channel, unit.slot, false);
        } else {
            int c = best->index - static_cast<int>(units_.size());
            Deliver(channels_[c].busTx, c, 0, true);
        }
        break;
    case EventKind::Timer: {
        Unit& unit = units_[best->index];
        TxActions out;
        unit.device->OnTimer(nowNs_, out);
        Schedule(unit.tx, unit.device->Baud(), nowNs_, out);
        break;
    }
    case EventKind::BusTimeout:
        channels_[best->index].awaitingRequest = false;
        break;
    case EventKind::Arrival:
        Arrive();
        break;
    }
}

void Simulator::Deliver(Transmitter& tx, int channel, int slot, bool busMaster) {
    Pending p = tx.queue.front();
    tx.queue.pop_front();
    bool vanished = VanishedAt(p.endNs);
    bool heard = !vanished && SelectedChannel() == channel &&
                 (busMaster || channels_[channel].current == slot);
    if (vanished) {
        ++counters_.vanished;
    }
    TrafficEntry entry;
    entry.direction = TrafficEntry::Direction::ToPc;
    entry.byte = p.byte;
    entry.channel = channel;
    entry.slot = slot;
    entry.startNs = p.startNs;
    entry.endNs = p.endNs;
    entry.heard = heard;
    Record(entry);
    if (!heard) {
        return;
    }
    if (pacing_ && p.baud != pcBaud_) {
        for (auto b : ReceiveAtRate(p.byte, p.baud, pcBaud_)) {
            pcRx_.push_back(b);
        }
    } else {
        pcRx_.push_back(p.byte);
    }
}

void Simulator::Arrive() {
    Pending p = toMc_.front();
    toMc_.pop_front();
    TrafficEntry entry;
    entry.direction = TrafficEntry::Direction::ToMc;
    entry.startNs = p.startNs;
    entry.endNs = p.endNs;

    int channel = SelectedChannel();
    int unitIndex = channel > 0 ? ChannelUnit(channel) : -1;
    if (VanishedAt(p.endNs)) {
        ++counters_.vanished;
        unitIndex = -1;
    }
    if (unitIndex < 0) {
        entry.byte = p.byte;
        entry.channel = 0;
        Record(entry);
        return;
    }
    Device& device = *units_[unitIndex].device;
    std::vector<std::uint8_t> received;
    if (pacing_ && p.baud != device.Baud()) {
        received = ReceiveAtRate(p.byte, p.baud, device.Baud());
    } else {
        received.push_back(p.byte);
    }
    for (auto b : received) {
        entry.byte = b;
        entry.channel = channel;
        entry.slot = units_[unitIndex].slot;
        Record(entry);
        Dispatch(channel, b, p.endNs);
    }
}

int Simulator::ChannelUnit(int channel) const {
    const Channel& c = channels_[channel];
    return c.current == 0 ? c.local : c.slots[c.current];
}

void Simulator::Dispatch(int channelIndex, std::uint8_t b, std::uint64_t tNs) {
    Channel& channel = channels_[channelIndex];
    if (channel.bus && channel.awaitingRequest) {
        channel.awaitingRequest = false;
        ServeBus(channel, b, tNs);
        return;
    }
    int unitIndex = ChannelUnit(channelIndex);
    if (unitIndex < 0) {
        return;
    }
    Unit& unit = units_[unitIndex];
    if (channel.bus && b == kBusProbe && unit.device->ReadyForBus()) {
        unit.device->CancelExchange();
        channel.awaitingRequest = true;
        channel.probeNs = tNs;
        TxAction answer;
        answer.byte = kBusProbeAnswer;
        Schedule(channel.busTx, units_[channel.local].device->Baud(), tNs, {answer});
        return;
    }
    TxActions out;
    unit.device->Receive(b, tNs, out);
    Schedule(unit.tx, unit.device->Baud(), tNs, out);
}

void Simulator::ServeBus(Channel& channel, std::uint8_t request, std::uint64_t tNs) {
    auto idOf = [this](int unitIndex) { return units_[unitIndex].device->Config().applId; };
    std::optional<std::uint8_t> reply;
    if (request == 0x00) {
        reply = idOf(channel.local);
    } else if (request == 0x01) {
        reply = static_cast<std::uint8_t>(channel.current << 5);
    } else if (request >= 0x20 && (request & 0x1F) == 0) {
        int slot = request >> 5;
        if (channel.slots[slot] >= 0) {
            reply = idOf(channel.slots[slot]);
        }
    } else if (request == 0x12 || (request >= 0x22 && (request & 0x1F) == 0x02)) {
        int slot = request == 0x12 ? 0 : request >> 5;
        int unitIndex = slot == 0 ? channel.local : channel.slots[slot];
        if (unitIndex >= 0) {
            channel.current = slot;
            reply = idOf(unitIndex);
        }
    }
    // Requests for absent devices, and requests the bus does not know, get no answer.
    if (reply) {
        TxAction answer;
        answer.byte = *reply;
        Schedule(channel.busTx, units_[channel.local].device->Baud(), tNs, {answer});
    }
}

std::uint32_t Simulator::ScheduledRate(const Transmitter& tx, std::uint32_t current) const {
    return tx.rateChanges.empty() ? current : tx.rateChanges.back().second;
}

void Simulator::Schedule(Transmitter& tx, std::uint32_t rate, std::uint64_t tNs,
                         const TxActions& actions) {
    if (actions.empty()) {
        return;
    }
    std::uint64_t cursor = std::max(tNs + AnswerDelayNs(), tx.freeNs);
    std::uint32_t current = ScheduledRate(tx, rate);
    for (const auto& action : actions) {
        switch (action.kind) {
        case TxAction::Kind::Pause:
            cursor += action.pauseNs;
            break;
        case TxAction::Kind::Baud:
            tx.rateChanges.emplace_back(cursor, action.baud);
            current = action.baud;
            break;
        case TxAction::Kind::Byte:
            Emit(tx, cursor, current, action);
            break;
        }
    }
    tx.freeNs = std::max(tx.freeNs, cursor);
}

std::uint64_t Simulator::AnswerDelayNs() {
    if (jitterNs_ == 0) {
        return latencyNs_;
    }
    const std::uint64_t spread = jitterRandom_() % (jitterNs_ + 1);
    const std::uint64_t low = latencyNs_ > jitterNs_ / 2 ? latencyNs_ - jitterNs_ / 2 : 0;
    return low + spread;
}

void Simulator::Emit(Transmitter& tx, std::uint64_t& cursor, std::uint32_t rate,
                     const TxAction& a) {
    ++counters_.replies;
    if (Hit(faults_.drop, dropCount_)) {
        ++counters_.dropped;
        return;
    }
    std::uint8_t b = a.byte;
    if (a.role == ByteRole::Echo && Hit(faults_.echo, echoCount_)) {
        b ^= 0x01;
        ++counters_.wrongEchoes;
    }
    if ((a.role == ByteRole::Sum || a.role == ByteRole::Status) &&
        Hit(faults_.checksum, checksumCount_)) {
        b ^= 0x01;
        ++counters_.wrongChecksums;
    }
    if (Hit(faults_.late, lateCount_)) {
        cursor += std::uint64_t{faults_.lateMs} * kNsPerMs;
        ++counters_.late;
    }
    std::uint64_t frame = Frame(rate);
    tx.queue.push_back(Pending{cursor, cursor + frame, b, rate});
    cursor += frame;
    if (Hit(faults_.noise, noiseCount_)) {
        for (std::uint32_t i = 0; i < faults_.noiseCount; ++i) {
            auto noise = static_cast<std::uint8_t>(random_() >> 56);
            tx.queue.push_back(Pending{cursor, cursor + frame, noise, rate});
            cursor += frame;
            ++counters_.noiseBytes;
        }
    }
}

bool Simulator::Hit(const FaultRate& rate, std::uint64_t& count) {
    if (!rate.Active()) {
        return false;
    }
    ++count;
    if (rate.every > 0 && count % rate.every == 0) {
        return true;
    }
    if (rate.fraction > 0) {
        double x = static_cast<double>(random_() >> 11) * 0x1.0p-53;
        return x < rate.fraction;
    }
    return false;
}

bool Simulator::VanishedAt(std::uint64_t tNs) const {
    if (vanishedByHand_) {
        return true;
    }
    if (!faults_.vanish) {
        return false;
    }
    std::uint64_t at = originNs_ + faults_.vanishAtMs * kNsPerMs;
    if (tNs < at) {
        return false;
    }
    std::uint64_t since = tNs - at;
    if (faults_.vanishEveryMs > 0) {
        since %= faults_.vanishEveryMs * kNsPerMs;
    }
    return since < faults_.vanishForMs * kNsPerMs;
}

std::uint64_t Simulator::Frame(std::uint32_t baud) const {
    return pacing_ ? FrameNs(baud) : 0;
}

void Simulator::Record(const TrafficEntry& entry) {
    if (recording_) {
        traffic_.push_back(entry);
    }
}

} // namespace sim
