// The scope program's main window: a view of the acquisition engine, made of panels (the three
// channel panels, the two setter panels, the trigger and x-variable panels, the trace area),
// each holding its own controls under their object names. The window keeps the display
// records of the three trace channels and the x-variable, and the setters as the user sees
// them. Every exchange with the MC happens in the engine, on the engine's thread: the window
// sends commands and shows the batches that come back, so it never waits for the link.
// Creation opens the application through the engine and runs the start-up (OnCreate);
// destruction ends the engine, which closes the link, and writes recent.dsw (OnDestroy).
#pragma once

#include "acquisition/driver.h"
#include "acquisition/variable_table.h"
#include "foundation/statistics.h"
#include "recorder/csv_recorder.h"
#include "scope/controls.h"
#include "scope/held_view.h"
#include "scope/trace_maths.h"
#include "scope/typed_range.h"

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
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class QKeyEvent;
class QPainter;
class QTimer;

namespace gui {
class EscapeKey;
} // namespace gui

namespace scope {

class TQuitSignals;

inline constexpr int kClientWidth = 904;
inline constexpr int kClientHeight = 625;
inline constexpr int kTraceWidth = 704;
inline constexpr int kTraceHeight = 442;
// What the engine needs of the trace's width: where a sweep ends.
inline std::uint32_t TraceSweepLastMs() {
    return acq::SweepLastMs(kTraceWidth);
}
inline constexpr int kChannelSamples = acq::kChannelSamples;
inline constexpr int kStatBlockLength = 1000;
// recent.dsw follows a change of a stored control this much later, so that a burst of changes
// (typing a name, loading a settings file) is written once.
inline constexpr int kSettingsSaveDelayMs = 500;
// The recording mark's elapsed time and row count follow this often.
inline constexpr int kRecordingMarkMs = 500;
// Batches waiting for the window beyond this many are dropped (and counted): the engine never
// waits for the window.
inline constexpr std::size_t kBatchQueueLength = 64;
// The grid pen.
inline constexpr QRgb kGridColour = 0xFF808080;

// Channel pen colours, the font colours of the channel panels.
inline constexpr QRgb kChannel1Colour = 0xFF0000FF; // blue
inline constexpr QRgb kChannel2Colour = 0xFF800080; // purple
inline constexpr QRgb kChannel3Colour = 0xFF008000; // green
inline constexpr QRgb kSilver = 0xFFC0C0C0;         // a name box that did not resolve

// One channel as the window shows it: index 0 is the x-variable, 1..3 the trace channels. The
// slot arrays are used from index 1 to 256, the lane arrays from 1 to 8.
struct TChannel {
    // What the window asked the engine for: switched on (channel 1: the run flag, as the
    // engine last reported it) and holding a variable its box resolved.
    std::uint8_t active = 0;
    bool resolved = false;
    std::string name;
    std::uint16_t address = 0;
    std::uint8_t mask = 0;
    // The variable's type, and the range a typed trace is drawn over (off for bytes and bits).
    mcu::VarType type = mcu::VarType::U8;
    TypedScale scale;
    // Drawing state.
    std::uint8_t restart = 0;
    // Samples of the batch being drawn that are not drawn yet (time mode).
    std::int32_t count = 0;
    // x-y slots: the latest sample of each x value and its ClockMs stamp (0 = empty).
    std::array<std::uint8_t, kChannelSamples + 1> values{};
    std::array<std::uint32_t, kChannelSamples + 1> times{};
    std::array<double, kChannelSamples + 1> typedValues{}; // the same samples, typed
    foundation::StatBlock statistics;
    std::array<std::int32_t, 9> lastX{};
    std::array<std::int32_t, 9> lastY{};
    QRgb colour = 0;
    std::uint8_t binary = 0;
};

struct TSetter {
    // Checked with a name present, and its variable could be read.
    std::uint8_t selected = 0;
    // Last value read from or written to the MC, and the same in the variable's type.
    std::uint8_t value = 0;
    double typed = 0;
    // The type of the setter's variable, and what its bar offers.
    mcu::VarType type = mcu::VarType::U8;
    BarSpan span;
    // The variable the last click of the check box resolved; the bar writes to it alone, what
    // the name box shows since then waits for the next click.
    std::string name;
    // The read of a click not answered yet (its command number; 0: none), and the name it was
    // for. Until it is answered the bar writes nothing.
    std::uint64_t reading = 0;
    std::string readingName;
    // The latest write asked for; an answer to it (and to nothing older) may move the bar back.
    std::uint64_t writing = 0;
};

// A trace channel of a held view, as it was when the view was held.
struct THeldChannel {
    bool shown = false;
    std::string name;
    QRgb colour = 0;
    std::uint8_t mask = 0;
    bool binary = false;
    Conversion conversion;
    // A typed channel: drawn over this range, its values read typed.
    std::optional<ValueRange> range;
};

// What the paint box shows while held: in time mode the history as it was, zoomed, panned and
// measured; in x-y mode the picture as it was.
struct THeldView {
    bool on = false;
    bool timeMode = false;
    acq::Traces traces;
    std::array<THeldChannel, 4> channels;
    TimeWindow view;
    TimeWindow home; // the last sweep
    ViewLimits limits;
    int divisions = 8;
    std::optional<std::int64_t> cursorA;
    std::optional<std::int64_t> cursorB;
    QImage frozen;
    QImage image; // what the paint box shows
    // A left press, and the view then; moved beyond a few pixels it is a drag, else a click.
    std::optional<QPoint> pressAt;
    TimeWindow pressView;
    bool dragged = false;
};

// The keys and clicks of the paint box, its tooltip.
extern const char* const kPaintBoxHelp;

// "COM3" for port 3, "USB0" for port 256; a device named by its path shows the device's name.
QString PortLabelText(std::uint16_t portNumber, const std::string& devicePath);
// The tooltip of the rate label for a link that gives nothing: why.
QString LinkReasonText(acq::LinkReason reason, const std::string& detail);

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

class ChannelPanel;
class SetterPanel;
class TracePanel;
class TriggerPanel;
class XVarPanel;

class ScriptHost;

class ScopeWindow : public QWidget {
    Q_OBJECT
public:
    // Builds the panels and runs OnCreate, with the engine on a thread of its own, or on the
    // driver given (tests step it themselves). When the MC application cannot be opened the
    // window asks for termination (TerminationRequested) and stays without content.
    explicit ScopeWindow(std::unique_ptr<acq::Driver> driver = nullptr, QWidget* parent = nullptr);
    // Runs OnDestroy.
    ~ScopeWindow() override;
    ScopeWindow(const ScopeWindow&) = delete;
    ScopeWindow& operator=(const ScopeWindow&) = delete;

