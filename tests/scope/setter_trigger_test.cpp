// The setters (read, write through SetVariable, switching themselves off) and the trigger
// controls, against the simulated MC; the bytes on the wire are asserted where they matter.
#include "scope_bench.h"

#include <QLineEdit>
#include <QSlider>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

using namespace scope;
using scope_testing::ScopeBench;
using Bytes = std::vector<std::uint8_t>;

namespace {

// A small application whose settable window is given by the markers.
std::string Scenario(const std::string& vars) {
    return "device S\n appl_id 0x85\n" + vars + "end\nchannel 1 S\n";
}

class SetterBench {
public:
    SetterBench(const std::string& adr, const std::string& scenarioVars) {
        files.Write("applid.inc", "APPL_SET EQU 133\n");
        files.Write("SET.ADR", adr);
        bench = std::make_unique<ScopeBench>(Scenario(scenarioVars), files.path());
        bench->Start();
    }
    ScopeWindow& Form() { return bench->Form(); }

    testing_support::TempDir files;
    std::unique_ptr<ScopeBench> bench;
};

TEST(SetterPanelsTest, ShownByTheMarkersAndTheRoomBetweenThem) {
    {
        // Two bytes between the markers, one of them COM_VARX: only one setter.
        SetterBench b("COMSET_VAR_BEG $40\nCOMSET_VAR_END $42\nCOM_VARX $41\nA $40\nZ $50\n", "");
        ASSERT_FALSE(b.Form().TerminationRequested());
        EXPECT_FALSE(Ctl<QFrame>(b.Form(), "Panel4")->isHidden());
        EXPECT_TRUE(Ctl<QFrame>(b.Form(), "Panel5")->isHidden());
        EXPECT_FALSE(Ctl<QFrame>(b.Form(), "Panel6")->isHidden());
        EXPECT_EQ(Ctl<TComboBox>(b.Form(), "SetterName1")->TextQ(), "A");
        EXPECT_EQ(Ctl<TComboBox>(b.Form(), "SetterName1")->count(), 1);
    }
    {
        // Three bytes: room for both; bits, bytes outside the window, the markers and USERRAM
        // are never offered.
        SetterBench b("COMSET_VAR_BEG $40\nCOMSET_VAR_END $43\nCOM_VARX $42\nUSERRAM $40\n"
                      "A $41\nB $40\nBIT $41 3\nOUT $43\n",
                      "");
        EXPECT_FALSE(Ctl<QFrame>(b.Form(), "Panel5")->isHidden());
        EXPECT_EQ(Ctl<TComboBox>(b.Form(), "SetterName1")->count(), 2);
        EXPECT_EQ(Ctl<TComboBox>(b.Form(), "SetterName2")->TextQ(), "B");
    }
    {
        // One marker missing: both setters stay hidden; no COM_VARX: no x-variable.
        SetterBench b("COMSET_VAR_BEG $40\nA $40\n", "");
        EXPECT_TRUE(Ctl<QFrame>(b.Form(), "Panel4")->isHidden());
        EXPECT_TRUE(Ctl<QFrame>(b.Form(), "Panel5")->isHidden());
        EXPECT_TRUE(Ctl<QFrame>(b.Form(), "Panel6")->isHidden());
        EXPECT_FALSE(b.Form().XCapable());
        EXPECT_EQ(Ctl<TComboBox>(b.Form(), "SetterName1")->count(), 0);
    }
}

class SetterTest : public ::testing::Test {
protected:
    SetterTest() : bench(scope_testing::DemoScenario(), DEMO_DIR), form(bench.Start()) {}

    std::uint8_t Memory(std::uint32_t address) {
        return bench.Sim().Sim().DeviceAt(1)->Memory(address);
    }

