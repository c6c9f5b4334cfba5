#include "scope/unit1.h"

#include "foundation/clock.h"
#include "foundation/params.h"
#include "gui/hotkey.h"
#include "link/link_port.h"
#include "mcu/ident.h"
#include "persistence/serializers.h"
#include "scope/dialogs.h"
#include "scope/quit_signals.h"

#include <QAction>
#include <QButtonGroup>
#include <QCoreApplication>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QScreen>
#include <QSessionManager>
#include <QShortcut>
#include <QSlider>
#include <QTimer>
#include <QToolButton>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <system_error>

namespace scope {

namespace {

QFont WindowFont() {
    QFont font;
    font.setFamilies({"MS Sans Serif", "Liberation Sans", "DejaVu Sans", "Sans Serif"});
    font.setPixelSize(10);
    return font;
}

QFrame* MakePanel(QWidget* parent, const QString& name, int x, int y, int w, int h) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(name);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setGeometry(x, y, w, h);
    return panel;
}

QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& caption, int x, int y, int w,
                  int h = 13) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(name);
    label->setGeometry(x, y, w, h);
    return label;
}

QLineEdit* MakeEdit(QWidget* parent, const QString& name, int x, int y, int w) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setReadOnly(true);
    edit->setGeometry(x, y, w, 21);
    return edit;
}

TCheckBox* MakeCheck(QWidget* parent, const QString& name, int x, int y) {
    auto* box = new TCheckBox(name, QString(), parent);
    box->setGeometry(x, y, 16, 17);
    return box;
}

TComboBox* MakeCombo(QWidget* parent, const QString& name, int x, int y, int w) {
    auto* box = new TComboBox(name, parent);
    box->setGeometry(x, y, w, 21);
    return box;
}

QSlider* MakeTrackBar(QWidget* parent, const QString& name, int x, int y, int w, int h) {
    auto* bar = new QSlider(Qt::Horizontal, parent);
    bar->setObjectName(name);
    bar->setRange(0, 255);
    bar->setTickPosition(QSlider::TicksBelow);
    bar->setTickInterval(16);
    bar->setPageStep(16);
    bar->setGeometry(x, y, w, h);
    return bar;
}

QToolButton* MakeSpeedButton(QWidget* parent, const QString& name, const QString& caption, int x,
                             int y, int w, int h) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setText(caption);
    button->setCheckable(true);
    button->setGeometry(x, y, w, h);
    return button;
}

// The channel panels write in the channel's colour.
void SetPanelColour(QWidget* panel, QRgb colour) {
    QPalette p = panel->palette();
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        p.setColor(role, QColor::fromRgb(colour));
    }
    panel->setPalette(p);
}

} // namespace

QString PortLabelText(std::uint16_t portNumber, const std::string& devicePath) {
    if (!devicePath.empty()) {
        return QString::fromStdString(std::filesystem::path(devicePath).filename().string());
    }
    if (portNumber < comlink::kFirstUsbPort) {
        return QString("COM%1").arg(portNumber);
    }
    return QString("USB%1").arg(portNumber - comlink::kFirstUsbPort);
}

std::string SettingsFolderOf(const std::string& rootFolder, const std::string& applName) {
    std::string folder = rootFolder;
    if (folder.empty() || folder.back() != '/') {
        folder += '/';
    }
    // An application name is one folder, whatever applid.inc spells it with.
    std::string name = applName;
    for (char& c : name) {
        if (c == '/') {
            c = '_';
        }
    }
    return folder + "user/dsf/ombrix/" + name;
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

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
    BuildControls();
    BindEvents();
    OnCreate();
}

TForm1::~TForm1() {
    OnDestroy();
}

