// Text forms of what the simulator holds: Intel HEX images of EEPROM and flash (so a test or
// the mcsim program can hand them over as files) and one line per recorded byte.
#pragma once

#include "sim/simulator.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// Data records of up to 16 bytes that never cross a 16-byte boundary, upper-case digits,
// then the end record. With written given only the bytes marked there are included.
std::string IntelHex(const std::vector<std::uint8_t>& data,
                     const std::vector<bool>* written = nullptr);

// "    2.083333 ms  ch1  MC>PC  AA" (times in ms from originUs).
std::string FormatTraffic(const TrafficEntry& entry, std::uint64_t originUs);

} // namespace sim
