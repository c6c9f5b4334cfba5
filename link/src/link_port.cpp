#include "link/link_port.h"

#include "foundation/clock.h"
#include "foundation/numbers.h"
#include "foundation/params.h"
#include "link/serial_library.h"
#include "link/transport.h"
#include "traffic_log.h"
#include "transport_support.h"
#include "wait.h"

#include <atomic>
#include <cassert>
#include <memory>
#include <thread>

namespace comlink {

namespace {

// COM1..COM7 carry the three MC channels selected by RTS and DTR.
constexpr std::uint16_t kFirstSingleChannelPort = 8;
constexpr std::uint8_t kChannelsOnChannelPorts = 3;

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
    // Chosen from the port number; none for port 0.
    std::unique_ptr<Transport> transport;
};

std::unique_ptr<LinkState>& StatePointer() {
    static auto state = std::make_unique<LinkState>();
    return state;
}

std::atomic<std::thread::id>& Owner() {
    static std::atomic<std::thread::id> owner;
    return owner;
}

// Every operation goes through State(), so every operation is checked.
LinkState& State() {
#ifndef NDEBUG
    const std::thread::id owner = Owner().load(std::memory_order_relaxed);
    assert((owner == std::thread::id() || owner == std::this_thread::get_id()) &&
           "the link was called from a thread that does not own it");
#endif
    return *StatePointer();
}

bool IsUsb(const LinkState& s) {
    return s.portNumber >= kFirstUsbPort;
}

// COM1..COM7, and a device path (which behaves as COM1), carry three channels.
bool IsChannelPort(const LinkState& s) {
    return !IsUsb(s) && s.portNumber < kFirstSingleChannelPort;
}

void ChooseTransport(LinkState& s) {
    if (s.portNumber == 0) {
        s.transport.reset();
    } else if (IsUsb(s)) {
        s.transport = MakeUsbTransport(s.portNumber - kFirstUsbPort);
    } else {
        s.transport =
            MakeSerialTransport(s.devicePath.empty() ? ComDevicePath(s.portNumber) : s.devicePath);
    }
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

void SetLine(Transport& t, int id, bool on) {
    t.SetModemLine(t.LineOfId(id), on);
}

// Lines switched on first, then lines switched off, so that no channel outside the old and
// the new one is ever selected on the way.
void DriveLines(Transport& t, std::uint8_t state) {
    if ((state & 2) != 0) {
        SetLine(t, 2, true);
    }
    if ((state & 1) != 0) {
        SetLine(t, 1, true);
    }
    if ((state & 2) == 0) {
        SetLine(t, 2, false);
    }
    if ((state & 1) == 0) {
        SetLine(t, 1, false);
    }
}

// The one open of the port, for OpenLink and for taking up a port that went away: the
// transport's open, then on a channel port channel 1 and the settling wait.
bool OpenPort(LinkState& s, bool keepPortNumber) {
    auto& t = *s.transport;
    const OpenResult result = t.Open(s.baudRate);
    if (result != OpenResult::Open) {
        s.failure = t.Failure();
        s.linkDown = true;
        if (result == OpenResult::Absent && !keepPortNumber) {
            // No adapter at the first open: the link goes on as one without a port.
            s.portNumber = 0;
            s.transport.reset();
        }
        return false;
    }
    s.channelCount = 1;
    if (IsChannelPort(s)) {
        DriveLines(t, LineStateOf(1));
        PauseMs(400);
        s.channelCount = kChannelsOnChannelPorts;
        s.lineState = LineStateOf(1);
    }
    s.linkDown = false;
    s.failure.clear();
    return true;
}

// A port that went away while the link was open (adapter pulled out, peer closed its
// pseudo-terminal, a dead USB handle) is taken up again, silently, as soon as it is back.
bool EnsureOpen(LinkState& s) {
    return s.transport->IsOpen() || OpenPort(s, true);
}

// A transfer on a link that is open: a port that died under the first try (adapter
// replugged, device node recreated) gets one reopen and one more try.
template <typename Op> bool WithPort(LinkState& s, Op op) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!EnsureOpen(s)) {
            return false;
        }
        if (op()) {
            return true;
        }
        if (s.transport->IsOpen()) {
            return false;
        }
    }
    return false;
}

// Returns the byte, or -1. abandoned: the device is gone and could not be taken up again.
int ReceiveFromPort(LinkState& s, std::uint16_t ticks, bool& abandoned) {
    const Deadline deadline(ticks * 10u);
    int value = -1;
    // A time-out ends it; a port lost during the wait is taken up for the time that is left.
    WithPort(s, [&] {
        value = s.transport->Receive(deadline);
        return value >= 0 || s.transport->IsOpen();
    });
    abandoned = value < 0 && !s.transport->IsOpen();
    return value;
}

