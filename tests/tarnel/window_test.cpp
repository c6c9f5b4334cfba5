// The selector window against the simulated bus and EEPROM over the in-memory link.
#include "main_window.h"
#include "mcu/access.h"
#include "mcu/bus.h"
#include "sim_link.h"
#include "temp_dir.h"

#include <QApplication>
#include <QDialog>
#include <QGroupBox>
#include <QPointer>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <optional>

using Bytes = std::vector<std::uint8_t>;

namespace {

// Answers the input boxes from a script and records everything else the window asks for.
struct ScriptedDesktop : tarnel::Desktop {
    // nullopt: Cancel; "<Escape>" + text: the hot key while the box is up, then the box is
    // confirmed with text, as a box that stayed up would be.
    std::deque<std::optional<QString>> answers;
    QStringList shownTexts;
    QStringList errors;
    int quitRequests = 0;
    int boxesClosed = 0;
    QString startedProgram;
    QStringList startedArguments;
    int starts = 0;

    bool InputBox(const QString& title, const QString& prompt, QString& text) override {
        EXPECT_EQ(title, "Set VELON ApplId");
        EXPECT_EQ(prompt, "Enter VELON ApplId  ( 1..7 )");
        shownTexts << text;
        if (answers.empty()) {
            ADD_FAILURE() << "the box was shown once more than scripted";
            return false;
        }
        auto answer = answers.front();
        answers.pop_front();
        const QString escape = "<Escape>";
        if (answer && answer->startsWith(escape)) {
            for (QWidget* w : QApplication::allWidgets()) {
                if (auto* form = qobject_cast<tarnel::SelectorWindow*>(w)) {
                    form->HotKey();
                }
            }
            answer = answer->mid(escape.size());
        }
        if (!answer) {
            return false;
        }
        text = *answer;
        return true;
    }
    void ErrorBox(const QString& text) override { errors << text; }
    void CloseBoxes() override { ++boxesClosed; }
    bool StartDetached(const QString& program, const QStringList& arguments) override {
        ++starts;
        startedProgram = program;
        startedArguments = arguments;
        return true;
    }
    void RequestQuit() override { ++quitRequests; }
};

bool Contains(const Bytes& haystack, const Bytes& needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
           haystack.end();
}

class SelectorTest : public ::testing::Test {
protected:
    SelectorTest() {
        mcu::ResetMcuModule();
        mcu::SetProgramKind(mcu::ProgramKind::Selector);
        mcu::ApplIdTable().fill("");
        mcu::ApplIdTable()[0x40] = "MASTER";
        mcu::ApplIdTable()[0x41] = "PUMP";
        mcu::ApplIdTable()[0x42] = "MIXER";
        tarnel::Selector() = tarnel::SelectorState{};
    }
    ~SelectorTest() override {
        form.reset();
        bench.reset();
        mcu::ResetMcuModule();
        mcu::ApplIdTable().fill("");
    }

    void StartBench(const std::string& scenario) {
        form.reset();
        bench.reset(); // one bench at a time: each installs the link and the clock
        bench = std::make_unique<testing_support::SimBench>(scenario);
    }
    void Create(const QStringList& arguments = {}) {
        form = std::make_unique<tarnel::SelectorWindow>(arguments, desktop);
    }

    testing_support::FatalRecorder fatal;
    ScriptedDesktop desktop;
    std::unique_ptr<testing_support::SimBench> bench;
    std::unique_ptr<tarnel::SelectorWindow> form;
};

const char* kBus = R"(
device MASTER
  appl_id 0x40
end
device PUMP
  appl_id 0x41
end
device MIXER
  appl_id 0x42
end
channel 1 MASTER
bus 1 3 PUMP
bus 1 5 MIXER
)";

TEST_F(SelectorTest, ListsTheBusAndSelectsTheAddressedSlot) {
    StartBench(kBus);
    std::uint8_t id = 0;
    ASSERT_TRUE(mcu::ProbeDevice(0x62, id)); // the bus addresses slot 3
    Create({"true"});
    EXPECT_FALSE(form->Busy());
    EXPECT_FALSE(form->RanApplIdDialogue());
    EXPECT_EQ(form->windowTitle(), "TARNEL");
    EXPECT_EQ(form->size(), QSize(158, 292));
    auto* group = form->findChild<QGroupBox*>("DeviceRadioGroup");
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->title(), "Available @ VELON :");
    ASSERT_EQ(form->ItemCount(), 3);
    auto items = group->findChildren<QRadioButton*>();
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[0]->text(), "MASTER");
    EXPECT_EQ(items[2]->text(), "MIXER");
    // The current device is the slot number 3, beyond the last item: the last one is selected.
    EXPECT_EQ(tarnel::Selector().appl.currentDevice, 3);
    EXPECT_EQ(form->ItemIndex(), 2);
    EXPECT_EQ(group->height(), 30 * 2 + 50);
    EXPECT_EQ(desktop.quitRequests, 0);
}

