// MCSYSU: which board and loader firmware sit at the far end of the link. A reset makes the
// loader greet; the query 0xA5 gets its one-byte device code, which names the board, sets the
// published device bounds and, for the faster loaders, the line speed. The loader also takes
// blocks of program memory (SendProgBlock), which the flash transfer of EEPMemU sends.
//
// Link failures here are fatal: FatalStop resets the MC, closes the link and ends the program
// through foundation::FatalError. A test's fatal handler returns instead; the operations then
// return false (or status 0xFF) at once, with the link closed, and do nothing more.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace selector {

// The module state, one per process.
struct McSysState {
    std::uint8_t DeviceCode = 0; // last identification code; 0 = none
    // Bounds published for client code; this module never reads them.
    std::int32_t DevRangeLow = 0;
    std::int32_t DevLimit = 0;
    std::int32_t DevRangeHigh = 0;
    std::int32_t DevLimit2 = 0;
    std::int32_t DevLimit3 = 0;
    // The device is known to use the 0xF8 block protocol: no identification traffic.
    bool FixedProtocol = false;
    // Dry run: nothing is sent, nothing awaited. On when no port is configured.
    bool NoLink = false;
    // Selects the larger DevLimit for the codes 0x50 and 0x57.
    bool LargeFlash = false;
    // When above 0, fatal messages start with "Record nnnn: ".
    std::uint16_t RecordNo = 0;
    // A source file with a PROCESSOR line, read instead of the link when NoLink is on.
    std::string ProcessorFile;
    // A console line of MapDeviceCode is written only when print level AND PrintMask != 0.
    std::uint8_t PrintMask = 0;
};

McSysState& McSys();
// Start values, as before InitMcSys.
void ResetMcSys();
// Program start-up, after the link has read its port setting: start values, and NoLink on
// when the link has no port.
void InitMcSys();

// One block of program memory for the loader.
struct ProgBlock {
    std::uint8_t Count = 0; // data bytes that follow, 0..32
    std::uint8_t AddrHi = 0;
    std::uint8_t AddrLo = 0;
    std::array<std::uint8_t, 32> Data{};
};

inline constexpr std::size_t kMaxProgBlock = 32;

// Resets the MC, asks its loader for the device code and maps it (MapDeviceCode). False only
// when a fatal stop came back (test handlers).
bool IdentifyDevice(std::uint8_t printLevel, bool zeroIsError);
// Turns DeviceCode into the console line, the bounds and the line speed. An unknown code
// (and 0 with zeroIsError) is a fatal stop. False only when that stop came back.
bool MapDeviceCode(std::uint8_t printLevel, bool zeroIsError);
// DeviceCode from the PROCESSOR line of ProcessorFile; 0 when there is none.
void DeviceFromProcessorFile();
// Sends one block to the loader and returns its status byte, 0 = accepted. A Count above 32
// is taken as 32. Returns 0xFF when a fatal stop came back (test handlers).
std::uint8_t SendProgBlock(const ProgBlock& block);
// The same, telling apart a status from a fatal stop that came back (false).
bool SendProgBlock(const ProgBlock& block, std::uint8_t& status);
// Resets the MC, closes the link and ends the program with the message (see FatalStopText).
void FatalStop(const std::string& message);
// The message as FatalStop shows it: with RecordNo above 0, "Record " + the number
// right-aligned in 4 characters (a longer one cut to its first 4) + ": " + message.
std::string FatalStopText(const std::string& message);

} // namespace selector
