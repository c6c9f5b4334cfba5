// The window's side of the acquisition: the sweep mode buttons, and what it makes of the
// engine's batches. A batch is shown in the order the engine made it: what the commands did to
// the channels, the setters' answers, the samples (time mode: drawn channel by channel up to
// where a single sweep stopped; x-y mode: into their slots, then the redraws), "OFFLINE", and
// why the link gives nothing.
#include "scope/scope_window.h"

#include <QCoreApplication>
#include <QLabel>

namespace scope {

namespace {

std::uint8_t Bit(int channel) {
    return static_cast<std::uint8_t>(1u << channel);
}

} // namespace

QString LinkReasonText(acq::LinkReason reason, const std::string& detail) {
    const QString why = QString::fromStdString(detail);
    switch (reason) {
    case acq::LinkReason::PortInUse:
        return "Port in use: " + why;
    case acq::LinkReason::DeviceGone:
        return "Device gone: " + why;
    case acq::LinkReason::McSilent:
        return "MC silent: " + why;
    case acq::LinkReason::None:
        break;
    }
    return {};
}

void TForm1::SpeedButtonSingleClick() {
    if (singleShot_) {
        channels_[1].active = 1;
    }
    singleShot_ = true;
    Post(acq::SweepMode{true});
}

void TForm1::SpeedButtonContClick() {
    if (singleShot_) {
        channels_[1].active = 1;
    }
    singleShot_ = false;
    Post(acq::SweepMode{false});
}

void TForm1::TakeBatches() {
    for (const acq::Batch& batch : batches_.TakeAll()) {
        ShowBatch(batch);
    }
}

void TForm1::ShowBatch(const acq::Batch& batch) {
    if (destroyed_ || traceBitmap_.isNull()) {
        return;
    }
    if (lastSequence_ != 0 && batch.sequence != lastSequence_ + 1) {
        // Batches were dropped while the window was busy: their samples and sweep ends are
        // gone, so every trace begins afresh.
        for (int i = 1; i <= 3; ++i) {
            RestartChannel(i);
        }
    }
    lastSequence_ = batch.sequence;
    // The run flag and the sweep mode as the engine has them, once it has taken everything the
    // window asked for; until then the window's own view stands.
    if (batch.appliedUpTo >= lastPosted_) {
        channels_[1].active = batch.status.running ? 1 : 0;
        singleShot_ = batch.status.singleShot;
    }
    for (int i = 1; i <= 3; ++i) {
        if ((batch.selected & Bit(i)) != 0) {
            const auto at = static_cast<std::size_t>(i);
            for (QLineEdit* box : {minEdits_[at], maxEdits_[at], avgEdits_[at]}) {
                box->clear();
                box->setToolTip({});
            }
        }
        if (((batch.selected | batch.restarted) & Bit(i)) != 0) {
            RestartChannel(i);
        }
    }
    if (batch.slotsCleared) {
        for (int i = 1; i <= 3; ++i) {
            channels_[static_cast<std::size_t>(i)].times.fill(0);
        }
    }
    sweepOrigin_ = batch.origin;
    for (const acq::SetterAnswer& answer : batch.setters) {
        ShowSetterAnswer(answer);
    }
    if (batch.xMode) {
        ShowXBurst(batch);
    } else {
        ShowTimeBurst(batch);
    }
    if (batch.offline) {
        RateLabel->setText("OFFLINE");
    }
    ShowLinkState(batch);
}

void TForm1::ShowTimeBurst(const acq::Batch& batch) {
    // Every sample entered its channel's statistics when it was read, before any was drawn.
    for (const acq::Sample& s : batch.samples) {
        TChannel& c = channels_[s.channel];
        ++c.count;
        foundation::StatAdd(c.statistics, s.value);
    }
    for (int i = 1; i <= 3; ++i) {
        if (channels_[static_cast<std::size_t>(i)].count > 0 && !DrawTimeSamples(i, batch)) {
            return;
        }
    }
}

void TForm1::ShowXBurst(const acq::Batch& batch) {
    for (const acq::Sample& s : batch.samples) {
        TChannel& c = channels_[s.channel];
        c.values[s.slot] = s.value;
        c.times[s.slot] = s.stamp;
    }
    if (!batch.redraw) {
        return;
    }
    if (batch.redraws.empty() || batch.redraws.front().channel != 1) {
        // Channel 1's redraw begins with a clean screen; without it the others need one too.
        ClearScreen();
        DrawGrid();
    }
    for (const acq::Redraw& redraw : batch.redraws) {
        DrawXYChannel(redraw, batch);
    }
}

void TForm1::ShowLinkState(const acq::Batch& batch) {
    RateLabel->setToolTip(LinkReasonText(batch.status.reason, batch.status.linkError));
}

} // namespace scope
