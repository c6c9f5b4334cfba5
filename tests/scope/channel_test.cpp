// The channel boxes: the name forms and their resolution against the application's table,
// drag and drop from the variable tree, the check boxes, and the x-variable.
#include "scope_bench.h"

#include "foundation/clock.h"
#include "mcu/access.h"

#include <QDragEnterEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>
#include <QTreeWidgetItem>

#include <gtest/gtest.h>

#include <algorithm>

using namespace scope;
using scope_testing::ScopeBench;

namespace {

bool Silver(const TComboBox* box) {
    return box->palette().color(QPalette::Base).rgba() == kSilver;
}

struct Record {
    std::uint8_t active;
    std::string name;
    std::uint16_t address;
    std::uint8_t mask;
    bool operator==(const Record&) const = default;
};

class ChannelTest : public ::testing::Test {
protected:
    ChannelTest() : bench(scope_testing::DemoScenario(), DEMO_DIR), form(bench.Start()) {}

    // The user's text arrives as a change of the box.
    void Type(TComboBox* box, const QString& text) {
        box->SetTextQ(text);
        Q_EMIT box->UserChanged();
    }

    Record Channel(int index) const {
        const TChannel& c = form.Channel(index);
        return {c.active, c.name, c.address, c.mask};
    }
    // What the engine reads at a channel's address.
    std::uint8_t ReadAt(int index) {
        mcu::MCAppl appl = bench.Engine().Appl();
        std::uint8_t value = 0;
        EXPECT_TRUE(mcu::ReadVariable(appl, form.Channel(index).address, 0, value));
        return value;
    }

    QTreeWidgetItem* Node(const QString& text) const {
        auto found = Ctl<TTreeView>(form, "TreeView1")
                         ->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? nullptr : found.front();
    }

    // A tree node dragged onto target and dropped there, as the window system delivers it.
    bool Drop(QWidget* target, QMimeData* data) {
        const QPoint at(5, 5);
        QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &enter);
        if (!enter.isAccepted()) {
            delete data;
            return false;
        }
        QDragMoveEvent move(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &move);
        QDropEvent drop(QPointF(at), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &drop);
        delete data;
        return drop.isAccepted();
    }
    QMimeData* Dragged(const QString& nodeText) {
        QTreeWidgetItem* node = Node(nodeText);
        EXPECT_NE(node, nullptr) << nodeText.toStdString();
        return Ctl<TTreeView>(form, "TreeView1")->mimeData({node});
    }

    ScopeBench bench;
    ScopeWindow& form;
};

TEST_F(ChannelTest, BitSuffixSelectsOneBitOfTheByte) {
    Type(Ctl<TComboBox>(form, "VarName2"), "gain.3");
    EXPECT_FALSE(Silver(Ctl<TComboBox>(form, "VarName2")));
    EXPECT_EQ(Ctl<TComboBox>(form, "VarName2")->TextQ(), "GAIN.3");
    EXPECT_GE(Ctl<TComboBox>(form, "VarName2")->Items().IndexOf("GAIN.3"), 0);
    EXPECT_EQ(Channel(2), (Record{1, "GAIN.3", 0x41, 0x08}));
    EXPECT_TRUE(Ctl<TCheckBox>(form, "VarSelected2")->Checked());

    // The channel's address reads the byte GAIN from the MC.
    bench.Sim().Sim().DeviceAt(1)->SetMemory(0x41, 0x5A);
    EXPECT_EQ(ReadAt(2), 0x5A);
}

TEST_F(ChannelTest, RefusedTextsLeaveTheBoxSilverAndTheChannelAsItWas) {
    Type(Ctl<TComboBox>(form, "VarName3"), "walk");
    const Record walk{1, "WALK", 0x34, 0};
    ASSERT_EQ(Channel(3), walk);
    for (const char* text :
         {"counter.8", "counter.", "BUF[300]", "buf[3", "NOSUCH", "buf[$1ff]", "70000", "[4]"}) {
        Type(Ctl<TComboBox>(form, "VarName3"), text);
        EXPECT_TRUE(Silver(Ctl<TComboBox>(form, "VarName3"))) << text;
        EXPECT_EQ(Channel(3), walk) << text;
        EXPECT_EQ(Ctl<TComboBox>(form, "VarName3")->TextQ(), text) << text;
    }
    Type(Ctl<TComboBox>(form, "VarName3"), "walk");
    EXPECT_FALSE(Silver(Ctl<TComboBox>(form, "VarName3")));
}

