#include "scope/scope_window.h"

#include "foundation/params.h"
#include "gui/hotkey.h"
#include "panels/channel_panel.h"
#include "panels/setter_panel.h"
#include "panels/trace_panel.h"
#include "panels/trigger_panel.h"
#include "panels/xvar_panel.h"
#include "scope/dialogs.h"
#include "scope/quit_signals.h"
#include "scope/script_host.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLineEdit>
#include <QSessionManager>
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

// --- ScopeWindow: construction
// --------------------------------------------------------------------

ScopeWindow::ScopeWindow(std::unique_ptr<acq::Driver> driver, QWidget* parent)
    : QWidget(parent), driver_(std::move(driver)) {
    hostScripts_ = !driver_;
    if (!driver_) {
        driver_ = std::make_unique<acq::ThreadDriver>(TraceSweepLastMs());
    }
    // Called on the engine's thread: the batch waits in the queue and the window takes it in
    // its own event loop. A full queue drops the batch; the engine never waits for the window.
    driver_->SetSink([this](acq::Batch&& batch) {
        // The recording and the scripts take every batch, also one the window would drop.
        if (ScriptHost* host = scriptSink_.load()) {
            host->OnBatch(batch);
        }
        recorder_->Feed(batch);
        if (batches_.Push(std::move(batch))) {
            QMetaObject::invokeMethod(this, &ScopeWindow::TakeBatches, Qt::QueuedConnection);
        }
    });
    BuildControls();
    CreateTimers();
    BindEvents();
    OnCreate();
}

ScopeWindow::~ScopeWindow() {
    OnDestroy();
}

void ScopeWindow::CreateTimers() {
    settingsTimer_ = new QTimer(this);
    settingsTimer_->setObjectName("SettingsTimer");
    settingsTimer_->setSingleShot(true);
    settingsTimer_->setInterval(kSettingsSaveDelayMs);
    recordingTimer_ = new QTimer(this);
    recordingTimer_->setObjectName("RecordingTimer");
    recordingTimer_->setInterval(kRecordingMarkMs);
    connect(recordingTimer_, &QTimer::timeout, this, [this] { ShowRecordingMark(); });
}

void ScopeWindow::BindEvents() {
    for (TComboBox* box :
         {ChannelBox(1), ChannelBox(2), ChannelBox(3), ChannelBox(0), triggerPanel_->NameBox()}) {
        connect(box, &TComboBox::UserChanged, this, [this, box] { OnChange(box); });
        // Drops land on the edit field that covers the box, so both are watched.
        box->setAcceptDrops(true);
        box->installEventFilter(this);
        box->lineEdit()->setAcceptDrops(true);
        box->lineEdit()->installEventFilter(this);
    }
    for (TCheckBox* box :
         {channelPanels_[1]->BinBox(), channelPanels_[2]->BinBox(), channelPanels_[3]->BinBox(),
          channelPanels_[2]->OnBox(), channelPanels_[3]->OnBox(), xPanel_->OnBox(),
          xPanel_->RecentOnlyBox()}) {
        connect(box, &TCheckBox::Clicked, this, [this, box] { OnClick(box); });
    }
    for (TComboBox* box : {setterPanels_[1]->NameBox(), setterPanels_[2]->NameBox()}) {
        connect(box, &TComboBox::UserChanged, this, [this, box] { OnSetterSelected(box); });
    }
    for (TCheckBox* box :
         {setterPanels_[1]->CheckBox(), setterPanels_[2]->CheckBox(), triggerPanel_->CheckBox()}) {
        connect(box, &TCheckBox::Clicked, this, [this, box] { OnSetterSelected(box); });
    }
    for (int setter = 1; setter <= 2; ++setter) {
        connect(setterPanels_[static_cast<std::size_t>(setter)], &SetterPanel::BarMoved, this,
                [this, setter](int position) { OnSetterChange(setter, position); });
    }
    connect(singleButton_, &QToolButton::clicked, this, [this] { SweepModeClick(true); });
    connect(contButton_, &QToolButton::clicked, this, [this] { SweepModeClick(false); });
    connect(clearHis_, &QPushButton::clicked, this, [this] { ClearHisClick(); });
    connect(copyToClipBoard_, &QAction::triggered, this, [this] { CopyToClipBoardClick(); });
    connect(saveSettings_, &QAction::triggered, this, [this] { SaveSettingsClick(); });
    connect(loadSettings_, &QAction::triggered, this, [this] { LoadSettingsClick(); });
    connect(recordToCsv_, &QAction::triggered, this, [this] { RecordToCsvClick(); });
    connect(stopRecording_, &QAction::triggered, this, [this] { StopRecordingClick(); });
    connect(applicationEvents_, &TApplicationEvents::Activate, this, [this] { OnActivate(); });
    connect(applicationEvents_, &TApplicationEvents::Deactivate, this, [this] { OnDeactivate(); });
    connect(settingsTimer_, &QTimer::timeout, this, [this] { SaveChangedSettings(); });
#if QT_CONFIG(sessionmanager)
    connect(qGuiApp, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager&) { OnSessionEnd(); });
#endif
    connect(this, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { popupMenu_->popup(mapToGlobal(at)); });
    BindInspection();
}

// --- start-up and shutdown -------------------------------------------------------------------

