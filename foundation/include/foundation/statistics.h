// The statistics block: running minimum and maximum, and the average of the last completed
// block of samples.
#pragma once

#include <cstdint>

namespace foundation {

struct StatBlock {
    double average = 0;
    double minimum = 0;
    double maximum = 0;
    double last = 0;
    double rms = 0;
    double sum = 0;
    double sumOfSquares = 0;
    std::int32_t count = -1;
    std::int32_t blockLength = 0;
};

void StatInit(StatBlock& s, std::int32_t blockLength, double initial);
// A NaN is left out.
void StatAdd(StatBlock& s, double x);
void StatFlush(StatBlock& s);

} // namespace foundation
