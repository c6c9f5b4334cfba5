// What the MC side and the file side of EEPMemU share: which bytes a write takes, how the
// bytes are cut into blocks, and the transfer clock.
#pragma once

#include "selector/eepmem.h"

#include <cstdint>
#include <string>

namespace selector::detail {

inline constexpr std::int32_t kBlockSize = 16;

inline bool Takeable(const oEEPMem& image, std::int32_t address) {
    const std::uint8_t mark = image.Marks[static_cast<std::size_t>(address)];
    return mark >= 1 && mark <= 127;
}

// The addresses Data and Marks really hold (Size unless a client changed the fields by hand),
// and the end of what a write walks: Used within them.
std::int32_t Capacity(const oEEPMem& image);
std::int32_t End(const oEEPMem& image);

// Consecutive takeable bytes from address on: at most 16, never past the next multiple of
// 16, Size or Used.
std::int32_t TakeableRun(const oEEPMem& image, std::int32_t address);

// Hundredths of a second on the program's tick, for the transfer statistics. The tick runs
// through midnight (a time of day would not) and follows a test's fake clock.
std::uint32_t NowHundredths();
std::int32_t ElapsedHundredths(std::uint32_t since);

// The file side and flash mode (eepmem_hex.cpp).
bool ReadHexFile(oEEPMem& image, const std::string& fileName, std::uint32_t start,
                 std::uint32_t length);
bool WriteHexFile(oEEPMem& image, const std::string& fileName);
bool WriteFlash(oEEPMem& image);

} // namespace selector::detail
