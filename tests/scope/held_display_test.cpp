// Holding the display on the window against the simulated MC: the held view's pixels with its
// cursors while the acquisition goes on, the keys that act only where nothing else takes them,
// zoom, pan and Home, x-y mode and an ended single sweep, the statistics' tooltips in the
// variable's unit, and the image the menu saves.
#include "scope_bench.h"

#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QMenu>
#include <QMouseEvent>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <algorithm>

using namespace scope;
using scope_testing::CountPixels;
using scope_testing::ScopeBench;

namespace {

constexpr int W = 704;
constexpr int H = 442;
constexpr QRgb kCursor = 0xFF404040;
constexpr QRgb kRed = 0xFFFF0000;

class InspectTest : public ::testing::Test {
protected:
    InspectTest() : bench(scope_testing::DemoScenario(), DEMO_DIR), form(bench.Start()) {}

    void Type(TComboBox* box, const char* text) {
        box->SetText(text);
        Q_EMIT box->UserChanged();
    }
    void Key(QWidget* widget, Qt::Key key) { QTest::keyClick(widget, key); }
    void Send(QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons buttons) {
        QMouseEvent event(type, at, Ctl<TPaintBox>(form, "PaintBox1")->mapToGlobal(at), button,
                          buttons, Qt::NoModifier);
        QApplication::sendEvent(Ctl<TPaintBox>(form, "PaintBox1"), &event);
    }
    void Wheel(QPoint at, int delta) {
        QWheelEvent event(at, Ctl<TPaintBox>(form, "PaintBox1")->mapToGlobal(at), {}, {0, delta},
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(Ctl<TPaintBox>(form, "PaintBox1"), &event);
    }
    const THeldView& Held() const { return form.HeldView(); }

    ScopeBench bench;
    ScopeWindow& form;
};

TEST_F(InspectTest, HeldViewDrawsTheHistoryAndCursorsAndStaysStillWhileAcquiring) {
    Type(Ctl<TComboBox>(form, "VarName1"), "SINE");
    Type(Ctl<TComboBox>(form, "VarName2"), "SAW");
    bench.RunFor(5000);
    QTest::mouseClick(Ctl<TPaintBox>(form, "PaintBox1"), Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(form.focusWidget(), Ctl<TPaintBox>(form, "PaintBox1"));
    EXPECT_FALSE(form.Held()); // a click while live only takes the focus
    Key(Ctl<TPaintBox>(form, "PaintBox1"), Qt::Key_Space);
    ASSERT_TRUE(form.Held());
    ASSERT_TRUE(Held().timeMode);
    EXPECT_EQ(Held().view, Held().home);
    EXPECT_EQ(Held().view.spanUs, 2'000'000);
    EXPECT_TRUE(Ctl<QAction>(form, "Hold")->isChecked());

    QTest::mouseClick(Ctl<TPaintBox>(form, "PaintBox1"), Qt::LeftButton, {}, QPoint(100, 200));
    QTest::mouseClick(Ctl<TPaintBox>(form, "PaintBox1"), Qt::RightButton, Qt::ShiftModifier,
                      QPoint(400, 200));
    ASSERT_TRUE(Held().cursorA && Held().cursorB);
    EXPECT_EQ(*Held().cursorA, TimeOfColumn(100, Held().view, W));
    EXPECT_NEAR(*Held().cursorB - *Held().cursorA, 300 * 2'000'000 / W, 1);

    const QImage shown = Held().image;
    // The cursors' dotted lines, the red HOLD mark, and SINE where its history puts it.
    EXPECT_GT(CountPixels(shown, 100, 60, 100, H - 40, kCursor), 100);
    EXPECT_GT(CountPixels(shown, 400, 60, 400, H - 40, kCursor), 100);
    EXPECT_EQ(CountPixels(shown, 250, 60, 250, H - 40, kCursor), 0);
    EXPECT_GT(CountPixels(shown, W - 60, 0, W - 1, 20, kRed), 10);
    const QRgb blue = form.Channel(1).colour;
    const acq::ChannelTrace& sine = Held().traces[1];
    const double newest = ColumnOfTime(sine.times.back(), Held().view, W);
    ASSERT_GT(newest, 100);
    for (int x : {50, 100, static_cast<int>(newest) - 10}) {
        const auto v = ValueAt(sine, TimeOfColumn(x, Held().view, W));
        ASSERT_TRUE(v) << x;
        const int row = AnalogueRow(*v, H);
        EXPECT_GT(CountPixels(shown, x - 1, row - 3, x + 1, row + 3, blue), 0) << x;
    }

    // The acquisition goes on: the history and the live bitmap move, the screen does not.
    const std::size_t kept = bench.Engine().SampleHistory().Size(1);
    const QImage live = form.TraceBitmap().copy();
    bench.RunFor(1000);
    EXPECT_GT(bench.Engine().SampleHistory().Size(1), kept);
    EXPECT_NE(form.TraceBitmap(), live);
    EXPECT_EQ(Held().image, shown);
    // The menu's Hold resumes the live sweep.
    Ctl<QAction>(form, "Hold")->trigger();
    EXPECT_FALSE(form.Held());
    EXPECT_FALSE(Ctl<QAction>(form, "Hold")->isChecked());
}

TEST_F(InspectTest, SpaceActsOnlyWhereTheFocusedControlHasNoUseForIt) {
    Type(Ctl<TComboBox>(form, "VarName1"), "SINE");
    bench.RunFor(500);
    QWidget* controls[] = {
        Ctl<TComboBox>(form, "VarName1")->lineEdit(), Ctl<TCheckBox>(form, "DisplayBin1"),
        Ctl<QSlider>(form, "TriggerTrackBar"), Ctl<QSlider>(form, "SetterTrackBar1")};
    for (QWidget* control : controls) {
        control->setFocus();
        Key(control, Qt::Key_Space);
        EXPECT_FALSE(form.Held()) << control->objectName().toStdString();
    }
    // Space on the check box did what it does there.
    EXPECT_TRUE(Ctl<TCheckBox>(form, "DisplayBin1")->Checked());
    Ctl<TCheckBox>(form, "DisplayBin1")->SetChecked(false);

    QTest::mouseClick(Ctl<TPaintBox>(form, "PaintBox1"), Qt::LeftButton, {}, QPoint(10, 10));
    Key(Ctl<TPaintBox>(form, "PaintBox1"), Qt::Key_Space);
    ASSERT_TRUE(form.Held());
    Wheel({352, 200}, 120);
    const TimeWindow zoomed = Held().view;
    Ctl<QSlider>(form, "TriggerTrackBar")->setFocus();
    Key(Ctl<QSlider>(form, "TriggerTrackBar"), Qt::Key_Home); // the bar's own Home
    EXPECT_EQ(Held().view, zoomed);
    Ctl<TPaintBox>(form, "PaintBox1")->setFocus();
    Key(Ctl<TPaintBox>(form, "PaintBox1"), Qt::Key_Home);
    EXPECT_EQ(Held().view, Held().home);
    Key(&form, Qt::Key_Space);
    EXPECT_FALSE(form.Held());
}

TEST_F(InspectTest, WheelZoomsAroundThePointerDragPansAndOnlyWhileHeld) {
    Type(Ctl<TComboBox>(form, "VarName1"), "SAW");
    bench.RunFor(8000);
    Wheel({352, 200}, 120); // live: nothing
    EXPECT_FALSE(form.Held());

    Key(Ctl<TPaintBox>(form, "PaintBox1"), Qt::Key_Space);
    const TimeWindow home = Held().view;
    const std::int64_t pointed = TimeOfColumn(200, home, W);
    Wheel({200, 200}, 120);
    EXPECT_EQ(Held().view.spanUs, 1'600'000);
    EXPECT_NEAR(TimeOfColumn(200, Held().view, W), pointed, 2);
    for (int i = 0; i < 40; ++i) {
        Wheel({200, 200}, -120);
    }
    // The whole history.
    EXPECT_EQ(Held().view,
              (TimeWindow{Held().limits.firstUs, Held().limits.lastUs - Held().limits.firstUs}));
    for (int i = 0; i < 40; ++i) {
        Wheel({352, 200}, 120);
    }
    // About twenty samples across the box at the narrowest.
    const acq::ChannelTrace& saw = Held().traces[1];
    const TimeWindow narrow = Held().view;
    const auto inView = std::count_if(saw.times.begin(), saw.times.end(), [&](std::int64_t t) {
        return t >= narrow.startUs && t <= narrow.startUs + narrow.spanUs;
    });
    EXPECT_GE(inView, 15);
    EXPECT_LE(inView, 25);
    Key(Ctl<TPaintBox>(form, "PaintBox1"), Qt::Key_Home);

    // A drag to the right by 300 columns: back in time by as much, and no cursor.
    Send(QEvent::MouseButtonPress, {100, 100}, Qt::LeftButton, Qt::LeftButton);
    Send(QEvent::MouseMove, {250, 100}, Qt::NoButton, Qt::LeftButton);
    Send(QEvent::MouseMove, {400, 100}, Qt::NoButton, Qt::LeftButton);
    Send(QEvent::MouseButtonRelease, {400, 100}, Qt::LeftButton, Qt::NoButton);
    EXPECT_FALSE(Held().cursorA);
    EXPECT_NEAR(Held().view.startUs, home.startUs - 300 * home.spanUs / W, 1);

    // Shift + right click is a cursor, the plain right click the menu.
    QContextMenuEvent shifted(QContextMenuEvent::Mouse, {300, 100}, {}, Qt::ShiftModifier);
    QApplication::sendEvent(Ctl<TPaintBox>(form, "PaintBox1"), &shifted);
    EXPECT_FALSE(Ctl<QMenu>(form, "PopupMenu1")->isVisible());
    QContextMenuEvent plain(QContextMenuEvent::Mouse, {300, 100}, {}, Qt::NoModifier);
    QApplication::sendEvent(Ctl<TPaintBox>(form, "PaintBox1"), &plain);
    EXPECT_TRUE(Ctl<QMenu>(form, "PopupMenu1")->isVisible());
    Ctl<QMenu>(form, "PopupMenu1")->hide();
}

TEST_F(InspectTest, XYHoldFreezesThePictureAndAnEndedSingleSweepIsInspected) {
    Type(Ctl<TComboBox>(form, "VarName1"), "SINE");
    Type(Ctl<TComboBox>(form, "VarNameX"), "ANGLE");
    bench.RunFor(1000);
    Key(Ctl<TPaintBox>(form, "PaintBox1"), Qt::Key_Space);
    ASSERT_TRUE(form.Held());
    EXPECT_FALSE(Held().timeMode);
    const QImage frozen = form.TraceBitmap().copy();
    Wheel({352, 200}, 120);
    bench.RunFor(1000);
    EXPECT_NE(form.TraceBitmap(), frozen);
    // The picture as it was, with the mark.
    EXPECT_EQ(Held().image.copy(0, 30, W, H - 30), frozen.copy(0, 30, W, H - 30));
    EXPECT_GT(CountPixels(Held().image, W - 60, 0, W - 1, 20, kRed), 10);
    Key(Ctl<TPaintBox>(form, "PaintBox1"), Qt::Key_Space);

    Ctl<TCheckBox>(form, "VarSelectedX")->SetChecked(false);
    Ctl<QToolButton>(form, "SpeedButtonSingle")->click();
    bench.RunFor(5000);
    ASSERT_FALSE(form.RunFlag());
    Key(Ctl<TPaintBox>(form, "PaintBox1"), Qt::Key_Space);
    EXPECT_TRUE(Held().timeMode);
    EXPECT_TRUE(Held().channels[1].shown);
}

TEST_F(InspectTest, StatisticsTooltipsAndReadoutUseTheConversionFile) {
    Type(Ctl<TComboBox>(form, "VarName1"), "SINE"); // SINE 0.1 -12.8 V
    Type(Ctl<TComboBox>(form, "VarName2"), "SAW");  // no conversion
    bench.RunFor(2500);
    ASSERT_FALSE(Ctl<QLineEdit>(form, "Min1")->text().isEmpty());
    EXPECT_EQ(Ctl<QLineEdit>(form, "Min1")->toolTip().toStdString(),
              NumberText(Ctl<QLineEdit>(form, "Min1")->text().toDouble() * 0.1 - 12.8) + " V");
    EXPECT_EQ(Ctl<QLineEdit>(form, "Max1")->toolTip().toStdString(),
              NumberText(Ctl<QLineEdit>(form, "Max1")->text().toDouble() * 0.1 - 12.8) + " V");
    EXPECT_TRUE(Ctl<QLineEdit>(form, "Max2")->toolTip().isEmpty());
    // Another variable clears the boxes and their tooltips.
    Type(Ctl<TComboBox>(form, "VarName1"), "COUNTER");
    bench.Pass();
    EXPECT_TRUE(Ctl<QLineEdit>(form, "Min1")->toolTip().isEmpty());
    Type(Ctl<TComboBox>(form, "VarName1"), "SINE");
    bench.RunFor(2500);

    Key(Ctl<TPaintBox>(form, "PaintBox1"), Qt::Key_Space);
    EXPECT_TRUE(Held().channels[1].conversion.physical);
    EXPECT_EQ(Held().channels[1].conversion.unit, "V");
    EXPECT_FALSE(Held().channels[2].conversion.physical);
}

TEST_F(InspectTest, SaveImageWritesWhatTheClipboardGetsAsPng) {
    Type(Ctl<TComboBox>(form, "VarName1"), "SINE");
    bench.RunFor(1000);
    FileDialogScript dialog;
    const QString path = QString::fromStdString(bench.Root()) + "/shot";
    dialog.Answer(path);
    Ctl<QAction>(form, "SaveImage")->trigger();
    ASSERT_EQ(dialog.requests().size(), 1);
    const FileDialogRequest& request = dialog.requests().front();
    EXPECT_TRUE(request.save);
    EXPECT_TRUE(request.folder.startsWith(QString::fromStdString(form.SettingsFolder())));
    EXPECT_TRUE(request.folder.endsWith(".png"));
    const QImage saved(path + ".png");
    ASSERT_FALSE(saved.isNull());
    Ctl<QAction>(form, "CopyToClipBoard")->trigger();
    const QImage copied = QGuiApplication::clipboard()->image();
    EXPECT_EQ(saved.convertToFormat(QImage::Format_RGB32),
              copied.convertToFormat(QImage::Format_RGB32));

    // Held, both take the held view.
    Key(Ctl<TPaintBox>(form, "PaintBox1"), Qt::Key_Space);
    dialog.Answer(path + "-held.png");
    Ctl<QAction>(form, "SaveImage")->trigger();
    EXPECT_EQ(QImage(path + "-held.png").convertToFormat(QImage::Format_RGB32), Held().image);

    dialog.Answer(path + "/missing/folder.png");
    Ctl<QAction>(form, "SaveImage")->trigger();
    ASSERT_EQ(bench.Boxes().size(), 1);
    EXPECT_TRUE(bench.Boxes().front().startsWith("The image could not be saved to"));
}

} // namespace