    ScopeBench bench;
    ScopeWindow& form;
};

TEST_F(SetterTest, SelectedSetterReadsWritesBackOnceAndWritesEveryMove) {
    Ctl<TComboBox>(form, "SetterName1")->SetText("SETPOINT");
    bench.Sim().ClearWire();
    Ctl<TCheckBox>(form, "SetterSelected1")->SetChecked(true);
    // The bar writes nothing until the engine has read the variable.
    Ctl<QSlider>(form, "SetterTrackBar1")->setValue(3);
    bench.Settle();
    EXPECT_EQ(form.Setter(1).selected, 1);
    EXPECT_EQ(form.Setter(1).value, 100);
    EXPECT_EQ(Ctl<QSlider>(form, "SetterTrackBar1")->value(), 100);
    EXPECT_EQ(Ctl<QLineEdit>(form, "SetterVal1")->text(), "100");
    // The read of $40, then the value read written back once: attention, the write request
    // (base $A0 + $40) and the value.
    EXPECT_EQ(bench.Sim().Sent(), (Bytes{0x40, 0x07, 0xE0, 100}));

    bench.Sim().ClearWire();
    Ctl<QSlider>(form, "SetterTrackBar1")->setValue(150);
    bench.Settle();
    EXPECT_EQ(bench.Sim().Sent(), (Bytes{0x07, 0xE0, 150}));
    EXPECT_EQ(Memory(0x40), 150);
    EXPECT_EQ(form.Setter(1).value, 150);
    EXPECT_EQ(Ctl<QLineEdit>(form, "SetterVal1")->text(), "150");

    // Switched off, the bar writes nothing.
    Ctl<TCheckBox>(form, "SetterSelected1")->SetChecked(false);
    EXPECT_EQ(form.Setter(1).selected, 0);
    bench.Sim().ClearWire();
    Ctl<QSlider>(form, "SetterTrackBar1")->setValue(20);
    bench.Settle();
    EXPECT_TRUE(bench.Sim().Sent().empty());
    EXPECT_EQ(Memory(0x40), 150);
}

TEST_F(SetterTest, FailedWriteSnapsTheBarBackToTheLastGoodValue) {
    // PORT2 ($11, $A5) can be read but lies outside the MC's write window: its write request
    // $B1 is answered as a read, never with the address echo.
    Ctl<TComboBox>(form, "SetterName2")->SetText("PORT2");
    Ctl<TCheckBox>(form, "SetterSelected2")->SetChecked(true);
    bench.Settle();
    ASSERT_EQ(form.Setter(2).selected, 1);
    EXPECT_EQ(Ctl<QSlider>(form, "SetterTrackBar2")->value(), 0xA5);

    bench.Sim().ClearWire();
    Ctl<QSlider>(form, "SetterTrackBar2")->setValue(10);
    EXPECT_EQ(Ctl<QSlider>(form, "SetterTrackBar2")->value(),
              10); // where the user put it, until the answer
    bench.Settle();
    // Three tries, then the attention that ends the exchange; the way back sends nothing.
    EXPECT_EQ(bench.Sim().Sent(), (Bytes{0x07, 0xB1, 0x07, 0xB1, 0x07, 0xB1, 0x07}));
    EXPECT_EQ(Ctl<QSlider>(form, "SetterTrackBar2")->value(), 0xA5);
    EXPECT_EQ(Ctl<QLineEdit>(form, "SetterVal2")->text(), "165");
    EXPECT_EQ(form.Setter(2).value, 0xA5);
    EXPECT_EQ(Memory(0x11), 0xA5);
}

TEST_F(SetterTest, SetterWhoseReadFailsIsDeselected) {
    Ctl<TComboBox>(form, "SetterName1")->SetText("GAIN");
    bench.Sim().Sim().SetVanished(true, bench.Sim().Clock().NowUs());
    Ctl<TCheckBox>(form, "SetterSelected1")->SetChecked(true);
    bench.Settle();
    EXPECT_TRUE(Ctl<TCheckBox>(form, "SetterSelected1")->Checked()); // the box stays checked
    EXPECT_EQ(form.Setter(1).selected, 0);
    bench.Sim().Sim().SetVanished(false, bench.Sim().Clock().NowUs());
    bench.Sim().ClearWire();
    Ctl<QSlider>(form, "SetterTrackBar1")->setValue(77);
    bench.Settle();
    EXPECT_TRUE(bench.Sim().Sent().empty());

    // A name the application does not define cannot be read either.
    Ctl<TComboBox>(form, "SetterName2")->SetText("NOSUCH");
    Ctl<TCheckBox>(form, "SetterSelected2")->SetChecked(true);
    EXPECT_EQ(form.Setter(2).selected, 0);
}

TEST_F(SetterTest, EmptyNameUnchecksAndANewNameWaitsForTheNextClick) {
    Ctl<TComboBox>(form, "SetterName1")->SetText("");
    Ctl<TCheckBox>(form, "SetterSelected1")->SetChecked(true);
    EXPECT_FALSE(Ctl<TCheckBox>(form, "SetterSelected1")->Checked());
    EXPECT_EQ(form.Setter(1).selected, 0);

    Ctl<TComboBox>(form, "SetterName1")->SetText("GAIN");
    QTest::mouseClick(Ctl<TCheckBox>(form, "SetterSelected1"), Qt::LeftButton);
    bench.Settle();
    ASSERT_EQ(form.Setter(1).selected, 1);
    EXPECT_EQ(Ctl<QSlider>(form, "SetterTrackBar1")->value(), 8);

    // Typing another name changes nothing until the box is clicked again.
    bench.Sim().ClearWire();
    QTest::keyClicks(Ctl<TComboBox>(form, "SetterName1")->lineEdit(), "X");
    bench.Settle();
    EXPECT_TRUE(bench.Sim().Sent().empty());
    EXPECT_EQ(form.Setter(1).selected, 1);
}

TEST_F(SetterTest, BarWritesOnlyTheVariableOfTheLastClick) {
    Ctl<TComboBox>(form, "SetterName1")->SetText("GAIN");
    Ctl<TCheckBox>(form, "SetterSelected1")->SetChecked(true);
    bench.Settle();
    bench.Sim().ClearWire();
    // Another name typed into the box, then one put there by a settings file.
    Ctl<TComboBox>(form, "SetterName1")->lineEdit()->clear();
    QTest::keyClicks(Ctl<TComboBox>(form, "SetterName1")->lineEdit(), "LIMIT");
    Ctl<QSlider>(form, "SetterTrackBar1")->setValue(61);
    bench.Settle();
    const std::string file = bench.Root() + "/setter.dsw";
    std::ofstream(file) << "[TComboBox8]\nText=DUTY\n";
    std::string error;
    ASSERT_TRUE(form.LoadSettingsFile(file, error)) << error;
    Ctl<QSlider>(form, "SetterTrackBar1")->setValue(62);
    bench.Settle();
    // GAIN ($41) took both through $A0 + $41; LIMIT and DUTY keep their values.
    EXPECT_EQ(bench.Sim().Sent(), (Bytes{0x07, 0xE1, 61, 0x07, 0xE1, 62}));
    EXPECT_EQ(Memory(0x41), 62);
    EXPECT_EQ(Memory(0x42), 200);
    EXPECT_EQ(Memory(0x44), 50);
    // The next click takes the name the box shows.
    Ctl<TCheckBox>(form, "SetterSelected1")->SetChecked(false);
    Ctl<TCheckBox>(form, "SetterSelected1")->SetChecked(true);
    bench.Settle();
    Ctl<QSlider>(form, "SetterTrackBar1")->setValue(7);
    bench.Settle();
    EXPECT_EQ(Memory(0x44), 7);
}

TEST_F(SetterTest, UncheckingDisarmsTheTriggerAlsoAfterItsNameWasCleared) {
    Ctl<TComboBox>(form, "VarName1")->SetText("SAW");
    Q_EMIT Ctl<TComboBox>(form, "VarName1")->UserChanged();
    Ctl<TComboBox>(form, "TriggerName")->SetText("SINE");
    Ctl<QSlider>(form, "TriggerTrackBar")->setValue(255);
    Ctl<TCheckBox>(form, "TriggerSelected")->SetChecked(true);
    bench.Pass();
    ASSERT_TRUE(bench.Engine().TriggerArmed());
    Ctl<TComboBox>(form, "TriggerName")->SetText("");
    Ctl<TCheckBox>(form, "TriggerSelected")->SetChecked(false);
    // The acquisition no longer waits: SAW ($31) is read, not the trigger's SINE.
    bench.Sim().ClearWire();
    bench.Pass();
    EXPECT_FALSE(bench.Engine().TriggerArmed());
    const Bytes sent = bench.Sim().Sent();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(std::count(sent.begin(), sent.end(), 0x31), std::ssize(sent));
}

TEST_F(SetterTest, TriggerSwitchesToSingleShotAndArms) {
    Ctl<TCheckBox>(form, "TriggerSelected")->SetChecked(true);
    EXPECT_FALSE(Ctl<TCheckBox>(form, "TriggerSelected")->Checked()); // no trigger name
    bench.Pass();
    EXPECT_FALSE(bench.Engine().TriggerArmed());

    Ctl<TComboBox>(form, "VarName1")->SetText("SAW");
    Q_EMIT Ctl<TComboBox>(form, "VarName1")->UserChanged();
    ASSERT_TRUE(form.RunFlag());
    Ctl<TComboBox>(form, "TriggerName")->SetText("SINE");
    Ctl<QSlider>(form, "TriggerTrackBar")->setValue(255);
    Ctl<TCheckBox>(form, "TriggerSelected")->SetChecked(true);
    EXPECT_TRUE(form.SingleShot());
    EXPECT_TRUE(Ctl<QToolButton>(form, "SpeedButtonSingle")->isChecked());
    EXPECT_FALSE(Ctl<QToolButton>(form, "SpeedButtonCont")->isChecked());
    EXPECT_TRUE(form.RunFlag()); // running continuously: the sweep in progress goes on
    bench.Pass();
    EXPECT_TRUE(bench.Engine().TriggerArmed());
    EXPECT_TRUE(bench.Engine().SingleShot());
    EXPECT_TRUE(form.RunFlag());

    // Unchecked: disarmed and every channel restarts (nothing is read meanwhile, so no stroke
    // clears the flags again).
    Ctl<TComboBox>(form, "TriggerName")->SetText("SAW");
    Ctl<QSlider>(form, "TriggerTrackBar")->setValue(0);
    bench.Pass(); // fires: channel 1 draws
    ASSERT_EQ(form.Channel(1).restart, 0);
    Ctl<TApplicationEvents>(form, "ApplicationEvents1")
        ->ApplicationStateChanged(Qt::ApplicationActive);
    Ctl<TApplicationEvents>(form, "ApplicationEvents1")
        ->ApplicationStateChanged(Qt::ApplicationInactive);
    Ctl<TCheckBox>(form, "TriggerSelected")->SetChecked(false);
    bench.Pass();
    EXPECT_FALSE(bench.Engine().TriggerArmed());
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(form.Channel(i).restart, 1) << i;
    }

