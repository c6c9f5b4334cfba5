#include "selector/mcsys.h"

#include "foundation/clock.h"
#include "foundation/fatal.h"
#include "foundation/numbers.h"
#include "foundation/text_file.h"
#include "link/link_port.h"
#include "mcu/bus.h"
#include "selector/console.h"

#include <algorithm>

namespace selector {

namespace {

constexpr std::uint8_t kGreeting = 0xAA;
constexpr std::uint8_t kQuery = 0xA5;
constexpr std::uint8_t kBlockHandshake = 0xF8;
constexpr std::uint8_t kReady = 0x07;
// ReceiveByte counts in 10 ms ticks.
constexpr std::uint16_t kGreetingTicks = 15;
constexpr std::uint16_t kAnswerTicks = 50;

// In which order a row's effects happen; the line shows the rate only when the rate came
// first, and the bounds are in place before a faster loader's line for the PIC18 boards.
enum class Order { LineBoundsBaud, BaudLineBounds, BoundsLineBaud };

struct DeviceRow {
    std::uint8_t code;
    const char* text;
    std::int32_t low;
    std::int32_t limit;
    std::int32_t largeLimit; // with LargeFlash
    std::int32_t high;
    std::int32_t limit2;
    std::int32_t limit3; // -1: the row leaves DevLimit3 at 0x7FFF
    std::uint16_t baud;  // 0: the rate stays
    std::uint8_t mapsTo; // 0: the code stays
    Order order;
};

constexpr DeviceRow kDevices[] = {
    {0x11, "Fendaro with EPROM", 0, 0xFFFF, 0xFFFF, 0x7FFF, 0xFFFF, -1, 0, 0,
     Order::LineBoundsBaud},
    {0x12, "Fendaro with EEPROM X88C64", 4088, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, -1, 0, 0,
     Order::LineBoundsBaud},
    {0x20, "Fendaro with EEPROM X88C64 / V2.0", 110, 0x1C00, 0x1C00, 175, 0xFFFF, -1, 0, 0,
     Order::LineBoundsBaud},
    {0x2A, "Orimel with EEPROM X88C64", 110, 0x1E80, 0x1E80, 175, 0xFFFF, -1, 0, 0,
     Order::LineBoundsBaud},
    {0x2B, "Orimel with EEPROM X88C64, block write", 0xFFFF, 0x1F00, 0x1F00, 0xFFFF, 0xFFFF, -1, 0,
     0, Order::LineBoundsBaud},
    {0x30, "Quilast for PIC 17C75X", 0xFFFF, 0x4000, 0x4000, 0xFFFF, 0xFFFF, -1, 0, 0,
     Order::LineBoundsBaud},
    {0x31, "Quilast for PIC 16F684", 0xFFFF, 0x1000, 0x1000, 0xFFFF, 0xFFFF, 0x4000, 0, 0,
     Order::LineBoundsBaud},
    {0x32, "Pelmarin (PIC 16F87x loading)", 120, 0x3D00, 0x3D00, 126, 0xFFFF, -1, 0, 0,
     Order::LineBoundsBaud},
    {0x34, "Veskant (PIC 16F870 loading)", 120, 0x0DA0, 0x0DA0, 126, 0xFFFF, -1, 0, 0,
     Order::LineBoundsBaud},
    {0x36, "Pelmarin 19200 Baud (PIC 16F87x loading)", 120, 0x3D00, 0x3D00, 126, 0xFFFF, -1, 19200,
     0x32, Order::LineBoundsBaud},
    {0x40, "Quilast for PIC 17C75X, ", 0xFFFF, 0x4000, 0x4000, 0xFFFF, 0xFFFF, -1, 19200, 0x30,
     Order::BaudLineBounds},
    {0x42, "Quilast for PIC 17C75X, ", 0xFFFF, 0x4000, 0x4000, 0xFFFF, 0xFFFF, -1, 28800, 0x30,
     Order::BaudLineBounds},
    {0x50, "Lorpeth 19200 Baud (PIC 18Fxx2 loading)", 0, 0x7D00, 0x8000, 511, 0xFFFF, -1, 19200, 0,
     Order::BoundsLineBaud},
    {0x55, "Tamselo 19200 Baud (PIC 18Fxx31 loading)", 0, 0x4000, 0x4000, 511, 0xFFFF, -1, 19200, 0,
     Order::BoundsLineBaud},
    {0x57, "Gandoral 19200 Baud (PIC 18F1320 loading)", 0, 0x1E00, 0x2000, 511, 0xFFFF, -1, 19200,
     0, Order::BoundsLineBaud},
};

const DeviceRow* FindDevice(std::uint8_t code) {
    for (const auto& row : kDevices) {
        if (row.code == code) {
            return &row;
        }
    }
    return nullptr;
}

struct ProcessorName {
    const char* name;
    std::uint8_t code;
};

constexpr ProcessorName kProcessors[] = {
    {"16F684", 0x31}, {"18F252", 0x50}, {"18F452", 0x50}, {"18F4431", 0x55}, {"18F1320", 0x57},
};

} // namespace

McSysState& McSys() {
    static McSysState state;
    return state;
}

void ResetMcSys() {
    McSys() = McSysState{};
}

void InitMcSys() {
    ResetMcSys();
    McSys().NoLink = comlink::PortNumber() == 0;
}

bool IdentifyDevice(std::uint8_t printLevel, bool zeroIsError) {
    McSysState& s = McSys();
    comlink::SetBaud(9600);
    if (s.FixedProtocol) {
        s.DeviceCode = kBlockHandshake;
        s.DevRangeLow = 0x2000;
        s.DevRangeHigh = 0xFFFF;
        s.DevLimit = 0xFFFF;
        s.DevLimit2 = 0xFFFF;
        return true;
    }
    if (s.NoLink) {
        DeviceFromProcessorFile();
        return MapDeviceCode(printLevel, zeroIsError);
    }

    comlink::PurgeInput();
    // With three channels, channel 1's select line is held off across the pulse and put on
    // again after it, so that the MC comes out of reset on channel 1 whatever was selected.
    const bool channels = comlink::ChannelCount() > 1;
    if (channels) {
        comlink::LineOff(2);
    }
    mcu::ResetMC();
    if (channels) {
        comlink::LineOn(2);
    }
    comlink::SelectChannel(1);

    bool greeted = false;
    for (int attempt = 0; attempt < 2 && !greeted; ++attempt) {
        std::uint8_t b = 0;
        greeted = comlink::ReceiveByte(b, kGreetingTicks) && b == kGreeting;
    }
    if (greeted) {
        comlink::PurgeInput();
    } else {
        // A loader that missed the first pulse gets another one; the query goes out anyway.
        mcu::ResetMCAndWait();
    }

    if (!comlink::SendByte(kQuery)) {
        FatalStop("not ready to send");
        return false;
    }
    std::uint8_t code = 0;
    if (!comlink::ReceiveByte(code, kAnswerTicks)) {
        FatalStop("no answer from MC");
        return false;
    }
    s.DeviceCode = code;
    if (channels) {
        comlink::LineOn(2);
    }
    foundation::DelayMs(50);
    return MapDeviceCode(printLevel, zeroIsError);
}

bool MapDeviceCode(std::uint8_t printLevel, bool zeroIsError) {
    McSysState& s = McSys();
    s.DevLimit3 = 0x7FFF;
    const DeviceRow* row = FindDevice(s.DeviceCode);
    if (row == nullptr) {
        if (s.DeviceCode == 0 && !zeroIsError) {
            return true;
        }
        FatalStop("connected to unknown device : $" + foundation::ByteToHex(s.DeviceCode));
        return false;
    }

    const bool print = (printLevel & s.PrintMask) != 0;
    auto line = [&] {
        if (!print) {
            return;
        }
        std::string text = std::string("connected to device : ") + row->text;
        if (row->order == Order::BaudLineBounds) {
            text += std::to_string(row->baud) + " Baud";
        }
        ConsoleLine(text);
    };
    auto bounds = [&] {
        s.DevRangeLow = row->low;
        s.DevLimit = s.LargeFlash ? row->largeLimit : row->limit;
        s.DevRangeHigh = row->high;
        s.DevLimit2 = row->limit2;
        if (row->limit3 >= 0) {
            s.DevLimit3 = row->limit3;
        }
    };
    auto baud = [&] {
        if (row->baud != 0) {
            comlink::SetBaud(row->baud);
        }
    };

    switch (row->order) {
    case Order::LineBoundsBaud:
        line();
        bounds();
        baud();
        break;
    case Order::BaudLineBounds:
        baud();
        line();
        bounds();
        break;
    case Order::BoundsLineBaud:
        bounds();
        line();
        baud();
        break;
    }
    if (row->mapsTo != 0) {
        s.DeviceCode = row->mapsTo;
    }
    return true;
}

void DeviceFromProcessorFile() {
    McSysState& s = McSys();
    s.DeviceCode = 0;
    foundation::TTextFile tf;
    if (!foundation::OpenTextFile(tf, s.ProcessorFile)) {
        return;
    }
    do {
        std::string token;
        if (foundation::NextToken(tf, token) && token == "PROCESSOR") {
            std::string name;
            foundation::NextToken(tf, name);
            for (const auto& p : kProcessors) {
                if (name == p.name) {
                    s.DeviceCode = p.code;
                }
            }
            break;
        }
    } while (foundation::NextLine(tf));
    foundation::CloseTextFile(tf);
}

bool SendProgBlock(const ProgBlock& block, std::uint8_t& status) {
    McSysState& s = McSys();
    status = 0;
    const auto count = static_cast<std::uint8_t>(std::min<std::size_t>(block.Count, kMaxProgBlock));
    if (count == 0) {
        return true;
    }
    // A dry run sends nothing at all, the handshake included.
    const bool handshake = s.FixedProtocol && !s.NoLink;
    if (handshake) {
        comlink::PurgeInput();
        if (!comlink::SendByte(kBlockHandshake)) {
            FatalStop("not ready to send");
            status = 0xFF;
            return false;
        }
        std::uint8_t answer = 0;
        if (!comlink::ReceiveByte(answer, kAnswerTicks)) {
            FatalStop("no answer from MC, can not access EEProm");
            status = 0xFF;
            return false;
        }
        if (answer != kReady && answer != kBlockHandshake) {
            FatalStop("MCU returns wrong code or is busy, can not access EEProm");
            status = 0xFF;
            return false;
        }
        if (answer == kBlockHandshake) {
            comlink::SetBaud(19200);
        }
    }

    comlink::PurgeInput();
    std::uint8_t sum = 0;
    auto send = [&](std::uint8_t b) {
        sum = static_cast<std::uint8_t>(sum + b);
        if (s.NoLink || comlink::SendByte(b)) {
            return true;
        }
        FatalStop("not ready to send");
        status = 0xFF;
        return false;
    };
    if (!send(count) || !send(block.AddrHi) || !send(block.AddrLo)) {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (!send(block.Data[i])) {
            return false;
        }
    }
    if (!send(static_cast<std::uint8_t>(0 - sum))) {
        return false;
    }

    if (!s.NoLink && !comlink::ReceiveByte(status, kAnswerTicks)) {
        FatalStop("no answer from MC");
        status = 0xFF;
        return false;
    }
    if (handshake) {
        comlink::SetBaud(9600);
    }
    return true;
}

std::uint8_t SendProgBlock(const ProgBlock& block) {
    std::uint8_t status = 0;
    SendProgBlock(block, status);
    return status;
}

std::string FatalStopText(const std::string& message) {
    const std::uint16_t record = McSys().RecordNo;
    if (record == 0) {
        return message;
    }
    std::string number = std::to_string(record);
    if (number.size() < 4) {
        number.insert(0, 4 - number.size(), ' ');
    } else {
        number.resize(4);
    }
    return "Record " + number + ": " + message;
}

void FatalStop(const std::string& message) {
    mcu::ResetMCAndWait();
    ConsoleLine("");
    foundation::DelayMs(500);
    const std::string text = FatalStopText(message);
    ConsoleLine("");
    // The link is released before the message is shown, so the board is not held by a
    // program that waits for its user.
    comlink::CloseLink();
    foundation::FatalError(text);
}

} // namespace selector
