// The VELON bus device list (the local device and the applications in bus slots 1..7) and the
// MC reset pulses.
#pragma once

#include "mcu/appl.h"

#include <cstdint>

namespace mcu {

bool ProbeDevice(std::uint8_t request, std::uint8_t& reply);
// The scope's list, kept for the whole run and built at most once.
void BuildDeviceList();
const DeviceList& ScopeDeviceList();
std::int32_t ScopeLastDeviceIndex();
// The selector's list, kept in the record and rebuilt on every call.
void BuildDeviceList(MCAppl& appl);
bool QueryCurrentDevice(MCAppl& appl);
bool SelectDevice(MCAppl& appl, std::int32_t index);
void ResetMC();
void ResetMCAndWait();

} // namespace mcu