    // The controls are found by their object names ("VarName1", "Label16", ...), as the
    // settings files find them.

    // --- what the window shows and knows ---
    bool RunFlag() const { return channels_[1].active != 0; }
    bool SingleShot() const { return singleShot_; }
    bool XCapable() const { return xCapable_; }
    const TChannel& Channel(int index) const { return channels_[static_cast<std::size_t>(index)]; }
    const TSetter& Setter(int index) const { return setters_[static_cast<std::size_t>(index)]; }
    // The off-screen trace bitmap (kTraceWidth x kTraceHeight), shown in the paint box; null
    // until the creation has opened the application.
    const QImage& TraceBitmap() const;
    std::uint32_t SweepOrigin() const { return sweepOrigin_; }
    const std::string& RecentPath() const { return recentPath_; }
    // The settings folder of the opened application; empty until the creation has made it.
    const std::string& SettingsFolder() const { return settingsFolder_; }
    // Batches the window was too slow to take, dropped.
    std::uint64_t DroppedBatches() const { return batches_.Dropped(); }
    // Termination was requested before the message loop could end it (a failed creation, or
    // Escape or a signal while a box of the creation was up): the program ends without it.
    bool TerminationRequested() const { return terminationRequested_; }
    bool HotKeyRegistered() const { return escape_ != nullptr; }
    // True when the dragged object may be dropped on target: a node of the variable tree.
    bool OnDragOver(QObject* target, bool fromTree) const;

    // --- the end of the program from outside ---
    // SIGTERM, SIGINT or SIGHUP, seen in the event loop: the program ends as on Escape.
    void OnQuitSignal(int signal);
    // The desktop session is ending: recent.dsw is written now, the end may come without a
    // chance for the exit save.
    void OnSessionEnd();

    // --- the engine's batches ---
    // Takes every batch the engine has handed over and shows it; posted into the event loop
    // once per batch (tests call it after stepping the engine).
    void TakeBatches();
    void ShowBatch(const acq::Batch& batch);

    // --- the trace area ---
    void ClearScreen();
    void DrawGrid();
    void DrawLegend();

    // --- recording to CSV ---
    bool Recording() const { return recorder_->Recording(); }
    std::uint64_t RecordedRows() const { return recorder_->Rows(); }
    const acq::CsvRecorder& Recorder() const { return *recorder_; }

