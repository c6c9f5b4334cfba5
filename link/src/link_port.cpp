#include "link/link_port.h"

#include "foundation/clock.h"
#include "foundation/crt.h"
#include "foundation/params.h"
#include "foundation/tools.h"
#include "link/d2xx.h"
#include "link/serial_library.h"
#include "traffic_log.h"

#include <chrono>
#include <memory>
#include <thread>

namespace comlink {

namespace {

// COM1..COM7 carry the three MC channels selected by RTS and DTR.
constexpr std::uint16_t kFirstSingleChannelPort = 8;
constexpr std::uint8_t kChannelsOnChannelPorts = 3;
// With no flow control a transmitter drains within a few character times; one that has not
// after this long is stuck, and waiting on would hang the program.
constexpr std::uint32_t kDrainLimitMs = 1000;
// A purge reads faster than any line delivers; the bound only keeps a runaway source (a fake,
// a device spewing at megabaud) from holding the program.
constexpr int kPurgeLimit = 1 << 16;
// The FTDI queue cannot be waited on; between two looks the program sleeps this long, short
// enough for a reply to be taken well within a character time.
constexpr std::chrono::microseconds kUsbPollInterval{200};

struct LinkState {
    std::uint16_t portNumber = 0;
    std::string devicePath;
    std::uint16_t baudRate = 9600;
    std::uint8_t channelCount = 1;
    std::uint8_t lineState = kUnknownLineState;
    bool linkDown = true;
    // OpenLink succeeded and CloseLink has not run since. Only such a link takes up a device
    // that went away; a link that was never opened, or was closed, touches no device.
    bool opened = false;
    std::string logName;
    TrafficLog log;
    std::string failure;
};

std::unique_ptr<LinkState>& StatePointer() {
    static auto state = std::make_unique<LinkState>();
    return state;
}

LinkState& State() {
    return *StatePointer();
}

bool IsUsb(const LinkState& s) {
    return s.portNumber >= kFirstUsbPort;
}

std::string ModeText(const LinkState& s) {
    return BuildModeText(s.portNumber, s.baudRate, s.devicePath);
}

// Level 1 -> line 2 only, level 2 -> line 1 only, level 3 -> both; anything else -> level 1.
std::uint8_t LineStateOf(int level) {
    switch (level) {
    case 2:
        return 1;
    case 3:
        return 3;
    default:
        return 2;
    }
}

// Lines switched on first, then lines switched off, so that no channel outside the old and
// the new one is ever selected on the way.
void DriveLines(std::uint8_t state) {
    auto& serial = Serial();
    if ((state & 2) != 0) {
        serial.RTS(1);
    }
    if ((state & 1) != 0) {
        serial.DTR(1);
    }
    if ((state & 2) == 0) {
        serial.RTS(0);
    }
    if ((state & 1) == 0) {
        serial.DTR(0);
    }
}

// Between two looks at a device that has nothing to block on. Under a fake clock time only
// moves when told, so the pause moves it instead of sleeping.
void PauseBeforeNextLook(std::chrono::microseconds realPause) {
    auto& clock = foundation::Clock();
    if (clock.IsReal()) {
        std::this_thread::sleep_for(realPause);
    } else {
        clock.SleepMs(1);
    }
}

// One character (10 bit times) at the given rate, within sane bounds.
std::chrono::microseconds CharacterTime(std::uint16_t baud) {
    long us = baud == 0 ? 2000 : 10000000L / baud;
    return std::chrono::microseconds(us < 50 ? 50 : (us > 2000 ? 2000 : us));
}

// Waits while pending() holds. False when the transmitter did not drain in time.
template <typename Pending> bool WaitDrained(Pending pending, std::chrono::microseconds pause) {
    std::uint32_t start = foundation::TickMs();
    while (pending()) {
        if (foundation::ConsoleKeyWaiting()) {
            return true;
        }
        if (foundation::TickMs() - start >= kDrainLimitMs) {
            return false;
        }
        PauseBeforeNextLook(pause);
    }
    return true;
}

std::string UsbFailureText() {
    std::string text = Usb().lastError;
    std::string detail = Ftdi().LastDetail();
    if (detail.empty()) {
        return text.empty() ? "USB adapter failed" : text;
    }
    return text.empty() ? detail : text + " (" + detail + ")";
}

// OPENCOM and, on a channel port, line 2 on, line 1 off and the settling wait.
bool OpenCom(LinkState& s) {
    auto& serial = Serial();
    if (serial.OPENCOM(ModeText(s)) < 0) {
        s.failure = serial.LastError();
        return false;
    }
    if (s.portNumber < kFirstSingleChannelPort) {
        serial.RTS(1);
        serial.DTR(0);
        foundation::DelayMs(400);
        s.channelCount = kChannelsOnChannelPorts;
        s.lineState = LineStateOf(1);
    }
    return true;
}

// The USB open, also used to take up an adapter that was lost.
bool OpenUsb(LinkState& s, bool keepPortNumber) {
    s.channelCount = 1;
    GetFTDeviceCount();
    auto& u = Usb();
    if (u.deviceCount == 0) {
        foundation::ToolsError() = "USB not connected";
        s.failure = "USB not connected";
        s.linkDown = true;
        if (!keepPortNumber) {
            s.portNumber = 0;
        }
        return false;
    }
    if (u.handle != nullptr) {
        UsbClose();
    }
    if (UsbOpen() != FT_OK) {
        s.failure = UsbFailureText();
        s.linkDown = true;
        return false;
    }
    u.dataBits = FT_BITS_8;
    u.stopBits = FT_STOP_BITS_1;
    u.parity = FT_PARITY_NONE;
    UsbSetDataCharacteristics();
    u.flowControl = FT_FLOW_NONE;
    u.xonChar = 0x11;
    u.xoffChar = 0x13;
    UsbSetFlowControl();
    u.baudRate = s.baudRate;
    UsbSetBaudRate();
    UsbSetLatencyTimer(2);
    UsbSetBreakOff();
    UsbPurgeTx();
    UsbSetTimeouts(500, 500);
    UsbSetDtr();   // line 2 on
    UsbClearRts(); // line 1 off
    // A setting that failed is left in the error text as it always was; an adapter that went
    // away in the middle of it is a failed open.
    if (u.usbClosed) {
        s.failure = UsbFailureText();
        s.linkDown = true;
        return false;
    }
    s.linkDown = false;
    s.failure.clear();
    return true;
}

bool EnsureUsbOpen(LinkState& s) {
    return !Usb().usbClosed || OpenUsb(s, true);
}

// A serial device that vanished while open (adapter pulled out, peer closed its
// pseudo-terminal) is taken up again, silently, as soon as it is back.
bool EnsureComOpen(LinkState& s) {
    auto& serial = Serial();
    if (serial.IsOpen()) {
        return true;
    }
    serial.CLOSECOM();
    if (!OpenCom(s)) {
        s.linkDown = true;
        return false;
    }
    s.linkDown = false;
    s.failure.clear();
    return true;
}

bool SendCom(LinkState& s, std::uint8_t b) {
    if (!EnsureComOpen(s)) {
        return false;
    }
    auto& serial = Serial();
    bool drained = WaitDrained([&] { return serial.IsOpen() && serial.OUTBUFFER() != 0; },
                               CharacterTime(s.baudRate));
    if (!drained) {
        s.failure = PortName() + ": the transmitter does not drain";
        return false;
    }
    if (serial.SENDBYTE(b) < 0) {
        if (!serial.IsOpen()) {
            s.failure = serial.LastError();
        }
        return false;
    }
    return true;
}

bool SendUsb(LinkState& s, std::uint8_t b) {
    // A handle that died under the first try (adapter replugged) gets one reopen.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!EnsureUsbOpen(s)) {
            return false;
        }
        auto& u = Usb();
        bool drained = WaitDrained(
            [&] { return UsbGetStatus() == FT_OK && u.transmitQueueCount != 0; }, kUsbPollInterval);
        if (!drained) {
            s.failure = PortName() + ": the transmitter does not drain";
            return false;
        }
        if (!u.usbClosed) {
            u.transmitBuffer[0] = b;
            std::uint32_t written = 0;
            if (UsbWrite(1, written) == FT_OK && written == 1) {
                return true;
            }
        }
        if (!u.usbClosed) {
            return false;
        }
    }
    return false;
}

