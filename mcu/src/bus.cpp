#include "mcu/bus.h"
#include "foundation/clock.h"
#include "link/link_port.h"
#include "state.h"

namespace mcu {

namespace {

// Each bus reply is awaited 2 ticks (20 ms); an absent device must not slow the scan down.
constexpr std::uint16_t kBusTimeout = 2;

void AddDevice(DeviceList& list, std::int32_t& last, std::uint8_t id, std::uint8_t busAddress) {
    ++last;
    list[static_cast<std::size_t>(last)] = {ApplIdTable()[id], id, busAddress};
}

// The local device first, then every bus slot that answers; at most 8 entries by design.
void AddLocalAndSlots(DeviceList& list, std::int32_t& last, std::uint8_t localId) {
    AddDevice(list, last, localId, 0x10);
    for (int slot = 1; slot <= 7; ++slot) {
        std::uint8_t id = 0;
        const auto address = static_cast<std::uint8_t>(slot * 32);
        if (ProbeDevice(address, id)) {
            AddDevice(list, last, id, address);
        }
    }
}

} // namespace

bool ProbeDevice(std::uint8_t request, std::uint8_t& reply) {
    std::uint8_t z = 0;
    return comlink::SendByte(0xFD) && comlink::ReceiveByte(z, kBusTimeout) && z == 0x5A &&
           comlink::SendByte(request) && comlink::ReceiveByte(reply, kBusTimeout);
}

void BuildDeviceList() {
    auto& state = detail::State();
    if (state.scopeLastIndex >= 0) {
        return;
    }
    state.scopeLastIndex = -1;
    std::uint8_t reply = 0;
    if (!ProbeDevice(0x01, reply) || !ProbeDevice(0x00, reply)) {
        return;
    }
    AddLocalAndSlots(state.scopeList, state.scopeLastIndex, reply);
}

const DeviceList& ScopeDeviceList() {
    return detail::State().scopeList;
}

std::int32_t ScopeLastDeviceIndex() {
    return detail::State().scopeLastIndex;
}

void BuildDeviceList(MCAppl& appl) {
    appl.lastDeviceIndex = -1;
    std::uint8_t reply = 0;
    if (!QueryCurrentDevice(appl) || !ProbeDevice(0x00, reply)) {
        return;
    }
    AddLocalAndSlots(appl.deviceList, appl.lastDeviceIndex, reply);
}

bool QueryCurrentDevice(MCAppl& appl) {
    appl.currentDevice = -1;
    std::uint8_t reply = 0;
    if (!ProbeDevice(0x01, reply)) {
        return false;
    }
    appl.currentDevice = reply >> 5;
    appl.busPresent = true;
    return true;
}

bool SelectDevice(MCAppl& appl, std::int32_t index) {
    if (index < 0 || index > appl.lastDeviceIndex) {
        return false; // no such entry: nothing to switch to
    }
    const auto& entry = appl.deviceList[static_cast<std::size_t>(index)];
    std::uint8_t reply = 0;
    if (ProbeDevice(static_cast<std::uint8_t>((entry.busAddress & 0xF0) + 2), reply) &&
        reply == entry.applId) {
        appl.currentDevice = index;
        return true;
    }
    return false;
}

void ResetMC() {
    if (comlink::ChannelCount() == 1) {
        comlink::PurgeInput();
        comlink::LineOn(1);
        comlink::LineOn(2);
        foundation::DelayMs(90);
        foundation::DelayMs(40);
        comlink::PurgeInput();
        comlink::LineOff(1);
    } else {
        comlink::LineOff(1);
        comlink::LineOff(2);
        foundation::DelayMs(130);
        comlink::PurgeInput();
        comlink::LineOn(2);
    }
}

void ResetMCAndWait() {
    ResetMC();
    foundation::DelayMs(150);
    comlink::PurgeInput();
}

} // namespace mcu