void TForm1::BuildControls() {
    setObjectName("Form1");
    setWindowTitle("OMBRIX");
    setFont(WindowFont());
    setFixedSize(kClientWidth, kClientHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect desk = screen->availableGeometry();
        move(desk.x() + (desk.width() - kClientWidth) / 2,
             desk.y() + (desk.height() - kClientHeight) / 2);
    }

    // The edge count sits under the trigger panel, where the original layout put it.
    Label21 = MakeLabel(this, "Label21", QString(), 8, 505, 120);

    PaintBox1 = new TPaintBox(this);
    PaintBox1->setGeometry(8, 48, kTraceWidth, kTraceHeight);

    Label1 = MakeLabel(this, "Label1", "Label1", 717, 46, 80, 15);
    QFont bold = font();
    bold.setBold(true);
    bold.setPixelSize(12);
    Label1->setFont(bold);
    Label17 = MakeLabel(this, "Label17", "Label1", 798, 47, 38);
    Label16 = MakeLabel(this, "Label16", "Label16", 836, 47, 62);

    TreeView1 = new TTreeView(this);
    TreeView1->setGeometry(717, 59, 169, 553);

    Panel1 = MakePanel(this, "Panel1", 8, 2, 275, 40);
    SetPanelColour(Panel1, kChannel1Colour);
    VarName1 = MakeCombo(Panel1, "VarName1", 4, 10, 118);
    MakeLabel(Panel1, "Label5", "bin", 126, 2, 20);
    DisplayBin1 = MakeCheck(Panel1, "DisplayBin1", 127, 17);
    MakeLabel(Panel1, "Label2", "min", 148, 2, 40);
    Min1 = MakeEdit(Panel1, "Min1", 148, 15, 40);
    MakeLabel(Panel1, "Label3", "max", 191, 2, 40);
    Max1 = MakeEdit(Panel1, "Max1", 191, 15, 40);
    MakeLabel(Panel1, "Label4", "av", 234, 2, 37);
    Avg1 = MakeEdit(Panel1, "Avg1", 234, 15, 37);

    Panel2 = MakePanel(this, "Panel2", 282, 2, 259, 40);
    SetPanelColour(Panel2, kChannel2Colour);
    VarName2 = MakeCombo(Panel2, "VarName2", 4, 10, 100);
    MakeLabel(Panel2, "Label6", "on", 108, 2, 18);
    VarSelected2 = MakeCheck(Panel2, "VarSelected2", 108, 17);
    MakeLabel(Panel2, "Label7", "bin", 128, 2, 18);
    DisplayBin2 = MakeCheck(Panel2, "DisplayBin2", 128, 17);
    MakeLabel(Panel2, "Label8", "min", 148, 2, 35);
    Min2 = MakeEdit(Panel2, "Min2", 148, 15, 35);
    MakeLabel(Panel2, "Label9", "max", 186, 2, 35);
    Max2 = MakeEdit(Panel2, "Max2", 186, 15, 35);
    MakeLabel(Panel2, "Label10", "av", 224, 2, 31);
    Avg2 = MakeEdit(Panel2, "Avg2", 224, 15, 31);

    Panel3 = MakePanel(this, "Panel3", 543, 2, 282, 40);
    SetPanelColour(Panel3, kChannel3Colour);
    VarName3 = MakeCombo(Panel3, "VarName3", 4, 10, 123);
    MakeLabel(Panel3, "Label11", "on", 131, 2, 18);
    VarSelected3 = MakeCheck(Panel3, "VarSelected3", 131, 17);
    MakeLabel(Panel3, "Label12", "bin", 151, 2, 18);
    DisplayBin3 = MakeCheck(Panel3, "DisplayBin3", 151, 17);
    MakeLabel(Panel3, "Label13", "min", 171, 2, 35);
    Min3 = MakeEdit(Panel3, "Min3", 171, 15, 35);
    MakeLabel(Panel3, "Label14", "max", 209, 2, 35);
    Max3 = MakeEdit(Panel3, "Max3", 209, 15, 35);
    MakeLabel(Panel3, "Label15", "av", 247, 2, 31);
    Avg3 = MakeEdit(Panel3, "Avg3", 247, 15, 31);

    ClearHis = new TWrapButton("Clear His and Exit", this);
    ClearHis->setObjectName("ClearHis");
    QFont buttonFont = font();
    buttonFont.setBold(true);
    ClearHis->setFont(buttonFont);
    ClearHis->setGeometry(828, 8, 61, 29);

    Panel7 = MakePanel(this, "Panel7", 8, 493, 338, 39);
    TriggerSelected = MakeCheck(Panel7, "TriggerSelected", 4, 11);
    TriggerSelected->setToolTip("Trigger on");
    TriggerName = MakeCombo(Panel7, "TriggerName", 22, 9, 110);
    TriggerVal = MakeEdit(Panel7, "TriggerVal", 136, 9, 32);
    TriggerVal->setText("0");
    TriggerTrackBar = MakeTrackBar(Panel7, "TriggerTrackBar", 172, 5, 162, 29);

    SpeedButtonSingle = MakeSpeedButton(this, "SpeedButtonSingle", "Single", 352, 503, 34, 22);
    SpeedButtonCont = MakeSpeedButton(this, "SpeedButtonCont", "Contineous", 392, 503, 58, 22);
    auto* group = new QButtonGroup(this);
    group->setObjectName("SpeedButtonGroup24");
    group->setExclusive(true);
    group->addButton(SpeedButtonSingle, 1);
    group->addButton(SpeedButtonCont, 2);

    Panel6 = MakePanel(this, "Panel6", 456, 492, 255, 40);
    MakeLabel(Panel6, "Label18", "xVar", 4, 2, 22);
    VarSelectedX = MakeCheck(Panel6, "VarSelectedX", 6, 17);
    MakeLabel(Panel6, "Label20", "xVarName", 28, 2, 60);
    VarNameX = MakeCombo(Panel6, "VarNameX", 28, 15, 150);
    MakeLabel(Panel6, "Label19", "RecentOnly", 184, 2, 60);
    NoHisSelected = MakeCheck(Panel6, "NoHisSelected", 196, 17);

    Panel4 = MakePanel(this, "Panel4", 8, 531, 704, 39);
    SetterSelected1 = MakeCheck(Panel4, "SetterSelected1", 4, 11);
    SetterSelected1->setToolTip("Setter 1 on");
    SetterName1 = MakeCombo(Panel4, "SetterName1", 22, 9, 150);
    SetterVal1 = MakeEdit(Panel4, "SetterVal1", 176, 9, 36);
    SetterVal1->setText("0");
    SetterTrackBar1 = MakeTrackBar(Panel4, "SetterTrackBar1", 216, 5, 475, 29);

    Panel5 = MakePanel(this, "Panel5", 7, 568, 704, 40);
    SetterSelected2 = MakeCheck(Panel5, "SetterSelected2", 4, 11);
    SetterSelected2->setToolTip("Setter 2 on");
    SetterName2 = MakeCombo(Panel5, "SetterName2", 22, 9, 150);
    SetterVal2 = MakeEdit(Panel5, "SetterVal2", 176, 9, 36);
    SetterVal2->setText("0");
    SetterTrackBar2 = MakeTrackBar(Panel5, "SetterTrackBar2", 216, 5, 475, 29);

    ApplicationEvents1 = new TApplicationEvents(this);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    CopyToClipBoard = PopupMenu1->addAction("Copy To ClipBoard");
    CopyToClipBoard->setObjectName("CopyToClipBoard");
    SaveSettings = PopupMenu1->addAction("Save Settings");
    SaveSettings->setObjectName("SaveSettings");
    LoadSettings = PopupMenu1->addAction("Load Settings");
    LoadSettings->setObjectName("LoadSettings");
    setContextMenuPolicy(Qt::CustomContextMenu);

    // The idle notification: a zero-interval timer runs one burst per pass of the event loop
    // while the acquisition runs; the slow one looks after a lost link while it is stopped.
    idleTimer_ = new QTimer(this);
    idleTimer_->setObjectName("IdleTimer");
    idleTimer_->setInterval(0);
    reopenTimer_ = new QTimer(this);
    reopenTimer_->setObjectName("ReopenTimer");
    reopenTimer_->setInterval(kReopenIntervalMs);
    settingsTimer_ = new QTimer(this);
    settingsTimer_->setObjectName("SettingsTimer");
    settingsTimer_->setSingleShot(true);
    settingsTimer_->setInterval(kSettingsSaveDelayMs);
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
    connect(ApplicationEvents1, &TApplicationEvents::Activate, this, [this] { OnActivate(); });
    connect(ApplicationEvents1, &TApplicationEvents::Deactivate, this, [this] { OnDeactivate(); });
    connect(idleTimer_, &QTimer::timeout, this, [this] { IdlePass(); });
    connect(reopenTimer_, &QTimer::timeout, this, [this] { IdlePass(); });
    connect(settingsTimer_, &QTimer::timeout, this, [this] { SaveChangedSettings(); });
#if QT_CONFIG(sessionmanager)
    connect(qGuiApp, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager&) { OnSessionEnd(); });
