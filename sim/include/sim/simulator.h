// The simulated far end of the link: up to three MCs behind the control lines, a device bus
// behind each, and the wire between them and the PC, with every byte taking 10 bit times at
// the rate of its sender. Nothing here reads a clock: every call says what time it is (in
// microseconds on any steady scale), so the same core runs under a test's fake clock and,
// in the mcsim program, under the real one.
//
// The PC's end of the wire is the group of calls below marked "PC side": an in-memory link
// writes the PC's bytes with Write, takes the MC's replies with ReadByte or ReadAll, and passes
// on the PC's rate and control lines. NextEventUs tells a waiter under a fake clock how far it
// may jump.
#pragma once

#include "sim/device.h"
#include "sim/scenario.h"

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace sim {

struct TrafficEntry {
    enum class Direction : std::uint8_t {
        ToMc, // a byte an MC received (as its UART decoded it)
        ToPc, // a byte an MC (or a bus master) sent
    };
    Direction direction = Direction::ToMc;
    std::uint8_t byte = 0;
    int channel = 0;           // 1..3; 0: no MC was listening (ToMc only)
    int slot = 0;              // bus slot of the device; 0: the channel's own MC or its bus master
    std::uint64_t startNs = 0; // on the wire from ...
    std::uint64_t endNs = 0;   // ... to (received at / arrived at the PC at)
    bool heard = true;         // ToPc: reached the PC (channel selected, device addressed,
                               // not vanished)
};

struct FaultCounters {
    std::uint64_t replies = 0; // bytes the firmware asked to send
    std::uint64_t dropped = 0;
    std::uint64_t wrongEchoes = 0;
    std::uint64_t noiseBytes = 0;
    std::uint64_t wrongChecksums = 0;
    std::uint64_t late = 0;
    std::uint64_t vanished = 0; // bytes lost in either direction while the MCs were gone
};

class Simulator {
public:
    explicit Simulator(const Scenario& scenario, std::uint64_t startUs = 0);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // --- PC side -------------------------------------------------------------------------
    // The PC puts b on the line at nowUs (after whatever it sent before). Returns the time
    // (rounded up to a microsecond) at which its last bit has left the PC.
    std::uint64_t Write(std::uint8_t b, std::uint64_t nowUs);
    // Bytes that have fully arrived at the PC by nowUs, oldest first.
    std::size_t Available(std::uint64_t nowUs);
    std::optional<std::uint8_t> ReadByte(std::uint64_t nowUs);
    std::vector<std::uint8_t> ReadAll(std::uint64_t nowUs);
    // When the PC's transmitter is empty (what OUTBUFFER waits for).
    std::uint64_t PcTxIdleUs() const;
    // Bytes the PC has written that have not yet reached the MCs.
    std::size_t PendingToMc() const { return toMc_.size(); }
    // The rate the PC's UART runs at; bytes at another rate turn to garbage on the way.
    void SetPcBaud(std::uint32_t baud, std::uint64_t nowUs);
    std::uint32_t PcBaud() const { return pcBaud_; }
    // Levels of the PC's RTS and DTR lines (true = on).
    void SetLines(bool rts, bool dtr, std::uint64_t nowUs);
    // The earliest time after the last processed one at which a byte may arrive at the PC or
    // an MC may act on its own; nothing when all is quiet.
    std::optional<std::uint64_t> NextEventUs() const;
    // The earliest time at which a byte now on its way reaches the PC.
    std::optional<std::uint64_t> NextDeliveryUs() const;
    // Processes everything that happens up to nowUs. Every call above does this first.
    void AdvanceTo(std::uint64_t nowUs);
    // The last time processed, in microseconds (rounded down).
    std::uint64_t LastUs() const { return nowNs_ / 1000; }

    // --- set-up --------------------------------------------------------------------------
    // Without pacing bytes take no time and rates are not compared (throughput tests).
    void SetPacing(bool on) { pacing_ = on; }
    void SetLatencyUs(std::uint64_t us, std::uint64_t jitterUs = 0) {
        latencyNs_ = us * 1000;
        jitterNs_ = jitterUs * 1000;
    }
    void SetFaults(const FaultConfig& faults);
    const FaultConfig& Faults() const { return faults_; }
    // Takes every MC off the line (or brings them back) from nowUs on.
    void SetVanished(bool vanished, std::uint64_t nowUs);

    // --- inspection ----------------------------------------------------------------------
    // The device at a channel (1..3) and bus slot (0 = the channel's own MC); nullptr if none.
    Device* DeviceAt(int channel, int slot = 0);
    // The channel the control lines select now (0 while the lines hold the MCs in reset).
    int SelectedChannel() const;
    bool InReset() const;
    // The bus slot a channel's link is switched to (0 = its own MC).
    int CurrentSlot(int channel) const;
    const std::vector<TrafficEntry>& Traffic() const { return traffic_; }
    void ClearTraffic() { traffic_.clear(); }
    void SetRecording(bool on) { recording_ = on; }
    const FaultCounters& Counters() const { return counters_; }

private:
    struct Pending {
        std::uint64_t startNs;
        std::uint64_t endNs;
        std::uint8_t byte;
        std::uint32_t baud;
    };
    // One sender's line towards the PC.
    struct Transmitter {
        std::deque<Pending> queue;
        std::deque<std::pair<std::uint64_t, std::uint32_t>> rateChanges;
        std::uint64_t freeNs = 0;
    };
    struct Unit {
        std::unique_ptr<Device> device;
        int channel = 0;
        int slot = 0;
        Transmitter tx;
    };
    struct Channel {
        int local = -1;             // unit index of the channel's own MC
        std::array<int, 8> slots{}; // unit index per bus slot 1..7, -1 = empty
        bool bus = false;
        int current = 0;              // bus slot the link is switched to
        bool awaitingRequest = false; // bus probe: 0x5A sent, the request byte is next
        std::uint64_t probeNs = 0;
        Transmitter busTx; // the bus master's replies
    };
    enum class EventKind { RateChange, Delivery, Timer, BusTimeout, Arrival };

    void ProcessOne(std::uint64_t limitNs, bool& any);
    void Deliver(Transmitter& tx, int channel, int slot, bool busMaster);
    void Arrive();
    void Dispatch(int channelIndex, std::uint8_t b, std::uint64_t tNs);
    void ServeBus(Channel& channel, std::uint8_t request, std::uint64_t tNs);
    void Schedule(Transmitter& tx, std::uint32_t rate, std::uint64_t tNs, const TxActions& actions);
    std::uint64_t AnswerDelayNs();
    void Emit(Transmitter& tx, std::uint64_t& cursor, std::uint32_t rate, const TxAction& a);
    bool Hit(const FaultRate& rate, std::uint64_t& count);
    bool VanishedAt(std::uint64_t tNs) const;
    std::uint64_t Frame(std::uint32_t baud) const;
    std::uint32_t ScheduledRate(const Transmitter& tx, std::uint32_t current) const;
    int ChannelUnit(int channel) const;
    void ApplyLines(bool rts, bool dtr);
    void Record(const TrafficEntry& entry);

    std::vector<Unit> units_;
    std::array<Channel, 4> channels_{};
    std::deque<Pending> toMc_;
    std::deque<std::uint8_t> pcRx_;

    std::uint64_t originNs_;
    std::uint64_t nowNs_;
    std::uint64_t pcTxFreeNs_;
    std::uint32_t pcBaud_ = 9600;
    bool rts_ = true;
    bool dtr_ = false;
    Wiring wiring_;
    bool pacing_ = true;
    std::uint64_t latencyNs_ = 0;
    std::uint64_t jitterNs_ = 0;
    // Apart from the faults' generator, so a jitter leaves the faults where they were.
    std::mt19937_64 jitterRandom_;

    FaultConfig faults_;
    FaultCounters counters_;
    std::uint64_t dropCount_ = 0;
    std::uint64_t echoCount_ = 0;
    std::uint64_t noiseCount_ = 0;
    std::uint64_t checksumCount_ = 0;
    std::uint64_t lateCount_ = 0;
    std::mt19937_64 random_;
    bool vanishedByHand_ = false;

    std::vector<TrafficEntry> traffic_;
    bool recording_ = true;
};

} // namespace sim
