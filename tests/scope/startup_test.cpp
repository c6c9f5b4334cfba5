// Start-up of the scope: the module start-up, OnCreate against the simulated MC (address-file
// and object-file applications), the failure paths, the settings start-up and exit save,
// activation and the Escape hot key.
#include "scope_bench.h"

#include "foundation/clock.h"
#include "foundation/params.h"
#include "link/link_port.h"
#include "omf_writer.h"
#include "persistence/serializers.h"
#include "scope/startup.h"

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidgetItem>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

using namespace scope;
using scope_testing::ReadFile;
using scope_testing::ScopeBench;
using Bytes = std::vector<std::uint8_t>;
using scope_testing::CountPixels;

namespace {

namespace fs = std::filesystem;

QStringList Children(const QTreeWidgetItem* node) {
    QStringList names;
    for (int i = 0; i < node->childCount(); ++i) {
        names << node->child(i)->text(0);
    }
    return names;
}

// Category -> its variables, in tree order.
std::vector<std::pair<QString, QStringList>> Tree(const ScopeWindow& form) {
    std::vector<std::pair<QString, QStringList>> tree;
    for (int i = 0; i < Ctl<TTreeView>(form, "TreeView1")->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* node = Ctl<TTreeView>(form, "TreeView1")->topLevelItem(i);
        tree.emplace_back(node->text(0), Children(node));
    }
    return tree;
}

QStringList Items(TComboBox* box) {
    QStringList items;
    for (const std::string& line : box->Items().ToVector()) {
        items << QString::fromStdString(line);
    }
    return items;
}

TEST(StartupTest, AddressFileApplicationFillsTreeLabelsAndSetters) {
    ScopeBench bench(scope_testing::DemoScenario(), DEMO_DIR);
    ScopeWindow& form = bench.Start();
    ASSERT_FALSE(form.TerminationRequested());
    EXPECT_TRUE(bench.Boxes().isEmpty());
    EXPECT_EQ(Ctl<QLabel>(form, "Label1")->text(), "DEMO");
    EXPECT_EQ(Ctl<QLabel>(form, "Label17")->text(), "COM1");

    // USERRAM is $30: page-0 addresses below it are special-function registers, and so is
    // TABLE at $100, whose low byte is below it too. Link keywords are left out.
    const std::vector<std::pair<QString, QStringList>> expected = {
        {"SFR bits", {"BLINK", "BUSY", "SLOW", "TICK"}},
        {"SFR bytes", {"ADC0", "FLAGS", "PORT1", "PORT2", "TABLE", "TIMER0"}},
        {"USER bits", {"ALARM", "DIR", "READY", "RUN"}},
        {"USER bytes",
         {"ANGLE",   "BUF",   "COUNTER", "CYCLES", "DUTY", "ERRORS", "FOLLOW",   "GAIN",
          "HISTORY", "LEVEL", "LIMIT",   "LOGBUF", "MODE", "SAW",    "SETPOINT", "SINE",
          "SPARE",   "SPEED", "SQUARE",  "STATUS", "TEMP", "TRIM",   "WALK"}},
    };
    EXPECT_EQ(Tree(form), expected);
    EXPECT_TRUE(Ctl<TTreeView>(form, "TreeView1")->topLevelItem(3)->isExpanded());
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(Ctl<TTreeView>(form, "TreeView1")->topLevelItem(i)->isExpanded()) << i;
    }

    // The settable bytes lie between COMSET_VAR_BEG and COMSET_VAR_END; COM_VARX among
    // them takes one, and eight bytes leave room for the second setter.
    EXPECT_FALSE(Ctl<QFrame>(form, "Panel4")->isHidden());
    EXPECT_FALSE(Ctl<QFrame>(form, "Panel5")->isHidden());
    EXPECT_FALSE(Ctl<QFrame>(form, "Panel6")->isHidden());
    EXPECT_TRUE(form.XCapable());
    const QStringList settable = {"DUTY", "GAIN", "LIMIT", "MODE", "SETPOINT", "SPARE", "TRIM"};
    EXPECT_EQ(Items(Ctl<TComboBox>(form, "SetterName1")), settable);
    EXPECT_EQ(Items(Ctl<TComboBox>(form, "SetterName2")), settable);
    EXPECT_EQ(Ctl<TComboBox>(form, "SetterName1")->TextQ(),
              "SPARE"); // the last of them in table order

