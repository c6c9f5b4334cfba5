// The acquisition engine: owns the channels, the x-variable, the sweep clock, the trigger,
// single and continuous sweeps, the rate meter and the setters' writes, and runs the bursts
// of reads over the link exactly as the scope always has. Step() is one burst (or one test of
// the trigger, or one attempt to take a lost link up again) over the engine's state, the link
// and the clock; the tests call it directly under a fake clock, and a driver (driver.h) calls
// it from a thread of its own in the programs. No Qt, no window: whatever is drawn or recorded
// comes out of Step() as a Batch.
#pragma once

#include "acquisition/batch.h"
#include "acquisition/commands.h"
#include "acquisition/history.h"
#include "acquisition/sampling.h"
#include "acquisition/sweep.h"
#include "acquisition/variable_table.h"
#include "mcu/appl.h"
#include "mcu/typed.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace acq {

// A time-mode burst holds at most this many samples per channel, and x-y mode has this many
// slots (x value 0..255).
inline constexpr int kChannelSamples = 256;
// After a change of channel the sweep origin lies this far back, so that the next sample
// drawn begins a new sweep at the left edge.
inline constexpr std::uint32_t kSweepMs = 2000;
// A time-mode burst scans while at most this many milliseconds have passed since it began; an
// x-y burst likewise with its own window.
inline constexpr std::uint32_t kTimeBurstMs = 25;
inline constexpr std::uint32_t kXBurstMs = 250;
// x-y points older than this are left out while "RecentOnly" is on.
inline constexpr std::uint32_t kRecentMs = 1000;
// A step that could do no work on the link (trigger name undefined, no channel with a
// variable) is followed by the next one this much later: nothing to read must not spin a core.
inline constexpr std::uint32_t kIdleBackoffMs = 100;
// A link that is down is tried again this often, running or not.
inline constexpr std::uint32_t kReopenIntervalMs = 500;

// What opening the link and the application found; made on the engine's thread.
struct OpenResult {
    bool linkOpened = false;
    bool applOpened = false;
    // Why the application did not open: the link's reason when the link did not open, else
    // the application record's error text.
    std::string reason;
    std::string applName;
    std::uint16_t portNumber = 0;
    std::string devicePath; // set when COM names a device file
    std::string portName;   // "COM3", "USB0" or the device path
    VariableTable variables;
};

// The channel as the engine reads it.
struct ChannelSetup {
    bool active = false;   // switched on (channel 1: the run flag) ...
    bool resolved = false; // ... and holding a variable a name resolved
    std::uint16_t address = 0;
    std::uint8_t mask = 0;
};

struct StepResult {
    // Set when the step has something to tell: samples, marks, answers, or a change of state.
    std::optional<Batch> batch;
    // How long the driver may wait for commands before the next step: 0 runs it at once,
    // nullopt waits for a command however long that takes.
    std::optional<std::uint32_t> waitMs;
};

class Engine {
public:
    // sweepLastMs: the longest time after a sweep's origin at which a time-mode sample still
    // belongs to the sweep; a later one ends it (SweepLastMs gives it for a screen's width).
    explicit Engine(std::uint32_t sweepLastMs);

    // Opens the link (StartLink) and the MC application, on the calling thread, which must
    // be the one that runs Step() afterwards.
    OpenResult Open();
    // Closes the link.
    void Close();

    // Thread-safe: the front end posts, the engine takes the commands in its next step.
    std::uint64_t Post(Command command) { return commands_.Post(std::move(command)); }
    CommandQueue& Commands() { return commands_; }

    // Takes the waiting commands, then makes one burst, one trigger test or one re-open
    // attempt as the state asks.
    StepResult Step();

    // --- state, for the tests and the drivers ---
    bool Running() const { return channels_[1].active; }
    bool SingleShot() const { return singleShot_; }
    bool TriggerArmed() const { return triggerArmed_; }
    bool XCapable() const { return xCapable_; }
    const SweepClock& Sweep() const { return sweep_; }
    const ChannelSetup& Channel(int index) const;
    // x-y slot stamps (index 1..256, 0 = empty) of a trace channel.
    const std::array<std::uint32_t, kChannelSamples + 1>& SlotStamps(int index) const;
    const mcu::MCAppl& Appl() const { return appl_; }
    std::uint16_t Rate() const { return rateMeter_.rate; }
    // The last minute of samples; a front end copies from it on its own thread.
    History& SampleHistory() { return history_; }

    // The trigger test, the sweep modes and the bursts on their own.
    bool CheckTrigger();
    // Single or continuous sweeps; either way a stopped single sweep runs one more
    // (AfterSweepMode).
    void SetSweepMode(const SweepMode& mode);
    void PollTimeBurst();
    void PollXBurst();
    void PollXSynchronous();
    // watch.cpp: one scan of every watch (returns the reads that succeeded), and a burst of
    // such scans while the window's channels read nothing.
    int ScanWatches();
    void PollWatchBurst();
    bool Watching() const { return !watches_.empty(); }

private:
    void Apply(const Posted& posted);
    void SetActive(int index, bool on);
    bool Sampled(int index) const;
    bool AnySampled() const;
    void ClearXYSlots();
    void CountRead();
    void AddSample(int channel, std::uint8_t value, int slot);
    void RedrawXYChannels();
    void StoreXSample(int index, int slot, std::uint8_t byte);
    void NoteLink(bool burstFailed);
    // Tries the link again when it is due; returns the wait until the next try.
    std::uint32_t Reopen();
    void Publish(StepResult& result);
    void ApplyWatch(const Watch& watch);
    void ApplyUnwatch(const Unwatch& unwatch);
    void ApplyWrite(std::uint64_t number, const WriteVariable& write);

    std::uint32_t sweepLastMs_;
    CommandQueue commands_;
    mcu::MCAppl appl_;
    std::array<ChannelSetup, 4> channels_{};
    std::array<std::array<std::uint32_t, kChannelSamples + 1>, 4> slotStamps_{};
    SweepClock sweep_;
    bool singleShot_ = false;
    bool xCapable_ = false;
    bool triggerArmed_ = false;
    std::string triggerName_;
    double triggerLevel_ = 0;
    bool recentOnly_ = false;
    bool channelOneNamed_ = false;
    TRateMeter rateMeter_;
    std::uint64_t scan_ = 0;
    // A trigger test that found nothing to read: the next step need not follow at once.
    bool backoff_ = false;
    bool reopenTried_ = false;
    std::uint32_t lastReopenTick_ = 0;
    LinkReason reason_ = LinkReason::None;
    std::string linkError_;

    // The batch being filled by the current step, and what the last one published said.
    Batch batch_;
    std::uint64_t sequence_ = 0;
    std::uint64_t appliedUpTo_ = 0;
    EngineStatus published_;
    std::uint64_t publishedUpTo_ = 0;
    History history_;
    std::vector<Watch> watches_;
    mcu::ByteOrder byteOrder_ = mcu::ByteOrder::Little;
};

} // namespace acq
