// Settings files and the clipboard: recent.dsw written at exit line for line, "Clear His and
// Exit", one folder per application and the fallback folder, Save and Load Settings through
// the file dialog seam, failures that are reported and lose nothing, and the clipboard image.
#include "scope_bench.h"

#include "scope/settings_folder.h"

#include "persistence/serializers.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

using namespace scope;
using scope_testing::CountPixels;
using scope_testing::ReadFile;
using scope_testing::ScopeBench;
namespace fs = std::filesystem;

namespace {

void WriteText(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    out << text;
}

void Select(TComboBox* box, const char* text) {
    box->SetText(text);
    Q_EMIT box->UserChanged();
}

// Sets an environment variable for one test and puts the old value back.
class EnvGuard {
public:
    EnvGuard(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        Set(value);
    }
    ~EnvGuard() { Set(old_); }
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

private:
    void Set(const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name_, value->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    const char* name_;
    std::optional<std::string> old_;
};

// The exit save of a known state of the eleven controls, as the file has it: each control's
// section is cleared and written anew, its item list (written first) before its text.
const char* const kExitFile =
    "[TComboBox0\\Items]\nLine0=SINE\n"
    "[TComboBox0]\nText=SINE\n"
    "[TComboBox1\\Items]\nLine0=SAW\n"
    "[TComboBox1]\nText=SAW\n"
    "[TCheckBox2]\nChecked=True\nState=cbChecked\n"
    "[TComboBox3]\nText=\n"
    "[TCheckBox4]\nChecked=False\nState=cbUnchecked\n"
    "[TComboBox5\\Items]\nLine0=ANGLE\n"
    "[TComboBox5]\nText=ANGLE\n"
    "[TCheckBox6]\nChecked=True\nState=cbChecked\n"
    "[TCheckBox7]\nChecked=True\nState=cbChecked\n"
    "[TComboBox8\\Items]\nLine0=DUTY\nLine1=GAIN\nLine2=LIMIT\nLine3=MODE\n"
    "Line4=SETPOINT\nLine5=SPARE\nLine6=TRIM\n"
    "[TComboBox8]\nText=SPARE\n"
    "[TComboBox9\\Items]\nLine0=DUTY\nLine1=GAIN\nLine2=LIMIT\nLine3=MODE\n"
    "Line4=SETPOINT\nLine5=SPARE\nLine6=TRIM\n"
    "[TComboBox9]\nText=SPARE\n"
    "[TComboBox10]\nText=SQUARE\n";

TEST(SettingsTest, ExitSaveWritesTheElevenControlsInTheirLayout) {
    ScopeBench bench(scope_testing::DemoScenario(), DEMO_DIR);
    ScopeWindow& form = bench.Start();
    ASSERT_FALSE(form.TerminationRequested());
    Select(Ctl<TComboBox>(form, "VarName1"), "sine");
    Select(Ctl<TComboBox>(form, "VarName2"), "SAW");
    Select(Ctl<TComboBox>(form, "VarNameX"), "ANGLE");
    Ctl<TCheckBox>(form, "NoHisSelected")->SetChecked(true);
    Ctl<TComboBox>(form, "TriggerName")->SetText("SQUARE");
    Ctl<TCheckBox>(form, "DisplayBin1")->SetChecked(true); // not kept
    bench.Close();
    EXPECT_EQ(ReadFile(bench.SettingsFile("DEMO")), kExitFile);

    // The next start comes back to it.
    ScopeWindow& again = bench.Start();
    EXPECT_EQ(Ctl<TComboBox>(again, "VarName1")->TextQ(), "SINE");
    EXPECT_EQ(again.Channel(1).address, 0x30);
    EXPECT_TRUE(again.RunFlag());
    EXPECT_EQ(again.Channel(2).active, 1);
    EXPECT_EQ(again.Channel(2).address, 0x31);
    EXPECT_EQ(again.Channel(3).active, 0);
    EXPECT_EQ(again.Channel(0).active, 1);
    EXPECT_EQ(again.Channel(0).address, 0x36);
    EXPECT_TRUE(Ctl<TCheckBox>(again, "NoHisSelected")->Checked());
    EXPECT_EQ(Ctl<TComboBox>(again, "TriggerName")->TextQ(), "SQUARE");
    EXPECT_FALSE(Ctl<TCheckBox>(again, "DisplayBin1")->Checked());
}

TEST(SettingsTest, ClearHisLeavesNoRecentFileAndTheNextStartIsEmpty) {
    ScopeBench bench(scope_testing::DemoScenario(), DEMO_DIR);
    WriteText(bench.SettingsFile("DEMO"), "[TComboBox0]\nText=SINE\n");
    ScopeWindow& form = bench.Start();
    ASSERT_EQ(Ctl<TComboBox>(form, "VarName1")->TextQ(), "SINE");
    Select(Ctl<TComboBox>(form, "VarName2"), "SAW");
    Ctl<QPushButton>(form, "ClearHis")->click();
    EXPECT_FALSE(fs::exists(bench.SettingsFile("DEMO")));
    EXPECT_TRUE(form.RecentPath().empty());
    EXPECT_FALSE(form.SettingsSavePending());
    Select(Ctl<TComboBox>(form, "VarName2"), "SINE");
    EXPECT_FALSE(form.SettingsSavePending());
    bench.Close();
    EXPECT_FALSE(fs::exists(bench.SettingsFile("DEMO")));

    ScopeWindow& again = bench.Start();
    EXPECT_EQ(Ctl<TComboBox>(again, "VarName1")->TextQ(), "");
    EXPECT_FALSE(again.RunFlag());
    // A recent file that is already gone is no obstacle.
    Ctl<QPushButton>(again, "ClearHis")->click();
    EXPECT_FALSE(fs::exists(bench.SettingsFile("DEMO")));
}

TEST(SettingsTest, RecentFileFollowsTheControlsAsTheExitSaveWritesIt) {
    ScopeBench bench(scope_testing::DemoScenario(), DEMO_DIR);
    const std::string recent = bench.SettingsFile("DEMO");
    // GONE is removed by the start-up; only a save can take it out of the file.
    const std::string seeded = "[TComboBox0]\nText=SINE\n[TComboBox3\\Items]\nLine0=GONE\n";
    WriteText(recent, seeded);
    const std::string other = bench.Root() + "/other.dsw";
    WriteText(other, "[TComboBox10]\nText=TICK\n");
    ScopeWindow& form = bench.Start();
    EXPECT_FALSE(form.SettingsSavePending());
    EXPECT_EQ(ReadFile(recent), seeded);

    // A burst of changes by typing, a click and a loaded file is written once, later.
    QTest::keyClicks(Ctl<TComboBox>(form, "VarName2")->lineEdit(), "saw");
    Ctl<TCheckBox>(form, "NoHisSelected")->SetChecked(true);
    std::string error;
    ASSERT_TRUE(form.LoadSettingsFile(other, error)) << error;
    EXPECT_TRUE(form.SettingsSavePending());
    EXPECT_EQ(ReadFile(recent), seeded);
    auto* delay = form.findChild<QTimer*>("SettingsTimer");
    ASSERT_NE(delay, nullptr);
    EXPECT_EQ(delay->interval(), kSettingsSaveDelayMs);
    QMetaObject::invokeMethod(delay, "timeout"); // the delay has passed
    EXPECT_FALSE(form.SettingsSavePending());
    std::string saved = ReadFile(recent);
    for (const char* part : {"[TComboBox1]\nText=SAW\n", "[TCheckBox2]\nChecked=True\n",
                             "[TCheckBox7]\nChecked=True\n", "[TComboBox10]\nText=TICK\n"}) {
        EXPECT_NE(saved.find(part), std::string::npos) << part << "\n" << saved;
    }
    EXPECT_EQ(saved.find("GONE"), std::string::npos) << saved;

    // The end of the desktop session writes at once.
    Select(Ctl<TComboBox>(form, "VarName3"), "WALK");
    form.OnSessionEnd();
    EXPECT_FALSE(form.SettingsSavePending());
    saved = ReadFile(recent);
    EXPECT_NE(saved.find("[TComboBox3]\nText=WALK\n"), std::string::npos) << saved;

    // The exit save, from the same file, writes the very same text.
    WriteText(recent, seeded);
    bench.Close();
    EXPECT_EQ(ReadFile(recent), saved);
    EXPECT_TRUE(bench.Boxes().isEmpty());
}

TEST(SettingsTest, EachApplicationHasItsOwnFolder) {
    std::string scenario = scope_testing::DemoScenario();
    const std::string wiring = "channel 1 DEMO\nbus 1 2 PUMP\nbus 1 5 MIXER\n";
    const auto at = scenario.find(wiring);
    ASSERT_NE(at, std::string::npos);
    scenario.replace(at, wiring.size(), "channel 1 PUMP\n");
    ScopeBench bench(scenario, DEMO_DIR);
    WriteText(bench.SettingsFile("DEMO"), "[TComboBox0]\nText=SINE\n");

    ScopeWindow& form = bench.Start();
    ASSERT_FALSE(form.TerminationRequested());
    EXPECT_EQ(Ctl<QLabel>(form, "Label1")->text(), "PUMP");
    EXPECT_EQ(form.SettingsFolder(), bench.Root() + "/user/dsf/ombrix/PUMP");
    EXPECT_EQ(Ctl<TComboBox>(form, "VarName1")->TextQ(), "");
    Select(Ctl<TComboBox>(form, "VarName1"), "FLOW");
    bench.Close();
    EXPECT_NE(ReadFile(bench.SettingsFile("PUMP")).find("[TComboBox0]\nText=FLOW\n"),
              std::string::npos);
    EXPECT_EQ(ReadFile(bench.SettingsFile("DEMO")), "[TComboBox0]\nText=SINE\n");
}

TEST(SettingsTest, UnwritableRootSendsTheSettingsToTheUsersConfigFolder) {
    testing_support::TempDir config;
    {
        ScopeBench bench(scope_testing::DemoScenario(), DEMO_DIR);
        // A file where the folder would have to be: it can never be made.
        WriteText(bench.Root() + "/user", "not a folder");
        EnvGuard xdg("XDG_CONFIG_HOME", config.path() + "/xdg");
        ScopeWindow& form = bench.Start();
        ASSERT_FALSE(form.TerminationRequested());
        EXPECT_EQ(form.SettingsFolder(), config.path() + "/xdg/ombrix/DEMO");
        EXPECT_EQ(form.RecentPath(), config.path() + "/xdg/ombrix/DEMO/recent.dsw");
        EXPECT_TRUE(fs::is_directory(form.SettingsFolder()));
        Select(Ctl<TComboBox>(form, "VarName1"), "SAW");
        bench.Close();
        EXPECT_NE(ReadFile(config.path() + "/xdg/ombrix/DEMO/recent.dsw").find("Text=SAW"),
                  std::string::npos);
        EXPECT_TRUE(bench.Boxes().isEmpty());

        // Found there at the next start.
        EXPECT_EQ(Ctl<TComboBox>(bench.Start(), "VarName1")->TextQ(), "SAW");
    }
    {
        // Without XDG_CONFIG_HOME (or with a relative one) it is ~/.config.
        ScopeBench bench(scope_testing::DemoScenario(), DEMO_DIR);
        WriteText(bench.Root() + "/user", "not a folder");
        EnvGuard xdg("XDG_CONFIG_HOME", std::string("relative/config"));
        EnvGuard home("HOME", config.path() + "/home");
        EXPECT_EQ(bench.Start().SettingsFolder(), config.path() + "/home/.config/ombrix/DEMO");
    }
    EXPECT_EQ(FallbackSettingsFolderOf("/x/", "A/B"), "/x/ombrix/A_B");
}

TEST(SettingsTest, FailedExitSaveIsReportedAndLeavesWhatIsThere) {
    ScopeBench bench(scope_testing::DemoScenario(), DEMO_DIR);
    ScopeWindow& form = bench.Start();
    Select(Ctl<TComboBox>(form, "VarName1"), "SAW");
    // The settings folder is replaced by a file after the start.
    fs::remove_all(form.SettingsFolder());
    WriteText(form.SettingsFolder(), "in the way");
    bench.Close();
    ASSERT_EQ(bench.Boxes().size(), 1);
    EXPECT_TRUE(bench.Boxes()[0].startsWith("Settings could not be saved to "))
        << bench.Boxes()[0].toStdString();
    EXPECT_EQ(ReadFile(bench.Root() + "/user/dsf/ombrix/DEMO"), "in the way");
}

class MenuTest : public ::testing::Test {
protected:
    MenuTest() : bench(scope_testing::DemoScenario(), DEMO_DIR), form(bench.Start()) {
        Select(Ctl<TComboBox>(form, "VarName1"), "SINE");
        Select(Ctl<TComboBox>(form, "VarName2"), "SAW");
    }

