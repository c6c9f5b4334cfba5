// What the simulated MCs are: their firmware settings, variables, EEPROM, loader, where they sit
// (three channels behind the control lines, a device bus behind each channel) and the faults
// the line suffers. Read from a scenario file (the format is in README.md) or built in code.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sim {

enum class WaveKind { None, Const, Counter, Counter16, Saw, Sine, Square, Walk, Follow };

// How a variable changes with time. Times are milliseconds since the simulation started.
struct Waveform {
    WaveKind kind = WaveKind::None;
    double periodMs = 1000; // counter, saw, sine, square: period; walk, follow: time per step
    int lo = 0;             // range of saw, sine, square, walk
    int hi = 255;
    int step = 1;             // counter: increment per period; walk: largest step
    int value = 0;            // const
    std::uint16_t source = 0; // follow: the address followed
    bool bigEndian = false;   // counter16: high byte at the variable's address
};

struct VariableConfig {
    std::string name;
    std::uint16_t address = 0; // 0 .. 0x7FF
    int bit = -1;              // 0..7 for a bit variable
    Waveform wave;
};

enum class EepromMode {
    None,       // 0xF8 is not answered
    Block,      // 0xF8 answered 0x07, blocks at the current rate
    Block19200, // 0xF8 answered 0xF8, the block runs at 19200 baud
    ByteMode,   // 0xF8 answered "C", byte by byte on addresses 0..47
};

inline constexpr std::uint32_t kMemorySize = 8 * 256;
inline constexpr std::uint32_t kEepromSize = 256;

struct MemoryInit {
    std::uint32_t address = 0;
    std::vector<std::uint8_t> bytes;
};

// One MC firmware.
struct DeviceConfig {
    std::string name;
    std::uint8_t applId = 0xFF;
    std::uint32_t baud = 9600; // the rate it listens at after a reset
    std::vector<VariableConfig> variables;
    std::vector<MemoryInit> memory;

    // Writes: request byte = (writeBase + A) mod 256 for A in writeLo..writeHi.
    std::uint8_t writeBase = 0x80;
    std::uint8_t writeLo = 0x00;
    std::uint8_t writeHi = 0x7F;
    // Page-0 address whose write starts streaming mode; none when the firmware has no COM_VARX.
    std::optional<std::uint8_t> comVarx;

    EepromMode eepromMode = EepromMode::Block;
    std::vector<MemoryInit> eeprom;
    std::uint32_t eepromWriteMs = 0; // time to store a block (or a byte in byte mode)

    bool hasLoader = false;
    std::uint8_t deviceCode = 0;
    std::uint32_t bootMs = 10;          // from the end of a reset to the greeting
    std::uint32_t loaderWindowMs = 500; // how long the loader waits for 0xA5 after the greeting
    bool startInLoader = false;         // no application: the loader runs after every reset
    std::uint32_t programMs = 0;        // time to program one block
    std::uint32_t flashSize = 0x10000;

    // A multi-byte exchange left unfinished this long is abandoned.
    std::uint32_t exchangeTimeoutMs = 1000;
};

struct ChannelConfig {
    std::string device;               // empty: nothing answers on this channel
    bool bus = false;                 // a device bus (probe 0xFD) behind this channel's MC
    std::array<std::string, 8> slots; // index 1..7; empty: no device in the slot
};

// Which control-line levels select a channel and which hold the MCs in reset.
enum class Wiring {
    ComThreeChannels, // RTS on/DTR off: channel 1, RTS off/DTR on: 2, both on: 3, both off: reset
    ComOneChannel,    // one MC; DTR on holds it in reset
    UsbAdapter,       // one MC; RTS on holds it in reset
};

// "every" hits the n-th, 2n-th ... affected byte; "fraction" hits each with that probability.
struct FaultRate {
    std::uint32_t every = 0;
    double fraction = 0;
    bool Active() const { return every > 0 || fraction > 0; }
};

struct FaultConfig {
    FaultRate drop;     // reply bytes never sent
    FaultRate echo;     // echo bytes sent with a bit flipped
    FaultRate noise;    // random bytes sent after a reply byte
    FaultRate checksum; // EEPROM sums and block status bytes sent with a bit flipped
    FaultRate late;     // reply bytes held back by lateMs
    std::uint32_t noiseCount = 1;
    std::uint32_t lateMs = 0;
    // The MCs vanish from the line (nothing in, nothing out) for forMs from atMs on,
    // again every everyMs when that is not 0.
    bool vanish = false;
    std::uint64_t vanishAtMs = 0;
    std::uint64_t vanishForMs = 0;
    std::uint64_t vanishEveryMs = 0;
};

struct Scenario {
    std::vector<DeviceConfig> devices;
    std::array<ChannelConfig, 4> channels; // index 1..3
    Wiring wiring = Wiring::ComThreeChannels;
    int ptyChannel = 1;
    std::uint64_t seed = 1;
    std::uint32_t latencyUs = 0;
    // Each answer's time is drawn evenly from latencyUs - jitter/2 .. latencyUs + jitter/2
    // (never below 0), from the scenario's seed.
    std::uint32_t latencyJitterUs = 0;
    FaultConfig faults;

    const DeviceConfig* FindDevice(const std::string& name) const;
};

// Parses a scenario text. On failure returns false and error names the line: "line 7: ...".
bool ParseScenario(const std::string& text, Scenario& scenario, std::string& error);
bool LoadScenarioFile(const std::string& path, Scenario& scenario, std::string& error);

} // namespace sim
