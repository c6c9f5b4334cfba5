// What the window (or any other front end) asks of the acquisition engine. Commands carry
// everything already resolved (addresses and masks, a setter's variable as its click found
// it), so the engine never needs a front end's controls. They queue up and the engine takes
// them between its exchanges with the MC.
#pragma once

#include "acquisition/watch.h"
#include "mcu/var_type.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <variant>

namespace acq {

// Channel 0 is the x-variable, 1..3 the trace channels.

// The channel reads this variable from now on: address (variable address plus array index)
// and bit mask (0: the whole byte). Restarts the channel and the sweep; channel 1 also sets
// the run flag, any other channel is switched on.
struct UseVariable {
    int channel = 0;
    std::uint16_t address = 0;
    std::uint8_t mask = 0;
    // A type wider than a byte (or signed, or a float) is read whole from address on; U8 with a
    // mask is a bit. The x-variable (channel 0) is always read as a byte.
    mcu::VarType type = mcu::VarType::U8;
};
// The channel has no variable any more and reads nothing; channel 1 leaves the run flag alone.
struct ForgetVariable {
    int channel = 0;
};
// Switches a channel on or off (channel 1: the run flag). A channel without a variable stays
// silent while on.
struct SwitchChannel {
    int channel = 0;
    bool on = false;
};
// Empties every x-y slot of the trace channels.
struct ClearSlots {};
// The trace channels start their next strokes afresh (the trigger was switched off).
struct RestartChannels {};
// Single sweeps (each run stops after one sweep) or continuous ones.
struct SweepMode {
    bool single = false;
};

// The run flag and the sweep mode, and the rule a SweepMode command follows: a stopped single
// sweep runs one more when single sweeps are asked for again or left. The engine's copy is the
// one that counts; a front end applies the same rule to what it asked for, so a click shows
// its outcome before the next batch confirms it.
struct RunMode {
    bool running = false;
    bool singleShot = false;
};
RunMode AfterSweepMode(RunMode now, const SweepMode& mode);
struct ArmTrigger {
    bool armed = false;
};
// The trigger variable's name as its box shows it; looked up at every test.
struct TriggerName {
    std::string name;
};
// The trigger level as its edit shows it (a number text).
struct TriggerLevel {
    std::string text;
};
// x-y points older than a second are left out ("RecentOnly").
struct RecentOnly {
    bool on = false;
};
// Channel 1's box holds a name: a link taken up again restarts the acquisition only then.
struct ChannelOneNamed {
    bool named = false;
};
// A setter was switched on for the variable at address: its value is read and reported.
struct SelectSetter {
    int setter = 0;
    std::uint16_t address = 0;
    mcu::VarType type = mcu::VarType::U8;
};
// A setter's bar moved: value is written to the variable name. A newer value for the same
// setter replaces one that has not been written yet.
struct SetterValue {
    int setter = 0;
    std::string name;
    std::uint8_t value = 0;
    // A wider type writes typed, byte by byte, lowest address first, each byte echo-checked.
    mcu::VarType type = mcu::VarType::U8;
    double typed = 0;
};

using Command =
    std::variant<UseVariable, ForgetVariable, SwitchChannel, ClearSlots, RestartChannels, SweepMode,
                 ArmTrigger, TriggerName, TriggerLevel, RecentOnly, ChannelOneNamed, SelectSetter,
                 SetterValue, Watch, Unwatch, WriteVariable>;

// A command with the number it was posted under (1, 2, ...).
struct Posted {
    std::uint64_t number = 0;
    Command command;
};

// The queue between the front end's thread and the engine's. Posting never blocks for longer
// than a push; the engine takes everything at once.
class CommandQueue {
public:
    // Returns the command's number. A setter value replaces the setter's value still waiting
    // when nothing else for that setter was posted after it (its number is then the new one).
    std::uint64_t Post(Command command);
    std::deque<Posted> TakeAll();
    // Something is waiting: a burst in progress ends after its scan.
    bool Waiting() const;
    // Blocks until a command is posted, Wake is called or timeout has passed (nullopt: no
    // limit). Returns at once when something is already waiting.
    void Wait(std::optional<std::chrono::milliseconds> timeout);
    void Wake();

private:
    mutable std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<Posted> queue_;
    std::uint64_t last_ = 0;
    bool woken_ = false;
};

} // namespace acq
