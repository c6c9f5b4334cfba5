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
        form.OnChange(box);
    }

    Record Channel(int index) const {
        const TChannel& c = form.channels[static_cast<std::size_t>(index)];
        return {c.active, c.name, c.address, c.mask};
    }

    QTreeWidgetItem* Node(const QString& text) const {
        auto found = form.TreeView1->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
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
        return form.TreeView1->mimeData({node});
    }

    ScopeBench bench;
    TForm1& form;
};

TEST_F(ChannelTest, BitSuffixSelectsOneBitOfTheByte) {
    Type(form.VarName2, "gain.3");
    EXPECT_FALSE(Silver(form.VarName2));
    EXPECT_EQ(form.VarName2->TextQ(), "GAIN.3");
    EXPECT_GE(form.VarName2->Items().IndexOf("GAIN.3"), 0);
    EXPECT_EQ(Channel(2), (Record{1, "GAIN.3", 0x41, 0x08}));
    EXPECT_TRUE(form.VarSelected2->Checked());

    // The channel's address reads the byte GAIN from the MC.
    bench.Sim().Sim().DeviceAt(1)->SetMemory(0x41, 0x5A);
    std::uint8_t value = 0;
    ASSERT_TRUE(mcu::ReadVariable(form.appl, form.channels[2].address, 0, value));
    EXPECT_EQ(value, 0x5A);
}

TEST_F(ChannelTest, RefusedTextsLeaveTheBoxSilverAndTheChannelAsItWas) {
    Type(form.VarName3, "walk");
    const Record walk{1, "WALK", 0x34, 0};
    ASSERT_EQ(Channel(3), walk);
    for (const char* text :
         {"counter.8", "counter.", "BUF[300]", "buf[3", "NOSUCH", "buf[$1ff]", "70000", "[4]"}) {
        Type(form.VarName3, text);
        EXPECT_TRUE(Silver(form.VarName3)) << text;
        EXPECT_EQ(Channel(3), walk) << text;
        EXPECT_EQ(form.VarName3->TextQ(), text) << text;
    }
    Type(form.VarName3, "walk");
    EXPECT_FALSE(Silver(form.VarName3));
}

TEST_F(ChannelTest, ArrayIndexAddsToTheAddressAcrossPages) {
    bench.Sim().Sim().DeviceAt(1)->SetMemory(0x50 + 255, 0xC3);
    Type(form.VarName2, "buf[255]");
    EXPECT_EQ(Channel(2), (Record{1, "BUF[255]", 0x14F, 0}));
    std::uint8_t value = 0;
    ASSERT_TRUE(mcu::ReadVariable(form.appl, form.channels[2].address, 0, value));
    EXPECT_EQ(value, 0xC3);

    Type(form.VarName2, "BUF[$10]");
    EXPECT_EQ(form.channels[2].address, 0x60);
    // Both suffixes, in either order.
    Type(form.VarName2, "sine.2[3]");
    EXPECT_EQ(Channel(2), (Record{1, "SINE.2[3]", 0x33, 0x04}));
    Type(form.VarName3, "sine[3].2");
    EXPECT_EQ(Channel(3), (Record{1, "SINE[3].2", 0x33, 0x04}));
}

TEST_F(ChannelTest, BareAddressNeedsNoLookupAndKeepsTheTextAsTyped) {
    const int items = form.VarName2->count();
    Type(form.VarName2, "32");
    EXPECT_EQ(Channel(2), (Record{1, "32", 32, 0}));
    EXPECT_EQ(form.VarName2->TextQ(), "32");
    Type(form.VarName2, "$1f.1");
    EXPECT_EQ(Channel(2), (Record{1, "$1F.1", 0x1F, 0x02}));
    EXPECT_EQ(form.VarName2->TextQ(), "$1f.1");
    EXPECT_FALSE(Silver(form.VarName2));
    EXPECT_EQ(form.VarName2->count(), items);
}

TEST_F(ChannelTest, TableBitKeepsItsOwnMaskUnderASuffix) {
    Type(form.VarName3, "run.3");
    EXPECT_EQ(Channel(3), (Record{1, "RUN.3", 0x3A, 0x01}));
    Type(form.VarName3, "alarm");
    EXPECT_EQ(Channel(3), (Record{1, "ALARM", 0x3A, 0x02}));
}

TEST_F(ChannelTest, SelectionRestartsTheChannelAndTheSweep) {
    form.Min2->setText("3");
    form.Max2->setText("9");
    form.Avg2->setText("6");
    form.channels[2].restart = 0;
    form.channels[2].count = 17;
    form.sweepOrigin = 1;
    bench.Sim().Clock().AdvanceMs(5000);
    Type(form.VarName2, "saw");
    EXPECT_TRUE(form.Min2->text().isEmpty());
    EXPECT_TRUE(form.Max2->text().isEmpty());
    EXPECT_TRUE(form.Avg2->text().isEmpty());
    EXPECT_EQ(form.channels[2].restart, 1);
    EXPECT_EQ(form.channels[2].count, 0);
    EXPECT_EQ(static_cast<std::uint32_t>(foundation::ClockMs()) - form.sweepOrigin, 2000u);

    // An empty box switches the channel off.
    Type(form.VarName2, "");
    EXPECT_EQ(form.channels[2].active, 0);
}