void SwitchLine(int id, bool on) {
    auto& s = State();
    if (s.portNumber == 0 || (id != 1 && id != 2)) {
        return;
    }
    if (s.opened && !EnsureOpen(s)) {
        return;
    }
    SetLine(*s.transport, id, on);
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
    const bool found = foundation::GetParam("COM", text);
    const PortChoice choice = ChoosePort(found, text);
    s.portNumber = choice.portNumber;
    s.devicePath = choice.devicePath;
    ChooseTransport(s);
    s.channelCount = 1;
    s.lineState = kUnknownLineState;
    if (s.portNumber != 0) {
        SelectChannel(1);
        PauseMs(200);
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
    if (StopRequested()) {
        return false;
    }
    bool ok = true;
    if (s.portNumber == 0) {
        // A port number of 0 opens without touching any device.
        s.linkDown = false;
        s.failure.clear();
    } else {
        ok = OpenPort(s, keepPortNumber);
    }
    s.opened = ok;
    return ok;
}

void CloseLink() {
    auto& s = State();
    if (s.transport) {
        auto& t = *s.transport;
        t.SetModemLine(ModemLine::Rts, s.channelCount != 1);
        t.SetModemLine(ModemLine::Dtr, false);
        t.Close();
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
    if (s.portNumber == 0 || !s.opened || StopRequested()) {
        return false;
    }
    bool stuck = false;
    bool ok = WithPort(s, [&] {
        SendResult r = s.transport->Send(b);
        stuck = r == SendResult::Stuck;
        return r == SendResult::Sent || stuck;
    });
    if (stuck) {
        // A stop ends the drain wait too; that is no fault of the port.
        if (!StopRequested()) {
            s.failure = PortName() + ": the transmitter does not drain";
        }
        return false;
    }
    if (ok) {
        s.log.Sent(b, s.baudRate);
    }
    return ok;
}

bool ReceiveByte(std::uint8_t& b, std::uint16_t ticks) {
    auto& s = State();
    if (s.portNumber == 0 || !s.opened || StopRequested()) {
        return false;
    }
    bool abandoned = false;
    int value = ReceiveFromPort(s, ticks, abandoned);
    if (value >= 0) {
        b = static_cast<std::uint8_t>(value & 0xFF);
        s.log.Received(b, s.baudRate);
        return true;
    }
    if (ticks > 0 && !abandoned && !StopRequested()) {
        s.log.Timeout(s.baudRate);
    }
    return false;
}

bool PurgeInput() {
    auto& s = State();
    if (s.portNumber == 0 || !s.opened || StopRequested()) {
        return false;
    }
    std::uint8_t b = 0;
    for (int n = 0; n < kPurgeLimit && ReceiveByte(b, 0); ++n) {
    }
    return s.transport->IsOpen();
}

void DiscardReceived() {
    auto& s = State();
    if (s.portNumber == 0 || !s.opened || !s.transport->IsOpen()) {
        return;
    }
    s.transport->Discard([&](std::uint8_t b) { s.log.Received(b, s.baudRate); });
}

void SetBaud(std::uint16_t rate) {
    auto& s = State();
    if (rate == s.baudRate || s.portNumber == 0) {
        return;
    }
    s.baudRate = rate;
    if (!s.opened) {
        return; // nothing to reconfigure; the next open uses the rate
    }
    auto& t = *s.transport;
    if (!t.IsOpen()) {
        // Taking the port up again applies the new rate.
        EnsureOpen(s);
        return;
    }
    if (!t.SetRate(rate)) {
        // The next operation takes up a port the change lost, as for one that went away.
        s.failure = t.Failure();
        return;
    }
    // Reopening a serial device leaves the modem lines as the driver sets them; the MC must
    // stay on the channel that was selected.
    if (s.channelCount == kChannelsOnChannelPorts && s.lineState >= 1 && s.lineState <= 3) {
        DriveLines(t, s.lineState);
    }
}

bool SelectChannel(int level) {
    auto& s = State();
    if (s.portNumber == 0 || IsUsb(s) || StopRequested()) {
        return false;
    }
    if (level > s.channelCount) {
        level = s.channelCount;
    }
    std::uint8_t state = LineStateOf(level);
    if (state == s.lineState) {
        return true;
    }
    if (s.opened && !EnsureOpen(s)) {
        s.lineState = kUnknownLineState;
        return false;
    }
    s.lineState = state;
    DriveLines(*s.transport, state);
    PauseMs(2);
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

void ClaimLink() {
    Owner().store(std::this_thread::get_id(), std::memory_order_relaxed);
}

void ReleaseLink() {
    Owner().store(std::thread::id(), std::memory_order_relaxed);
}

PortChoice ChoosePort(bool found, const std::string& text) {
    PortChoice choice;
    choice.portNumber = 1;
    if (!found) {
        choice.reason = "default, COM is not set";
        return choice;
    }
    auto first = text.find_first_not_of(' ');
    auto last = text.find_last_not_of(' ');
    if (first != std::string::npos && text[first] == '/') {
        // A device file named directly behaves as COM1 in every other respect.
        choice.devicePath = text.substr(first, last - first + 1);
        return choice;
    }
    double n = 1;
    // Only numbers that round into the port number's range count; rounding anything larger
    // would not fit (and used to wrap into a USB number).
    if (!foundation::ParseDecimal(text, n)) {
        choice.reason = "default, \"" + text + "\" is not a number";
    } else if (!(n > -0.5 && n < 65535.5)) {
        choice.reason = "default, \"" + text + "\" is outside 0..65535";
    } else {
        choice.portNumber = static_cast<std::uint16_t>(foundation::RoundHalfEven(n));
    }
    return choice;
}

} // namespace comlink
