// What one step of the engine hands out: the samples of a burst with their times, where the
// time-mode sweeps ended, which x-y channels to redraw, the transfer rate, the link's state,
// the setters' answers, and what the commands taken before the burst did to the channels.
// Sweep ends and redraws are decided here, so a front end only paints what it is told.
#pragma once

#include "acquisition/watch.h"
#include "mcu/var_type.h"

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace acq {

struct Sample {
    std::uint8_t channel = 0; // 1..3
    std::uint8_t value = 0; // masked: a bit variable gives 0 or 255; a wider type: its lowest byte
    // The value in the variable's own terms: a byte 0..255, a bit 0 or 1, a signed, 16/32-bit or
    // float value as its type reads it whole (a double holds every one of them exactly).
    double typed = 0;
    // x-y mode: the slot (x value + 1, 1..256) the sample belongs to; 0 in time mode.
    std::uint16_t slot = 0;
    // ClockMs when the reply arrived: what the sweep and the x-y history count in.
    std::uint32_t stamp = 0;
    // The same moment on the steady clock, in microseconds.
    std::int64_t arrivalUs = 0;
    // The scan the sample belongs to; scans are numbered for the whole run, and a channel
    // missing from a scan had a failed read.
    std::uint64_t scan = 0;
};

// A time-mode sample that lies beyond the right edge: the sweep ends there and the next one
// begins at this sample's stamp, unless a single sweep stops the acquisition here, in which
// case nothing after it in the batch is drawn.
struct SweepEnd {
    std::size_t sample = 0; // index into Batch::samples
    bool showRate = false;  // the sweep held more than 16 samples: the rate is shown
    bool stop = false;

    bool operator==(const SweepEnd&) const = default;
};

// An x-y channel to redraw over its slots, in this order. A single sweep stops after a
// redraw of more than 16 points; that redraw is not copied to the screen.
struct Redraw {
    int channel = 0;
    bool showRate = false;
    bool stop = false;
};

enum class LinkState { Up, Down };
// Why nothing comes: the port is held by another program, the device is gone (or cannot be
// opened), or the device is there but the MC does not answer.
enum class LinkReason { None, PortInUse, DeviceGone, McSilent };

struct SetterAnswer {
    int setter = 0;
    std::uint64_t command = 0; // the number of the command it answers
    bool write = false;        // a write; otherwise the read of a selection
    bool ok = false;
    std::uint8_t value = 0; // the value read or written (its lowest byte for a wider type)
    double typed = 0;       // the same in the variable's own type
};

// The engine's state as a step leaves it.
struct EngineStatus {
    bool running = false;
    bool singleShot = false;
    bool triggerArmed = false;
    LinkState link = LinkState::Up;
    LinkReason reason = LinkReason::None;
    // The link's own words for a link that is down ("/dev/ttyUSB0 is in use by another
    // program", "USB not connected"), or "no answer on COM1" for a silent MC.
    std::string linkError;

    bool operator==(const EngineStatus&) const = default;
};

// The bit of a channel in Batch::selected and Batch::restarted.
inline std::uint8_t ChannelBit(int channel) {
    return static_cast<std::uint8_t>(1u << channel);
}

struct Batch {
    std::uint64_t sequence = 0;    // 1, 2, ... for the whole run
    std::uint64_t appliedUpTo = 0; // the number of the last command taken before the burst
    // What the commands did before the samples: channels (bits 1..3) that took a new variable
    // (their statistics edits are cleared) or were restarted, and emptied x-y slots.
    std::uint8_t selected = 0;
    std::uint8_t restarted = 0;
    bool slotsCleared = false;
    // The sweep origin the first sample is placed against.
    std::uint32_t origin = 0;

    bool xMode = false;
    std::vector<Sample> samples;
    std::vector<SweepEnd> sweepEnds;
    // x-y mode: whether the burst ends with a redraw, and the points it leaves out.
    bool redraw = false;
    std::vector<Redraw> redraws;
    bool recentOnly = false;
    std::uint32_t recentCutoff = 0; // stamps below this are older than a second
    // A burst in which no read succeeded: "OFFLINE".
    bool offline = false;
    std::uint16_t rate = 0;

    EngineStatus status;

    std::vector<SetterAnswer> setters;

    // The watches' scans (watch.h), in scan order, and the answers to WriteVariable.
    std::vector<WatchedScan> watched;
    std::vector<WriteAnswer> writes;

    // Where the sweep that a SweepEnd at sample s begins has its origin: at the sample's own
    // stamp. The sweep clock follows this rule and a front end reads it, so both agree.
    static std::uint32_t OriginAfter(const Sample& s) { return s.stamp; }
    std::uint32_t OriginAfter(const SweepEnd& end) const {
        return OriginAfter(samples[end.sample]);
    }
};

// Batches from the engine's thread to a front end's. A full queue drops the batch's samples
// and counts it (the rest joins the newest queued batch): the engine never waits for a front
// end.
class BatchQueue {
public:
    explicit BatchQueue(std::size_t capacity = 64) : capacity_(capacity) {}
    // False when the batch was dropped.
    bool Push(Batch batch);
    std::deque<Batch> TakeAll();
    std::uint64_t Dropped() const;

private:
    mutable std::mutex mutex_;
    std::deque<Batch> queue_;
    std::size_t capacity_;
    std::uint64_t dropped_ = 0;
};

} // namespace acq
