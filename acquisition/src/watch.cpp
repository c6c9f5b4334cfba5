// The engine's watch list: the scans a headless client asked for, and a script's writes. Engine
// members that live here so that the bursts in engine.cpp only call them.
#include "acquisition/engine.h"

#include "foundation/clock.h"
#include "link/link_port.h"
#include "mcu/access.h"

#include <algorithm>
#include <cmath>

namespace acq {

bool FitsType(mcu::VarType type, double value) {
    if (type == mcu::VarType::F32) {
        // What rounds to a float (to the largest one at most: 3.4028235e38, as the largest
        // float is written, does) fits.
        constexpr double kRoundsToInfinity = 0x1.ffffffp+127;
        return std::isfinite(value) && std::fabs(value) < kRoundsToInfinity;
    }
    const mcu::TypeLimits limits = mcu::LimitsOf(type);
    return std::isfinite(value) && std::trunc(value) == value && value >= limits.low &&
           value <= limits.high;
}

void AppendWatchedSamples(const std::vector<WatchedScan>& scans, std::uint64_t id,
                          std::vector<Sample>& samples) {
    for (const WatchedScan& scan : scans) {
        if (scan.id != id) {
            continue;
        }
        for (std::size_t i = 0; i < scan.values.size() && i < 255; ++i) {
            if (!scan.values[i]) {
                continue;
            }
            Sample s;
            s.channel = static_cast<std::uint8_t>(i + 1);
            s.typed = *scan.values[i];
            // The lowest byte, as a channel's sample of a wider type carries it. A float beyond
            // any integer (or NaN, as uninitialised RAM may hold) has none: converting it would
            // be undefined.
            s.value = std::isfinite(s.typed) && std::fabs(s.typed) < 9.0e18
                          ? static_cast<std::uint8_t>(static_cast<std::int64_t>(s.typed) & 0xFF)
                          : 0;
            s.arrivalUs = scan.arrivalUs;
            s.scan = scan.scan;
            samples.push_back(s);
        }
    }
}

void Engine::ApplyWatch(const Watch& watch) {
    auto same = [&](const Watch& w) { return w.id == watch.id; };
    const auto found = std::find_if(watches_.begin(), watches_.end(), same);
    if (found != watches_.end()) {
        *found = watch;
    } else {
        watches_.push_back(watch);
    }
}

void Engine::ApplyUnwatch(const Unwatch& unwatch) {
    std::erase_if(watches_, [&](const Watch& w) { return w.id == unwatch.id; });
}

void Engine::ApplyWrite(std::uint64_t number, const WriteVariable& write) {
    WriteAnswer answer{number, false, {}};
    if (!FitsType(write.type, write.value)) {
        answer.reason = "value does not fit " + std::string(mcu::TypeName(write.type));
    } else {
        answer.ok = true;
        const auto bytes = mcu::EncodeValue(write.type, write.value, order_);
        const auto size = static_cast<std::size_t>(mcu::TypeSize(write.type));
        for (std::size_t i = 0; i < size && answer.ok; ++i) {
            answer.ok = mcu::SetVariable(appl_, write.name,
                                         static_cast<std::uint8_t>(write.offset + i), bytes[i]);
        }
        if (!answer.ok) {
            answer.reason = appl_.errorText;
        }
    }
    batch_.writes.push_back(std::move(answer));
}

int Engine::ScanWatches() {
    // Says whether this scan completed a read, whatever an earlier one did.
    watchDone_ = false;
    if (watches_.empty()) {
        return 0;
    }
    // A variable two watches share is read once in the scan.
    std::vector<std::pair<WatchItem, std::optional<double>>> read;
    int successes = 0;
    std::int64_t firstUs = 0;
    for (const Watch& w : watches_) {
        WatchedScan scan{w.id, scan_, 0, {}};
        scan.values.reserve(w.items.size());
        for (const WatchItem& item : w.items) {
            const auto known = std::find_if(read.begin(), read.end(),
                                            [&](const auto& r) { return r.first == item; });
            if (known != read.end()) {
                scan.values.push_back(known->second);
                continue;
            }
            mcu::TypedName typed;
            typed.address = item.address;
            typed.bitMask = item.mask;
            typed.type = item.mask != 0 ? mcu::VarType::Bit : item.type;
            mcu::TypedValue value;
            std::optional<double> got;
            if (mcu::ReadTypedValue(appl_, typed, order_, value)) {
                CountRead();
                ++successes;
                got = value.AsDouble();
                if (firstUs == 0) {
                    firstUs = SteadyUs();
                }
            }
            read.emplace_back(item, got);
            scan.values.push_back(got);
        }
        batch_.watched.push_back(std::move(scan));
    }
    const std::size_t watching = watches_.size();
    // Every watch of the scan carries the scan's first reply's time (or the scan's end).
    const std::int64_t at = firstUs != 0 ? firstUs : SteadyUs();
    for (std::size_t i = batch_.watched.size() - watching; i < batch_.watched.size(); ++i) {
        batch_.watched[i].arrivalUs = at;
    }
    // Reads of a number of scans end here; the burst ends with them.
    std::erase_if(watches_, [this](Watch& w) {
        if (w.scans > 0 && --w.scans == 0) {
            watchDone_ = true;
            return true;
        }
        return false;
    });
    return successes;
}

bool Engine::WatchDone() const {
    return watchDone_;
}

void Engine::PollWatchBurst() {
    const std::uint32_t start = static_cast<std::uint32_t>(foundation::ClockMs());
    int successes = 0;
    int scans = 0;
    do {
        ++scan_;
        ++scans;
        successes += ScanWatches();
        if (comlink::LinkDown() || comlink::LinkStopRequested() || commands_.Waiting() ||
            WatchDone()) {
            break;
        }
    } while (scans < kChannelSamples &&
             static_cast<std::uint32_t>(foundation::ClockMs()) - start <= kTimeBurstMs);
    NoteLink(successes == 0);
}

} // namespace acq
