#include "acquisition/engine.h"

#include "foundation/clock.h"
#include "foundation/numbers.h"
#include "link/link_port.h"
#include "link/posix_serial.h"
#include "mcu/access.h"
#include "mcu/ident.h"
#include "mcu/vartable.h"

#include <algorithm>
#include <cstring>

namespace acq {

namespace {

std::uint32_t Now() {
    return static_cast<std::uint32_t>(foundation::ClockMs());
}

template <class... F> struct Overloaded : F... { using F::operator()...; };
template <class... F> Overloaded(F...) -> Overloaded<F...>;

// U8 and bits are read one byte at a time, exactly as before types existed (the same wire
// traffic); every other type is read whole.
bool ReadsWhole(mcu::VarType type, std::uint8_t mask) {
    return mask == 0 && type != mcu::VarType::U8 && type != mcu::VarType::Bit;
}

// The lowest byte of a value: what the byte-wide trace (and the streaming burst) shows of it.
std::uint8_t LowestByte(const mcu::TypedValue& v) {
    if (v.type == mcu::VarType::F32) {
        std::uint32_t raw = 0;
        std::memcpy(&raw, &v.real, sizeof raw);
        return static_cast<std::uint8_t>(raw & 0xFF);
    }
    return static_cast<std::uint8_t>(static_cast<std::uint64_t>(v.integer) & 0xFF);
}

} // namespace

Engine::Engine(std::uint32_t sweepLastMs) : sweepLastMs_(sweepLastMs) {}

OpenResult Engine::Open() {
    OpenResult result;
    // The first sample drawn begins a sweep on a cleared screen.
    sweep_.origin = Now() - kSweepMs;
    result.linkOpened = comlink::StartLink();
    result.portNumber = comlink::PortNumber();
    result.devicePath = comlink::Link().devicePath;
    result.portName = comlink::PortName();
    result.applOpened = mcu::OpenMCAppl(appl_);
    if (!result.applOpened) {
        // The lower layers know why; a user who sees only "terminating" cannot act.
        result.reason = !result.linkOpened && !comlink::LinkError().empty() ? comlink::LinkError()
                                                                            : appl_.errorText;
        return result;
    }
    result.applName = appl_.applName;
    order_ = mcu::ApplicationByteOrder(appl_.applName);
    result.variables = VariableTable(appl_);
    std::uint8_t address = 0;
    std::uint8_t mask = 0;
    xCapable_ = mcu::FindVariable(appl_, "COM_VARX", address, mask);
    return result;
}

void Engine::Close() {
    comlink::CloseLink();
}

const ChannelSetup& Engine::Channel(int index) const {
    return channels_[static_cast<std::size_t>(index)];
}

const std::array<std::uint32_t, kChannelSamples + 1>& Engine::SlotStamps(int index) const {
    return slotStamps_[static_cast<std::size_t>(index)];
}

// --- commands ----------------------------------------------------------------------------------

void Engine::SetActive(int index, bool on) {
    ChannelSetup& c = channels_[static_cast<std::size_t>(index)];
    // Channel 1's flag is the run flag: the acquisition goes on for channels 2 and 3 while
    // channel 1 has no variable.
    c.active = index == 1 ? on : on && c.resolved;
}

void Engine::ClearXYSlots() {
    for (int i = 1; i <= 3; ++i) {
        slotStamps_[static_cast<std::size_t>(i)].fill(0);
    }
    batch_.slotsCleared = true;
}

void Engine::Apply(const Posted& posted) {
    appliedUpTo_ = posted.number;
    std::visit(
        Overloaded{
            [this](const UseVariable& c) {
                ChannelSetup& channel = channels_[static_cast<std::size_t>(c.channel)];
                sweep_.origin = Now() - kSweepMs;
                channel.resolved = true;
                SetActive(c.channel, true);
                channel.address = c.address;
                channel.mask = c.mask;
                // The x-variable is a slot number: always a byte.
                channel.type = c.channel == 0 ? mcu::VarType::U8 : c.type;
                if (c.channel >= 1) {
                    batch_.selected |= ChannelBit(c.channel);
                    history_.Clear(c.channel);
                }
                if (channels_[0].active) {
                    ClearXYSlots();
                }
            },
            [this](const ForgetVariable& c) {
                ChannelSetup& channel = channels_[static_cast<std::size_t>(c.channel)];
                channel.resolved = false;
                channel.address = 0;
                channel.mask = 0;
                channel.type = mcu::VarType::U8;
                if (c.channel != 1) {
                    channel.active = false;
                }
            },
            [this](const SwitchChannel& c) { SetActive(c.channel, c.on); },
            [this](const ClearSlots&) { ClearXYSlots(); },
            [this](const RestartChannels&) {
                batch_.restarted |= ChannelBit(1) | ChannelBit(2) | ChannelBit(3);
            },
            [this](const SweepMode& c) { SetSweepMode(c); },
            [this](const ArmTrigger& c) { triggerArmed_ = c.armed; },
            [this](const TriggerName& c) { triggerName_ = c.name; },
            [this](const TriggerLevel& c) { triggerLevel_ = foundation::ParseNumber(c.text); },
            [this](const RecentOnly& c) { recentOnly_ = c.on; },
            [this](const ChannelOneNamed& c) { channelOneNamed_ = c.named; },
            [this, &posted](const SelectSetter& c) {
                if (!ReadsWhole(c.type, 0)) {
                    std::uint8_t value = 0;
                    const bool ok = mcu::ReadVariable(appl_, c.address, 0, value);
                    batch_.setters.push_back(
                        {c.setter, posted.number, false, ok, value, static_cast<double>(value)});
                    return;
                }
                mcu::TypedValue value;
                const bool ok =
                    mcu::ReadTypedValue(appl_, {"", c.address, 0, c.type}, order_, value);
                batch_.setters.push_back({c.setter, posted.number, false, ok, LowestByte(value),
                                          ok ? value.AsDouble() : 0});
            },
            [this, &posted](const SetterValue& c) {
                if (!ReadsWhole(c.type, 0)) {
                    const bool ok = mcu::SetVariable(appl_, c.name, 0, c.value);
                    batch_.setters.push_back(
                        {c.setter, posted.number, true, ok, c.value, static_cast<double>(c.value)});
                    return;
                }
                // Byte by byte from the lowest address, each echo-checked; the MC may use the
                // value between two of them, and a failure leaves the bytes before it written.
                // The encoding holds the value within its type, where a setter's bar may not.
                const auto bytes = mcu::EncodeValue(c.type, c.typed, order_);
                bool ok = true;
                for (int i = 0; ok && i < mcu::TypeSize(c.type); ++i) {
                    ok = mcu::SetVariable(appl_, c.name, static_cast<std::uint8_t>(i),
                                          bytes[static_cast<std::size_t>(i)]);
                }
                const mcu::TypedValue written = mcu::DecodeValue(c.type, bytes.data(), order_);
                batch_.setters.push_back(
                    {c.setter, posted.number, true, ok, LowestByte(written), written.AsDouble()});
            },
            [this](const Watch& c) { ApplyWatch(c); },
            [this](const Unwatch& c) { ApplyUnwatch(c); },
            [this, &posted](const WriteVariable& c) { ApplyWrite(posted.number, c); },
        },
        posted.command);
}

void Engine::SetSweepMode(const SweepMode& mode) {
    const RunMode next = AfterSweepMode({Running(), singleShot_}, mode);
    SetActive(1, next.running);
    singleShot_ = next.singleShot;
}

// --- the step ----------------------------------------------------------------------------------

bool Engine::Sampled(int index) const {
    const ChannelSetup& c = channels_[static_cast<std::size_t>(index)];
    return c.active && c.resolved;
}

bool Engine::AnySampled() const {
    return Sampled(1) || Sampled(2) || Sampled(3);
}

std::uint32_t Engine::Reopen() {
    const std::uint32_t now = foundation::TickMs();
    if (reopenTried_ && now - lastReopenTick_ < kReopenIntervalMs) {
        return kReopenIntervalMs - (now - lastReopenTick_);
    }
    reopenTried_ = true;
    lastReopenTick_ = now;
    if (comlink::OpenLink(true)) {
        // As an activation of the window would: the acquisition runs when channel 1 is named.
        if (!Running() && channelOneNamed_) {
            SetActive(1, true);
        }
        return 0;
    }
    return kReopenIntervalMs;
}

void Engine::NoteLink(bool burstFailed) {
    if (comlink::LinkDown()) {
        linkError_ = comlink::LinkError();
        // The serial layer's own words for a port another program holds.
        const std::string inUse = comlink::InUseText({});
        const bool held =
            linkError_.size() >= inUse.size() &&
            linkError_.compare(linkError_.size() - inUse.size(), inUse.size(), inUse) == 0;
        reason_ = held ? LinkReason::PortInUse : LinkReason::DeviceGone;
    } else if (burstFailed) {
        reason_ = LinkReason::McSilent;
        linkError_ = "no answer on " + comlink::PortName();
    } else {
        reason_ = LinkReason::None;
        linkError_.clear();
    }
}

StepResult Engine::Step() {
    StepResult result;
    batch_ = Batch{};
    for (const Posted& posted : commands_.TakeAll()) {
        Apply(posted);
    }
    // What the commands did to the origin counts for this batch's samples.
    batch_.origin = sweep_.origin;
    result.waitMs = 0;
    if (comlink::LinkStopRequested()) {
        Publish(result);
        return result;
    }
    if (comlink::LinkDown()) {
        const std::uint32_t wait = Reopen();
        if (comlink::LinkDown()) {
            NoteLink(false);
            // Nothing can be read: a running acquisition shows it as a burst without a read.
            batch_.offline = Running();
            result.waitMs = wait;
            Publish(result);
            return result;
        }
        NoteLink(false);
    }
    if (!Running() || !AnySampled()) {
        if (Watching()) {
            // The watches are read whatever the window's channels do.
            PollWatchBurst();
            Publish(result);
            return result;
        }
    }
    if (!Running()) {
        result.waitMs.reset();
        Publish(result);
        return result;
    }
    if (!AnySampled()) {
        // Running, but no channel has a variable: nothing to read until one resolves.
        result.waitMs = kIdleBackoffMs;
        Publish(result);
        return result;
    }
    backoff_ = false;
    if (triggerArmed_ && !CheckTrigger()) {
        if (Watching()) {
            PollWatchBurst();
            Publish(result);
            return result;
        }
        // Tested again at the next step.
        result.waitMs = backoff_ || comlink::LinkDown() ? kIdleBackoffMs : 0;
        Publish(result);
        return result;
    }
    if (channels_[0].active) {
        PollXBurst();
    } else {
        PollTimeBurst();
    }
    Publish(result);
    return result;
}

void Engine::Publish(StepResult& result) {
    Batch& b = batch_;
    b.appliedUpTo = appliedUpTo_;
    b.rate = rateMeter_.rate;
    b.status = {Running(),     singleShot_,
                triggerArmed_, comlink::LinkDown() ? LinkState::Down : LinkState::Up,
                reason_,       linkError_};
    const bool news = !b.samples.empty() || b.redraw || b.offline || !b.setters.empty() ||
                      !b.watched.empty() || !b.writes.empty() || b.selected != 0 ||
                      b.restarted != 0 || b.slotsCleared || b.appliedUpTo != publishedUpTo_ ||
                      !(b.status == published_);
    if (!news) {
        return;
    }
    published_ = b.status;
    publishedUpTo_ = b.appliedUpTo;
    b.sequence = ++sequence_;
    history_.Append(b.samples);
    result.batch = std::move(batch_);
}

void Engine::CountRead() {
    rateMeter_.Count(foundation::TickMs());
}

void Engine::AddSample(int channel, std::uint8_t value, double typed, int slot) {
    batch_.samples.push_back({static_cast<std::uint8_t>(channel), value, typed,
                              static_cast<std::uint16_t>(slot), Now(), SteadyUs(), scan_});
}

bool Engine::ReadChannel(const ChannelSetup& c, std::uint8_t& value, double& typed) {
    if (!ReadsWhole(c.type, c.mask)) {
        std::uint8_t byte = 0;
        if (!mcu::ReadVariable(appl_, c.address, 0, byte)) {
            return false;
        }
        value = MaskSample(byte, c.mask);
        typed = c.mask != 0 ? (value != 0 ? 1 : 0) : value;
        return true;
    }
    mcu::TypedValue whole;
    if (!mcu::ReadTypedValue(appl_, {"", c.address, 0, c.type}, order_, whole)) {
        return false;
    }
    value = LowestByte(whole);
    typed = whole.AsDouble();
    return true;
}

// --- bursts ------------------------------------------------------------------------------------

void Engine::PollTimeBurst() {
    batch_.xMode = false;
    const std::uint32_t start = Now();
    int successes = 0;
    bool full = false;
    std::array<int, 4> count{};
    do {
        ++scan_;
        for (int i = 1; i <= 3; ++i) {
            if (!Sampled(i)) {
                continue;
            }
            const ChannelSetup& c = channels_[static_cast<std::size_t>(i)];
            int& n = count[static_cast<std::size_t>(i)];
            // A burst holds 256 samples a channel: a faster link than the burst window was made
            // for ends the burst instead of piling up samples.
            if (n >= kChannelSamples) {
                full = true;
                continue;
            }
            std::uint8_t value = 0;
            double typed = 0;
            if (!ReadChannel(c, value, typed)) {
                continue;
            }
            // The rate counts samples: a value read whole is one, however many bytes it took.
            CountRead();
            ++n;
            ++successes;
            AddSample(i, value, typed, 0);
            full = full || n >= kChannelSamples;
        }
        ScanWatches();
        // Without a link no further scan can read anything; a waiting command (the user
        // changed something) is taken before the next burst rather than after this one; a
        // script's read that has its scans is answered now.
        if (comlink::LinkDown() || comlink::LinkStopRequested() || commands_.Waiting() ||
            WatchDone()) {
            break;
        }
    } while (!full && Now() - start <= kTimeBurstMs);
    if (sweep_.EndSweeps(batch_.samples, sweepLastMs_, singleShot_, batch_.sweepEnds)) {
        // The last sweep of a single run ended.
        SetActive(1, false);
    }
    batch_.offline = successes == 0;
    NoteLink(successes == 0);
}

void Engine::StoreXSample(int index, int slot, std::uint8_t value, double typed) {
    AddSample(index, value, typed, slot);
    slotStamps_[static_cast<std::size_t>(index)][static_cast<std::size_t>(slot)] =
        batch_.samples.back().stamp;
}

void Engine::RedrawXYChannels() {
    batch_.redraw = true;
    batch_.recentOnly = recentOnly_;
    batch_.recentCutoff = Now() - kRecentMs;
    for (int i = 1; i <= 3; ++i) {
        if (!Sampled(i)) {
            continue;
        }
        // A redraw draws every slot that holds a sample (a recent one, with RecentOnly).
        int points = 0;
        for (std::uint32_t stamp : slotStamps_[static_cast<std::size_t>(i)]) {
            if (stamp != 0 && !(recentOnly_ && stamp < batch_.recentCutoff)) {
                ++points;
            }
        }
        const Redraw redraw = sweep_.CountRedraw(i, points, singleShot_);
        if (redraw.stop) {
            SetActive(1, false);
        }
        batch_.redraws.push_back(redraw);
    }
}

void Engine::PollXBurst() {
    if (xCapable_) {
        PollXSynchronous();
        return;
    }
    batch_.xMode = true;
    const std::uint32_t start = Now();
    int successes = 0;
    do {
        ++scan_;
        std::uint8_t x = 0;
        if (mcu::ReadVariable(appl_, channels_[0].address, 0, x)) {
            CountRead();
            const int slot = x + 1;
            for (int i = 1; i <= 3; ++i) {
                const ChannelSetup& c = channels_[static_cast<std::size_t>(i)];
                std::uint8_t value = 0;
                double typed = 0;
                if (!Sampled(i) || !ReadChannel(c, value, typed)) {
                    continue;
                }
                CountRead();
                ++successes;
                StoreXSample(i, slot, value, typed);
            }
        }
        ScanWatches();
        if (comlink::LinkDown() || comlink::LinkStopRequested() || commands_.Waiting()) {
            break;
        }
    } while (Now() - start <= kXBurstMs);
    RedrawXYChannels();
    batch_.offline = successes == 0;
    NoteLink(successes == 0);
}

void Engine::PollXSynchronous() {
    batch_.xMode = true;
    const std::uint32_t start = Now();
    int successes = 0;
    const auto xAddress = static_cast<std::uint8_t>(channels_[0].address & 0xFF);
    if (!mcu::SetDebugAddress(appl_, "COM_VARX", 0, xAddress)) {
        // Nothing is drawn and "OFFLINE" is not shown, but the reason is known.
        NoteLink(true);
        return;
    }
    // A failure ends the streaming mode. As a plain read has three tries, a burst that has
    // read nothing yet starts streaming anew twice before it counts as one without answer (a
    // doubtful pair on a noisy line would show "OFFLINE"); a later failure ends the burst with
    // what it read, and the next burst starts anew.
    int restarts = 0;
    auto readPair = [&](const ChannelSetup& c, std::uint8_t offset, std::uint8_t& byte,
                        std::uint8_t& x) {
        for (;;) {
            if (appl_.streamingMode && mcu::ReadDebugSample(appl_, c.address, offset, byte, x)) {
                return true;
            }
            if (successes > 0 || ++restarts > 2 || comlink::LinkStopRequested() ||
                !mcu::SetDebugAddress(appl_, "COM_VARX", 0, xAddress)) {
                return false;
            }
        }
    };
    bool streaming = true;
    do {
        ++scan_;
        for (int i = 1; i <= 3; ++i) {
            const ChannelSetup& c = channels_[static_cast<std::size_t>(i)];
            if (!Sampled(i)) {
                continue;
            }
            // The MC pairs one byte with its x value per request, so a wider value cannot be
            // read whole here: its lowest byte is taken (a one-byte type keeps its sign).
            const int size = mcu::TypeSize(c.type);
            const bool whole = ReadsWhole(c.type, c.mask);
            const auto lowest =
                static_cast<std::uint8_t>(whole && order_ == mcu::ByteOrder::Big ? size - 1 : 0);
            std::uint8_t byte = 0;
            std::uint8_t x = 0;
            if (!readPair(c, lowest, byte, x)) {
                streaming = false;
                break;
            }
            CountRead();
            ++successes;
            const std::uint8_t value = MaskSample(byte, c.mask);
            double typed = c.mask != 0 ? (value != 0 ? 1 : 0) : value;
            if (whole && size == 1) {
                typed = mcu::DecodeValue(c.type, &byte, order_).AsDouble();
            }
            StoreXSample(i, x + 1, value, typed);
        }
        if (!streaming || comlink::LinkStopRequested() || commands_.Waiting()) {
            break;
        }
    } while (Now() - start <= kXBurstMs);
    if (streaming) {
        mcu::EndDebugAddress(appl_);
    }
    // A read of its own would end the streaming in every scan: the watches get one scan of
    // their own after the burst.
    if (Watching()) {
        ++scan_;
        ScanWatches();
    }
    RedrawXYChannels();
    batch_.offline = successes == 0;
    NoteLink(successes == 0);
}

bool Engine::CheckTrigger() {
    mcu::TypedName name;
    std::string error;
    if (!mcu::ParseTypedName(appl_, triggerName_, name, error)) {
        // Nothing to read: the next test need not follow at once.
        backoff_ = true;
        return false;
    }
    // A byte compares as 0..255 and a bit as 0 or 255, as on the trace; a wider or signed
    // type compares its whole value.
    double value = 0;
    if (ReadsWhole(name.type, name.bitMask)) {
        mcu::TypedValue whole;
        if (!mcu::ReadTypedValue(appl_, name, order_, whole)) {
            return false;
        }
        value = whole.AsDouble();
    } else {
        std::uint8_t byte = 0;
        if (!mcu::ReadVariable(appl_, name.address, 0, byte)) {
            return false;
        }
        value = MaskSample(byte, name.bitMask);
    }
    CountRead();
    if (value >= triggerLevel_) {
        triggerArmed_ = false;
        return true;
    }
    return false;
}

} // namespace acq