    // Channels, colours, modes and the screen as creation leaves them.
    EXPECT_FALSE(form.RunFlag());
    EXPECT_EQ(form.Channel(1).colour, kChannel1Colour);
    EXPECT_EQ(form.Channel(2).colour, kChannel2Colour);
    EXPECT_EQ(form.Channel(3).colour, kChannel3Colour);
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(form.Channel(i).restart, 1) << i;
        EXPECT_EQ(form.Channel(i).statistics.blockLength, 1000) << i;
    }
    EXPECT_TRUE(Ctl<QToolButton>(form, "SpeedButtonCont")->isChecked());
    EXPECT_FALSE(Ctl<QToolButton>(form, "SpeedButtonSingle")->isChecked());
    EXPECT_FALSE(form.SingleShot());
    EXPECT_EQ(form.TraceBitmap().size(), QSize(704, 442));
    EXPECT_EQ(form.TraceBitmap().pixel(100, 100), qRgb(255, 255, 255));
    EXPECT_TRUE(form.HotKeyRegistered());
    // The origin was set 2000 ms back before the application was opened, which took a while.
    const std::uint32_t sinceOrigin =
        static_cast<std::uint32_t>(foundation::ClockMs()) - bench.Engine().Sweep().origin;
    EXPECT_GE(sinceOrigin, 2000u);
    EXPECT_LT(sinceOrigin, 2500u);
    EXPECT_TRUE(Ctl<TComboBox>(form, "VarName1")->Sorted());
    EXPECT_TRUE(Ctl<TComboBox>(form, "TriggerName")->Sorted());
    EXPECT_FALSE(Ctl<TComboBox>(form, "VarNameX")->Sorted());

    // The settings folder is made with its parents.
    EXPECT_TRUE(fs::is_directory(bench.Root() + "/user/dsf/ombrix/DEMO"));
    EXPECT_EQ(form.RecentPath(), bench.SettingsFile("DEMO"));
}

TEST(StartupTest, ObjectFileApplicationSortsNamesWithoutRegardToCase) {
    testing_support::TempDir files;
    files.Write("applid.inc", "APPL_MOTOR EQU 18\n");
    // Object files carry data bytes (info 2) and bits (info 4, bit address b at $20 + b / 8
    // below $80, in the register at b & $F8 from there); names are listed in upper case.
    omf::WriteFile(files.path() + "/MOTOR", omf::ObjectFile({{{0, 2, 0x30, "USERRAM"},
                                                              {0, 2, 0x08, "r_low"},
                                                              {0, 2, 0x31, "speed"},
                                                              {0, 2, 0x32, "CNT"},
                                                              {0, 2, 0x33, "Alpha"},
                                                              {0, 4, 0x03, "FLAG3"},
                                                              {0, 4, 0x81, "UBIT"}}}));
    ScopeBench bench("device M\n appl_id 0x12\nend\nchannel 2 M\n", files.path());
    ScopeWindow& form = bench.Start();
    ASSERT_FALSE(form.TerminationRequested());
    EXPECT_FALSE(bench.Engine().Appl().adrMode);
    EXPECT_EQ(Ctl<QLabel>(form, "Label1")->text(), "MOTOR");
    const std::vector<std::pair<QString, QStringList>> expected = {
        {"SFR bits", {"FLAG3"}},
        {"SFR bytes", {"R_LOW"}},
        {"USER bits", {"UBIT"}},
        // Object files know no link keywords.
        {"USER bytes", {"ALPHA", "CNT", "SPEED", "USERRAM"}},
    };
    EXPECT_EQ(Tree(form), expected);
    // Without COMSET_VAR_BEG / COMSET_VAR_END both setters stay hidden, and without COM_VARX
    // the x-variable is not offered.
    EXPECT_TRUE(Ctl<QFrame>(form, "Panel4")->isHidden());
    EXPECT_TRUE(Ctl<QFrame>(form, "Panel5")->isHidden());
    EXPECT_TRUE(Ctl<QFrame>(form, "Panel6")->isHidden());
    EXPECT_FALSE(form.XCapable());
}