void ScopeWindow::OnCreate() {
    // No settings file until the application is known.
    recentPath_.clear();
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
    StartScripts(opened);
    // Its variables in the tree.
    FillVariableTree();
    // The name lists keep their entries sorted.
    for (TComboBox* box : {ChannelBox(1), ChannelBox(2), ChannelBox(3), setterPanels_[1]->NameBox(),
                           setterPanels_[2]->NameBox(), triggerPanel_->NameBox()}) {
        box->SetSorted(true);
    }
    // What the labels show: the application and the link port.
    applLabel_->setText(QString::fromStdString(applName_));
    portLabel_->setText(PortLabelText(opened.portNumber, opened.devicePath));
    portLabel_->setToolTip(QString::fromStdString(opened.portName));
    // Escape and the quit signals, and the trace bitmap.
    RegisterHotKey();
    trace_->CreateBitmap();
    // The engine hears what the trigger and x-y controls show from now on.
    WatchEngineInputs();
    // The stored controls, the settings folder and recent.dsw.
    RegisterStoredControls();
    PrepareSettingsFolder();
    LoadRecentSettings();
    // Channel 1 from its restored name.
    SelectChannelVariable(ChannelBox(1), 1);
    // The channels draw in their panels' colours.
    channels_[1].colour = ChannelBox(1)->palette().color(QPalette::Text).rgba();
    channels_[2].colour = ChannelBox(2)->palette().color(QPalette::Text).rgba();
    channels_[3].colour = ChannelBox(3)->palette().color(QPalette::Text).rgba();
    // The setters and the x-variable as far as the application offers them.
    ConfigureSetters();
    // Names the application does not define leave the channel boxes.
    PruneComboItems(ChannelBox(1));
    PruneComboItems(ChannelBox(2));
    PruneComboItems(ChannelBox(3));
    // Continuous sweeps.
    contButton_->setChecked(true);
    // From here on a change of a stored control is the user's (or a settings file's), and
    // recent.dsw follows it; what the start-up itself changed is written at the exit.
    WatchStoredControls();
}

void ScopeWindow::OnDestroy() {
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
    // No batch comes any more; the scripts' connections end and the socket goes.
    scriptSink_ = nullptr;
    scriptHost_.reset();
    // Every batch is in the recording now; the file is closed complete.
    recorder_->Stop();
    SaveRecentSettings();
}

void ScopeWindow::StartScripts(const acq::OpenResult& opened) {
    if (!hostScripts_) {
        scriptSocket_->setVisible(false);
        return;
    }
    auto host = std::make_unique<ScriptHost>(
        [driver = driver_.get()](acq::Command c) { return driver->Post(std::move(c)); },
        opened.variables, opened.applName, opened.portName);
    std::string error;
    if (!host->Start(error)) {
        // The window works without scripts; the menu says why they cannot reach it.
        scriptSocket_->setText("Scripts: off");
        scriptSocket_->setToolTip(QString::fromStdString(error));
        scriptSocket_->setEnabled(false);
        return;
    }
    const QString path = QString::fromStdString(host->Path());
    scriptSocket_->setText("Scripts: " + path);
    scriptSocket_->setToolTip("A click copies the socket's path");
    connect(scriptSocket_, &QAction::triggered, this,
            [path] { QGuiApplication::clipboard()->setText(path); });
    scriptHost_ = std::move(host);
    scriptSink_ = scriptHost_.get();
}

void ScopeWindow::RequestTermination() {
    terminationRequested_ = true;
    // Ends a running message loop; before the loop runs, the program entry looks at the flag.
    QCoreApplication::exit(0);
}

void ScopeWindow::RegisterHotKey() {
    // Also when a box of the creation is up: its loop ends, and the program entry must then
    // not start the message loop, which would forget this request.
    escape_ = std::make_unique<gui::EscapeKey>(this, [this] { RequestTermination(); });
    quitSignals_ = std::make_unique<TQuitSignals>();
    connect(quitSignals_.get(), &TQuitSignals::Received, this,
            [this](int signal) { OnQuitSignal(signal); });
}

void ScopeWindow::OnQuitSignal(int) {
    RequestTermination();
}

void ScopeWindow::OnActivate() {
    deactivatedWhileRecording_ = false;
    if (!ChannelBox(1)->TextQ().isEmpty()) {
        SetRunFlag(true);
    }
}

void ScopeWindow::OnDeactivate() {
    // A recording holds the run flag until it ends.
    if (Recording()) {
        deactivatedWhileRecording_ = true;
        return;
    }
    SetRunFlag(false);
}

std::uint64_t ScopeWindow::Post(acq::Command command) {
    lastPosted_ = driver_->Post(std::move(command));
    return lastPosted_;
}

void ScopeWindow::SetRunFlag(bool on) {
    channels_[1].active = on ? 1 : 0;
    Post(acq::SwitchChannel{1, on});
}

void ScopeWindow::SetChannelActive(int index, bool on) {
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

void ScopeWindow::DropChannelVariable(int index) {
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

bool ScopeWindow::Sampled(int index) const {
    const TChannel& c = channels_[static_cast<std::size_t>(index)];
    return c.active != 0 && c.resolved;
}

void ScopeWindow::RestartChannel(int index) {
    TChannel& c = channels_[static_cast<std::size_t>(index)];
    c.restart = 1;
    c.count = 0;
    foundation::StatFlush(c.statistics);
}

} // namespace scope