    // --- settings files ---
    // All stored controls into one settings file, in restricted mode, written in one piece:
    // a failure leaves the previous file as it was. False with the reason in error.
    bool SaveSettingsFile(const std::string& path, std::string& error);
    // The stored controls from a settings file; false with the reason in error (the controls
    // read before the fault keep what they got).
    bool LoadSettingsFile(const std::string& path, std::string& error);
    bool SettingsSavePending() const;

    // --- holding the display ---
    bool Held() const { return held_.on; }
    const THeldView& HeldView() const { return held_; }
    // What "Copy To ClipBoard" copies and "Save Image..." saves: the trace bitmap with its
    // legend, or the held view as it shows.
    QImage ScreenImage();
    // The screen image as PNG, replacing path in one piece; false with the reason in error.
    bool SaveImageFile(const std::string& path, std::string& error);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // --- start-up and shutdown ---
    // The panels and controls at their places (the layout file).
    void BuildControls();
    void CreateTimers();
    void BindEvents();
    void OnCreate();
    void OnDestroy();
    void RequestTermination();
    void RegisterHotKey();
    void OnActivate();
    void OnDeactivate();
    void RestartChannel(int index);
    std::uint64_t Post(acq::Command command);

    // --- channel, setter and trigger controls ---
    void OnChange(QObject* sender);
    void OnClick(QObject* sender);
    void OnDragDrop(QObject* target, const QString& nodeText);
    void OnSetterSelected(QObject* sender);
    // The user moved a setter's bar: its variable is written.
    void OnSetterChange(int setter, int position);
    // The Single and Contineous buttons: the sweep mode the engine is asked for, shown at
    // once by the rule the engine follows.
    void SweepModeClick(bool single);
    void FillVariableTree();
    void ConfigureSetters();
    void SelectChannelVariable(TComboBox* box, int index);
    // A box now names what the window refuses or reads otherwise than asked (an unreadable
    // variable, a typed x-variable): the box's tooltip says so, and a box once per new text.
    void NoticeChannelText(TComboBox* box, const std::string& notice);
    void SetComboText(TComboBox* box, const std::string& text);
    void PruneComboItems(TComboBox* box);
    void SelectSetterVariable(TComboBox* box, int setter);
    void PaintSilver(TComboBox* box, bool silver);
    void SetRunFlag(bool on);
    void SetChannelActive(int index, bool on);
    // The box no longer shows the channel's variable: the channel forgets it.
    void DropChannelVariable(int index);
    bool Sampled(int index) const;
    void ClearXYTimes();
    TComboBox* ChannelBox(int index) const;
    int ChannelIndexOf(const QObject* box) const;
    void WatchEngineInputs();
    void ShowSetterAnswer(const acq::SetterAnswer& answer);

    // --- showing batches ---
    void ShowTimeBurst(const acq::Batch& batch);
    // The channel's samples of a time-mode batch; false when a single sweep stopped in them
    // (nothing more of the batch is drawn, nothing is copied to the screen).
    bool ShowTimeSamples(int index, const acq::Batch& batch);
    void ShowXBurst(const acq::Batch& batch);
    void ShowRedraw(const acq::Redraw& redraw, const acq::Batch& batch);
    void ShowLinkState(const acq::Batch& batch);
    void ShowStatistics();
    // The typed channels' ranges at the trace's edge.
    void ShowTypedRanges();
    void WriteRateText(std::uint16_t rate);
    int GridDivisionsNow() const;

    // --- holding the display ---
    void BindInspection();
    void HoldClick();
    void SaveImageClick();
    bool PaintBoxInput(QEvent* event);
    // Space and Home, where the focused control has no use for them; false otherwise.
    bool InspectionKey(QKeyEvent* event);
    void RenderHeld();
    void DrawHeldTrace(QPainter& painter, int index);
    Conversion ChannelConversion(int index) const;
    // The min, max and av boxes' tooltips in the variable's unit.
    void ShowPhysicalStatistics(int index);

    // --- settings files and clipboard ---
    void ClearHisClick();
    void CopyToClipBoardClick();
    void SaveSettingsClick();
    void LoadSettingsClick();
    // What the delayed save runs: recent.dsw as the exit save writes it. A failure goes to
    // standard error (once per reason); the exit save reports it in a box.
    void SaveChangedSettings();
    void RegisterStoredControls();
    void PrepareSettingsFolder();
    void LoadRecentSettings();
    void SaveRecentSettings();
    void WatchStoredControls();
    // A stored control changed after the start-up: recent.dsw is written a little later, once
    // for a whole burst of changes.
    void StoredControlChanged();
    // The name a save dialog proposes: the application and the time, in folder.
    QString StampedFileName(const std::string& folder, const char* suffix) const;