TEST(StartupTest, ApplicationThatCannotBeOpenedEndsTheProgramAndWritesNothing) {
    ScopeBench bench("device U\n appl_id 0x3C\nend\nchannel 3 U\n", DEMO_DIR);
    ScopeWindow& form = bench.Start();
    EXPECT_TRUE(form.TerminationRequested());
    ASSERT_EQ(bench.Boxes().size(), 1);
    EXPECT_EQ(bench.Boxes()[0], "MC application could not be opened, terminating ..\n"
                                "MC-Application  not connected to COM, MC returns $3C");
    EXPECT_FALSE(form.HotKeyRegistered());
    EXPECT_TRUE(form.RecentPath().empty());
    EXPECT_EQ(Ctl<TTreeView>(form, "TreeView1")->topLevelItemCount(), 0);
    // The design's captions stay.
    EXPECT_EQ(Ctl<QLabel>(form, "Label1")->text(), "Label1");
    EXPECT_EQ(Ctl<QLabel>(form, "Label17")->text(), "Label1");
    EXPECT_EQ(Ctl<QLabel>(form, "Label16")->text(), "Label16");
    EXPECT_TRUE(Ctl<QLabel>(form, "Label21")->text().isEmpty());
    EXPECT_TRUE(persistence::GlobalSerializer().RegisteredComponents().empty());

    bench.Close();
    EXPECT_TRUE(comlink::LinkDown());
    EXPECT_FALSE(fs::exists(bench.Root() + "/user"));
}

TEST(StartupTest, LinkThatDoesNotOpenIsNamedInTheBox) {
    // No in-memory link: the configured device file itself must be opened, and is missing.
    testing_support::ParamGuard params;
    testing_support::TempDir root;
    foundation::FakeClock clock;
    foundation::ScopedTickSource useClock(clock);
    InformationRecorder boxes;
    root.Write("bin/ombrix.ini",
               "[COM]\n/nonexistent/ttyOMBRIX\n[FILE_PATH]\n" + std::string(DEMO_DIR) + "\n");
    InitScopeModules(root.path() + "/bin/ombrix");
    {
        ScopeWindow form;
        EXPECT_TRUE(form.TerminationRequested());
        ASSERT_EQ(boxes.texts().size(), 1);
        const QStringList lines = boxes.texts()[0].split('\n');
        ASSERT_EQ(lines.size(), 2);
        EXPECT_EQ(lines[0], "MC application could not be opened, terminating ..");
        EXPECT_TRUE(lines[1].startsWith("/nonexistent/ttyOMBRIX")) << lines[1].toStdString();
    }
    persistence::FreeGlobalSerializer();
    comlink::ResetLink();
    mcu::ApplIdTable().fill("");
}

TEST(StartupTest, MissingApplicationIdTableIsFatal) {
    testing_support::TempDir empty;
    ScopeBench bench(scope_testing::DemoScenario(), empty.path());
    InitScopeModules(bench.Root() + "/bin/ombrix");
    ASSERT_EQ(bench.Fatal().size(), 1u);
    EXPECT_EQ(bench.Fatal()[0], "applid file applid.inc not found");
}

TEST(StartupTest, PortNumberShownAsComText) {
    ScopeBench bench(scope_testing::DemoScenario(), DEMO_DIR, "3");
    ScopeWindow& form = bench.Start();
    ASSERT_FALSE(form.TerminationRequested());
    EXPECT_EQ(Ctl<QLabel>(form, "Label17")->text(), "COM3");
}

// recent.dsw as the scope writes it: VarName1 and channel 2 chosen, channel 3 with names the
// application no longer defines.
const char* const kRecent = "[TComboBox0]\nText=SAW\n[TComboBox0\\Items]\nLine0=SAW\n"
                            "[TComboBox1]\nText=sine\n"
                            "[TCheckBox2]\nChecked=True\nState=cbChecked\n"
                            "[TComboBox3]\nText=GONE2\n[TComboBox3\\Items]\nLine0=COUNTER\n"
                            "Line1=GONE1\nLine2=GONE2\nLine3=LEVEL.2\nLine4=OLD[3]\n"
                            "[TCheckBox4]\nChecked=False\nState=cbUnchecked\n";