#endif
    connect(this, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PopupMenu1->popup(mapToGlobal(at)); });
}

// --- start-up and shutdown -------------------------------------------------------------------

void TForm1::OnCreate() {
    // 1
    recentPath.clear();
    // 2: a link that does not open is not reported here; opening the application fails then.
    linkOpened_ = comlink::StartLink();
    // 3
    MinEdits = {nullptr, Min1, Min2, Min3};
    MaxEdits = {nullptr, Max1, Max2, Max3};
    AvgEdits = {nullptr, Avg1, Avg2, Avg3};
    // 4
    sweepOrigin = static_cast<std::uint32_t>(foundation::ClockMs()) - kSweepMs;
    // 5
    for (int i = 1; i <= 3; ++i) {
        TChannel& c = channels[static_cast<std::size_t>(i)];
        c.count = 0;
        SetChannelActive(i, false);
        c.binary = 0;
        foundation::StatInit(c.statistics, kStatBlockLength, 0);
        RestartChannel(i);
    }
    // 6
    if (!mcu::OpenMCAppl(appl)) {
        // The lower layers know why; a user who sees only "terminating" cannot act.
        const std::string& reason =
            !linkOpened_ && !comlink::LinkError().empty() ? comlink::LinkError() : appl.errorText;
        QString text = "MC application could not be opened, terminating ..";
        if (!reason.empty()) {
            text += "\n" + QString::fromStdString(reason);
        }
        ShowInformation(this, text);
        RequestTermination();
        return;
    }
    // 7
    FillVariableTree();
    // 8
    for (TComboBox* box : {VarName1, VarName2, VarName3, SetterName1, SetterName2, TriggerName}) {
        box->SetSorted(true);
    }
    // 9
    Label1->setText(QString::fromStdString(appl.applName));
    Label17->setText(PortLabelText(comlink::PortNumber(), comlink::Link().devicePath));
    Label17->setToolTip(QString::fromStdString(comlink::PortName()));
    // 10
    RegisterHotKey();
    // Opaque pixels in the screen's own layout: the copy to the screen is a plain block copy,
    // with no alpha to blend.
    traceBitmap = QImage(PaintBox1->width(), PaintBox1->height(), QImage::Format_RGB32);
    traceBitmap.fill(Qt::white);
    PaintBox1->SetBitmap(&traceBitmap);
    // 11 to 13
    RegisterStoredControls();
    PrepareSettingsFolder();
    LoadRecentSettings();
    // 14
    SelectChannelVariable(VarName1, 1);
    // 15
    channels[1].colour = VarName1->palette().color(QPalette::Text).rgba();
    channels[2].colour = VarName2->palette().color(QPalette::Text).rgba();
    channels[3].colour = VarName3->palette().color(QPalette::Text).rgba();
    // 16
    ConfigureSetters();
    // 17
    PruneComboItems(VarName1);
    PruneComboItems(VarName2);
    PruneComboItems(VarName3);
    // 18
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
    idleTimer_->stop();
    reopenTimer_->stop();
    comlink::CloseLink();
    SaveRecentSettings();
}

