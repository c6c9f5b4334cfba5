// The scope program's main window TForm1. It holds the controls (each with its
// component name as object name), the records of the three trace channels and the
// x-variable, the two setters, the trigger state and the trace bitmap, and it owns the one
// MCAppl record of the program. Creation runs the start-up (OnCreate); destruction closes the
// link and writes recent.dsw (OnDestroy).
#pragma once

#include "foundation/statistics.h"
#include "mcu/appl.h"
#include "scope/controls.h"
#include "scope/trace_maths.h"

#include <QAction>
#include <QColor>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSlider>
#include <QToolButton>
#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>
#include <string>

class QPainter;
class QShortcut;
class QTimer;

namespace gui {
class TGlobalHotKey;
} // namespace gui

namespace scope {

class TQuitSignals;

inline constexpr int kClientWidth = 904;
inline constexpr int kClientHeight = 625;
inline constexpr int kTraceWidth = 704;
inline constexpr int kTraceHeight = 442;
inline constexpr int kChannelSamples = 256;
inline constexpr int kStatBlockLength = 1000;
// Identifier of the Escape hot key.
inline constexpr int kEscapeHotKey = 255;
// The sweep origin lies this far in the past after a change, so the next sample drawn begins
// a new sweep at the left edge.
inline constexpr std::uint32_t kSweepMs = 2000;
// A time-mode burst scans while at most this many milliseconds have passed since it began; an
// x-y burst likewise with its own window.
inline constexpr std::uint32_t kTimeBurstMs = 25;
inline constexpr std::uint32_t kXBurstMs = 250;
// More samples than this in a sweep make it a real one: only then does the rate show and a
// single sweep stop the acquisition.
inline constexpr std::int32_t kSweepMinSamples = 16;
// x-y points older than this are left out while "RecentOnly" is checked.
inline constexpr std::uint32_t kRecentMs = 1000;
// While a pass of the idle loop could do no work on the link (link down, trigger name
// undefined, no channel with a variable), the next pass waits this long instead of following at
// once: a scope with nothing to read must not spin a core.
inline constexpr int kIdleBackoffMs = 100;
// A link that is down is tried again this often while the acquisition is stopped.
inline constexpr int kReopenIntervalMs = 500;
// recent.dsw follows a change of a stored control this much later, so that a burst of changes
// (typing a name, loading a settings file) is written once.
inline constexpr int kSettingsSaveDelayMs = 500;
// The grid pen.
inline constexpr QRgb kGridColour = 0xFF808080;

// Channel pen colours, the font colours of the channel panels.
inline constexpr QRgb kChannel1Colour = 0xFF0000FF; // blue
inline constexpr QRgb kChannel2Colour = 0xFF800080; // purple
inline constexpr QRgb kChannel3Colour = 0xFF008000; // green
inline constexpr QRgb kSilver = 0xFFC0C0C0;         // a name box that did not resolve

// One channel: index 0 is the x-variable, 1..3 the trace channels. The sample arrays are used
// from index 1 to 256, the lane arrays from 1 to 8.
struct TChannel {
    std::uint8_t active = 0; // channel 1: the acquisition's run flag
    std::uint8_t restart = 0;
    std::int32_t count = 0;
    std::string name;
    std::uint16_t address = 0;
    std::uint8_t mask = 0;
    std::array<std::uint8_t, kChannelSamples + 1> values{};
    foundation::StatBlock statistics;
    std::array<std::uint32_t, kChannelSamples + 1> times{}; // ClockMs stamps; 0 = empty slot
    std::array<std::int32_t, 9> lastX{};
    std::array<std::int32_t, 9> lastY{};
    QRgb colour = 0;
    std::uint8_t binary = 0;
    // The address comes from a text the channel's box resolved. Without one the channel reads
    // nothing: address 0 would be drawn as if it were a variable.
    bool resolved = false;