TEST_F(ChannelTest, ArrayIndexAddsToTheAddressAcrossPages) {
    bench.Sim().Sim().DeviceAt(1)->SetMemory(0x50 + 255, 0xC3);
    Type(Ctl<TComboBox>(form, "VarName2"), "buf[255]");
    EXPECT_EQ(Channel(2), (Record{1, "BUF[255]", 0x14F, 0}));
    EXPECT_EQ(ReadAt(2), 0xC3);

    Type(Ctl<TComboBox>(form, "VarName2"), "BUF[$10]");
    EXPECT_EQ(form.Channel(2).address, 0x60);
    // Both suffixes, in either order.
    Type(Ctl<TComboBox>(form, "VarName2"), "sine.2[3]");
    EXPECT_EQ(Channel(2), (Record{1, "SINE.2[3]", 0x33, 0x04}));
    Type(Ctl<TComboBox>(form, "VarName3"), "sine[3].2");
    EXPECT_EQ(Channel(3), (Record{1, "SINE[3].2", 0x33, 0x04}));
}

TEST_F(ChannelTest, BareAddressNeedsNoLookupAndKeepsTheTextAsTyped) {
    const int items = Ctl<TComboBox>(form, "VarName2")->count();
    Type(Ctl<TComboBox>(form, "VarName2"), "32");
    EXPECT_EQ(Channel(2), (Record{1, "32", 32, 0}));
    EXPECT_EQ(Ctl<TComboBox>(form, "VarName2")->TextQ(), "32");
    Type(Ctl<TComboBox>(form, "VarName2"), "$1f.1");
    EXPECT_EQ(Channel(2), (Record{1, "$1F.1", 0x1F, 0x02}));
    EXPECT_EQ(Ctl<TComboBox>(form, "VarName2")->TextQ(), "$1f.1");
    EXPECT_FALSE(Silver(Ctl<TComboBox>(form, "VarName2")));
    EXPECT_EQ(Ctl<TComboBox>(form, "VarName2")->count(), items);
}

TEST_F(ChannelTest, TableBitKeepsItsOwnMaskUnderASuffix) {
    Type(Ctl<TComboBox>(form, "VarName3"), "run.3");
    EXPECT_EQ(Channel(3), (Record{1, "RUN.3", 0x3A, 0x01}));
    Type(Ctl<TComboBox>(form, "VarName3"), "alarm");
    EXPECT_EQ(Channel(3), (Record{1, "ALARM", 0x3A, 0x02}));
}

TEST_F(ChannelTest, SelectionRestartsTheChannelAndTheSweepOnceTheEngineTookIt) {
    Type(Ctl<TComboBox>(form, "VarName1"), "PORT2");
    Type(Ctl<TComboBox>(form, "VarName2"), "sine");
    bench.RunFor(3100); // a whole sweep, whose statistics are shown, and half of the next
    ASSERT_FALSE(Ctl<QLineEdit>(form, "Min2")->text().isEmpty());
    ASSERT_EQ(form.Channel(2).restart, 0);
    const int row = AnalogueRow(0xA5, kTraceHeight);
    ASSERT_EQ(form.TraceBitmap().pixel(300, row), form.Channel(1).colour);

    // Stopped, so that no burst follows at once.
    Ctl<TApplicationEvents>(form, "ApplicationEvents1")
        ->ApplicationStateChanged(Qt::ApplicationActive);
    Ctl<TApplicationEvents>(form, "ApplicationEvents1")
        ->ApplicationStateChanged(Qt::ApplicationInactive);
    Type(Ctl<TComboBox>(form, "VarName2"), "saw");
    // Nothing changes on the screen until the engine has the new variable.
    EXPECT_FALSE(Ctl<QLineEdit>(form, "Min2")->text().isEmpty());
    bench.Pass();
    EXPECT_TRUE(Ctl<QLineEdit>(form, "Min2")->text().isEmpty());
    EXPECT_TRUE(Ctl<QLineEdit>(form, "Max2")->text().isEmpty());
    EXPECT_TRUE(Ctl<QLineEdit>(form, "Avg2")->text().isEmpty());
    EXPECT_EQ(form.Channel(2).restart, 1);
    // Running again, the sweep begins afresh at the first sample, on a cleared screen.
    Ctl<TApplicationEvents>(form, "ApplicationEvents1")
        ->ApplicationStateChanged(Qt::ApplicationActive);
    bench.Pass();
    EXPECT_NE(form.TraceBitmap().pixel(300, row), form.Channel(1).colour);
    EXPECT_EQ(form.SweepOrigin(), bench.Engine().Sweep().origin);

    // An empty box switches the channel off.
    Type(Ctl<TComboBox>(form, "VarName2"), "");
    EXPECT_EQ(form.Channel(2).active, 0);
    bench.Pass();
    EXPECT_FALSE(bench.Engine().Channel(2).active);
}

