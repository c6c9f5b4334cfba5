#include "acquisition/engine.h"

#include "foundation/clock.h"
#include "foundation/numbers.h"
#include "link/link_port.h"
#include "link/posix_serial.h"
#include "mcu/access.h"
#include "mcu/ident.h"
#include "mcu/vartable.h"

namespace acq {

namespace {

std::uint32_t Now() {
    return static_cast<std::uint32_t>(foundation::ClockMs());
}

template <class... F> struct Overloaded : F... { using F::operator()...; };
template <class... F> Overloaded(F...) -> Overloaded<F...>;

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
    byteOrder_ = mcu::ApplicationByteOrder(appl_.applName);
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
                std::uint8_t value = 0;
                const bool ok = mcu::ReadVariable(appl_, c.address, 0, value);
                batch_.setters.push_back({c.setter, posted.number, false, ok, value});
            },
            [this, &posted](const SetterValue& c) {
                const bool ok = mcu::SetVariable(appl_, c.name, 0, c.value);
                batch_.setters.push_back({c.setter, posted.number, true, ok, c.value});
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

void Engine::AddSample(int channel, std::uint8_t value, int slot) {
    batch_.samples.push_back({static_cast<std::uint8_t>(channel), value, static_cast<double>(value),
                              static_cast<std::uint16_t>(slot), Now(), SteadyUs(), scan_});
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
            std::uint8_t byte = 0;
            if (!mcu::ReadVariable(appl_, c.address, 0, byte)) {
                continue;
            }
            CountRead();
            ++n;
            ++successes;
            AddSample(i, MaskSample(byte, c.mask), 0);
            full = full || n >= kChannelSamples;
        }
        ScanWatches();
        // Without a link no further scan can read anything; a waiting command (the user
        // changed something) is taken before the next burst rather than after this one.
        if (comlink::LinkDown() || comlink::LinkStopRequested() || commands_.Waiting()) {
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

void Engine::StoreXSample(int index, int slot, std::uint8_t byte) {
    const ChannelSetup& c = channels_[static_cast<std::size_t>(index)];
    AddSample(index, MaskSample(byte, c.mask), slot);
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
                std::uint8_t byte = 0;
                if (!Sampled(i) || !mcu::ReadVariable(appl_, c.address, 0, byte)) {
                    continue;
                }
                CountRead();
                ++successes;
                StoreXSample(i, slot, byte);
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
    do {
        ++scan_;
        for (int i = 1; i <= 3; ++i) {
            const ChannelSetup& c = channels_[static_cast<std::size_t>(i)];
            if (!Sampled(i)) {
                continue;
            }
            if (!appl_.streamingMode) {
                return;
            }
            std::uint8_t byte = 0;
            std::uint8_t x = 0;
            // A failure has ended the streaming mode; the next burst starts it anew.
            if (!mcu::ReadDebugSample(appl_, c.address, 0, byte, x)) {
                return;
            }
            CountRead();
            ++successes;
            StoreXSample(i, x + 1, byte);
        }
        if (comlink::LinkStopRequested() || commands_.Waiting()) {
            break;
        }
    } while (Now() - start <= kXBurstMs);
    mcu::EndDebugAddress(appl_);
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
    std::uint16_t address = 0;
    std::uint8_t mask = 0;
    if (!mcu::FindVariable(appl_, triggerName_, address, mask)) {
        // Nothing to read: the next test need not follow at once.
        backoff_ = true;
        return false;
    }
    std::uint8_t byte = 0;
    if (!mcu::ReadVariable(appl_, address, 0, byte)) {
        return false;
    }
    CountRead();
    if (MaskSample(byte, mask) >= triggerLevel_) {
        triggerArmed_ = false;
        return true;
    }
    return false;
}

} // namespace acq