    // A full buffer ends a time-mode burst before another scan could overflow it.
    bool Full() const { return count >= kChannelSamples; }
};

struct TSetter {
    // Checked with a name present, and its variable could be read.
    std::uint8_t selected = 0;
    // Last value read from or written to the MC.
    std::uint8_t value = 0;
    // The variable the last click of the check box resolved; the bar writes to it alone, what
    // the name box shows since then waits for the next click.
    std::string name;
};

// "COM3" for port 3, "USB0" for port 256; a device named by its path shows the device's name.
QString PortLabelText(std::uint16_t portNumber, const std::string& devicePath);

// The application's activate and deactivate notifications.
class TApplicationEvents : public QObject {
    Q_OBJECT
public:
    explicit TApplicationEvents(QObject* parent);
    // Follows the application state: turning active notifies Activate, leaving the active
    // state notifies Deactivate, once per change.
    void ApplicationStateChanged(Qt::ApplicationState state);

Q_SIGNALS:
    void Activate();
    void Deactivate();

private:
    bool active_ = false;
};

class TForm1 : public QWidget {
    Q_OBJECT
public:
    // Builds the controls and runs OnCreate. When the MC application cannot be opened the
    // window asks for termination (TerminationRequested) and stays without content.
    explicit TForm1(QWidget* parent = nullptr);
    // Runs OnDestroy.
    ~TForm1() override;
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    // --- controls, named as their components ---
    TPaintBox* PaintBox1;
    QLabel* ApplLabel;
    QLabel* RateLabel;
    QLabel* PortLabel;
    QLabel* EdgeCountLabel;
    TTreeView* TreeView1;
    QFrame* ChannelPanel1;
    QFrame* ChannelPanel2;
    QFrame* ChannelPanel3;
    QFrame* SetterPanel1;
    QFrame* SetterPanel2;
    QFrame* XPanel;
    QFrame* TriggerPanel;
    TComboBox* VarName1;
    TComboBox* VarName2;
    TComboBox* VarName3;
    TComboBox* VarNameX;
    TComboBox* TriggerName;
    TComboBox* SetterName1;
    TComboBox* SetterName2;
    TCheckBox* DisplayBin1;
    TCheckBox* DisplayBin2;
    TCheckBox* DisplayBin3;
    TCheckBox* VarSelected2;
    TCheckBox* VarSelected3;
    TCheckBox* VarSelectedX;
    TCheckBox* NoHisSelected;
    TCheckBox* TriggerSelected;
    TCheckBox* SetterSelected1;
    TCheckBox* SetterSelected2;
    QLineEdit* Min1;
    QLineEdit* Min2;
    QLineEdit* Min3;
    QLineEdit* Max1;
    QLineEdit* Max2;
    QLineEdit* Max3;
    QLineEdit* Avg1;
    QLineEdit* Avg2;
    QLineEdit* Avg3;
    QLineEdit* TriggerVal;
    QLineEdit* SetterVal1;
    QLineEdit* SetterVal2;
    QSlider* TriggerTrackBar;
    QSlider* SetterTrackBar1;
    QSlider* SetterTrackBar2;
    TWrapButton* ClearHis;
    QToolButton* SpeedButtonSingle;
    QToolButton* SpeedButtonCont;
    TApplicationEvents* ApplicationEvents1;
    QMenu* PopupMenu1;
    QAction* CopyToClipBoard;
    QAction* SaveSettings;
    QAction* LoadSettings;

    // --- window model ---
    std::array<TChannel, 4> channels;
    std::array<TSetter, 3> setters; // 1 and 2
    std::uint32_t sweepOrigin = 0;
    std::int32_t drawnSamples = 0;
    bool singleShot = false;
    bool xCapable = false;
    bool triggerArmed = false;
    std::string recentPath;
    std::array<QLineEdit*, 4> MinEdits{}; // 1..3
    std::array<QLineEdit*, 4> MaxEdits{};
    std::array<QLineEdit*, 4> AvgEdits{};
    // The off-screen trace bitmap (kTraceWidth x kTraceHeight), shown in PaintBox1; null
    // until the creation has opened the application.
    QImage traceBitmap;
    mcu::MCAppl appl;
    // Successful reads of the acquisition per second, as the rate label shows them.
    TRateMeter rateMeter;

    bool RunFlag() const { return channels[1].active != 0; }
    // The channel is read and drawn: switched on (channel 1: the run flag) and resolved.
    bool Sampled(int index) const;
    // Every start and stop of the acquisition goes through here: it starts the idle pump (one
    // burst per pass of the event loop) or stops it and lets the slow re-open timer look after
    // a link that went down.
    void SetRunFlag(bool on);
    bool IdlePumpActive() const;
    int IdlePumpInterval() const;
    bool ReopenTimerActive() const;
    // Termination was requested before the message loop could end it (a failed creation, or
    // Escape or a signal while a box of the creation was up): the program ends without it.
    bool TerminationRequested() const { return terminationRequested_; }
    // The settings folder of the opened application; empty until the creation has made it.
    const std::string& SettingsFolder() const { return settingsFolder_; }
    bool HotKeyRegistered() const { return escapeShortcut_ != nullptr; }
    bool GlobalHotKeyGrabbed() const;

