#include "mcu/access.h"

#include "foundation/clock.h"
#include "foundation/numbers.h"
#include "link/link_port.h"
#include "mcu/vartable.h"
#include "state.h"

#include <algorithm>
#include <cmath>

namespace mcu {

namespace {

using detail::State;

constexpr std::uint8_t kAttention = 0x07;
constexpr std::uint8_t kPageZero = 0xF0;
// From here on the bytes are commands, which the firmware never takes as write requests.
constexpr std::uint8_t kFirstCommand = 0xF0;
constexpr std::uint8_t kObjectModeBase = 0x80;
constexpr std::uint8_t kAdrModeBase = 0xC0;
const char* const kComsetBegin = "COMSET_VAR_BEG";

std::uint8_t ComsetBase(std::uint16_t begin) {
    return static_cast<std::uint8_t>(0xE0 - (begin & 0xFF));
}

// The record's write base, looked up without reordering the table or touching the error text.
std::uint8_t WriteBase(const MCAppl& appl) {
    if (!appl.adrMode) {
        return kObjectModeBase;
    }
    const auto found = std::find_if(appl.vars.begin(), appl.vars.end(),
                                    [](const MCVar& v) { return v.name == kComsetBegin; });
    return found == appl.vars.end() ? kAdrModeBase : ComsetBase(found->address);
}

// Right after an attention the firmware reads a byte from its write base up to the last
// non-command byte as a write request (bases below 0xE0 reach down into the page-0 reads).
bool TakenAsWrite(const MCAppl& appl, std::uint8_t request) {
    if (request == kAttention || request >= kFirstCommand) {
        return false;
    }
    const std::uint8_t base = WriteBase(appl);
    return static_cast<std::uint8_t>(request - base) <=
           static_cast<std::uint8_t>(kFirstCommand - 1 - base);
}

bool AttentionPending() {
    return State().attentionPending[comlink::Link().lineState];
}

// Sends b and notes on the current line whether the MC may now take the next byte as a write
// request: after a 0x07 it was not in the middle of an exchange (after a page command or a
// write request it takes any byte as the address or the value). An attention counts even when
// its send failed, as it may have left the PC; with the lines in an unknown state any MC may
// have heard it.
bool SendRequest(std::uint8_t b, bool midExchange = false) {
    auto& pending = State().attentionPending;
    const std::uint8_t line = comlink::Link().lineState;
    if (b == kAttention && !midExchange) {
        if (line == comlink::kUnknownLineState) {
            pending.fill(true);
        } else {
            pending[line] = true;
        }
        return comlink::SendByte(b);
    }
    const bool sent = comlink::SendByte(b);
    if (sent) {
        pending[line] = false;
    }
    return sent;
}

// One request byte and its reply within the reply time-out.
bool Exchange(std::uint8_t request, std::uint8_t& reply, bool midExchange = false) {
    return SendRequest(request, midExchange) && comlink::ReceiveByte(reply, ReplyTimeout);
}

// Waits for one more byte until deadline (counter microseconds). Polling keeps the wait as
// short as the wire time it covers; it is only needed after a fault.
bool ReceiveByteUntil(std::uint8_t& b, std::int64_t deadline) {
    while (!comlink::ReceiveByte(b, 0)) {
        const std::int64_t now = foundation::CounterUs();
        if (now >= deadline) {
            return false;
        }
        if (!foundation::Clock().IsReal() || deadline - now > 2000) {
            foundation::Clock().SleepMs(1);
        }
    }
    return true;
}

// So many early replies in a row with nothing after them show a link that answers at once
// whatever its rate (a simulated MC without pacing, say); its replies are taken as they come.
constexpr int kUnpacedProof = 4;

// A request and its reply take two character times on the wire. A byte that reaches the PC
// sooner was already on its way when the request left: a stray byte, or the reply to an earlier
// request that came late. Taken as the reply, it would put every later read one behind for
// good, as each reply then arrives just after the next read has dropped what was waiting. The
// reply proper follows within a character time or so, so wait for it; should nothing come, the
// early byte is taken after all. sentUs is taken before the request went out, so a real reply
// can never look early.
bool ReceiveReply(std::uint8_t& reply, std::int64_t sentUs) {
    if (!comlink::ReceiveByte(reply, ReplyTimeout)) {
        return false;
    }
    auto& state = State();
    const std::int64_t baud = comlink::BaudRate();
    if (state.unpacedLink || baud == 0) {
        return true;
    }
    const std::int64_t character = 10000000 / baud;
    const std::int64_t wire = 2 * character - character / 8;
    auto early = [&] { return foundation::CounterUs() - sentUs < wire; };
    if (!early()) {
        state.earlyAlone = 0;
        return true;
    }
    bool followed = false;
    std::uint8_t later = 0;
    do {
        if (!ReceiveByteUntil(later, sentUs + 3 * character)) {
            break;
        }
        reply = later;
        followed = true;
    } while (early());
    if (followed) {
        state.earlyAlone = 0;
    } else if (++state.earlyAlone >= kUnpacedProof) {
        state.unpacedLink = true;
    }
    return true;
}

// An exchange of a read, which makes sure its reply did not come too early.
bool ReadExchange(std::uint8_t request, std::uint8_t& reply, bool midExchange = false) {
    const std::int64_t sentUs = foundation::CounterUs();
    return SendRequest(request, midExchange) && ReceiveReply(reply, sentUs);
}

void BringLinkToRecord(const MCAppl& appl) {
    comlink::SelectChannel(appl.channel);
    comlink::SetBaud(appl.baudRate);
}

} // namespace

void SetProgramKind(ProgramKind kind) {
    State().kind = kind;
}

void ResetMcuModule() {
    State() = detail::McuState{};
}

detail::McuState& detail::State() {
    static McuState state;
    return state;
}

bool ReadVariable(MCAppl& appl, std::uint16_t address, std::uint8_t offset, std::uint8_t& value) {
    if (appl.streamingMode) {
        EndDebugAddress(appl);
    }
    BringLinkToRecord(appl);
    const bool selector = State().kind == ProgramKind::Selector;
    const unsigned sum = static_cast<unsigned>(address) + offset;
    const unsigned page = std::min(sum / 256, 7u);
    const auto low = static_cast<std::uint8_t>(sum % 256);
    // Addresses from 0xE0 up are commands on page 0, so the scope selects the page explicitly
    // (the selector's variant sends them as they are). Right after an attention a read in the
    // write range would be taken for a write, so it goes through the page step in both; the
    // decision holds for every try, as a failed try does not tell whether the MC heard it.
    const bool pageStep =
        page > 0 || (!selector && low >= 0xE0) || (AttentionPending() && TakenAsWrite(appl, low));
    std::uint8_t reply = 0;
    bool ok = false;
    for (int attempt = 0; attempt < 3 && !ok; ++attempt) {
        // A stray or late byte that has already arrived would be taken as this reply. The
        // scope reads back to back, so its drop must cost nothing on the wire.
        if (selector) {
            comlink::PurgeInput();
        } else {
            comlink::DiscardReceived();
        }
        if (pageStep) {
            const bool echoed = ReadExchange(static_cast<std::uint8_t>(kPageZero + page), reply);
            if (!echoed || (!selector && reply != page * 16)) {
                ++appl.errorCount;
                continue;
            }
        }
        if (!ReadExchange(low, reply, pageStep)) {
            ++appl.errorCount;
            continue;
        }
        ok = true;
    }
    if (!ok) {
        reply = 0;
        appl.errorText = "Error during reading MC variable";
    }
    CountTransfers(appl, 1);
    value = reply;
    return ok;
}

bool SetVariable(MCAppl& appl, const std::string& fullName, std::uint8_t offset,
                 std::uint8_t value) {
    const std::string name = fullName.substr(0, kMaxVarName);
    if (appl.streamingMode) {
        EndDebugAddress(appl);
    }
    if (!appl.opened) {
        return false;
    }
    std::uint8_t base = kObjectModeBase;
    std::uint16_t address = 0;
    std::uint8_t mask = 0;
    if (appl.adrMode) {
        base = FindVariable(appl, kComsetBegin, address, mask) ? ComsetBase(address) : kAdrModeBase;
        appl.errorText.clear();
    }
    BringLinkToRecord(appl);
    if (!FindVariable(appl, name, address, mask)) {
        return false;
    }
    const auto target = static_cast<std::uint16_t>(address + offset);
    std::uint8_t reply = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        comlink::PurgeInput();
        if (!Exchange(kAttention, reply)) {
            continue;
        }
        // The echo is the address byte, so only addresses below 256 can ever be confirmed. The
        // request for a higher one is not sent: the MC would take it for the low byte's
        // address and store the next byte there, which would be the following attention.
        const bool ok = target < 256 && Exchange(static_cast<std::uint8_t>(base + target), reply) &&
                        reply == target && Exchange(value, reply, true) && reply == value;
        if (ok) {
            return true;
        }
        ++appl.errorCount;
    }
    appl.errorText = (" Error during set of MC variable " + name).substr(0, 52);
    if (SendRequest(kAttention)) {
        comlink::ReceiveByte(reply, ReplyTimeout);
    }
    return false;
}

