// Watches: variables a headless client (a script through the service, mcrec) reads beside the
// window's three channels. Every watched variable is read once per scan, all of them in the same
// scan, whether or not the window's run flag is on; the results come out in Batch::watched and
// never enter the trace channels, the sweeps, History or the x-y slots, so the window's channels
// stay the user's. A script's write is a command as well, answered in Batch::writes.
#pragma once

#include "mcu/var_type.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace acq {

// One variable of a watch, resolved as a channel box resolves it; a mask makes it a bit (0/1).
struct WatchItem {
    std::uint16_t address = 0;
    std::uint8_t mask = 0;
    mcu::VarType type = mcu::VarType::U8;

    bool operator==(const WatchItem&) const = default;
};

// Reads items once per scan from the next scan on, under id (a client's own number; a Watch
// with an id already watched replaces its items).
struct Watch {
    std::uint64_t id = 0;
    std::vector<WatchItem> items;
    // A read of so many scans: the watch ends itself after them and the burst that completed
    // it ends at once, so the answer waits for no burst window. 0: until Unwatch.
    std::uint64_t scans = 0;
};
struct Unwatch {
    std::uint64_t id = 0;
};
// Writes value to the table's variable name (a settable byte, or wider: byte by byte, lowest
// address first, in the application's byte order, every byte's echo checked). The front end has
// checked the settable window; the engine only writes.
struct WriteVariable {
    std::string name;
    mcu::VarType type = mcu::VarType::U8;
    double value = 0;
    std::uint8_t offset = 0; // NAME[i]: the bytes from i above the variable on
};

// One scan of one watch: a value per item, nullopt for a failed read.
struct WatchedScan {
    std::uint64_t id = 0;
    std::uint64_t scan = 0;
    std::int64_t arrivalUs = 0; // the steady clock at the scan's first reply
    std::vector<std::optional<double>> values;
};

struct WriteAnswer {
    std::uint64_t command = 0; // the number WriteVariable was posted under
    bool ok = false;
    std::string reason; // why it failed: the protocol's words
};

struct Sample;
// The scans of watch id as the engine's samples, item k as channel k + 1 (so a recording's
// RowBuilder makes one row per scan of them), failed reads left out; at most 255 items.
void AppendWatchedSamples(const std::vector<WatchedScan>& scans, std::uint64_t id,
                          std::vector<Sample>& samples);

// Whether a script's write of value fits the type: whole and within its limits for an integer
// type, rounding to a finite float for f32. mcu::EncodeValue makes its bytes.
bool FitsType(mcu::VarType type, double value);

} // namespace acq
