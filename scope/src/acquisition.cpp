// The acquisition: one burst of reads per pass of the idle loop while the run flag is set, in
// time mode (samples appended to the channel buffers) or in x-y mode (samples stored at the
// slot of the x-variable's value), the level trigger, single and continuous sweeps, and the
// re-open of a link that went down while the acquisition was stopped.
#include "foundation/clock.h"
#include "foundation/numbers.h"
#include "foundation/statistics.h"
#include "link/link_port.h"
#include "mcu/access.h"
#include "mcu/vartable.h"
#include "scope/scope_window.h"

#include <QTimer>

namespace scope {

namespace {

std::uint32_t Now() {
    return static_cast<std::uint32_t>(foundation::ClockMs());
}

} // namespace

// --- the idle pump ---------------------------------------------------------------------------

void TForm1::SetRunFlag(bool on) {
    channels[1].active = on ? 1 : 0;
    if (idleTimer_ == nullptr) {
        return;
    }
    if (on && !destroyed_ && !terminationRequested_) {
        reopenTimer_->stop();
        if (!idleTimer_->isActive()) {
            idleTimer_->start(0);
        }
    } else {
        idleTimer_->stop();
        if (!destroyed_ && !terminationRequested_) {
            if (!reopenTimer_->isActive()) {
                reopenTimer_->start(kReopenIntervalMs);
            }
        } else {
            reopenTimer_->stop();
        }
    }
}

bool TForm1::IdlePumpActive() const {
    return idleTimer_ != nullptr && idleTimer_->isActive();
}

int TForm1::IdlePumpInterval() const {
    return idleTimer_ != nullptr ? idleTimer_->interval() : -1;
}

bool TForm1::ReopenTimerActive() const {
    return reopenTimer_ != nullptr && reopenTimer_->isActive();
}

void TForm1::IdlePass() {
    bool done = true;
    OnIdle(done);
    if (!done && RunFlag() && idleTimer_->isActive()) {
        const int interval = idleBackoff_ ? kIdleBackoffMs : 0;
        if (idleTimer_->interval() != interval) {
            idleTimer_->setInterval(interval);
        }
    }
}

void TForm1::OnIdle(bool& done) {
    done = true;
    idleBackoff_ = false;
    if (RunFlag()) {
        if (!AnyChannelSampled()) {
            // Running, but no channel has a variable: nothing to read until one resolves.
            done = false;
            idleBackoff_ = true;
            return;
        }
        if (triggerArmed && !CheckTrigger()) {
            // Tested again at the next pass.
            done = false;
            idleBackoff_ = idleBackoff_ || comlink::LinkDown();
            return;
        }
        if (channels[0].active != 0) {
            PollXBurst();
        } else {
            PollTimeBurst();
        }
        done = false;
        idleBackoff_ = comlink::LinkDown();
        return;
    }
    if (comlink::LinkDown() && comlink::OpenLink(true)) {
        OnActivate();
    }
}

void TForm1::CountRead() {
    rateMeter.Count(foundation::TickMs());
}

// --- bursts ----------------------------------------------------------------------------------

void TForm1::PollTimeBurst() {
    const std::uint32_t start = Now();
    int successes = 0;
    bool full = false;
    do {
        for (int i = 1; i <= 3; ++i) {
            TChannel& c = channels[static_cast<std::size_t>(i)];
            if (!Sampled(i)) {
                continue;
            }
            // The buffer holds 256 samples: a faster link than the burst window was made for
            // ends the burst instead of writing past it.
            if (c.Full()) {
                full = true;
                continue;
            }
            std::uint8_t byte = 0;
            if (!mcu::ReadVariable(appl, c.address, 0, byte)) {
                continue;
            }
            const std::uint32_t now = Now();
            CountRead();
            ++c.count;
            ++successes;
            const auto at = static_cast<std::size_t>(c.count);
            c.values[at] = MaskSample(byte, c.mask);
            c.times[at] = now;
            foundation::StatAdd(c.statistics, c.values[at]);
            full = full || c.Full();
        }
        // Without a link no further scan can read anything; the pass ends and the next one
        // waits a little.
        if (comlink::LinkDown()) {
            break;
        }
    } while (!full && Now() - start <= kTimeBurstMs);

    for (int i = 1; i <= 3; ++i) {
        if (channels[static_cast<std::size_t>(i)].count > 0) {
            DrawTimeSamples(i);
        }
    }
    if (successes == 0) {
        RateLabel->setText("OFFLINE");
    }
}

void TForm1::StoreXSample(int index, int slot, std::uint8_t byte) {
    TChannel& c = channels[static_cast<std::size_t>(index)];
    const auto at = static_cast<std::size_t>(slot);
    c.values[at] = MaskSample(byte, c.mask);
    c.times[at] = Now();
}

void TForm1::RedrawXYChannels() {
    if (!Sampled(1)) {
        // Channel 1's redraw begins with a clean screen; without it the others need one too.
        ClearScreen();
        DrawGrid();
    }
    for (int i = 1; i <= 3; ++i) {
        if (Sampled(i)) {
            DrawXYChannel(i);
        }
    }
}

void TForm1::PollXBurst() {
    if (xCapable) {
        PollXSynchronous();
        return;
    }
    const std::uint32_t start = Now();
    int successes = 0;
    do {
        std::uint8_t x = 0;
        if (mcu::ReadVariable(appl, channels[0].address, 0, x)) {
            CountRead();
            const int slot = x + 1;
            for (int i = 1; i <= 3; ++i) {
                TChannel& c = channels[static_cast<std::size_t>(i)];
                std::uint8_t byte = 0;
                if (!Sampled(i) || !mcu::ReadVariable(appl, c.address, 0, byte)) {
                    continue;
                }
                CountRead();
                ++successes;
                StoreXSample(i, slot, byte);
            }
        }
        if (comlink::LinkDown()) {
            break;
        }
    } while (Now() - start <= kXBurstMs);
    RedrawXYChannels();
    if (successes == 0) {
        RateLabel->setText("OFFLINE");
    }
}

void TForm1::PollXSynchronous() {
    const std::uint32_t start = Now();
    int successes = 0;
    const auto xAddress = static_cast<std::uint8_t>(channels[0].address & 0xFF);
    if (!mcu::SetDebugAddress(appl, "COM_VARX", 0, xAddress)) {
        return;
    }
    do {
        for (int i = 1; i <= 3; ++i) {
            TChannel& c = channels[static_cast<std::size_t>(i)];
            if (!Sampled(i)) {
                continue;
            }
            if (!appl.streamingMode) {
                return;
            }
            std::uint8_t byte = 0;
            std::uint8_t x = 0;
            // A failure has ended the streaming mode; the next pass starts it anew.
            if (!mcu::ReadDebugSample(appl, c.address, 0, byte, x)) {
                return;
            }
            CountRead();
            ++successes;
            StoreXSample(i, x + 1, byte);
        }
    } while (Now() - start <= kXBurstMs);
    mcu::EndDebugAddress(appl);
    RedrawXYChannels();
    if (successes == 0) {
        RateLabel->setText("OFFLINE");
    }
}

// --- trigger and sweep mode ------------------------------------------------------------------

bool TForm1::CheckTrigger() {
    std::uint16_t address = 0;
    std::uint8_t mask = 0;
    if (!mcu::FindVariable(appl, TriggerName->Text(), address, mask)) {
        // Nothing to read: the idle loop need not test again at once.
        idleBackoff_ = true;
        return false;
    }
    std::uint8_t byte = 0;
    if (!mcu::ReadVariable(appl, address, 0, byte)) {
        return false;
    }
    CountRead();
    const std::uint8_t value = MaskSample(byte, mask);
    const double level = foundation::ParseNumber(TriggerVal->text().toStdString());
    if (value >= level) {
        triggerArmed = false;
        return true;
    }
    return false;
}

void TForm1::SpeedButtonSingleClick() {
    if (singleShot) {
        SetRunFlag(true);
    }
    singleShot = true;
}

void TForm1::SpeedButtonContClick() {
    if (singleShot) {
        SetRunFlag(true);
    }
    singleShot = false;
}

} // namespace scope