TEST_F(SelectorTest, ClickSwitchesTheBusAndEndsWithTheFollowUpCommand) {
    StartBench(kBus);
    Create({"touch '/tmp/a file' ; rm -rf x"});
    EXPECT_EQ(form->ItemIndex(), 0);
    bench->ClearWire();
    auto* pump = form->findChild<QRadioButton*>("DeviceItem1");
    ASSERT_NE(pump, nullptr);
    pump->click();
    EXPECT_EQ(bench->Sent(), (Bytes{0xFD, 0x62}));
    EXPECT_EQ(bench->Sim().CurrentSlot(1), 3);
    EXPECT_EQ(desktop.quitRequests, 1);
    form->OnDestroy();
    // Words and quotes are split as a shell would, but no shell ever sees the text.
    EXPECT_EQ(desktop.starts, 1);
    EXPECT_EQ(desktop.startedProgram, "touch");
    EXPECT_EQ(desktop.startedArguments, (QStringList{"/tmp/a file", ";", "rm", "-rf", "x"}));
}

TEST_F(SelectorTest, ClickOnTheSelectedItemSendsNothing) {
    StartBench(kBus);
    Create();
    bench->ClearWire();
    form->DeviceOnClick(0);
    EXPECT_TRUE(bench->Sent().empty());
    EXPECT_EQ(desktop.quitRequests, 0);
}

TEST_F(SelectorTest, UnconfirmedSelectionRestoresThePreviousItem) {
    StartBench(kBus);
    Create();
    // The entry's device now answers with another id than the list holds.
    tarnel::Selector().appl.deviceList[2].applId = 0x77;
    auto* mixer = form->findChild<QRadioButton*>("DeviceItem2");
    mixer->click();
    EXPECT_EQ(form->ItemIndex(), 0);
    EXPECT_EQ(desktop.quitRequests, 0);
}

TEST_F(SelectorTest, EscapeEndsWithoutTheFollowUpCommand) {
    StartBench(kBus);
    Create({"true"});
    form->HotKey();
    EXPECT_EQ(desktop.quitRequests, 1);
    form->OnDestroy();
    EXPECT_EQ(desktop.starts, 0);
}

std::string ApplIdScenario(const std::string& eepromByte) {
    return "device M\n appl_id 0x40\n eeprom 255 " + eepromByte + "\nend\nchannel 1 M\n";
}

TEST_F(SelectorTest, ApplIdIsReadFromTheLastEepromByte) {
    const std::pair<const char*, int> cases[] = {{"0xFF", 7}, {"0x00", 1}, {"0x11", 1},
                                                 {"0x33", 1}, {"0x55", 2}, {"0x66", 3}};
    for (const auto& [byte, id] : cases) {
        StartBench(ApplIdScenario(byte));
        desktop = ScriptedDesktop{};
        desktop.answers = {std::nullopt};
        Create();
        ASSERT_EQ(desktop.shownTexts.size(), 1) << byte;
        EXPECT_EQ(desktop.shownTexts[0], QString::number(id)) << byte;
        EXPECT_TRUE(form->RanApplIdDialogue());
        EXPECT_EQ(desktop.quitRequests, 1);
    }
}

TEST_F(SelectorTest, ApplIdThreeIsWrittenAsOneBlock) {
    StartBench(ApplIdScenario("0x22"));
    desktop.answers = {QString("3")};
    Create();
    EXPECT_TRUE(Contains(bench->Sent(), Bytes{0x01, 0x00, 0xFF, 0x66, 0x9A}));
    EXPECT_EQ(bench->Sim().DeviceAt(1)->Eeprom()[255], 0x66);
    EXPECT_TRUE(desktop.errors.isEmpty());
    EXPECT_EQ(desktop.quitRequests, 1);
}

TEST_F(SelectorTest, InvalidAnswersWriteNothingAndAskAgain) {
    StartBench(ApplIdScenario("0x44"));
    desktop.answers = {QString("0"), QString("8"), QString("3x"), std::nullopt};
    Create();
    EXPECT_EQ(desktop.shownTexts, (QStringList{"2", "0", "8", "3"}));
    EXPECT_EQ(bench->Sim().DeviceAt(1)->Eeprom()[255], 0x44);
    EXPECT_TRUE(desktop.answers.empty());
}

TEST_F(SelectorTest, CancelWithAnInvalidShownValueAsksAgain) {
    StartBench(ApplIdScenario("0x44"));
    desktop.answers = {QString("9"), std::nullopt, QString("5")};
    Create();
    EXPECT_EQ(desktop.shownTexts, (QStringList{"2", "9", "9"}));
    EXPECT_EQ(bench->Sim().DeviceAt(1)->Eeprom()[255], 0xAA);
}