    // While stopped in single-shot mode, arming the trigger starts the acquisition again (on a
    // name that never fires).
    Ctl<TComboBox>(form, "TriggerName")->SetText("NOSUCH");
    Ctl<TCheckBox>(form, "TriggerSelected")->SetChecked(true);
    EXPECT_TRUE(form.RunFlag());
    bench.Pass();
    EXPECT_TRUE(bench.Engine().Running());
    EXPECT_TRUE(bench.Engine().TriggerArmed());
}

TEST_F(SetterTest, TriggerLevelFollowsItsTrackBar) {
    EXPECT_EQ(Ctl<QLineEdit>(form, "TriggerVal")->text(), "0");
    Ctl<QSlider>(form, "TriggerTrackBar")->setValue(200);
    EXPECT_EQ(Ctl<QLineEdit>(form, "TriggerVal")->text(), "200");
    bench.Sim().ClearWire();
    Ctl<QSlider>(form, "TriggerTrackBar")->setValue(3);
    EXPECT_EQ(Ctl<QLineEdit>(form, "TriggerVal")->text(), "3");
    bench.Pass();
    EXPECT_TRUE(bench.Sim().Sent().empty());
}

TEST_F(SetterTest, SpeedButtonsSwitchModesAndRestartAfterASingleSweep) {
    auto stop = [this] {
        Ctl<TApplicationEvents>(form, "ApplicationEvents1")
            ->ApplicationStateChanged(Qt::ApplicationActive);
        Ctl<TApplicationEvents>(form, "ApplicationEvents1")
            ->ApplicationStateChanged(Qt::ApplicationInactive);
    };
    Ctl<QToolButton>(form, "SpeedButtonSingle")->click();
    EXPECT_TRUE(form.SingleShot());
    EXPECT_FALSE(form.RunFlag()); // it was not running: a mode change does not start it
    Ctl<QToolButton>(form, "SpeedButtonSingle")->click();
    EXPECT_TRUE(form.RunFlag()); // one more sweep
    stop();
    Ctl<QToolButton>(form, "SpeedButtonCont")->click();
    EXPECT_TRUE(form.RunFlag());
    EXPECT_FALSE(form.SingleShot());
    stop();
    Ctl<QToolButton>(form, "SpeedButtonCont")->click(); // already continuous: nothing changes
    EXPECT_FALSE(form.RunFlag());
    // The engine came to the same conclusions.
    bench.Pass();
    EXPECT_FALSE(bench.Engine().Running());
    EXPECT_FALSE(bench.Engine().SingleShot());
}

} // namespace