// Returns the byte, or -1. abandoned: the device is gone and could not be taken up again.
int ReceiveCom(LinkState& s, std::uint16_t ticks, bool& abandoned) {
    auto& serial = Serial();
    auto take = [&] { return serial.INBUFFER() != 0 ? serial.READBYTE() : -1; };
    if (ticks == 0) {
        if (!EnsureComOpen(s)) {
            abandoned = true;
            return -1;
        }
        return take();
    }
    auto& clock = foundation::Clock();
    const std::uint32_t limit = ticks * 10u;
    const std::uint32_t start = foundation::TickMs();
    for (;;) {
        if (!EnsureComOpen(s)) {
            abandoned = true;
            return -1;
        }
        if (clock.IsReal()) {
            // Blocking on the device wakes the moment a byte arrives and burns no CPU
            // meanwhile; a byte already waiting ends the wait at once. The wait's answer is
            // what INBUFFER would say, so the byte is taken without asking again: at 115200
            // baud a read exchange lasts 174 us, and every call into the kernel shows.
            const std::uint32_t elapsed = foundation::TickMs() - start;
            if (serial.WaitReadable(elapsed >= limit ? 0 : limit - elapsed)) {
                int value = serial.READBYTE();
                if (value >= 0) {
                    return value;
                }
            }
            if (foundation::TickMs() - start >= limit) {
                return -1;
            }
            continue;
        }
        int value = take();
        if (value >= 0) {
            return value;
        }
        if (foundation::TickMs() - start >= limit) {
            return -1;
        }
        clock.SleepMs(1);
    }
}

