#include "scope/scope_window.h"

#include "foundation/params.h"
#include "gui/hotkey.h"
#include "scope/dialogs.h"
#include "scope/quit_signals.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLineEdit>
#include <QSessionManager>
#include <QShortcut>
#include <QSlider>
#include <QTimer>

#include <filesystem>

namespace scope {

QString PortLabelText(std::uint16_t portNumber, const std::string& devicePath) {
    if (!devicePath.empty()) {
        return QString::fromStdString(std::filesystem::path(devicePath).filename().string());
    }
    if (portNumber < foundation::kFirstUsbPort) {
        return QString("COM%1").arg(portNumber);
    }
    return QString("USB%1").arg(portNumber - foundation::kFirstUsbPort);
}

// --- TApplicationEvents --------------------------------------------------------------------

TApplicationEvents::TApplicationEvents(QObject* parent) : QObject(parent) {
    setObjectName("ApplicationEvents1");
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        active_ = QGuiApplication::applicationState() == Qt::ApplicationActive;
        connect(app, &QGuiApplication::applicationStateChanged, this,
                &TApplicationEvents::ApplicationStateChanged);
    }
}

void TApplicationEvents::ApplicationStateChanged(Qt::ApplicationState state) {
    const bool active = state == Qt::ApplicationActive;
    if (active == active_) {
        return;
    }
    active_ = active;
    if (active) {
        Q_EMIT Activate();
    } else {
        Q_EMIT Deactivate();
    }
}

// --- TForm1: construction --------------------------------------------------------------------

TForm1::TForm1(std::unique_ptr<acq::Driver> driver, QWidget* parent)
    : QWidget(parent), driver_(std::move(driver)) {
    if (!driver_) {
        driver_ = std::make_unique<acq::ThreadDriver>(kTraceWidth);
    }
    // Called on the engine's thread: the batch waits in the queue and the window takes it in
    // its own event loop. A full queue drops the batch; the engine never waits for the window.
    driver_->SetSink([this](acq::Batch&& batch) {
        // The recording takes every batch, also one the window would drop.
        recorder_->Feed(batch);
        if (batches_.Push(std::move(batch))) {
            QMetaObject::invokeMethod(this, &TForm1::TakeBatches, Qt::QueuedConnection);
        }
    });
    BuildControls();
    CreateTimers();
    BindEvents();
    OnCreate();
}

TForm1::~TForm1() {
    OnDestroy();
}

void TForm1::CreateTimers() {
    settingsTimer_ = new QTimer(this);
    settingsTimer_->setObjectName("SettingsTimer");
    settingsTimer_->setSingleShot(true);
    settingsTimer_->setInterval(kSettingsSaveDelayMs);
    recordingTimer_ = new QTimer(this);
    recordingTimer_->setObjectName("RecordingTimer");
    recordingTimer_->setInterval(kRecordingMarkMs);
    connect(recordingTimer_, &QTimer::timeout, this, [this] { ShowRecordingMark(); });
}

