// The window's layout: every control with its component name as object name, at the place,
// size and caption of the design, in the channel colours of its panel.
#include "scope/scope_window.h"

#include <QAction>
#include <QButtonGroup>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QSlider>
#include <QToolButton>

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
    EdgeCountLabel = MakeLabel(this, "Label21", QString(), 8, 505, 120);

    PaintBox1 = new TPaintBox(this);
    PaintBox1->setGeometry(8, 48, kTraceWidth, kTraceHeight);

    ApplLabel = MakeLabel(this, "Label1", "Label1", 717, 46, 80, 15);
    QFont bold = font();
    bold.setBold(true);
    bold.setPixelSize(12);
    ApplLabel->setFont(bold);
    PortLabel = MakeLabel(this, "Label17", "Label1", 798, 47, 38);
    RateLabel = MakeLabel(this, "Label16", "Label16", 836, 47, 62);

    TreeView1 = new TTreeView(this);
    TreeView1->setGeometry(717, 59, 169, 553);
    // Right under the rate label, over the empty right end of the tree's first rows: the corner
    // above the rate label belongs to Clear His and Exit. Made after the tree, so it is on top.
    RecLabel = MakeLabel(this, "RecLabel", QString(), 786, 62, 96, 28);
    RecLabel->setAlignment(Qt::AlignRight | Qt::AlignTop);
    RecLabel->setStyleSheet("color: red; font-weight: bold");
    RecLabel->hide();

    ChannelPanel1 = MakePanel(this, "Panel1", 8, 2, 275, 40);
    SetPanelColour(ChannelPanel1, kChannel1Colour);
    VarName1 = MakeCombo(ChannelPanel1, "VarName1", 4, 10, 118);
    MakeLabel(ChannelPanel1, "Label5", "bin", 126, 2, 20);
    DisplayBin1 = MakeCheck(ChannelPanel1, "DisplayBin1", 127, 17);
    MakeLabel(ChannelPanel1, "Label2", "min", 148, 2, 40);
    Min1 = MakeEdit(ChannelPanel1, "Min1", 148, 15, 40);
    MakeLabel(ChannelPanel1, "Label3", "max", 191, 2, 40);
    Max1 = MakeEdit(ChannelPanel1, "Max1", 191, 15, 40);
    MakeLabel(ChannelPanel1, "Label4", "av", 234, 2, 37);
    Avg1 = MakeEdit(ChannelPanel1, "Avg1", 234, 15, 37);

    ChannelPanel2 = MakePanel(this, "Panel2", 282, 2, 259, 40);
    SetPanelColour(ChannelPanel2, kChannel2Colour);
    VarName2 = MakeCombo(ChannelPanel2, "VarName2", 4, 10, 100);
    MakeLabel(ChannelPanel2, "Label6", "on", 108, 2, 18);
    VarSelected2 = MakeCheck(ChannelPanel2, "VarSelected2", 108, 17);
    MakeLabel(ChannelPanel2, "Label7", "bin", 128, 2, 18);
    DisplayBin2 = MakeCheck(ChannelPanel2, "DisplayBin2", 128, 17);
    MakeLabel(ChannelPanel2, "Label8", "min", 148, 2, 35);
    Min2 = MakeEdit(ChannelPanel2, "Min2", 148, 15, 35);
    MakeLabel(ChannelPanel2, "Label9", "max", 186, 2, 35);
    Max2 = MakeEdit(ChannelPanel2, "Max2", 186, 15, 35);
    MakeLabel(ChannelPanel2, "Label10", "av", 224, 2, 31);
    Avg2 = MakeEdit(ChannelPanel2, "Avg2", 224, 15, 31);

    ChannelPanel3 = MakePanel(this, "Panel3", 543, 2, 282, 40);
    SetPanelColour(ChannelPanel3, kChannel3Colour);
    VarName3 = MakeCombo(ChannelPanel3, "VarName3", 4, 10, 123);
    MakeLabel(ChannelPanel3, "Label11", "on", 131, 2, 18);
    VarSelected3 = MakeCheck(ChannelPanel3, "VarSelected3", 131, 17);
    MakeLabel(ChannelPanel3, "Label12", "bin", 151, 2, 18);
    DisplayBin3 = MakeCheck(ChannelPanel3, "DisplayBin3", 151, 17);
    MakeLabel(ChannelPanel3, "Label13", "min", 171, 2, 35);
    Min3 = MakeEdit(ChannelPanel3, "Min3", 171, 15, 35);
    MakeLabel(ChannelPanel3, "Label14", "max", 209, 2, 35);
    Max3 = MakeEdit(ChannelPanel3, "Max3", 209, 15, 35);
    MakeLabel(ChannelPanel3, "Label15", "av", 247, 2, 31);
    Avg3 = MakeEdit(ChannelPanel3, "Avg3", 247, 15, 31);

    ClearHis = new TWrapButton("Clear His and Exit", this);
    ClearHis->setObjectName("ClearHis");
    QFont buttonFont = font();
    buttonFont.setBold(true);
    ClearHis->setFont(buttonFont);
    ClearHis->setGeometry(828, 8, 61, 29);

    TriggerPanel = MakePanel(this, "Panel7", 8, 493, 338, 39);
    TriggerSelected = MakeCheck(TriggerPanel, "TriggerSelected", 4, 11);
    TriggerSelected->setToolTip("Trigger on");
    TriggerName = MakeCombo(TriggerPanel, "TriggerName", 22, 9, 110);
    TriggerVal = MakeEdit(TriggerPanel, "TriggerVal", 136, 9, 32);
    TriggerVal->setText("0");
    TriggerTrackBar = MakeTrackBar(TriggerPanel, "TriggerTrackBar", 172, 5, 162, 29);

    SpeedButtonSingle = MakeSpeedButton(this, "SpeedButtonSingle", "Single", 352, 503, 34, 22);
    SpeedButtonCont = MakeSpeedButton(this, "SpeedButtonCont", "Contineous", 392, 503, 58, 22);
    auto* group = new QButtonGroup(this);
    group->setObjectName("SpeedButtonGroup24");
    group->setExclusive(true);
    group->addButton(SpeedButtonSingle, 1);
    group->addButton(SpeedButtonCont, 2);

    XPanel = MakePanel(this, "Panel6", 456, 492, 255, 40);
    MakeLabel(XPanel, "Label18", "xVar", 4, 2, 22);
    VarSelectedX = MakeCheck(XPanel, "VarSelectedX", 6, 17);
    MakeLabel(XPanel, "Label20", "xVarName", 28, 2, 60);
    VarNameX = MakeCombo(XPanel, "VarNameX", 28, 15, 150);
    MakeLabel(XPanel, "Label19", "RecentOnly", 184, 2, 60);
    NoHisSelected = MakeCheck(XPanel, "NoHisSelected", 196, 17);

    SetterPanel1 = MakePanel(this, "Panel4", 8, 531, 704, 39);
    SetterSelected1 = MakeCheck(SetterPanel1, "SetterSelected1", 4, 11);
    SetterSelected1->setToolTip("Setter 1 on");
    SetterName1 = MakeCombo(SetterPanel1, "SetterName1", 22, 9, 150);
    SetterVal1 = MakeEdit(SetterPanel1, "SetterVal1", 176, 9, 36);
    SetterVal1->setText("0");
    SetterTrackBar1 = MakeTrackBar(SetterPanel1, "SetterTrackBar1", 216, 5, 475, 29);

    SetterPanel2 = MakePanel(this, "Panel5", 7, 568, 704, 40);
    SetterSelected2 = MakeCheck(SetterPanel2, "SetterSelected2", 4, 11);
    SetterSelected2->setToolTip("Setter 2 on");
    SetterName2 = MakeCombo(SetterPanel2, "SetterName2", 22, 9, 150);
    SetterVal2 = MakeEdit(SetterPanel2, "SetterVal2", 176, 9, 36);
    SetterVal2->setText("0");
    SetterTrackBar2 = MakeTrackBar(SetterPanel2, "SetterTrackBar2", 216, 5, 475, 29);

    ApplicationEvents1 = new TApplicationEvents(this);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    CopyToClipBoard = PopupMenu1->addAction("Copy To ClipBoard");
    CopyToClipBoard->setObjectName("CopyToClipBoard");
    SaveSettings = PopupMenu1->addAction("Save Settings");
    SaveSettings->setObjectName("SaveSettings");
    LoadSettings = PopupMenu1->addAction("Load Settings");
    LoadSettings->setObjectName("LoadSettings");
    RecordToCsv = PopupMenu1->addAction("Record to CSV...");
    RecordToCsv->setObjectName("RecordToCsv");
    StopRecording = PopupMenu1->addAction("Stop Recording");
    StopRecording->setObjectName("StopRecording");
    StopRecording->setVisible(false);
    Hold = PopupMenu1->addAction("Hold");
    Hold->setObjectName("Hold");
    Hold->setCheckable(true);
    SaveImage = PopupMenu1->addAction("Save Image...");
    SaveImage->setObjectName("SaveImage");
    setContextMenuPolicy(Qt::CustomContextMenu);
}

} // namespace scope