int TakeUsbByte() {
    auto& u = Usb();
    if (UsbGetQueueStatus() != FT_OK || u.receiveQueueCount == 0) {
        return -1;
    }
    std::uint32_t n = 0;
    if (UsbRead(1, n) != FT_OK || n != 1) {
        return -1;
    }
    return u.receiveBuffer[0];
}

int ReceiveUsb(LinkState& s, std::uint16_t ticks, bool& abandoned) {
    if (ticks == 0) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (!EnsureUsbOpen(s)) {
                abandoned = true;
                return -1;
            }
            int value = TakeUsbByte();
            if (value >= 0 || !Usb().usbClosed) {
                return value;
            }
        }
        return -1;
    }
    const std::uint32_t limit = ticks * 10u;
    const std::uint32_t start = foundation::TickMs();
    for (;;) {
        if (!EnsureUsbOpen(s)) {
            abandoned = true;
            return -1;
        }
        int value = TakeUsbByte();
        if (value >= 0) {
            return value;
        }
        if (foundation::TickMs() - start >= limit) {
            return -1;
        }
        PauseBeforeNextLook(kUsbPollInterval);
    }
}

void SwitchLine(int id, bool on) {
    auto& s = State();
    if (s.portNumber == 0 || (id != 1 && id != 2)) {
        return;
    }
    if (IsUsb(s)) {
        if (!s.opened || !EnsureUsbOpen(s)) {
            return;
        }
        if (id == 2) {
            on ? UsbSetDtr() : UsbClearDtr();
        } else {
            on ? UsbSetRts() : UsbClearRts();
        }
        return;
    }
    if (s.opened && !EnsureComOpen(s)) {
        return;
    }
    auto& serial = Serial();
    if (id == 2) {
        serial.RTS(on ? 1 : 0);
    } else {
        serial.DTR(on ? 1 : 0);
    }
    // A line switched by hand no longer matches the remembered selection; the next
    // SelectChannel must drive the lines again.
    s.lineState = kUnknownLineState;
}

} // namespace

