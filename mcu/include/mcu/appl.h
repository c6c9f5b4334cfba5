// The record every MC operation works on, and the table of application names from
// applid.inc.
#pragma once

#include "mcu/var_type.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace mcu {

inline constexpr int kMaxVars = 1200;
inline constexpr std::size_t kMaxVarName = 20;
inline constexpr std::size_t kMaxUnit = 5;
inline constexpr std::size_t kMaxApplName = 8;

struct MCVar {
    std::string name; // at most 20 characters
    std::uint16_t address = 0;
    std::uint8_t bitMask = 0; // 0: the whole byte
    double factor = 1.0;
    double offset = 0.0;
    std::string unit = "1"; // at most 5 characters
    bool linkKeyword = false;
    // From a compiler's debug file; the other sources know only bytes and bits of data RAM.
    VarType type = VarType::U8;
    MemSpace space = MemSpace::Data;
    // False for a variable the debug link cannot read (code memory, indirect RAM above 0x7F,
    // external memory outside the link's pages ...); reason then says which, and its address
    // is the one in its own space, never to be sent over the link.
    bool reachable = true;
    std::string reason = std::string();
};

// One entry of the bus device list.
struct T_VelonDeviceList {
    std::string name;
    std::uint8_t applId = 0;
    std::uint8_t busAddress = 0; // 0x10 local, slot x 32 for bus slots 1..7
};

inline constexpr int kDeviceListSize = 8;
using DeviceList = std::array<T_VelonDeviceList, kDeviceListSize>;

struct MCAppl {
    std::string errorText;
    bool adrMode = false;
    bool opened = false;
    std::uint8_t channel = 0;
    std::uint16_t baudRate = 0;
    std::string applName;
    // Positions 1..count of the table are vars[0..count-1]; the count is vars.size().
    std::vector<MCVar> vars;
    std::int32_t frontCount = 0;
    std::uint16_t errorCount = 0;
    bool streamingMode = false;
    std::uint16_t transferRate = 0;
    // Selector program: the bus device list kept in the record.
    DeviceList deviceList{};
    std::int32_t lastDeviceIndex = -1;
    std::int32_t currentDevice = -1;
    bool busPresent = false;
    std::uint32_t rateTick = 0;
    std::uint16_t transferCount = 0;
    // The variable file as found (address file, or object file without extension); the
    // conversion file is named after it.
    std::string varFileName;

    std::int32_t VarCount() const { return static_cast<std::int32_t>(vars.size()); }
};

using ApplIdNames = std::array<std::string, 256>;

// The names of the application ids; empty where no application has that id.
ApplIdNames& ApplIdTable();

// Fills ApplIdTable from applid.inc (searched along FILE_PATH). A missing file is fatal:
// "applid file <name> not found".
void LoadApplIdTable();
// The line rules on their own: applies one line of applid.inc to table.
void ApplyApplIdLine(const std::string& line, ApplIdNames& table);

} // namespace mcu
