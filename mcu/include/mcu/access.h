// The byte exchanges that read and write single bytes of the running MC application's memory,
// the bus device list, the MC reset, and identification and opening of the application.
#pragma once

#include "mcu/appl.h"

#include <cstdint>
#include <string>

namespace mcu {

// Every reply of the variable protocol is awaited this many 10 ms ticks.
inline constexpr std::uint16_t ReplyTimeout = 25;

// The two programs read variables and build the bus list slightly differently; each sets its
// kind once at start-up.
enum class ProgramKind { Scope, Selector };
void SetProgramKind(ProgramKind kind);
ProgramKind CurrentProgramKind();

bool ReadVariable(MCAppl& appl, std::uint16_t address, std::uint8_t offset, std::uint8_t& value);
bool SetVariable(MCAppl& appl, const std::string& name, std::uint8_t offset, std::uint8_t value);
bool SetDebugAddress(MCAppl& appl, const std::string& name, std::uint8_t offset,
                     std::uint8_t value);
bool EndDebugAddress(MCAppl& appl);
bool ReadDebugSample(MCAppl& appl, std::uint16_t address, std::uint8_t offset, std::uint8_t& value,
                     std::uint8_t& second);
void CountTransfers(MCAppl& appl, std::uint8_t count);

// Bus device list.
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

// Identification and opening.
bool IdentifyMCAppl(MCAppl& appl, bool& answered, std::string& varFileName);
bool OpenMCAppl(MCAppl& appl);
void InitMCAppl(MCAppl& appl);
void CloseMCAppl(MCAppl& appl);

// Puts the module state back as at start-up (program kind, the scope's device list).
void ResetMcuModule();

} // namespace mcu