void ResetLink() {
    StatePointer() = std::make_unique<LinkState>();
}

void InitLink() {
    ResetLink();
    auto& s = State();
    s.baudRate = 9600;
    std::string text;
    foundation::GetParam("COM", text);
    auto first = text.find_first_not_of(' ');
    auto last = text.find_last_not_of(' ');
    if (first != std::string::npos && text[first] == '/') {
        // A device file named directly behaves as COM1 in every other respect.
        s.devicePath = text.substr(first, last - first + 1);
        s.portNumber = 1;
    } else {
        double n = 1;
        s.portNumber = 1;
        // Only numbers that round into the port number's range count; rounding anything
        // larger would not fit (and used to wrap into a USB number).
        if (foundation::GetParamNumber("COM", n) && n > -0.5 && n < 65535.5) {
            s.portNumber = static_cast<std::uint16_t>(foundation::RoundHalfEven(n));
        }
    }
    s.channelCount = 1;
    s.lineState = kUnknownLineState;
    if (s.portNumber != 0) {
        SelectChannel(1);
        foundation::DelayMs(200);
    }
    foundation::GetParam("COM_DEBUG", s.logName);
    s.linkDown = true;
}

bool StartLink() {
    bool ok = OpenLink(false);
    auto& s = State();
    if (!s.logName.empty()) {
        std::string error;
        if (!s.log.Start(s.logName, s.portNumber, error) && s.failure.empty()) {
            s.failure = error;
        }
    }
    return ok;
}

bool OpenLink(bool keepPortNumber) {
    auto& s = State();
    bool ok = false;
    if (IsUsb(s)) {
        ok = OpenUsb(s, keepPortNumber);
    } else {
        Serial().CLOSECOM();
        ok = s.portNumber == 0 || OpenCom(s);
        s.linkDown = !ok;
        if (ok) {
            s.failure.clear();
        }
    }
    s.opened = ok;
    return ok;
}

void CloseLink() {
    auto& s = State();
    auto& serial = Serial();
    if (s.channelCount == 1) {
        if (IsUsb(s)) {
            if (Usb().handle != nullptr) {
                if (!Usb().usbClosed) {
                    UsbClearRts();
                    UsbClearDtr();
                }
                UsbClose();
            }
        } else if (s.portNumber != 0) {
            serial.RTS(0);
            serial.DTR(0);
            serial.CLOSECOM();
        }
    } else if (s.portNumber != 0) {
        serial.RTS(1);
        serial.DTR(0);
        serial.CLOSECOM();
    }
    if (!s.logName.empty()) {
        s.log.Close();
    }
    s.linkDown = true;
    s.opened = false;
    // Whatever the lines do while the port is closed, the next selection must drive them.
    s.lineState = kUnknownLineState;
}

bool SendByte(std::uint8_t b) {
    auto& s = State();
    if (s.portNumber == 0 || !s.opened) {
        return false;
    }
    bool ok = IsUsb(s) ? SendUsb(s, b) : SendCom(s, b);
    if (ok) {
        s.log.Sent(b, s.baudRate);
    }
    return ok;
}

bool ReceiveByte(std::uint8_t& b, std::uint16_t ticks) {
    auto& s = State();
    if (s.portNumber == 0 || !s.opened) {
        return false;
    }
    bool abandoned = false;
    int value = IsUsb(s) ? ReceiveUsb(s, ticks, abandoned) : ReceiveCom(s, ticks, abandoned);
    if (value >= 0) {
        b = static_cast<std::uint8_t>(value & 0xFF);
        s.log.Received(b, s.baudRate);
        return true;
    }
    if (ticks > 0 && !abandoned) {
        s.log.Timeout(s.baudRate);
    }
    return false;
}