void TForm1::BindEvents() {
    for (TComboBox* box : {VarName1, VarName2, VarName3, VarNameX, TriggerName}) {
        connect(box, &TComboBox::UserChanged, this, [this, box] { OnChange(box); });
        // Drops land on the edit field that covers the box, so both are watched.
        box->setAcceptDrops(true);
        box->installEventFilter(this);
        box->lineEdit()->setAcceptDrops(true);
        box->lineEdit()->installEventFilter(this);
    }
    for (TCheckBox* box : {DisplayBin1, DisplayBin2, DisplayBin3, VarSelected2, VarSelected3,
                           VarSelectedX, NoHisSelected}) {
        connect(box, &TCheckBox::Clicked, this, [this, box] { OnClick(box); });
    }
    for (TComboBox* box : {SetterName1, SetterName2}) {
        connect(box, &TComboBox::UserChanged, this, [this, box] { OnSetterSelected(box); });
    }
    for (TCheckBox* box : {SetterSelected1, SetterSelected2, TriggerSelected}) {
        connect(box, &TCheckBox::Clicked, this, [this, box] { OnSetterSelected(box); });
    }
    for (QSlider* bar : {SetterTrackBar1, SetterTrackBar2, TriggerTrackBar}) {
        connect(bar, &QSlider::valueChanged, this, [this, bar] { OnSetterChange(bar); });
    }
    connect(SpeedButtonSingle, &QToolButton::clicked, this, [this] { SpeedButtonSingleClick(); });
    connect(SpeedButtonCont, &QToolButton::clicked, this, [this] { SpeedButtonContClick(); });
    connect(ClearHis, &QPushButton::clicked, this, [this] { ClearHisClick(); });
    connect(CopyToClipBoard, &QAction::triggered, this, [this] { CopyToClipBoardClick(); });
    connect(SaveSettings, &QAction::triggered, this, [this] { SaveSettingsClick(); });
    connect(LoadSettings, &QAction::triggered, this, [this] { LoadSettingsClick(); });
    connect(RecordToCsv, &QAction::triggered, this, [this] { RecordToCsvClick(); });
    connect(StopRecording, &QAction::triggered, this, [this] { StopRecordingClick(); });
    connect(ApplicationEvents1, &TApplicationEvents::Activate, this, [this] { OnActivate(); });
    connect(ApplicationEvents1, &TApplicationEvents::Deactivate, this, [this] { OnDeactivate(); });
    connect(settingsTimer_, &QTimer::timeout, this, [this] { SaveChangedSettings(); });
#if QT_CONFIG(sessionmanager)
    connect(qGuiApp, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager&) { OnSessionEnd(); });
#endif
    connect(this, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PopupMenu1->popup(mapToGlobal(at)); });
    BindInspection();
}

// --- start-up and shutdown -------------------------------------------------------------------

void TForm1::OnCreate() {
    // No settings file until the application is known.
    recentPath_.clear();
    // The statistics edits by channel.
    minEdits_ = {nullptr, Min1, Min2, Min3};
    maxEdits_ = {nullptr, Max1, Max2, Max3};
    avgEdits_ = {nullptr, Avg1, Avg2, Avg3};
    // The trace channels start switched off with empty statistics.
    for (int i = 1; i <= 3; ++i) {
        TChannel& c = channels_[static_cast<std::size_t>(i)];
        c.count = 0;
        c.active = 0;
        c.binary = 0;
        foundation::StatInit(c.statistics, kStatBlockLength, 0);
        RestartChannel(i);
    }
    // The link and the MC application, opened on the engine's thread; without the application
    // the program has nothing to show. A link that does not open is not reported by itself:
    // opening the application fails then, and the box names the link's reason.
    const acq::OpenResult opened = driver_->Open();
    opened_ = true;
    if (!opened.applOpened) {
        QString text = "MC application could not be opened, terminating ..";
        if (!opened.reason.empty()) {
            text += "\n" + QString::fromStdString(opened.reason);
        }
        ShowInformation(this, text);
        RequestTermination();
        return;
    }
    applName_ = opened.applName;
    variables_ = opened.variables;
    // Its variables in the tree.
    FillVariableTree();
    // The name lists keep their entries sorted.
    for (TComboBox* box : {VarName1, VarName2, VarName3, SetterName1, SetterName2, TriggerName}) {
        box->SetSorted(true);
    }
    // What the labels show: the application and the link port.
    ApplLabel->setText(QString::fromStdString(applName_));
    PortLabel->setText(PortLabelText(opened.portNumber, opened.devicePath));
    PortLabel->setToolTip(QString::fromStdString(opened.portName));
    // Escape and the quit signals, and the trace bitmap.
    RegisterHotKey();
    // Opaque pixels in the screen's own layout: the copy to the screen is a plain block copy,
    // with no alpha to blend.
    traceBitmap_ = QImage(PaintBox1->width(), PaintBox1->height(), QImage::Format_RGB32);
    traceBitmap_.fill(Qt::white);
    PaintBox1->SetBitmap(&traceBitmap_);
    // The engine hears what the trigger and x-y controls show from now on.
    WatchEngineInputs();
    // The stored controls, the settings folder and recent.dsw.
    RegisterStoredControls();
    PrepareSettingsFolder();
    LoadRecentSettings();
    // Channel 1 from its restored name.
    SelectChannelVariable(VarName1, 1);
    // The channels draw in their panels' colours.
    channels_[1].colour = VarName1->palette().color(QPalette::Text).rgba();
    channels_[2].colour = VarName2->palette().color(QPalette::Text).rgba();
    channels_[3].colour = VarName3->palette().color(QPalette::Text).rgba();
    // The setters and the x-variable as far as the application offers them.
    ConfigureSetters();
    // Names the application does not define leave the channel boxes.
    PruneComboItems(VarName1);
    PruneComboItems(VarName2);
    PruneComboItems(VarName3);
    // Continuous sweeps.
    SpeedButtonCont->setChecked(true);
    // From here on a change of a stored control is the user's (or a settings file's), and
    // recent.dsw follows it; what the start-up itself changed is written at the exit.
    WatchStoredControls();
}

