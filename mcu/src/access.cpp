#include "mcu/access.h"

#include "foundation/clock.h"
#include "foundation/tools.h"
#include "link/link_port.h"
#include "mcu/vartable.h"
#include "state.h"

#include <cmath>

namespace mcu {

namespace {

using detail::State;

// One request byte and its reply within the reply time-out.
bool Exchange(std::uint8_t request, std::uint8_t& reply) {
    return comlink::SendByte(request) && comlink::ReceiveByte(reply, ReplyTimeout);
}

void BringLinkToRecord(const MCAppl& appl) {
    comlink::SelectChannel(appl.channel);
    comlink::SetBaud(appl.baudRate);
}

} // namespace

void SetProgramKind(ProgramKind kind) {
    State().kind = kind;
}

ProgramKind CurrentProgramKind() {
    return State().kind;
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
    // Addresses from 0xE0 up are commands on page 0, so they need the page selected
    // explicitly; the selector's reads never go there.
    const bool pageStep = page > 0 || (!selector && low >= 0xE0);
    std::uint8_t reply = 0;
    bool ok = false;
    for (int attempt = 0; attempt < 3 && !ok; ++attempt) {
        if (selector) {
            comlink::PurgeInput();
        }
        if (pageStep) {
            const bool echoed = Exchange(static_cast<std::uint8_t>(0xF0 + page), reply);
            if (!echoed || (!selector && reply != page * 16)) {
                ++appl.errorCount;
                continue;
            }
        }
        if (!Exchange(low, reply)) {
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
    std::uint8_t base = 0x80;
    std::uint16_t address = 0;
    std::uint8_t mask = 0;
    if (appl.adrMode) {
        base = FindVariable(appl, "COMSET_VAR_BEG", address, mask)
                   ? static_cast<std::uint8_t>(0xE0 - (address & 0xFF))
                   : 0xC0;
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
        if (!Exchange(0x07, reply)) {
            continue;
        }
        // The echo is the address byte, so only addresses below 256 can ever be confirmed.
        const bool ok = Exchange(static_cast<std::uint8_t>(base + target), reply) &&
                        reply == target && Exchange(value, reply) && reply == value;
        if (ok) {
            return true;
        }
        ++appl.errorCount;
    }
    appl.errorText = (" Error during set of MC variable " + name).substr(0, 52);
    if (comlink::SendByte(0x07)) {
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
    comlink::SendByte(0x07);
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
    if (!comlink::SendByte(static_cast<std::uint8_t>((address + offset) % 256))) {
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