TEST_F(SelectorTest, EscapeDuringTheApplIdBoxClosesItAndWritesNothing) {
    // Whether the box then reports Cancel or (had it stayed up) a confirmed valid id.
    for (const char* last : {"<Escape>", "<Escape>3"}) {
        StartBench(ApplIdScenario("0x44"));
        desktop = ScriptedDesktop{};
        desktop.answers = {QString("9"), QString(last)};
        Create({"true"});
        bench->ClearWire();
        EXPECT_EQ(desktop.shownTexts, (QStringList{"2", "9"})) << last;
        EXPECT_EQ(desktop.boxesClosed, 1) << last;
        EXPECT_GE(desktop.quitRequests, 1);
        form->OnDestroy();
        EXPECT_EQ(desktop.starts, 0);
        // Closing sends nothing; the EEPROM keeps its byte.
        EXPECT_TRUE(bench->Sent().empty()) << last;
        EXPECT_EQ(bench->Sim().DeviceAt(1)->Eeprom()[255], 0x44) << last;
    }
}

// The program's own boxes: what ends them is a key sent through Qt to the box that is up, or
// the hot key reaching the window while the box is up (the display-wide grab).
struct QtDesktop : tarnel::Desktop {
    int starts = 0;
    bool StartDetached(const QString&, const QStringList&) override {
        ++starts;
        return true;
    }
};

// A box still up a thousand passes of its event loop after act is a failure, and is closed so
// that the test goes on.
void ExpectTheBoxToGo(QPointer<QDialog> box, int passes = 0) {
    QTimer::singleShot(0, [box, passes] {
        if (box == nullptr || !box->isVisible()) {
            return;
        }
        if (passes < 1000) {
            ExpectTheBoxToGo(box, passes + 1);
        } else {
            ADD_FAILURE() << "the box stayed up";
            box->reject();
        }
    });
}

// Runs act on the modal box once it is up, from inside its own event loop.
void WhenTheBoxIsUp(std::function<void(QDialog*)> act) {
    QTimer::singleShot(0, [act] {
        auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            WhenTheBoxIsUp(act);
            return;
        }
        act(box);
        ExpectTheBoxToGo(box);
    });
}

TEST_F(SelectorTest, EscapeEndsTheProgramFromTheRealApplIdBox) {
    const std::pair<const char*, std::function<void(QDialog*)>> ways[] = {
        {"key in the box", [](QDialog* box) { QTest::keyClick(box, Qt::Key_Escape); }},
        {"hot key",
         [](QDialog*) {
             for (QWidget* w : QApplication::allWidgets()) {
                 if (auto* f = qobject_cast<tarnel::SelectorWindow*>(w)) {
                     f->HotKey();
                 }
             }
         }},
    };
    for (const auto& [way, act] : ways) {
        StartBench(ApplIdScenario("0x22"));
        QtDesktop qt;
        WhenTheBoxIsUp(act);
        auto created = std::make_unique<tarnel::SelectorWindow>(QStringList{"true"}, qt);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << way;
        EXPECT_TRUE(qt.QuitRequested()) << way;
        EXPECT_TRUE(created->FollowUpCommand().isEmpty()) << way;
        bench->ClearWire();
        created.reset();
        EXPECT_EQ(qt.starts, 0) << way;
        EXPECT_TRUE(bench->Sent().empty()) << way;
        EXPECT_EQ(bench->Sim().DeviceAt(1)->Eeprom()[255], 0x22) << way;
    }
}

TEST(FollowUpCommand, SplitsWordsAndQuotesWithoutAShell) {
    QString program;
    QStringList args;
    ASSERT_TRUE(
        tarnel::SplitCommandLine(R"(  prog "a b" 'c "d"' e\ f "g\"h" $HOME|x)", program, args));
    EXPECT_EQ(program, "prog");
    EXPECT_EQ(args, (QStringList{"a b", "c \"d\"", "e f", "g\"h", "$HOME|x"}));
    EXPECT_FALSE(tarnel::SplitCommandLine("   ", program, args));
    EXPECT_FALSE(tarnel::SplitCommandLine("''", program, args));
    ASSERT_TRUE(tarnel::SplitCommandLine("'unclosed quote", program, args));
    EXPECT_EQ(program, "unclosed quote");
}

TEST(ApplIdText, ConvertsAsFarAsItCan) {
    int v = -1;
    EXPECT_TRUE(tarnel::ConvertApplIdText("3", v));
    EXPECT_EQ(v, 3);
    EXPECT_FALSE(tarnel::ConvertApplIdText("3x", v));
    EXPECT_EQ(v, 3);
    EXPECT_FALSE(tarnel::ConvertApplIdText("x3", v));
    EXPECT_EQ(v, 0);
    EXPECT_FALSE(tarnel::ConvertApplIdText("", v));
    EXPECT_EQ(v, 0);
    EXPECT_TRUE(tarnel::ConvertApplIdText(" -2", v));
    EXPECT_EQ(v, -2);
    EXPECT_FALSE(tarnel::ConvertApplIdText("99999999999999999999", v));
    EXPECT_EQ(tarnel::ApplIdByte(7), 0xEE);
    EXPECT_EQ(tarnel::ApplIdFromByte(0xEE), 7);
}

} // namespace
