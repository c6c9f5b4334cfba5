#include "foundation/clock.h"

#include "foundation/numbers.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <thread>

namespace foundation {

namespace {

SteadyTickSource& Steady() {
    static SteadyTickSource steady;
    return steady;
}

TickSource* current = nullptr;

struct ClockOrigin {
    std::int64_t count = 0;
    std::int64_t frequency = 1;
};
ClockOrigin origin;

} // namespace

std::uint32_t SteadyTickSource::TickMs() {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<std::uint32_t>(ms.count());
}

std::int64_t SteadyTickSource::CounterNow() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::int64_t SteadyTickSource::CounterFrequency() {
    return 1000000000;
}

void SteadyTickSource::SleepMs(std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::uint32_t FakeClock::TickMs() {
    auto t = tickBase_ + static_cast<std::uint32_t>(nowUs_ / 1000);
    nowUs_ += autoStepUs_;
    return t;
}

TickSource& Clock() {
    return current ? *current : Steady();
}

void SetTickSource(TickSource* source) {
    current = source;
}

void CaptureClockOrigin() {
    origin.count = Clock().CounterNow();
    origin.frequency = Clock().CounterFrequency();
}

std::int32_t ClockMsFromCounts(std::int64_t elapsedCounts, std::int64_t frequency) {
    long double value =
        static_cast<long double>(elapsedCounts) / static_cast<long double>(frequency) * 1000.0L +
        10000.0L;
    // The default rounding mode rounds ties to even; only the low 32 bits are kept so a very
    // long run wraps instead of overflowing.
    auto rounded = static_cast<std::int64_t>(std::nearbyint(static_cast<double>(value)));
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(rounded));
}

std::int64_t CounterUs() {
    auto& clock = Clock();
    const std::int64_t counts = clock.CounterNow();
    const std::int64_t frequency = clock.CounterFrequency();
    // Whole seconds and the rest apart, so that a counter of nanoseconds cannot overflow.
    return counts / frequency * 1000000 + counts % frequency * 1000000 / frequency;
}

std::int32_t ClockMs() {
    return ClockMsFromCounts(Clock().CounterNow() - origin.count, origin.frequency);
}

void DelayMs(int ms) {
    if (ms > 0) {
        Clock().SleepMs(static_cast<std::uint32_t>(ms));
    }
}

std::int32_t HundredthsOf(int hours, int minutes, int seconds, int milliseconds) {
    return hours * 360000 + minutes * 6000 + seconds * 100 +
           static_cast<std::int32_t>(RoundHalfEven(milliseconds / 10.0));
}

std::int32_t TimeOfDayHundredths() {
    auto now = std::chrono::system_clock::now();
    std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&t, &local);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    return HundredthsOf(local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(ms.count()));
}

} // namespace foundation