bool PurgeInput() {
    auto& s = State();
    if (s.portNumber == 0 || !s.opened) {
        return false;
    }
    std::uint8_t b = 0;
    for (int n = 0; n < kPurgeLimit && ReceiveByte(b, 0); ++n) {
    }
    return IsUsb(s) ? !Usb().usbClosed : Serial().IsOpen();
}

void DiscardReceived() {
    auto& s = State();
    if (s.portNumber == 0 || !s.opened) {
        return;
    }
    if (IsUsb(s)) {
        // The adapter has no queue count that is free to read yet; a poll per byte is the
        // cheapest drop this layer can make.
        std::uint8_t b = 0;
        for (int n = 0; n < kPurgeLimit && ReceiveByte(b, 0); ++n) {
        }
        return;
    }
    auto& serial = Serial();
    if (!serial.IsOpen()) {
        return;
    }
    for (int n = 0; n < kPurgeLimit && serial.INBUFFER() != 0; ++n) {
        int value = serial.READBYTE();
        if (value < 0) {
            break;
        }
        s.log.Received(static_cast<std::uint8_t>(value & 0xFF), s.baudRate);
    }
}

void SetBaud(std::uint16_t rate) {
    auto& s = State();
    if (rate == s.baudRate || s.portNumber == 0) {
        return;
    }
    if (!s.opened) {
        // Nothing to reconfigure; the next open uses the rate.
        s.baudRate = rate;
        return;
    }
    if (IsUsb(s)) {
        if (!EnsureUsbOpen(s)) {
            return;
        }
        s.baudRate = rate;
        Usb().baudRate = rate;
        UsbSetBaudRate();
        return;
    }
    s.baudRate = rate;
    auto& serial = Serial();
    serial.CLOSECOM();
    if (serial.OPENCOM(ModeText(s)) < 0) {
        // The next operation tries again, as for a device that went away.
        s.failure = serial.LastError();
        return;
    }
    // The port may have been lost before; it is usable again now.
    s.linkDown = false;
    s.failure.clear();
    // Reopening leaves the modem lines as the driver sets them; the MC must stay on the
    // channel that was selected.
    if (s.channelCount == kChannelsOnChannelPorts && s.lineState >= 1 && s.lineState <= 3) {
        DriveLines(s.lineState);
    }
}

bool SelectChannel(int level) {
    auto& s = State();
    if (s.portNumber == 0 || IsUsb(s)) {
        return false;
    }
    if (level > s.channelCount) {
        level = s.channelCount;
    }
    std::uint8_t state = LineStateOf(level);
    if (state == s.lineState) {
        return true;
    }
    if (s.opened && !EnsureComOpen(s)) {
        s.lineState = kUnknownLineState;
        return false;
    }
    s.lineState = state;
    DriveLines(state);
    foundation::DelayMs(2);
    return true;
}

void LineOn(int id) {
    SwitchLine(id, true);
}

void LineOff(int id) {
    SwitchLine(id, false);
}

std::uint16_t PortNumber() {
    return State().portNumber;
}

std::uint16_t BaudRate() {
    return State().baudRate;
}

std::uint8_t ChannelCount() {
    return State().channelCount;
}

bool LinkDown() {
    return State().linkDown;
}

LinkView Link() {
    const auto& s = State();
    return LinkView{s.portNumber, s.devicePath, s.baudRate, s.channelCount,
                    s.lineState,  s.linkDown,   s.logName};
}

std::string PortName() {
    const auto& s = State();
    if (!s.devicePath.empty()) {
        return s.devicePath;
    }
    if (IsUsb(s)) {
        return "USB" + std::to_string(s.portNumber - kFirstUsbPort);
    }
    return "COM" + std::to_string(s.portNumber);
}

const std::string& LinkError() {
    return State().failure;
}

} // namespace comlink