TEST_F(ChannelTest, TypingIntoTheBoxResolvesAsTheUserGoes) {
    QLineEdit* edit = Ctl<TComboBox>(form, "VarName3")->lineEdit();
    QTest::keyClicks(edit, "lev");
    EXPECT_TRUE(Silver(Ctl<TComboBox>(form, "VarName3")));
    // Any text checks the box, but the channel reads nothing until a name resolves.
    EXPECT_TRUE(Ctl<TCheckBox>(form, "VarSelected3")->Checked());
    EXPECT_EQ(Channel(3), (Record{0, "", 0, 0}));
    QTest::keyClicks(edit, "el");
    EXPECT_FALSE(Silver(Ctl<TComboBox>(form, "VarName3")));
    EXPECT_EQ(Ctl<TComboBox>(form, "VarName3")->TextQ(), "LEVEL");
    EXPECT_EQ(Channel(3), (Record{1, "LEVEL", 0x39, 0}));
    EXPECT_TRUE(Ctl<TCheckBox>(form, "VarSelected3")->Checked());

    // Picking an entry of the list is a change too.
    Ctl<TComboBox>(form, "VarName3")->Items().Add("SAW");
    Ctl<TComboBox>(form, "VarName3")
        ->setCurrentIndex(Ctl<TComboBox>(form, "VarName3")->findText("SAW"));
    Q_EMIT Ctl<TComboBox>(form, "VarName3")
        ->activated(Ctl<TComboBox>(form, "VarName3")->currentIndex());
    EXPECT_EQ(Channel(3), (Record{1, "SAW", 0x31, 0}));
}

TEST_F(ChannelTest, ChannelCheckBoxesSwitchAndResolve) {
    Ctl<TComboBox>(form, "VarName2")->SetText("temp");
    EXPECT_EQ(form.Channel(2).active, 0); // the text alone changes nothing
    Ctl<TCheckBox>(form, "VarSelected2")->SetChecked(true);
    EXPECT_EQ(Channel(2), (Record{1, "TEMP", 0x37, 0}));
    QTest::mouseClick(Ctl<TCheckBox>(form, "VarSelected2"), Qt::LeftButton);
    EXPECT_FALSE(Ctl<TCheckBox>(form, "VarSelected2")->Checked());
    EXPECT_EQ(form.Channel(2).active, 0);

    // A channel drawn for a while starts its next stroke afresh when its display changes.
    Type(Ctl<TComboBox>(form, "VarName1"), "sine");
    Type(Ctl<TComboBox>(form, "VarName3"), "saw");
    bench.Pass();
    ASSERT_EQ(form.Channel(3).restart, 0);
    Ctl<TCheckBox>(form, "DisplayBin3")->SetChecked(true);
    EXPECT_EQ(form.Channel(3).binary, 1);
    EXPECT_EQ(form.Channel(3).restart, 1);
    Ctl<TCheckBox>(form, "DisplayBin3")->SetChecked(false);
    EXPECT_EQ(form.Channel(3).binary, 0);
}