TEST_F(ChannelTest, TypingIntoTheBoxResolvesAsTheUserGoes) {
    QLineEdit* edit = form.VarName3->lineEdit();
    QTest::keyClicks(edit, "lev");
    EXPECT_TRUE(Silver(form.VarName3));
    // Any text checks the box, but the channel reads nothing until a name resolves.
    EXPECT_TRUE(form.VarSelected3->Checked());
    EXPECT_EQ(Channel(3), (Record{0, "", 0, 0}));
    QTest::keyClicks(edit, "el");
    EXPECT_FALSE(Silver(form.VarName3));
    EXPECT_EQ(form.VarName3->TextQ(), "LEVEL");
    EXPECT_EQ(Channel(3), (Record{1, "LEVEL", 0x39, 0}));
    EXPECT_TRUE(form.VarSelected3->Checked());

    // Picking an entry of the list is a change too.
    form.VarName3->Items().Add("SAW");
    form.VarName3->setCurrentIndex(form.VarName3->findText("SAW"));
    Q_EMIT form.VarName3->activated(form.VarName3->currentIndex());
    EXPECT_EQ(Channel(3), (Record{1, "SAW", 0x31, 0}));
}

TEST_F(ChannelTest, ChannelCheckBoxesSwitchAndResolve) {
    form.VarName2->SetText("temp");
    EXPECT_EQ(form.channels[2].active, 0); // the text alone changes nothing
    form.VarSelected2->SetChecked(true);
    EXPECT_EQ(Channel(2), (Record{1, "TEMP", 0x37, 0}));
    QTest::mouseClick(form.VarSelected2, Qt::LeftButton);
    EXPECT_FALSE(form.VarSelected2->Checked());
    EXPECT_EQ(form.channels[2].active, 0);

    form.channels[3].restart = 0;
    form.DisplayBin3->SetChecked(true);
    EXPECT_EQ(form.channels[3].binary, 1);
    EXPECT_EQ(form.channels[3].restart, 1);
    form.DisplayBin3->SetChecked(false);
    EXPECT_EQ(form.channels[3].binary, 0);
}

TEST_F(ChannelTest, XVariableClearsTheXYSlotsOfEveryChannel) {
    for (int i = 1; i <= 3; ++i) {
        form.channels[static_cast<std::size_t>(i)].times.fill(1234);
    }
    Type(form.VarNameX, "angle");
    EXPECT_TRUE(form.VarSelectedX->Checked());
    EXPECT_EQ(Channel(0), (Record{1, "ANGLE", 0x36, 0}));
    for (int i = 1; i <= 3; ++i) {
        for (int slot = 1; slot <= kChannelSamples; ++slot) {
            ASSERT_EQ(form.channels[static_cast<std::size_t>(i)].times[slot], 0u) << i;
        }
    }
    // With x-y mode on, every new channel variable empties the slots again.
    form.channels[1].times[7] = 99;
    Type(form.VarName2, "sine");
    EXPECT_EQ(form.channels[1].times[7], 0u);
    form.VarSelectedX->SetChecked(false);
    EXPECT_EQ(form.channels[0].active, 0);
    form.channels[1].times[7] = 99;
    Type(form.VarName2, "saw");
    EXPECT_EQ(form.channels[1].times[7], 99u);
}

TEST_F(ChannelTest, TreeNodesDropOntoTheNameBoxes) {
    ASSERT_TRUE(Drop(form.VarName2->lineEdit(), Dragged("SQUARE")));
    EXPECT_EQ(form.VarName2->TextQ(), "SQUARE");
    EXPECT_TRUE(form.VarSelected2->Checked());
    EXPECT_EQ(Channel(2), (Record{1, "SQUARE", 0x32, 0}));

    ASSERT_TRUE(Drop(form.VarName1, Dragged("SAW")));
    EXPECT_EQ(Channel(1), (Record{1, "SAW", 0x31, 0}));
    EXPECT_TRUE(form.RunFlag());

    ASSERT_TRUE(Drop(form.VarNameX->lineEdit(), Dragged("ANGLE")));
    EXPECT_TRUE(form.VarSelectedX->Checked());
    EXPECT_EQ(form.channels[0].address, 0x36);

    // The trigger box only takes the text.
    ASSERT_TRUE(Drop(form.TriggerName->lineEdit(), Dragged("TICK")));
    EXPECT_EQ(form.TriggerName->TextQ(), "TICK");
    EXPECT_FALSE(form.TriggerSelected->Checked());
}

TEST_F(ChannelTest, CategoryNodeTurnsTheBoxSilverAndOtherDragsAreRefused) {
    Type(form.VarName3, "level");
    ASSERT_TRUE(Drop(form.VarName3->lineEdit(), Dragged("USER bytes")));
    EXPECT_TRUE(Silver(form.VarName3));
    EXPECT_EQ(form.VarName3->TextQ(), "USER bytes");
    EXPECT_EQ(Channel(3), (Record{1, "LEVEL", 0x39, 0}));

    // Text from anywhere else is not a tree node.
    auto* text = new QMimeData;
    text->setText("SINE");
    EXPECT_FALSE(Drop(form.VarName2->lineEdit(), text));
    EXPECT_EQ(form.VarName2->TextQ(), "");
    // Only the five name boxes take nodes.
    EXPECT_FALSE(form.OnDragOver(form.SetterName1, true));
    EXPECT_TRUE(form.OnDragOver(form.TriggerName, true));
    EXPECT_FALSE(form.OnDragOver(form.VarName1, false));
}

} // namespace