bool SetDebugAddress(MCAppl& appl, const std::string& name, std::uint8_t offset,
                     std::uint8_t value) {
    if (SetVariable(appl, name, offset, value)) {
        appl.streamingMode = true;
        return true;
    }
    EndDebugAddress(appl);
    appl.streamingMode = false;
    return false;
}

bool EndDebugAddress(MCAppl& appl) {
    std::uint8_t reply = 0;
    SendRequest(kAttention);
    comlink::ReceiveByte(reply, ReplyTimeout);
    appl.streamingMode = false;
    return true;
}

bool ReadDebugSample(MCAppl& appl, std::uint16_t address, std::uint8_t offset, std::uint8_t& value,
                     std::uint8_t& second) {
    if (!appl.streamingMode) {
        return false;
    }
    BringLinkToRecord(appl);
    comlink::PurgeInput();
    if (!SendRequest(static_cast<std::uint8_t>((address + offset) % 256))) {
        appl.errorText = "Debug address could not be sent";
        EndDebugAddress(appl);
        return false;
    }
    if (!comlink::ReceiveByte(value, ReplyTimeout)) {
        value = 0;
        appl.errorText = "Error during reading MC variable";
        EndDebugAddress(appl);
        comlink::ReceiveByte(second, ReplyTimeout);
        return false;
    }
    if (!comlink::ReceiveByte(second, ReplyTimeout)) {
        EndDebugAddress(appl);
        return false;
    }
    CountTransfers(appl, 1);
    return true;
}

void CountTransfers(MCAppl& appl, std::uint8_t count) {
    const std::uint32_t now = foundation::TickMs();
    const std::uint32_t elapsed = now - appl.rateTick;
    if (elapsed > 1000) {
        appl.transferRate = static_cast<std::uint16_t>(
            foundation::RoundHalfEven(appl.transferCount * 1000.0 / elapsed));
        appl.rateTick = now;
        appl.transferCount = 0;
    }
    appl.transferCount = static_cast<std::uint16_t>(appl.transferCount + count);
}

} // namespace mcu