    // --- start-up, shutdown, activation ---
    void OnCreate();
    void OnDestroy();
    void OnActivate();
    void OnDeactivate();
    void OnHotKey(int id);
    // SIGTERM, SIGINT or SIGHUP, seen in the event loop: the program ends as on Escape.
    void OnQuitSignal(int signal);
    // The desktop session is ending: recent.dsw is written now, the end may come without a
    // chance for the exit save.
    void OnSessionEnd();
    void RestartChannel(int index);

    // --- channel, setter and trigger controls ---
    void FillVariableTree();
    void ConfigureSetters();
    void SelectChannelVariable(TComboBox* box, int index);
    void SetComboText(TComboBox* box, const std::string& text);
    void PruneComboItems(TComboBox* box);
    void SelectSetterVariable(TComboBox* box, int setter);
    void OnChange(QObject* sender);
    void OnClick(QObject* sender);
    // True when the dragged object may be dropped on target: a node of the variable tree.
    bool OnDragOver(QObject* target, bool fromTree) const;
    void OnDragDrop(QObject* target, const QString& nodeText);
    void OnSetterSelected(QObject* sender);
    void OnSetterChange(QObject* sender);

    // --- acquisition ---
    // One pass of the idle loop: done comes back false when the loop wants another pass at
    // once.
    void OnIdle(bool& done);
    // What the idle timers run: OnIdle, then the pace of the next pass.
    void IdlePass();
    void PollTimeBurst();
    void PollXBurst();
    void PollXSynchronous();
    bool CheckTrigger();
    void SpeedButtonSingleClick();
    void SpeedButtonContClick();

    // --- trace display ---
    void ClearScreen();
    void CopyToScreen();
    void DrawGrid();
    void ShowStatistics();
    void WriteRateText();
    void DrawTimeSamples(int index);
    void DrawXYChannel(int index);
    void DrawLegend();

    // --- settings files and clipboard ---
    void ClearHisClick();
    void CopyToClipBoardClick();
    void SaveSettingsClick();
    void LoadSettingsClick();
    // All stored controls into one settings file, in restricted mode, written in one piece:
    // a failure leaves the previous file as it was. False with the reason in error.
    bool SaveSettingsFile(const std::string& path, std::string& error);
    // The stored controls from a settings file; false with the reason in error (the controls
    // read before the fault keep what they got).
    bool LoadSettingsFile(const std::string& path, std::string& error);
    // A stored control changed after the start-up: recent.dsw is written a little later, once
    // for a whole burst of changes.
    void StoredControlChanged();
    bool SettingsSavePending() const;
    // What the delayed save runs: recent.dsw as the exit save writes it. A failure goes to
    // standard error (once per reason); the exit save reports it in a box.
    void SaveChangedSettings();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The controls at their places (the layout file).
    void BuildControls();
    void CreateTimers();
    void BindEvents();
    // A successful read of the acquisition: counts towards the rate.
    void CountRead();
    void StoreXSample(int index, int slot, std::uint8_t byte);
    void RedrawXYChannels();
    void SetChannelPen(QPainter& painter, const TChannel& c) const;
    void RequestTermination();
    void RegisterHotKey();
    void RegisterStoredControls();
    void PrepareSettingsFolder();
    void LoadRecentSettings();
    void SaveRecentSettings();
    void WatchStoredControls();
    void PaintSilver(TComboBox* box, bool silver);
    void SetChannelActive(int index, bool on);
    // The box no longer shows the channel's variable: the channel forgets it.
    void DropChannelVariable(int index);
    bool AnyChannelSampled() const;
    void ClearXYTimes();
    TComboBox* ChannelBox(int index) const;
    int ChannelIndexOf(const QObject* box) const;

    bool terminationRequested_ = false;
    bool linkOpened_ = false;
    bool destroyed_ = false;
    // Set while a setter's track bar is moved back after a write; that move writes nothing.
    bool snappingBack_ = false;
    std::string settingsFolder_;
    // Set by a pass of the idle loop that could do nothing on the link.
    bool idleBackoff_ = false;
    // The part of the trace bitmap drawn since it was last copied to the screen.
    QRect dirty_;
    QTimer* idleTimer_ = nullptr;
    QTimer* reopenTimer_ = nullptr;
    std::unique_ptr<QShortcut> escapeShortcut_;
    std::unique_ptr<gui::TGlobalHotKey> globalEscape_;
    std::unique_ptr<TQuitSignals> quitSignals_;
    // Context of the connections that watch the stored controls; gone once the window is
    // being destroyed, so the controls' own destruction schedules nothing.
    QObject* settingsWatch_ = nullptr;
    QTimer* settingsTimer_ = nullptr;
    std::string lastSaveError_;
};

} // namespace scope
