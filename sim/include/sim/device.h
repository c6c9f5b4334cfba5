// One simulated MC: the firmware side of the variable protocol, streaming mode, the EEPROM
// block and byte protocols, and the loader with its greeting after a reset. It knows nothing
// of wires: it is handed each byte at the time it was received and answers with the bytes to
// send (and the rate changes and pauses between them); the simulator puts them on the line.
#pragma once

#include "sim/scenario.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace sim {

// Why a byte is sent; faults pick their victims by it.
enum class ByteRole : std::uint8_t { Reply, Echo, Sum, Status, Greeting };

struct TxAction {
    enum class Kind : std::uint8_t { Byte, Baud, Pause };
    Kind kind = Kind::Byte;
    std::uint8_t byte = 0;
    ByteRole role = ByteRole::Reply;
    std::uint32_t baud = 0;    // Baud: the rate from here on (sending and listening)
    std::uint64_t pauseNs = 0; // Pause: time the firmware spends before what follows
};
using TxActions = std::vector<TxAction>;

class Device {
public:
    enum class Mode { Reset, Booting, LoaderWindow, Loader, Application };

    // originNs: the simulation's time zero, from which the waveforms run.
    Device(const DeviceConfig& config, std::uint64_t seed, std::uint64_t originNs);

    // Power-on, or the end of a reset, at time t.
    void Start(std::uint64_t tNs);
    void HoldInReset();
    // One byte fully received at time t.
    void Receive(std::uint8_t b, std::uint64_t tNs, TxActions& out);
    // The next time the firmware acts on its own (greeting, end of the loader's window, an
    // abandoned exchange).
    std::optional<std::uint64_t> NextTimerNs() const;
    void OnTimer(std::uint64_t tNs, TxActions& out);

    // The rate the UART runs at now; the simulator applies scheduled Baud actions through
    // SetBaud when their time comes.
    std::uint32_t Baud() const { return baud_; }
    void SetBaud(std::uint32_t baud) { baud_ = baud; }

    // True when the application waits for a new request, so that a bus master in front of it
    // may take the byte 0xFD.
    bool ReadyForBus() const;
    // Forgets a half-done exchange (the bus master took the line).
    void CancelExchange();

    // Inspection and set-up for tests, the program's dumps and the bus master.
    const DeviceConfig& Config() const { return config_; }
    Mode CurrentMode() const { return mode_; }
    bool Streaming() const { return streaming_; }
    std::uint8_t XAddress() const { return xAddress_; }
    // Brings the time-driven variables up to time t.
    void Refresh(std::uint64_t tNs);
    std::uint8_t Memory(std::uint32_t address) const { return memory_[address % kMemorySize]; }
    void SetMemory(std::uint32_t address, std::uint8_t value) {
        memory_[address % kMemorySize] = value;
    }
    std::array<std::uint8_t, kEepromSize>& Eeprom() { return eeprom_; }
    const std::array<std::uint8_t, kEepromSize>& Eeprom() const { return eeprom_; }
    // Flash as programmed through the loader (0xFF where nothing was written).
    const std::vector<std::uint8_t>& Flash() const { return flash_; }
    const std::vector<bool>& FlashWritten() const { return flashWritten_; }

private:
    enum class Step {
        Idle,
        Armed,         // after 0x07: the next byte may be a write request
        PageLow,       // after 0xF0 + p: the low address byte
        WriteValue,    // after a write request: the value
        BlockRequest,  // after the EEPROM handshake: the first byte of a block
        ReadHeader,    // address high, address low, check of a block read
        ReadAck,       // the host's answer to a data byte of a block read
        WriteBlock,    // address, data and check of a block write or program block
        ByteMode,      // after the "C" handshake: byte-mode requests
        ByteWriteData, // the value of a byte-mode write
    };

    struct VariableState {
        long long lastStep = -1;
        int value = 0;
        std::uint64_t random = 0;
    };

    void ServeApplication(std::uint8_t b, TxActions& out);
    void ServeLoader(std::uint8_t b, TxActions& out);
    bool ServeBlockSteps(std::uint8_t b, TxActions& out);
    void Handshake(TxActions& out);
    void BlockRequest(std::uint8_t b, TxActions& out);
    void FinishWriteBlock(TxActions& out);
    void EndBlock(TxActions& out);
    void LoaderQuery(TxActions& out);
    bool IsWriteRequest(std::uint8_t b, std::uint8_t& address) const;
    void StoreVariable(const VariableConfig& v, int value);
    int Evaluate(std::size_t index, double ms);

    static void Send(TxActions& out, std::uint8_t b, ByteRole role = ByteRole::Reply);

    DeviceConfig config_;
    std::uint64_t originNs_;
    std::array<std::uint8_t, kMemorySize> memory_{};
    std::array<std::uint8_t, kEepromSize> eeprom_{};
    std::vector<std::uint8_t> flash_;
    std::vector<bool> flashWritten_;
    std::vector<VariableState> variableState_;

    Mode mode_ = Mode::Reset;
    Step step_ = Step::Idle;
    std::uint32_t baud_;
    std::uint32_t restBaud_; // the rate a 19200-baud EEPROM block returns to
    bool blockBaud_ = false; // a 19200-baud EEPROM block is running
    std::uint64_t greetingAtNs_ = 0;
    std::uint64_t windowEndNs_ = 0;
    std::uint64_t lastByteNs_ = 0;

    bool streaming_ = false;
    std::uint8_t xAddress_ = 0;
    std::uint8_t page_ = 0;
    std::uint8_t writeAddress_ = 0;

    // Block in progress.
    std::uint8_t blockCount_ = 0;
    std::vector<std::uint8_t> blockBytes_;
    std::uint32_t blockAddress_ = 0;
    std::uint8_t blockIndex_ = 0;
    std::uint8_t blockSum_ = 0;
};

// The rate a loader switches to after it has sent device code code; 0 when it stays.
std::uint32_t LoaderBaudForCode(std::uint8_t code);

} // namespace sim
