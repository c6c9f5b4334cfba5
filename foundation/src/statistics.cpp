#include "foundation/statistics.h"

#include <cmath>

namespace foundation {

void StatInit(StatBlock& s, std::int32_t blockLength, double initial) {
    s.blockLength = blockLength;
    s.sum = 0;
    s.sumOfSquares = 0;
    s.count = -1;
    s.average = initial;
    s.rms = initial;
    s.last = initial;
}

void StatAdd(StatBlock& s, double x) {
    // A float variable can hold NaN, which would make the block's sum, and so its average,
    // NaN for good: it is not a value to count.
    if (std::isnan(x)) {
        return;
    }
    if (s.count < 0) {
        s.count = 0;
    }
    if (s.count == 0) {
        // The block's first value, not a bound guessed for bytes: a float can lie beyond any.
        s.minimum = x;
        s.maximum = x;
    }
    if (x > s.maximum) {
        s.maximum = x;
    }
    if (x < s.minimum) {
        s.minimum = x;
    }
    ++s.count;
    s.sum += x;
    s.sumOfSquares += x * x;
    s.last = x;
    if (s.count == s.blockLength) {
        StatFlush(s);
    }
}

void StatFlush(StatBlock& s) {
    if (s.count > 0) {
        s.average = s.sum / s.count;
        s.rms = std::sqrt(s.sumOfSquares / s.count);
    }
    s.count = 0;
    s.sum = 0;
    s.sumOfSquares = 0;
}

} // namespace foundation
