// Time sources: the millisecond tick that every link time-out counts against, the
// high-resolution counter behind ClockMs, the sleep used for fixed pauses, and the time of day.
// Tests swap the whole source for a FakeClock so that no test waits for real.
#pragma once

#include <cstdint>

namespace foundation {

class TickSource {
public:
    virtual ~TickSource() = default;
    // Milliseconds since an arbitrary origin; wraps at 2^32 like the system tick.
    virtual std::uint32_t TickMs() = 0;
    // High-resolution counter and its counts per second.
    virtual std::int64_t CounterNow() = 0;
    virtual std::int64_t CounterFrequency() = 0;
    // Blocks the calling thread for ms milliseconds (a fake clock advances instead).
    virtual void SleepMs(std::uint32_t ms) = 0;
    // Lets a waiter that blocks on something other than the clock (a file descriptor)
    // know whether real time passes, so it can block for real or just advance.
    virtual bool IsReal() const { return true; }
    // SleepMs blocks the thread for real time: a waiter that can be woken early (a request to
    // stop) may block on its own instead. Sources made for tests skip or advance instead.
    virtual bool SleepsForReal() const { return false; }
};

class SteadyTickSource final : public TickSource {
public:
    std::uint32_t TickMs() override;
    std::int64_t CounterNow() override;
    std::int64_t CounterFrequency() override;
    void SleepMs(std::uint32_t ms) override;
    bool SleepsForReal() const override { return true; }
};

// A clock that only moves when told to. Reading the tick may also advance it by a fixed
// step, so that code polling the tick in a loop makes progress without real time passing.
class FakeClock final : public TickSource {
public:
    explicit FakeClock(std::uint32_t startTickMs = 0) : tickBase_(startTickMs) {}

    std::uint32_t TickMs() override;
    std::int64_t CounterNow() override { return static_cast<std::int64_t>(nowUs_); }
    std::int64_t CounterFrequency() override { return 1000000; }
    void SleepMs(std::uint32_t ms) override { AdvanceUs(std::uint64_t{ms} * 1000); }
    bool IsReal() const override { return false; }

    void AdvanceMs(std::uint32_t ms) { AdvanceUs(std::uint64_t{ms} * 1000); }
    void AdvanceUs(std::uint64_t us) { nowUs_ += us; }
    // Every TickMs() read moves time on by this many microseconds (0: never).
    void SetAutoStepUs(std::uint64_t us) { autoStepUs_ = us; }
    std::uint64_t NowUs() const { return nowUs_; }

private:
    std::uint32_t tickBase_;
    std::uint64_t nowUs_ = 0;
    std::uint64_t autoStepUs_ = 0;
};

// The source in use; the steady clock unless a test installed another.
TickSource& Clock();
// Installs source (not owned); nullptr puts the steady clock back.
void SetTickSource(TickSource* source);

// RAII installation of a fake clock for one test.
class ScopedTickSource {
public:
    explicit ScopedTickSource(TickSource& source) { SetTickSource(&source); }
    ~ScopedTickSource() { SetTickSource(nullptr); }
    ScopedTickSource(const ScopedTickSource&) = delete;
    ScopedTickSource& operator=(const ScopedTickSource&) = delete;
};

inline std::uint32_t TickMs() {
    return Clock().TickMs();
}

// Captures the origin of ClockMs from the current source; done once at start-up.
void CaptureClockOrigin();
// Milliseconds since the origin plus 10000, rounded half to even, low 32 bits.
std::int32_t ClockMs();
// The conversion ClockMs applies, exposed so its rounding can be checked directly.
std::int32_t ClockMsFromCounts(std::int64_t elapsedCounts, std::int64_t frequency);
// The source's high-resolution counter in microseconds (arbitrary origin): what the protocol's
// reply waits and the arrival times of samples are measured in.
std::int64_t CounterUs();

// A fixed pause of the calling thread; ms <= 0 returns at once.
void DelayMs(int ms);

// Hundredths of a second since local midnight.
std::int32_t TimeOfDayHundredths();
std::int32_t HundredthsOf(int hours, int minutes, int seconds, int milliseconds);

} // namespace foundation
