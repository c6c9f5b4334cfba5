// Recording from the window: "Record to CSV..." asks for a file and starts the writer on the
// channels as they are; while it records, the channel choices are locked (the file's columns
// must keep their meaning), the run flag no longer drops when the window is left, and a red
// mark shows the elapsed time and the rows written. A failed write ends the recording with a
// box that names the file and the reason.
#include "acquisition/channel_name.h"
#include "acquisition/sampling.h"
#include "panels/channel_panel.h"
#include "panels/setter_panel.h"
#include "panels/trigger_panel.h"
#include "panels/xvar_panel.h"
#include "scope/dialogs.h"
#include "scope/scope_window.h"

#include <QTimer>

#include <filesystem>

namespace scope {

namespace {

constexpr const char* kRecordTitle = "Record to CSV";
constexpr const char* kRecordFilter = "CSV files (*.csv)";

} // namespace

acq::RecordLayout ScopeWindow::RecordingLayout() const {
    acq::RecordLayout layout;
    layout.xMode = Sampled(0);
    for (int i = 1; i <= 3; ++i) {
        const TChannel& c = channels_[static_cast<std::size_t>(i)];
        // Channel 1 counts with its variable even while a single sweep has stopped the run.
        if (!(i == 1 ? c.resolved : Sampled(i))) {
            continue;
        }
        acq::ResolvedChannel resolved;
        const mcu::MCVar* variable =
            acq::ResolveChannelName(variables_, c.name, resolved) ? resolved.variable : nullptr;
        layout.channels.push_back(acq::MakeRecordChannel(i, c.name, c.mask, variable));
        // The type the channel reads, a type written after its name included.
        layout.channels.back().type = c.type;
    }
    return layout;
}

void ScopeWindow::LockChannelChoices(bool locked) {
    for (QWidget* w : std::initializer_list<QWidget*>{
             ChannelBox(1), ChannelBox(2), ChannelBox(3), ChannelBox(0), channelPanels_[2]->OnBox(),
             channelPanels_[3]->OnBox(), xPanel_->OnBox()}) {
        w->setEnabled(!locked);
    }
    loadSettings_->setEnabled(!locked);
    recordToCsv_->setVisible(!locked);
    stopRecording_->setVisible(locked);
}

void ScopeWindow::RecordToCsvClick() {
    if (Recording()) {
        return;
    }
    const acq::RecordLayout layout = RecordingLayout();
    if (layout.channels.empty()) {
        ShowInformation(this, "Nothing to record: no channel has a variable.");
        return;
    }
    const std::string folder = settingsFolder_ + "/rec";
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    FileDialogRequest request;
    request.save = true;
    request.title = kRecordTitle;
    request.filter = kRecordFilter;
    request.defaultSuffix = "csv";
    request.folder = StampedFileName(folder, ".csv");
    const QString chosen = ShowFileDialog(this, request);
    if (chosen.isEmpty()) {
        return;
    }
    std::string path = chosen.toStdString();
    // What the dialog's default suffix does, for dialogs that leave it out; a file that exists
    // (a named pipe, a device) is taken as chosen.
    if (std::filesystem::path(path).extension().empty() && !std::filesystem::exists(path, ec)) {
        path += ".csv";
    }
    // Set before the writer starts, so that even its first failed write is reported.
    recorder_->SetErrorHandler([this](const std::string& reason) {
        QMetaObject::invokeMethod(
            this, [this, why = QString::fromStdString(reason)] { RecordingFailed(why); },
            Qt::QueuedConnection);
    });
    std::string error;
    recordingStartUs_ = acq::SteadyUs();
    if (!recorder_->Start(path, layout, recordingStartUs_, 0, error)) {
        ShowInformation(this,
                        QString("Recording to %1 could not start:\n%2")
                            .arg(QString::fromStdString(path), QString::fromStdString(error)));
        return;
    }
    LockChannelChoices(true);
    ShowRecordingMark();
    recLabel_->show();
    recordingTimer_->start();
}

void ScopeWindow::StopRecordingClick() {
    if (!recordingTimer_->isActive()) {
        return;
    }
    if (!recorder_->Stop()) {
        // The last rows could not be written.
        RecordingFailed(QString::fromStdString(recorder_->Error()));
        return;
    }
    EndRecording();
}

void ScopeWindow::RecordingFailed(const QString& reason) {
    // Once per recording, whether the writer or the stop found the failure first.
    if (!recordingTimer_->isActive()) {
        return;
    }
    // The writer has stopped taking rows; the file keeps those written before.
    recorder_->Stop();
    EndRecording();
    ShowInformation(this, QString("Recording to %1 stopped:\n%2\nThe file keeps the %3 rows "
                                  "written before.")
                              .arg(QString::fromStdString(recorder_->Path()), reason)
                              .arg(recorder_->Rows()));
}

void ScopeWindow::EndRecording() {
    recordingTimer_->stop();
    recLabel_->hide();
    LockChannelChoices(false);
    if (deactivatedWhileRecording_) {
        deactivatedWhileRecording_ = false;
        SetRunFlag(false);
    }
}

void ScopeWindow::ShowRecordingMark() {
    const std::int64_t s = (acq::SteadyUs() - recordingStartUs_) / 1000000;
    recLabel_->setText(QString("REC %1:%2\n%3 rows")
                           .arg(s / 60)
                           .arg(s % 60, 2, 10, QChar('0'))
                           .arg(recorder_->Rows()));
}

} // namespace scope