TEST(StartupTest, RecentSettingsAreRestoredAndResolvedAndWrittenAtExit) {
    ScopeBench bench(scope_testing::DemoScenario(), DEMO_DIR);
    {
        std::error_code error;
        fs::create_directories(bench.Root() + "/user/dsf/ombrix/DEMO", error);
    }
    {
        std::ofstream out(bench.SettingsFile("DEMO"));
        out << kRecent;
    }
    ScopeWindow& form = bench.Start();
    ASSERT_FALSE(form.TerminationRequested());

    // Registered in the fixed order; each section name is the class name and the position.
    std::vector<std::string> registered;
    for (const persistence::TComponent* c :
         persistence::GlobalSerializer().RegisteredComponents()) {
        registered.push_back(c->Name() + ":" + c->ClassName());
    }
    EXPECT_EQ(registered,
              (std::vector<std::string>{
                  "VarName1:TComboBox", "VarName2:TComboBox", "VarSelected2:TCheckBox",
                  "VarName3:TComboBox", "VarSelected3:TCheckBox", "VarNameX:TComboBox",
                  "VarSelectedX:TCheckBox", "NoHisSelected:TCheckBox", "SetterName1:TComboBox",
                  "SetterName2:TComboBox", "TriggerName:TComboBox"}));

    // Channel 1 is resolved after the load and, being resolved, sets the run flag.
    EXPECT_EQ(form.Channel(1).address, 0x31);
    EXPECT_TRUE(form.RunFlag());
    // Channel 2 was resolved while loading, when its check box went on after its name.
    EXPECT_TRUE(Ctl<TCheckBox>(form, "VarSelected2")->Checked());
    EXPECT_EQ(form.Channel(2).active, 1);
    EXPECT_EQ(form.Channel(2).address, 0x30);
    EXPECT_EQ(Ctl<TComboBox>(form, "VarName2")->TextQ(), "SINE");
    // Undefined names go, including one right after another removed one.
    EXPECT_EQ(Ctl<TComboBox>(form, "VarName3")->TextQ(), "");
    EXPECT_EQ(Items(Ctl<TComboBox>(form, "VarName3")), (QStringList{"COUNTER", "LEVEL.2"}));
    EXPECT_EQ(form.Channel(3).active, 0);

    // The exit save writes the controls as they are, in restricted mode.
    Ctl<TComboBox>(form, "VarName3")->SetText("WALK");
    bench.Close();
    const std::string saved = ReadFile(bench.SettingsFile("DEMO"));
    EXPECT_NE(saved.find("[TComboBox3]\nText=WALK\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("[TComboBox1]\nText=SINE\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("[TComboBox1\\Items]\nLine0=SINE\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("[TCheckBox2]\nChecked=True\nState=cbChecked\n"), std::string::npos)
        << saved;
    EXPECT_EQ(saved.find("Sorted"), std::string::npos) << saved;
    EXPECT_TRUE(persistence::GlobalSerializer().RestrictedMode());
}

TEST(StartupTest, ChannelsWithoutAVariableReadNothingAndTheOthersRunOn) {
    ScopeBench bench(scope_testing::DemoScenario(), DEMO_DIR);
    std::error_code error;
    fs::create_directories(bench.Root() + "/user/dsf/ombrix/DEMO", error);
    {
        // Channel 1 a bare address (resolved, then wiped by the start-up's removal of what the
        // application does not define), channel 3 an undefined name, both boxes checked.
        std::ofstream out(bench.SettingsFile("DEMO"));
        out << "[TComboBox0]\nText=$3C\n[TComboBox1]\nText=SAW\n[TCheckBox2]\nChecked=True\n"
               "[TComboBox3]\nText=GONE\n[TCheckBox4]\nChecked=True\n";
    }
    ScopeWindow& form = bench.Start();
    ASSERT_EQ(Ctl<TComboBox>(form, "VarName1")->TextQ(), "");
    ASSERT_EQ(Ctl<TComboBox>(form, "VarName3")->TextQ(), "");
    ASSERT_TRUE(form.RunFlag()); // the run flag stays as resolving channel 1 left it
    auto pass = [&] {
        bench.Sim().ClearWire();
        bench.Pass();
        return bench.Sim().Sent();
    };
    // Only SAW ($31) is read: neither $3C nor address 0.
    Bytes sent = pass();
    ASSERT_GE(sent.size(), 8u);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), 0x31), std::ssize(sent));

    // An x-variable that does not resolve leaves x-y mode off: no COM_VARX write, SAW alone.
    Ctl<TComboBox>(form, "VarNameX")->SetText("NOSUCH");
    Ctl<TCheckBox>(form, "VarSelectedX")->SetChecked(true);
    EXPECT_EQ(form.Channel(0).active, 0);
    sent = pass();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), 0x31), std::ssize(sent));

    // In x-y mode the screen is cleared for every redraw although channel 1 draws nothing:
    // the time-mode grid's columns are gone, ANGLE's twelve divisions drawn.
    ASSERT_GT(CountPixels(form.TraceBitmap(), 88, 0, 88, 50, kGridColour), 20);
    Ctl<TComboBox>(form, "VarNameX")->SetText("ANGLE");
    Q_EMIT Ctl<TComboBox>(form, "VarNameX")->UserChanged();
    ASSERT_FALSE(pass().empty());
    EXPECT_EQ(CountPixels(form.TraceBitmap(), 88, 0, 88, 50, kGridColour), 0);
    EXPECT_GT(CountPixels(form.TraceBitmap(), 59, 0, 59, 50, kGridColour), 20);

    // Running with no channel to read: nothing on the wire, and the steps slow down.
    Ctl<TComboBox>(form, "VarName2")->SetText("");
    Q_EMIT Ctl<TComboBox>(form, "VarName2")->UserChanged();
    ASSERT_TRUE(form.RunFlag());
    EXPECT_TRUE(pass().empty());
    EXPECT_EQ(bench.Pass(), acq::kIdleBackoffMs);
}