TEST_F(ChannelTest, XVariableEmptiesTheXYSlotsOfEveryChannel) {
    auto filled = [this](int index) {
        const auto& times = form.Channel(index).times;
        return std::count_if(times.begin(), times.end(), [](std::uint32_t t) { return t != 0; });
    };
    Type(Ctl<TComboBox>(form, "VarName1"), "sine");
    Type(Ctl<TComboBox>(form, "VarNameX"), "angle");
    EXPECT_TRUE(Ctl<TCheckBox>(form, "VarSelectedX")->Checked());
    EXPECT_EQ(Channel(0), (Record{1, "ANGLE", 0x36, 0}));
    bench.Pass();
    ASSERT_GT(filled(1), 0);

    // With x-y mode on, every new channel variable empties the slots again: what is there
    // after the next burst is that burst's alone.
    const auto before = static_cast<std::uint32_t>(foundation::ClockMs());
    Type(Ctl<TComboBox>(form, "VarName2"), "saw");
    bench.Pass();
    for (int i = 1; i <= 2; ++i) {
        for (std::uint32_t t : form.Channel(i).times) {
            EXPECT_TRUE(t == 0 || t >= before) << i;
        }
    }
    // Without it, a new variable leaves them.
    Ctl<TCheckBox>(form, "VarSelectedX")->SetChecked(false);
    EXPECT_EQ(form.Channel(0).active, 0);
    const auto kept = form.Channel(1).times;
    Type(Ctl<TComboBox>(form, "VarName2"), "square");
    bench.Pass();
    EXPECT_EQ(form.Channel(1).times, kept);
}

TEST_F(ChannelTest, TreeNodesDropOntoTheNameBoxes) {
    ASSERT_TRUE(Drop(Ctl<TComboBox>(form, "VarName2")->lineEdit(), Dragged("SQUARE")));
    EXPECT_EQ(Ctl<TComboBox>(form, "VarName2")->TextQ(), "SQUARE");
    EXPECT_TRUE(Ctl<TCheckBox>(form, "VarSelected2")->Checked());
    EXPECT_EQ(Channel(2), (Record{1, "SQUARE", 0x32, 0}));

    ASSERT_TRUE(Drop(Ctl<TComboBox>(form, "VarName1"), Dragged("SAW")));
    EXPECT_EQ(Channel(1), (Record{1, "SAW", 0x31, 0}));
    EXPECT_TRUE(form.RunFlag());

    ASSERT_TRUE(Drop(Ctl<TComboBox>(form, "VarNameX")->lineEdit(), Dragged("ANGLE")));
    EXPECT_TRUE(Ctl<TCheckBox>(form, "VarSelectedX")->Checked());
    EXPECT_EQ(form.Channel(0).address, 0x36);

    // The trigger box only takes the text.
    ASSERT_TRUE(Drop(Ctl<TComboBox>(form, "TriggerName")->lineEdit(), Dragged("TICK")));
    EXPECT_EQ(Ctl<TComboBox>(form, "TriggerName")->TextQ(), "TICK");
    EXPECT_FALSE(Ctl<TCheckBox>(form, "TriggerSelected")->Checked());
}

TEST_F(ChannelTest, CategoryNodeTurnsTheBoxSilverAndOtherDragsAreRefused) {
    Type(Ctl<TComboBox>(form, "VarName3"), "level");
    ASSERT_TRUE(Drop(Ctl<TComboBox>(form, "VarName3")->lineEdit(), Dragged("USER bytes")));
    EXPECT_TRUE(Silver(Ctl<TComboBox>(form, "VarName3")));
    EXPECT_EQ(Ctl<TComboBox>(form, "VarName3")->TextQ(), "USER bytes");
    EXPECT_EQ(Channel(3), (Record{1, "LEVEL", 0x39, 0}));

    // Text from anywhere else is not a tree node.
    auto* text = new QMimeData;
    text->setText("SINE");
    EXPECT_FALSE(Drop(Ctl<TComboBox>(form, "VarName2")->lineEdit(), text));
    EXPECT_EQ(Ctl<TComboBox>(form, "VarName2")->TextQ(), "");
    // Only the five name boxes take nodes.
    EXPECT_FALSE(form.OnDragOver(Ctl<TComboBox>(form, "SetterName1"), true));
    EXPECT_TRUE(form.OnDragOver(Ctl<TComboBox>(form, "TriggerName"), true));
    EXPECT_FALSE(form.OnDragOver(Ctl<TComboBox>(form, "VarName1"), false));
}

} // namespace
