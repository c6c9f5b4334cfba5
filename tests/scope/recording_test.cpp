// Recording from the window against the simulated MC: the menu entries, the file of what the
// channels show, the run flag held while the window is left, the locked channel choices, the
// mark beside the rate label, a write that fails, and the end of the program while recording.
#include "recording_files.h"
#include "scope_bench.h"

#include <QCoreApplication>
#include <QLabel>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

using namespace scope;
using scope_testing::ScopeBench;

namespace {

using testing_support::CsvRow;
using testing_support::ReadCsvFile;

class WindowRecordingTest : public ::testing::Test {
protected:
    WindowRecordingTest() : bench(scope_testing::DemoScenario(), DEMO_DIR), form(bench.Start()) {
        Select(Ctl<TComboBox>(form, "VarName1"), "SINE");
        Select(Ctl<TComboBox>(form, "VarName2"), "BUF[4]");
        bench.RunFor(100);
    }
    void Select(TComboBox* box, const char* text) {
        box->SetText(text);
        Q_EMIT box->UserChanged();
    }

    ScopeBench bench;
    ScopeWindow& form;
    FileDialogScript dialog;
};

TEST_F(WindowRecordingTest, RecordsTheChannelsAsShownHoldsTheRunFlagAndEndsOnStop) {
    EXPECT_TRUE(Ctl<QAction>(form, "RecordToCsv")->isVisible());
    EXPECT_FALSE(Ctl<QAction>(form, "StopRecording")->isVisible());
    const std::string path = bench.Root() + "/mine";
    dialog.Answer(QString::fromStdString(path));
    Ctl<QAction>(form, "RecordToCsv")->trigger();
    ASSERT_EQ(dialog.requests().size(), 1);
    const FileDialogRequest& asked = dialog.requests().front();
    EXPECT_TRUE(asked.save);
    const QString folder = QString::fromStdString(form.SettingsFolder()) + "/rec/DEMO-";
    EXPECT_TRUE(asked.folder.startsWith(folder)) << asked.folder.toStdString();
    EXPECT_EQ(asked.folder.size(), folder.size() + 19); // YYYYMMDD-HHMMSS.csv
    EXPECT_TRUE(std::filesystem::is_directory(form.SettingsFolder() + "/rec"));
    ASSERT_TRUE(form.Recording());
    EXPECT_FALSE(Ctl<QAction>(form, "RecordToCsv")->isVisible());
    EXPECT_TRUE(Ctl<QAction>(form, "StopRecording")->isVisible());
    EXPECT_FALSE(Ctl<QLabel>(form, "RecLabel")->isHidden());
    EXPECT_TRUE(Ctl<QLabel>(form, "RecLabel")->text().startsWith("REC 0:00\n0 rows"));
    // No other control covers the mark.
    for (const QPoint corner :
         {Ctl<QLabel>(form, "RecLabel")->geometry().topLeft() + QPoint(1, 1),
          Ctl<QLabel>(form, "RecLabel")->geometry().bottomRight() - QPoint(1, 1)}) {
        EXPECT_EQ(form.childAt(corner), Ctl<QLabel>(form, "RecLabel"));
    }
    // The columns keep their meaning: no channel changes while recording.
    EXPECT_FALSE(Ctl<TComboBox>(form, "VarName1")->isEnabled());
    EXPECT_FALSE(Ctl<TCheckBox>(form, "VarSelected2")->isEnabled());
    EXPECT_FALSE(Ctl<QAction>(form, "LoadSettings")->isEnabled());

    // Leaving the window does not stop the acquisition while it records.
    Q_EMIT Ctl<TApplicationEvents>(form, "ApplicationEvents1")->Deactivate();
    EXPECT_TRUE(form.RunFlag());
    bench.RunFor(1000);
    EXPECT_TRUE(form.RunFlag());
    QMetaObject::invokeMethod(form.findChild<QTimer*>("RecordingTimer"), "timeout");

    // The stop waits for the writer, so the count holds every scan of that second.
    Ctl<QAction>(form, "StopRecording")->trigger();
    const std::uint64_t rows = form.RecordedRows();
    EXPECT_GT(rows, 100u);
    EXPECT_FALSE(form.Recording());
    EXPECT_TRUE(Ctl<QLabel>(form, "RecLabel")->isHidden());
    EXPECT_TRUE(Ctl<TComboBox>(form, "VarName1")->isEnabled());
    EXPECT_TRUE(Ctl<QAction>(form, "RecordToCsv")->isVisible());
    // The window was left meanwhile: the run flag follows that now.
    bench.Settle();
    EXPECT_FALSE(form.RunFlag());

    const std::vector<CsvRow> lines = ReadCsvFile(path + ".csv");
    ASSERT_GE(lines.size(), rows + 1);
    EXPECT_EQ(lines[0], (CsvRow{"time_s", "SINE", "SINE [V]", "BUF[4]"}));
    for (std::size_t i = 1; i < lines.size(); ++i) {
        ASSERT_EQ(lines[i].size(), 4u) << i;
        EXPECT_EQ(lines[i][3], "16") << i;
    }
    EXPECT_TRUE(bench.Boxes().isEmpty());
}

TEST_F(WindowRecordingTest, AFailedWriteStopsWithABoxAndTheEndOfTheProgramClosesTheFile) {
    dialog.Answer("/dev/full");
    Ctl<QAction>(form, "RecordToCsv")->trigger();
    EXPECT_FALSE(form.Recording());
    ASSERT_EQ(bench.Boxes().size(), 1);
    EXPECT_EQ(bench.Boxes()[0].toStdString(),
              "Recording to /dev/full could not start:\nNo space left on device");

    // Room for the header and a few rows only.
    const std::string path = bench.Root() + "/small.csv";
    dialog.Answer(QString::fromStdString(path));
    auto limit = std::make_unique<testing_support::FileSizeLimit>(300);
    ASSERT_TRUE(limit->Set());
    Ctl<QAction>(form, "RecordToCsv")->trigger();
    ASSERT_TRUE(Ctl<QAction>(form, "StopRecording")->isVisible());
    bench.RunFor(500);
    // Whether the writer's report or the stop finds the failure first, one box tells it.
    Ctl<QAction>(form, "StopRecording")->trigger();
    QCoreApplication::processEvents();
    limit.reset();
    ASSERT_EQ(bench.Boxes().size(), 2);
    std::string text;
    const std::vector<CsvRow> lines = ReadCsvFile(path, &text);
    EXPECT_EQ(bench.Boxes()[1].toStdString(),
              "Recording to " + path + " stopped:\nFile too large\nThe file keeps the " +
                  std::to_string(lines.size() - 1) + " rows written before.");
    EXPECT_GT(lines.size(), 3u);
    EXPECT_EQ(text.back(), '\n');
    EXPECT_TRUE(Ctl<QAction>(form, "RecordToCsv")->isVisible());
    EXPECT_TRUE(Ctl<TComboBox>(form, "VarName1")->isEnabled());

    // Escape, a signal or the window's end while recording: every row is in the file.
    const std::string last = bench.Root() + "/last.csv";
    dialog.Answer(QString::fromStdString(last));
    Ctl<QAction>(form, "RecordToCsv")->trigger();
    bench.RunFor(300);
    const std::uint64_t before = form.RecordedRows();
    bench.Close();
    const std::vector<CsvRow> rows = ReadCsvFile(last, &text);
    EXPECT_GE(rows.size() - 1, before);
    EXPECT_GT(rows.size(), 20u);
    EXPECT_EQ(text.back(), '\n');
}

} // namespace