void TForm1::OnDestroy() {
    if (destroyed_) {
        return;
    }
    destroyed_ = true;
    delete settingsWatch_;
    settingsWatch_ = nullptr;
    settingsTimer_->stop();
    // The engine leaves whatever it waits for and closes the link on its own thread.
    if (opened_) {
        driver_->Shutdown();
    }
    // Every batch is in the recording now; the file is closed complete.
    recorder_->Stop();
    SaveRecentSettings();
}

void TForm1::RequestTermination() {
    terminationRequested_ = true;
    // Ends a running message loop; before the loop runs, the program entry looks at the flag.
    QCoreApplication::exit(0);
}

void TForm1::RegisterHotKey() {
    escapeShortcut_ = std::make_unique<QShortcut>(QKeySequence(Qt::Key_Escape), this);
    escapeShortcut_->setContext(Qt::ApplicationShortcut);
    connect(escapeShortcut_.get(), &QShortcut::activated, this,
            [this] { OnHotKey(kEscapeHotKey); });
    globalEscape_ = std::make_unique<gui::TGlobalHotKey>([this] { OnHotKey(kEscapeHotKey); });
    quitSignals_ = std::make_unique<TQuitSignals>();
    connect(quitSignals_.get(), &TQuitSignals::Received, this,
            [this](int signal) { OnQuitSignal(signal); });
}

bool TForm1::GlobalHotKeyGrabbed() const {
    return globalEscape_ != nullptr && globalEscape_->Grabbed();
}

void TForm1::OnHotKey(int id) {
    if (id == kEscapeHotKey) {
        // Also when a box of the creation is up: its loop ends, and the program entry must then
        // not start the message loop, which would forget this request.
        RequestTermination();
    }
}

void TForm1::OnQuitSignal(int) {
    OnHotKey(kEscapeHotKey);
}

void TForm1::OnActivate() {
    deactivatedWhileRecording_ = false;
    if (!VarName1->TextQ().isEmpty()) {
        SetRunFlag(true);
    }
}

void TForm1::OnDeactivate() {
    // A recording holds the run flag until it ends.
    if (Recording()) {
        deactivatedWhileRecording_ = true;
        return;
    }
    SetRunFlag(false);
}

std::uint64_t TForm1::Post(acq::Command command) {
    lastPosted_ = driver_->Post(std::move(command));
    return lastPosted_;
}

void TForm1::SetRunFlag(bool on) {
    channels_[1].active = on ? 1 : 0;
    Post(acq::SwitchChannel{1, on});
}

void TForm1::SetChannelActive(int index, bool on) {
    if (index == 1) {
        // The run flag: the acquisition goes on for channels 2 and 3 while channel 1 has no
        // variable.
        SetRunFlag(on);
        return;
    }
    TChannel& c = channels_[static_cast<std::size_t>(index)];
    c.active = on && c.resolved ? 1 : 0;
    Post(acq::SwitchChannel{index, on});
}

void TForm1::DropChannelVariable(int index) {
    TChannel& c = channels_[static_cast<std::size_t>(index)];
    c.resolved = false;
    c.name.clear();
    c.address = 0;
    c.mask = 0;
    if (index != 1) {
        c.active = 0;
    }
    Post(acq::ForgetVariable{index});
}

bool TForm1::Sampled(int index) const {
    const TChannel& c = channels_[static_cast<std::size_t>(index)];
    return c.active != 0 && c.resolved;
}

void TForm1::RestartChannel(int index) {
    TChannel& c = channels_[static_cast<std::size_t>(index)];
    c.restart = 1;
    c.count = 0;
    foundation::StatFlush(c.statistics);
}

} // namespace scope
