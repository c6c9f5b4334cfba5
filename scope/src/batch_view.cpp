// The window's side of the acquisition: the sweep mode buttons, and what it makes of the
// engine's batches. A batch is shown in the order the engine made it: what the commands did to
// the channels, the setters' answers, the samples (time mode: drawn channel by channel up to
// where a single sweep stopped; x-y mode: into their slots, then the redraws), "OFFLINE", and
// why the link gives nothing. The engine decides where sweeps end, when a single sweep stops
// and whether the acquisition runs; here the batch's word is shown, the statistics boxes and
// the rate label follow it, and the trace panel paints the strokes.
#include "foundation/statistics.h"
#include "panels/channel_panel.h"
#include "panels/trace_panel.h"
#include "scope/scope_window.h"
#include "trace_paint.h"

#include <QCoreApplication>
#include <QLabel>

namespace scope {

namespace {

// What a channel's statistics count: a typed channel's own values, else the byte.
double StatValue(const TChannel& c, const acq::Sample& s) {
    return c.scale.On() ? s.typed : s.value;
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

void ScopeWindow::SweepModeClick(bool single) {
    // Shown at once by the engine's own rule; the batch that follows the command confirms it.
    const acq::SweepMode mode{single};
    const acq::RunMode next = acq::AfterSweepMode({RunFlag(), singleShot_}, mode);
    channels_[1].active = next.running ? 1 : 0;
    singleShot_ = next.singleShot;
    Post(mode);
}

void ScopeWindow::TakeBatches() {
    for (const acq::Batch& batch : batches_.TakeAll()) {
        ShowBatch(batch);
    }
}

void ScopeWindow::ShowBatch(const acq::Batch& batch) {
    if (destroyed_ || trace_->Bitmap().isNull()) {
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
    // window asked for; until then what the window asked for stands.
    if (batch.appliedUpTo >= lastPosted_) {
        channels_[1].active = batch.status.running ? 1 : 0;
        singleShot_ = batch.status.singleShot;
    }
    for (int i = 1; i <= 3; ++i) {
        if ((batch.selected & acq::ChannelBit(i)) != 0) {
            channelPanels_[static_cast<std::size_t>(i)]->ClearStatistics();
        }
        if (((batch.selected | batch.restarted) & acq::ChannelBit(i)) != 0) {
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
        rateLabel_->setText("OFFLINE");
    }
    ShowLinkState(batch);
}

void ScopeWindow::ShowTimeBurst(const acq::Batch& batch) {
    // Every sample entered its channel's statistics when it was read, before any was drawn.
    for (const acq::Sample& s : batch.samples) {
        TChannel& c = channels_[s.channel];
        ++c.count;
        foundation::StatAdd(c.statistics, StatValue(c, s));
    }
    for (int i = 1; i <= 3; ++i) {
        if (channels_[static_cast<std::size_t>(i)].count > 0 && !ShowTimeSamples(i, batch)) {
            return;
        }
    }
}

bool ScopeWindow::ShowTimeSamples(int index, const acq::Batch& batch) {
    TChannel& c = channels_[static_cast<std::size_t>(index)];
    auto end = batch.sweepEnds.begin();
    bool rangeChanged = false;
    trace_->BeginStrokes();
    for (std::size_t k = 0; k < batch.samples.size(); ++k) {
        const acq::Sample& sample = batch.samples[k];
        if (sample.channel != index) {
            continue;
        }
        // The engine noted where sweeps end, in the order the samples are drawn.
        while (end != batch.sweepEnds.end() && batch.samples[end->sample].channel < index) {
            ++end;
        }
        const bool endsSweep = end != batch.sweepEnds.end() && end->sample == k;
        // A sample that ends the sweep belongs to the next one, drawn over the refitted range.
        if (!endsSweep) {
            rangeChanged = c.scale.Take(sample.typed) || rangeChanged;
        }
        const int lane = trace_->StrokeSample(c, sample.value, sample.typed, sample.stamp,
                                              sweepOrigin_, endsSweep);
        if (lane != 0) {
            c.scale.EndSweep();
            c.scale.Take(sample.typed);
            // The sweep on the screen is complete: its figures are shown.
            ShowStatistics();
            if (end->showRate) {
                WriteRateText(batch.rate);
            }
            RestartChannel(index);
            for (int i = 1; i <= 3; ++i) {
                channels_[static_cast<std::size_t>(i)].restart = 1;
            }
            if (end->stop) {
                // The last sweep of a single run stays on the screen as it was.
                for (int i = 1; i <= 3; ++i) {
                    channels_[static_cast<std::size_t>(i)].count = 0;
                }
                trace_->EndStrokes();
                return false;
            }
            sweepOrigin_ = batch.OriginAfter(*end);
            sweepStartUs_ = sample.arrivalUs;
            trace_->NewSweep(c, lane, sample.value, sample.typed, sample.stamp, sweepOrigin_,
                             GridDivisionsNow());
            rangeChanged = true;
        } else if (endsSweep) {
            c.scale.Take(sample.typed);
        }
        for (int n = LanesDrawn(c); n > 0; --n) {
            foundation::StatAdd(c.statistics, StatValue(c, sample));
        }
        c.restart = 0;
        if (endsSweep) {
            ++end;
        }
    }
    c.count = 0;
    trace_->EndStrokes();
    if (rangeChanged) {
        ShowTypedRanges();
    }
    trace_->CopyChanges();
    return true;
}

void ScopeWindow::ShowXBurst(const acq::Batch& batch) {
    for (const acq::Sample& s : batch.samples) {
        TChannel& c = channels_[s.channel];
        c.values[s.slot] = s.value;
        c.typedValues[s.slot] = s.typed;
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
        ShowRedraw(redraw, batch);
    }
}

void ScopeWindow::ShowRedraw(const acq::Redraw& redraw, const acq::Batch& batch) {
    const int index = redraw.channel;
    TChannel& c = channels_[static_cast<std::size_t>(index)];
    edgeCountLabel_->setText(QString::number(EdgeCount(c.values)));
    // The points the engine counted: every filled slot, with RecentOnly the recent ones.
    const auto counted = [&](std::size_t slot) {
        return c.times[slot] != 0 && (!batch.recentOnly || c.times[slot] >= batch.recentCutoff);
    };
    // Each redraw is a whole picture: a typed channel's range is fitted to its points.
    for (std::size_t slot = 1; slot <= kChannelSamples; ++slot) {
        if (counted(slot)) {
            c.scale.Take(c.typedValues[slot]);
        }
    }
    c.scale.EndSweep();
    trace_->PaintXY(c, index == 1, GridDivisionsNow(), batch.recentOnly, batch.recentCutoff);
    ShowTypedRanges();
    const int lanes = LanesDrawn(c);
    for (std::size_t slot = 1; slot <= kChannelSamples; ++slot) {
        if (!counted(slot)) {
            continue;
        }
        const double v = c.scale.On() ? c.typedValues[slot] : c.values[slot];
        for (int n = lanes; n > 0; --n) {
            foundation::StatAdd(c.statistics, v);
        }
    }
    // The range as the redraw left it, the average of the completed block.
    const double minimum = c.statistics.minimum;
    const double maximum = c.statistics.maximum;
    foundation::StatFlush(c.statistics);
    channelPanels_[static_cast<std::size_t>(index)]->ShowStatistics(minimum, maximum,
                                                                    c.statistics.average, c.scale);
    ShowPhysicalStatistics(index);
    if (redraw.showRate) {
        WriteRateText(batch.rate);
    }
    // The redraw that stops a single sweep is not copied to the screen.
    if (!redraw.stop) {
        trace_->CopyChanges();
    }
}

void ScopeWindow::ShowLinkState(const acq::Batch& batch) {
    rateLabel_->setToolTip(LinkReasonText(batch.status.reason, batch.status.linkError));
}

void ScopeWindow::ShowStatistics() {
    for (int i = 1; i <= 3; ++i) {
        TChannel& c = channels_[static_cast<std::size_t>(i)];
        if (c.count == 0) {
            continue;
        }
        foundation::StatFlush(c.statistics);
        channelPanels_[static_cast<std::size_t>(i)]->ShowStatistics(
            c.statistics.minimum, c.statistics.maximum, c.statistics.average, c.scale);
        ShowPhysicalStatistics(i);
    }
}

void ScopeWindow::ShowTypedRanges() {
    std::vector<EdgeRange> ranges;
    for (int i = 1; i <= 3; ++i) {
        const TChannel& c = channels_[static_cast<std::size_t>(i)];
        if (Sampled(i) && c.scale.On() && c.binary == 0) {
            ranges.push_back({RangeLabelText(c.scale.Range(), ChannelConversion(i)), c.colour});
        }
    }
    trace_->RangeLabels(ranges);
}

void ScopeWindow::WriteRateText(std::uint16_t rate) {
    rateLabel_->setText(QString::fromStdString(RateText(rate)));
}

int ScopeWindow::GridDivisionsNow() const {
    return GridDivisions(channels_[0].active != 0, ChannelBox(0)->Text());
}

const QImage& ScopeWindow::TraceBitmap() const {
    return trace_->Bitmap();
}

void ScopeWindow::ClearScreen() {
    trace_->Clear();
}

void ScopeWindow::DrawGrid() {
    trace_->Grid(GridDivisionsNow());
}

void ScopeWindow::DrawLegend() {
    std::vector<TracePanel::LegendLine> lines;
    for (int i = 1; i <= 3; ++i) {
        const TChannel& c = channels_[static_cast<std::size_t>(i)];
        if (Sampled(i)) {
            lines.push_back({QString::fromStdString(c.name), c.colour});
        }
    }
    trace_->Legend(lines, channels_[0].active != 0 ? QString::fromStdString(channels_[0].name)
                                                   : QString());
}

} // namespace scope
