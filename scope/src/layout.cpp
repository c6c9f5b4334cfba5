// The window's layout: the panels, and the window's own controls with their object names, at
// the places, sizes and captions of the design. The panels place their own controls.
#include "panels/channel_panel.h"
#include "panels/panel_parts.h"
#include "panels/setter_panel.h"
#include "panels/trace_panel.h"
#include "panels/trigger_panel.h"
#include "panels/xvar_panel.h"
#include "scope/scope_window.h"

#include <QAction>
#include <QButtonGroup>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QToolButton>

namespace scope {

namespace {

QFont WindowFont() {
    QFont font;
    font.setFamilies({"MS Sans Serif", "Liberation Sans", "DejaVu Sans", "Sans Serif"});
    font.setPixelSize(10);
    return font;
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

QAction* AddEntry(QMenu* menu, const QString& name, const QString& caption) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(name);
    return action;
}

} // namespace

void ScopeWindow::BuildControls() {
    setObjectName("Form1");
    setWindowTitle("OMBRIX");
    setFont(WindowFont());
    setFixedSize(kClientWidth, kClientHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect desk = screen->availableGeometry();
        move(desk.x() + (desk.width() - kClientWidth) / 2,
             desk.y() + (desk.height() - kClientHeight) / 2);
    }

    // Under the trigger panel: the x-y picture it counts for is right above it.
    edgeCountLabel_ = MakeLabel(this, "Label21", QString(), 8, 505, 120);

    trace_ = new TracePanel(this);
    trace_->setGeometry(8, 48, kTraceWidth, kTraceHeight);

    applLabel_ = MakeLabel(this, "Label1", "Label1", 717, 46, 80, 15);
    QFont bold = font();
    bold.setBold(true);
    bold.setPixelSize(12);
    applLabel_->setFont(bold);
    portLabel_ = MakeLabel(this, "Label17", "Label1", 798, 47, 38);
    rateLabel_ = MakeLabel(this, "Label16", "Label16", 836, 47, 62);

    tree_ = new TTreeView(this);
    tree_->setGeometry(717, 59, 169, 553);
    // Right under the rate label, over the empty right end of the tree's first rows: the corner
    // above the rate label belongs to Clear His and Exit. Made after the tree, so it is on top.
    recLabel_ = MakeLabel(this, "RecLabel", QString(), 786, 62, 96, 28);
    recLabel_->setAlignment(Qt::AlignRight | Qt::AlignTop);
    recLabel_->setStyleSheet("color: red; font-weight: bold");
    recLabel_->hide();

    for (int i = 1; i <= 3; ++i) {
        channelPanels_[static_cast<std::size_t>(i)] = new ChannelPanel(i, this);
    }

    clearHis_ = new TWrapButton("Clear His and Exit", this);
    clearHis_->setObjectName("ClearHis");
    QFont buttonFont = font();
    buttonFont.setBold(true);
    clearHis_->setFont(buttonFont);
    clearHis_->setGeometry(828, 8, 61, 29);

    triggerPanel_ = new TriggerPanel(this);

    singleButton_ = MakeSpeedButton(this, "SpeedButtonSingle", "Single", 352, 503, 34, 22);
    contButton_ = MakeSpeedButton(this, "SpeedButtonCont", "Contineous", 392, 503, 58, 22);
    auto* group = new QButtonGroup(this);
    group->setObjectName("SpeedButtonGroup24");
    group->setExclusive(true);
    group->addButton(singleButton_, 1);
    group->addButton(contButton_, 2);

    xPanel_ = new XVarPanel(this);
    setterPanels_[1] = new SetterPanel(1, this);
    setterPanels_[2] = new SetterPanel(2, this);

    applicationEvents_ = new TApplicationEvents(this);

    popupMenu_ = new QMenu(this);
    popupMenu_->setObjectName("PopupMenu1");
    copyToClipBoard_ = AddEntry(popupMenu_, "CopyToClipBoard", "Copy To ClipBoard");
    saveSettings_ = AddEntry(popupMenu_, "SaveSettings", "Save Settings");
    loadSettings_ = AddEntry(popupMenu_, "LoadSettings", "Load Settings");
    recordToCsv_ = AddEntry(popupMenu_, "RecordToCsv", "Record to CSV...");
    stopRecording_ = AddEntry(popupMenu_, "StopRecording", "Stop Recording");
    stopRecording_->setVisible(false);
    hold_ = AddEntry(popupMenu_, "Hold", "Hold");
    hold_->setCheckable(true);
    saveImage_ = AddEntry(popupMenu_, "SaveImage", "Save Image...");
    popupMenu_->addSeparator();
    scriptSocket_ = AddEntry(popupMenu_, "ScriptSocket", "Scripts: off");
    setContextMenuPolicy(Qt::CustomContextMenu);
}

} // namespace scope