    // --- the panels, and the window's own controls ---
    std::array<ChannelPanel*, 4> channelPanels_{}; // 1..3
    std::array<SetterPanel*, 3> setterPanels_{};   // 1 and 2
    TriggerPanel* triggerPanel_ = nullptr;
    XVarPanel* xPanel_ = nullptr;
    TracePanel* trace_ = nullptr;
    QLabel* applLabel_ = nullptr;      // "Label1": the MC application's name
    QLabel* rateLabel_ = nullptr;      // "Label16": the transfer rate, or "OFFLINE"
    QLabel* portLabel_ = nullptr;      // "Label17": the link port
    QLabel* edgeCountLabel_ = nullptr; // "Label21": edge count of the last x-y redraw
    QLabel* recLabel_ = nullptr;       // the red mark while a recording runs
    TTreeView* tree_ = nullptr;
    TWrapButton* clearHis_ = nullptr;
    QToolButton* singleButton_ = nullptr;
    QToolButton* contButton_ = nullptr;
    TApplicationEvents* applicationEvents_ = nullptr;
    QMenu* popupMenu_ = nullptr;
    QAction* copyToClipBoard_ = nullptr;
    QAction* saveSettings_ = nullptr;
    QAction* loadSettings_ = nullptr;
    // One of the two shows at a time.
    QAction* recordToCsv_ = nullptr;
    QAction* stopRecording_ = nullptr;
    QAction* hold_ = nullptr;
    QAction* saveImage_ = nullptr;
    // "Scripts: PATH" (a click copies the path) or "Scripts: off" with the reason.
    QAction* scriptSocket_ = nullptr;

    // --- the window's model ---
    std::array<TChannel, 4> channels_;
    std::array<TSetter, 3> setters_; // 1 and 2
    std::uint32_t sweepOrigin_ = 0;
    bool singleShot_ = false;
    bool xCapable_ = false;
    std::string recentPath_;
    THeldView held_;
    // When the sweep on the screen began, on the arrival clock.
    std::optional<std::int64_t> sweepStartUs_;
    std::string applName_;
    // The application's variables, looked up without touching the engine's table.
    acq::VariableTable variables_;

    // --- the engine ---
    std::unique_ptr<acq::Driver> driver_;
    acq::BatchQueue batches_{kBatchQueueLength};
    // The number of the last command posted, and of the last batch shown.
    std::uint64_t lastPosted_ = 0;
    std::uint64_t lastSequence_ = 0;

    bool terminationRequested_ = false;
    bool opened_ = false;
    bool destroyed_ = false;
    std::string settingsFolder_;
    std::unique_ptr<gui::EscapeKey> escape_;
    std::unique_ptr<TQuitSignals> quitSignals_;
    // Context of the connections that watch the stored controls; gone once the window is
    // being destroyed, so the controls' own destruction schedules nothing.
    QObject* settingsWatch_ = nullptr;
    QTimer* settingsTimer_ = nullptr;
    std::string lastSaveError_;
    // The text the last notice of a channel box was shown for.
    std::string lastNotice_;

    // --- scripts ---
    // The program's window serves scripts; a window on a test's driver does not, or every
    // test would open a socket.
    bool hostScripts_ = false;
    void StartScripts(const acq::OpenResult& opened);
    std::unique_ptr<ScriptHost> scriptHost_;
    // What the engine's thread sees of it: set once serving, cleared before it goes.
    std::atomic<ScriptHost*> scriptSink_{nullptr};

    // --- recording ---
    // What the recording from the window needs: the channels as they are when it starts.
    acq::RecordLayout RecordingLayout() const;
    // The channel choices and Load Settings, which would change the file's columns; the menu
    // offers the stop instead of the start.
    void LockChannelChoices(bool locked);
    // Unlocks what a recording locks and lets the run flag follow the activation again.
    void EndRecording();
    void RecordingFailed(const QString& reason);
    void RecordToCsvClick();
    void StopRecordingClick();
    void ShowRecordingMark();
    // Fed on the engine's thread with every batch, before the window sees it.
    std::unique_ptr<acq::CsvRecorder> recorder_ = std::make_unique<acq::CsvRecorder>();
    QTimer* recordingTimer_ = nullptr;
    std::int64_t recordingStartUs_ = 0;
    // The window was left while recording: the run flag drops when the recording ends.
    bool deactivatedWhileRecording_ = false;
};

} // namespace scope