TEST(StartupTest, BrokenRecentSettingsAreReportedAndTheStartGoesOn) {
    ScopeBench bench(scope_testing::DemoScenario(), DEMO_DIR);
    std::error_code error;
    fs::create_directories(bench.Root() + "/user/dsf/ombrix/DEMO", error);
    {
        std::ofstream out(bench.SettingsFile("DEMO"));
        out << "[TComboBox0]\nText=SAW\n[TCheckBox2]\nState=cbMaybe\n";
    }
    ScopeWindow& form = bench.Start();
    ASSERT_FALSE(form.TerminationRequested());
    ASSERT_EQ(bench.Boxes().size(), 1);
    EXPECT_TRUE(bench.Boxes()[0].contains("Invalid property element: cbMaybe"))
        << bench.Boxes()[0].toStdString();
    // What loaded before the fault stays, and the remaining steps ran.
    EXPECT_EQ(form.Channel(1).address, 0x31);
    EXPECT_TRUE(Ctl<QToolButton>(form, "SpeedButtonCont")->isChecked());
}

TEST(StartupTest, DeactivationStopsAndActivationRestartsOnlyWithAChannelOneName) {
    ScopeBench bench(scope_testing::DemoScenario(), DEMO_DIR);
    ScopeWindow& form = bench.Start();
    ASSERT_FALSE(form.TerminationRequested());
    TApplicationEvents& events = *Ctl<TApplicationEvents>(form, "ApplicationEvents1");

    EXPECT_FALSE(form.RunFlag());
    events.ApplicationStateChanged(Qt::ApplicationActive);
    EXPECT_FALSE(form.RunFlag()); // VarName1 is empty

    Ctl<TComboBox>(form, "VarName1")->SetText("SAW");
    Q_EMIT Ctl<TComboBox>(form, "VarName1")->UserChanged();
    EXPECT_TRUE(form.RunFlag());
    events.ApplicationStateChanged(Qt::ApplicationInactive);
    EXPECT_FALSE(form.RunFlag());
    events.ApplicationStateChanged(Qt::ApplicationHidden); // still not active: nothing new
    EXPECT_FALSE(form.RunFlag());
    events.ApplicationStateChanged(Qt::ApplicationActive);
    EXPECT_TRUE(form.RunFlag());

    // A name that never resolved still restarts channel 1 at its stored address.
    Ctl<TComboBox>(form, "VarName1")->SetText("NOSUCH");
    Q_EMIT Ctl<TComboBox>(form, "VarName1")->UserChanged();
    events.ApplicationStateChanged(Qt::ApplicationInactive);
    events.ApplicationStateChanged(Qt::ApplicationActive);
    EXPECT_TRUE(form.RunFlag());
    EXPECT_EQ(form.Channel(1).address, 0x31);

    Ctl<TComboBox>(form, "VarName1")->SetText("");
    Q_EMIT Ctl<TComboBox>(form, "VarName1")->UserChanged();
    EXPECT_FALSE(form.RunFlag());
}

TEST(StartupTest, EscapeEndsTheMessageLoop) {
    ScopeBench bench(scope_testing::DemoScenario(), DEMO_DIR);
    ScopeWindow& form = bench.Start();
    ASSERT_TRUE(form.HotKeyRegistered());
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    QTimer::singleShot(
        0, &form, [&form] { QTest::keyClick(Ctl<TTreeView>(form, "TreeView1"), Qt::Key_Escape); });
    // Only if Escape failed would this end the loop, with its own code.
    QTimer::singleShot(10000, &form, [] { QCoreApplication::exit(3); });
    EXPECT_EQ(QApplication::exec(), 0);
}

} // namespace
