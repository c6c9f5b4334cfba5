// The window's controls: names, places, sizes, captions and the fixed properties of the
// design, found by object name as a user or a test script finds them.
#include "scope_bench.h"

#include "scope/settings_folder.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCompleter>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSlider>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace scope;
using scope_testing::ScopeBench;

namespace {

struct Place {
    const char* name;
    const char* parent;
    int x, y, w, h;
};

// The places the design fixes; h or w of -1 are not fixed.
const Place kPlaces[] = {
    {"PaintBox1", "Form1", 8, 48, 704, 442},
    {"TreeView1", "Form1", 717, 59, 169, 553},
    {"Panel1", "Form1", 8, 2, 275, 40},
    {"Panel2", "Form1", 282, 2, 259, 40},
    {"Panel3", "Form1", 543, 2, 282, 40},
    {"ClearHis", "Form1", 828, 8, 61, 29},
    {"Panel7", "Form1", 8, 493, 338, 39},
    {"SpeedButtonSingle", "Form1", 352, 503, 34, 22},
    {"SpeedButtonCont", "Form1", 392, 503, 58, 22},
    {"Panel6", "Form1", 456, 492, 255, 40},
    {"Panel4", "Form1", 8, 531, 704, 39},
    {"Panel5", "Form1", 7, 568, 704, 40},
    {"Label1", "Form1", 717, 46, -1, -1},
    {"Label17", "Form1", 798, 47, -1, -1},
    {"Label16", "Form1", 836, 47, -1, -1},
    {"Label21", "Form1", 8, 505, -1, -1},
};

// Which panel holds which control.
const std::pair<const char*, std::vector<const char*>> kPanels[] = {
    {"Panel1", {"VarName1", "DisplayBin1", "Min1", "Max1", "Avg1"}},
    {"Panel2", {"VarName2", "VarSelected2", "DisplayBin2", "Min2", "Max2", "Avg2"}},
    {"Panel3", {"VarName3", "VarSelected3", "DisplayBin3", "Min3", "Max3", "Avg3"}},
    {"Panel7", {"TriggerSelected", "TriggerName", "TriggerVal", "TriggerTrackBar"}},
    {"Panel6", {"VarSelectedX", "VarNameX", "NoHisSelected"}},
    {"Panel4", {"SetterSelected1", "SetterName1", "SetterVal1", "SetterTrackBar1"}},
    {"Panel5", {"SetterSelected2", "SetterName2", "SetterVal2", "SetterTrackBar2"}},
};

QStringList LabelTexts(const QWidget* panel) {
    QStringList texts;
    for (const QLabel* label : panel->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        texts << label->text();
    }
    texts.sort();
    return texts;
}

class LayoutTest : public ::testing::Test {
protected:
    LayoutTest() : bench(scope_testing::DemoScenario(), DEMO_DIR) { bench.Start(); }