    ScopeBench bench;
    ScopeWindow& form;
    FileDialogScript dialog;
};

TEST_F(MenuTest, SaveAsksForAFileWithTheDataSafeFilterAndAddsTheExtension) {
    dialog.Answer("");
    Ctl<QAction>(form, "SaveSettings")->trigger();
    ASSERT_EQ(dialog.requests().size(), 1);
    const FileDialogRequest& asked = dialog.requests()[0];
    EXPECT_TRUE(asked.save);
    EXPECT_EQ(asked.title, "Select OMBRIX settings data safe file");
    EXPECT_EQ(asked.filter, "DataSafeFileWindows *.dsw (*.DSW *.dsw)");
    EXPECT_EQ(asked.defaultSuffix, "dsw");
    EXPECT_EQ(asked.folder.toStdString(), form.SettingsFolder());
    // Cancelled: nothing written.
    EXPECT_EQ(fs::directory_iterator(form.SettingsFolder()), fs::directory_iterator());

    const std::string mine = form.SettingsFolder() + "/mine";
    dialog.Answer(QString::fromStdString(mine));
    Ctl<QAction>(form, "SaveSettings")->trigger();
    const std::string saved = ReadFile(mine + ".dsw");
    EXPECT_NE(saved.find("[TComboBox0]\nText=SINE\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("[TCheckBox2]\nChecked=True\nState=cbChecked\n"), std::string::npos);
    EXPECT_EQ(saved.find("Sorted"), std::string::npos); // restricted mode
    EXPECT_TRUE(persistence::GlobalSerializer().RestrictedMode());
    EXPECT_TRUE(bench.Boxes().isEmpty());

    // Back through Load Settings, named without its extension as the dialog allows.
    Select(Ctl<TComboBox>(form, "VarName1"), "WALK");
    Ctl<TComboBox>(form, "VarName1")->Items().Clear();
    dialog.Answer(QString::fromStdString(mine));
    Ctl<QAction>(form, "LoadSettings")->trigger();
    EXPECT_FALSE(dialog.requests().back().save);
    EXPECT_EQ(dialog.requests().back().title, "Select OMBRIX settings data safe file");
    EXPECT_EQ(Ctl<TComboBox>(form, "VarName1")->TextQ(), "SINE");
    EXPECT_EQ(Ctl<TComboBox>(form, "VarName1")->Items().IndexOf("SINE"), 0);
    // VarName1 is not resolved again by a load.
    EXPECT_EQ(form.Channel(1).address, 0x34);
}

TEST_F(MenuTest, LoadKeepsAChannelWhoseCheckBoxStaysCheckedOnItsVariable) {
    const std::string other = form.SettingsFolder() + "/other.dsw";
    WriteText(other, "[TComboBox1]\nText=SINE\n[TCheckBox2]\nChecked=True\nState=cbChecked\n"
                     "[TComboBox3]\nText=COUNTER\n[TCheckBox4]\nChecked=True\n"
                     "State=cbChecked\n");
    ASSERT_TRUE(Ctl<TCheckBox>(form, "VarSelected2")->Checked());
    dialog.Answer(QString::fromStdString(other));
    Ctl<QAction>(form, "LoadSettings")->trigger();
    // Channel 2's box shows the file's name, but its check box did not change: it goes on
    // sampling SAW.
    EXPECT_EQ(Ctl<TComboBox>(form, "VarName2")->TextQ(), "SINE");
    EXPECT_EQ(form.Channel(2).address, 0x31);
    EXPECT_EQ(form.Channel(2).name, "SAW");
    // Channel 3's check box went on and resolved the name loaded before it.
    EXPECT_EQ(form.Channel(3).active, 1);
    EXPECT_EQ(form.Channel(3).address, 0x33);
}

TEST_F(MenuTest, SettingsFileProblemsAreReportedAndLoseNothing) {
    // A folder where the file should go: the save is refused and the folder stays.
    const std::string blocked = form.SettingsFolder() + "/blocked.dsw";
    fs::create_directories(blocked + "/inside");
    dialog.Answer(QString::fromStdString(blocked));
    Ctl<QAction>(form, "SaveSettings")->trigger();
    ASSERT_EQ(bench.Boxes().size(), 1);
    EXPECT_TRUE(bench.Boxes()[0].contains("Unable to write to")) << bench.Boxes()[0].toStdString();
    EXPECT_TRUE(fs::is_directory(blocked + "/inside"));

    // A file that is not there.
    dialog.Answer(QString::fromStdString(form.SettingsFolder() + "/none.dsw"));
    Ctl<QAction>(form, "LoadSettings")->trigger();
    ASSERT_EQ(bench.Boxes().size(), 2);
    EXPECT_TRUE(bench.Boxes()[1].endsWith("none.dsw not found")) << bench.Boxes()[1].toStdString();

    // A broken file: what loaded before the fault stays.
    const std::string broken = form.SettingsFolder() + "/broken.dsw";
    WriteText(broken, "[TComboBox0]\nText=WALK\n[TCheckBox2]\nState=cbMaybe\n");
    dialog.Answer(QString::fromStdString(broken));
    Ctl<QAction>(form, "LoadSettings")->trigger();
    ASSERT_EQ(bench.Boxes().size(), 3);
    EXPECT_TRUE(bench.Boxes()[2].contains("Invalid property element: cbMaybe"));
    EXPECT_EQ(Ctl<TComboBox>(form, "VarName1")->TextQ(), "WALK");
    EXPECT_TRUE(Ctl<TCheckBox>(form, "VarSelected2")->Checked());
}

TEST_F(MenuTest, ClipboardGetsTheTraceImageWithTheLegendAndNoText) {
    Select(Ctl<TComboBox>(form, "VarNameX"), "ANGLE");
    QGuiApplication::clipboard()->setText("old text");
    Ctl<QAction>(form, "CopyToClipBoard")->trigger();
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    EXPECT_TRUE(data->hasImage());
    EXPECT_FALSE(data->hasText());
    const QImage image =
        QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(image.size(), QSize(704, 442));

    auto count = [](const QImage& img, QRect area, QRgb colour) {
        return CountPixels(img, area.left(), area.top(), area.right(), area.bottom(), colour);
    };
    const QFontMetrics metrics(QFont{});
    const int line = metrics.height() + 1;
    // SINE in blue on the first line, SAW in purple on the second, ANGLE in grey at the bottom
    // right; nothing of channel 3, which is off.
    EXPECT_GT(count(image, QRect(0, 0, 40, line - 1), kChannel1Colour), 10);
    EXPECT_EQ(count(image, QRect(0, 0, 40, line - 1), kChannel2Colour), 0);
    EXPECT_GT(count(image, QRect(0, line, 40, line - 1), kChannel2Colour), 10);
    EXPECT_GT(count(image, QRect(704 - 50, 442 - line, 50, line), kGridColour), 10);
    EXPECT_EQ(count(image, QRect(0, 0, 704, 442), kChannel3Colour), 0);
    // The legend stays in the trace bitmap until the screen is next cleared.
    EXPECT_EQ(form.TraceBitmap().convertToFormat(QImage::Format_ARGB32), image);
    form.ClearScreen();
    EXPECT_EQ(count(form.TraceBitmap(), QRect(0, 0, 40, line - 1), kChannel1Colour), 0);
}

} // namespace