void TForm1::RequestTermination() {
    terminationRequested_ = true;
    idleTimer_->stop();
    reopenTimer_->stop();
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
    if (!VarName1->TextQ().isEmpty()) {
        SetRunFlag(true);
    }
}

void TForm1::OnDeactivate() {
    SetRunFlag(false);
}

void TForm1::SetChannelActive(int index, bool on) {
    if (index == 1) {
        // The run flag: the acquisition goes on for channels 2 and 3 while channel 1 has no
        // variable.
        SetRunFlag(on);
    } else {
        TChannel& c = channels[static_cast<std::size_t>(index)];
        c.active = on && c.resolved ? 1 : 0;
    }
}

void TForm1::DropChannelVariable(int index) {
    TChannel& c = channels[static_cast<std::size_t>(index)];
    c.resolved = false;
    c.name.clear();
    c.address = 0;
    c.mask = 0;
    if (index != 1) {
        c.active = 0;
    }
}

bool TForm1::Sampled(int index) const {
    const TChannel& c = channels[static_cast<std::size_t>(index)];
    return c.active != 0 && c.resolved;
}

bool TForm1::AnyChannelSampled() const {
    return Sampled(1) || Sampled(2) || Sampled(3);
}

void TForm1::RestartChannel(int index) {
    TChannel& c = channels[static_cast<std::size_t>(index)];
    c.restart = 1;
    c.count = 0;
    foundation::StatFlush(c.statistics);
}

// --- drag and drop onto the name boxes -------------------------------------------------------

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    const auto type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) {
        return QWidget::eventFilter(watched, event);
    }
    QObject* target = qobject_cast<TComboBox*>(watched) != nullptr ? watched : watched->parent();
    auto* drop = static_cast<QDropEvent*>(event);
    const QMimeData* data = drop->mimeData();
    const bool fromTree = data != nullptr && data->hasFormat(TTreeView::kNodeMimeType);
    if (!OnDragOver(target, fromTree)) {
        drop->ignore();
        return true;
    }
    if (type == QEvent::Drop) {
        OnDragDrop(target, QString::fromUtf8(data->data(TTreeView::kNodeMimeType)));
    }
    drop->acceptProposedAction();
    return true;
}

} // namespace scope