    template <class W = QWidget> W* Find(const char* name) {
        auto* w = bench.Form().findChild<W*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    ScopeBench bench;
};

TEST_F(LayoutTest, WindowAndControlsSitWhereTheDesignPutsThem) {
    ScopeWindow& form = bench.Form();
    EXPECT_EQ(form.windowTitle(), "OMBRIX");
    EXPECT_EQ(form.size(), QSize(904, 625));
    EXPECT_EQ(form.font().pixelSize(), 10);
    for (const Place& p : kPlaces) {
        QWidget* w = Find(p.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->parentWidget()->objectName(), p.parent) << p.name;
        EXPECT_EQ(w->x(), p.x) << p.name;
        EXPECT_EQ(w->y(), p.y) << p.name;
        if (p.w >= 0) {
            EXPECT_EQ(w->width(), p.w) << p.name;
            EXPECT_EQ(w->height(), p.h) << p.name;
        }
    }
    for (const auto& [panel, children] : kPanels) {
        for (const char* child : children) {
            QWidget* w = Find(child);
            ASSERT_NE(w, nullptr);
            EXPECT_EQ(w->parentWidget()->objectName(), panel) << child;
            // Every control lies inside its panel.
            EXPECT_TRUE(QRect(QPoint(0, 0), w->parentWidget()->size()).contains(w->geometry()))
                << child;
        }
    }
    EXPECT_EQ(Find("SetterTrackBar1")->width(), 475);
    EXPECT_TRUE(Find<QLabel>("Label1")->font().bold());
    EXPECT_EQ(Find<QLabel>("Label1")->font().pixelSize(), 12);
    EXPECT_TRUE(Find("ClearHis")->font().bold());
}

TEST_F(LayoutTest, CaptionsMenuAndFixedProperties) {
    ScopeWindow& form = bench.Form();
    EXPECT_EQ(Find<QAbstractButton>("ClearHis")->text(), "Clear His and Exit");
    EXPECT_EQ(Find<QToolButton>("SpeedButtonSingle")->text(), "Single");
    EXPECT_EQ(Find<QToolButton>("SpeedButtonCont")->text(), "Contineous");
    EXPECT_EQ(LabelTexts(Ctl<QFrame>(form, "Panel1")), (QStringList{"av", "bin", "max", "min"}));
    EXPECT_EQ(LabelTexts(Ctl<QFrame>(form, "Panel2")),
              (QStringList{"av", "bin", "max", "min", "on"}));
    EXPECT_EQ(LabelTexts(Ctl<QFrame>(form, "Panel3")),
              (QStringList{"av", "bin", "max", "min", "on"}));
    EXPECT_EQ(LabelTexts(Ctl<QFrame>(form, "Panel6")),
              (QStringList{"RecentOnly", "xVar", "xVarName"}));

    QMenu* menu = Find<QMenu>("PopupMenu1");
    ASSERT_NE(menu, nullptr);
    QStringList items;
    for (const QAction* action : menu->actions()) {
        items << action->objectName() + "=" + action->text();
    }
    EXPECT_EQ(items, (QStringList{"CopyToClipBoard=Copy To ClipBoard", "SaveSettings=Save Settings",
                                  "LoadSettings=Load Settings", "RecordToCsv=Record to CSV...",
                                  "StopRecording=Stop Recording", "Hold=Hold",
                                  "SaveImage=Save Image...", "=", "ScriptSocket=Scripts: off"}));
    EXPECT_NE(form.findChild<QObject*>("ApplicationEvents1"), nullptr);

    for (const char* name : {"TriggerTrackBar", "SetterTrackBar1", "SetterTrackBar2"}) {
        auto* bar = Find<QSlider>(name);
        EXPECT_EQ(bar->minimum(), 0) << name;
        EXPECT_EQ(bar->maximum(), 255) << name;
    }
    for (const char* name : {"Min1", "Max2", "Avg3", "SetterVal1", "SetterVal2", "TriggerVal"}) {
        EXPECT_TRUE(Find<QLineEdit>(name)->isReadOnly()) << name;
    }
    for (TComboBox* box : {Ctl<TComboBox>(form, "VarName1"), Ctl<TComboBox>(form, "VarName2"),
                           Ctl<TComboBox>(form, "VarName3"), Ctl<TComboBox>(form, "VarNameX")}) {
        EXPECT_EQ(box->completer(), nullptr) << box->Name();
        EXPECT_TRUE(box->isEditable());
    }
    // The channel panels write in the channel colours.
    EXPECT_EQ(Ctl<TComboBox>(form, "VarName1")->palette().color(QPalette::Text).rgba(),
              kChannel1Colour);
    EXPECT_EQ(Ctl<QLineEdit>(form, "Min2")->palette().color(QPalette::Text).rgba(),
              kChannel2Colour);
    EXPECT_EQ(Ctl<TComboBox>(form, "VarName3")->palette().color(QPalette::Text).rgba(),
              kChannel3Colour);

    // The speed buttons form one group: exactly one of them is down.
    EXPECT_TRUE(Ctl<QToolButton>(form, "SpeedButtonCont")->isChecked());
    QTest::mouseClick(Ctl<QToolButton>(form, "SpeedButtonSingle"), Qt::LeftButton);
    EXPECT_TRUE(Ctl<QToolButton>(form, "SpeedButtonSingle")->isChecked());
    EXPECT_FALSE(Ctl<QToolButton>(form, "SpeedButtonCont")->isChecked());
    EXPECT_TRUE(form.SingleShot());
}

TEST(PortLabelTest, ComAndUsbNumbersAndDevicePaths) {
    EXPECT_EQ(PortLabelText(3, ""), "COM3");
    EXPECT_EQ(PortLabelText(255, ""), "COM255");
    EXPECT_EQ(PortLabelText(256, ""), "USB0");
    EXPECT_EQ(PortLabelText(259, ""), "USB3");
    EXPECT_EQ(PortLabelText(0, ""), "COM0");
    EXPECT_EQ(PortLabelText(1, "/tmp/ombrix-demo/mc"), "mc");
}

TEST(SettingsFolderTest, RootAndApplicationName) {
    EXPECT_EQ(SettingsFolderOf("/opt/ombrix", "DEMO"), "/opt/ombrix/user/dsf/ombrix/DEMO");
    EXPECT_EQ(SettingsFolderOf("/opt/ombrix/", "DEMO"), "/opt/ombrix/user/dsf/ombrix/DEMO");
    // A name is one folder, never a path.
    EXPECT_EQ(SettingsFolderOf("/r", "A/../B"), "/r/user/dsf/ombrix/A_.._B");
}

} // namespace
