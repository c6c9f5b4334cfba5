#include "mcu/ident.h"
#include "foundation/clock.h"
#include "foundation/numbers.h"
#include "foundation/text_file.h"
#include "link/link_port.h"
#include "mcu/access.h"
#include "mcu/bus.h"
#include "mcu/vartable.h"

namespace mcu {

namespace {

// The id reply may take a while: the MC answers once its main loop comes round.
constexpr std::uint16_t kIdTimeout = 100;

} // namespace

bool IdentifyMCAppl(MCAppl& appl, bool& answered, std::string& varFileName) {
    appl.baudRate = comlink::BaudRate();
    appl.errorText.clear();
    appl.applName.clear();
    answered = false;
    varFileName.clear();
    std::uint8_t id = 0;
    bool matched = false;
    int channel = 1;
    for (; channel <= comlink::ChannelCount() && !matched; ++channel) {
        comlink::SelectChannel(channel);
        answered = false;
        comlink::PurgeInput();
        EndDebugAddress(appl);
        std::uint8_t stray = 0;
        comlink::ReceiveByte(stray, 0);
        if (comlink::SendByte(0x07) && comlink::ReceiveByte(id, kIdTimeout) && id != 0xFF) {
            answered = true;
            const std::string& name = ApplIdTable()[id];
            if (!name.empty()) {
                matched = true;
                appl.applName = name;
            }
        }
    }
    if (!matched) {
        appl.errorText = std::string("MC-Application ") + " not connected to COM";
        if (answered) {
            appl.errorText += ", MC returns $" + foundation::ByteToHex(id);
        }
        return false;
    }
    appl.adrMode = id >= 0x80 || id == 7;
    appl.channel = static_cast<std::uint8_t>(channel - 1);
    varFileName = appl.applName.substr(0, appl.applName.find('*'));
    if (appl.adrMode) {
        varFileName += ".ADR";
    }
    foundation::ResolveFilePath(varFileName);
    return true;
}

bool OpenMCAppl(MCAppl& appl) {
    appl.applName.clear();
    appl.vars.clear();
    appl.opened = false;
    appl.streamingMode = false;
    appl.rateTick = foundation::TickMs();
    bool answered = false;
    std::string varFileName;
    if (!IdentifyMCAppl(appl, answered, varFileName)) {
        if (!answered) {
            return false;
        }
        // An MC that answers with an id nobody knows may be a bus master whose devices do.
        BuildDeviceList();
        if (ScopeLastDeviceIndex() < 0) {
            return false;
        }
    }
    appl.vars.clear();
    appl.frontCount = 0;
    bool loaded = false;
    if (appl.adrMode) {
        loaded = LoadAddressFile(appl, varFileName);
    } else {
        appl.varFileName = varFileName;
        loaded = LoadObjectFile(appl);
    }
    if (!loaded) {
        return false;
    }
    LoadConversions(appl);
    appl.opened = true;
    return true;
}

void InitMCAppl(MCAppl& appl) {
    appl.vars.clear();
    appl.opened = false;
    appl.errorCount = 0;
    appl.errorText.clear();
    appl.applName.clear();
    appl.adrMode = true;
    appl.channel = 1;
    appl.baudRate = comlink::BaudRate();
    appl.lastDeviceIndex = -1;
    appl.currentDevice = -1;
    appl.streamingMode = false;
    appl.busPresent = false;
    comlink::PurgeInput();
    std::uint8_t dropped = 0;
    ReadVariable(appl, 7, 0, dropped);
}

void CloseMCAppl(MCAppl& appl) {
    if (appl.streamingMode) {
        EndDebugAddress(appl);
    }
    appl.vars.clear();
    appl.opened = false;
}

} // namespace mcu
