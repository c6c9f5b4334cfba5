#include "sim/scenario.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace sim {

const DeviceConfig* Scenario::FindDevice(const std::string& name) const {
    for (const auto& device : devices) {
        if (device.name == name) {
            return &device;
        }
    }
    return nullptr;
}

namespace {

// Thrown inside the parser only; ParseScenario turns it into its false result.
struct ParseError {
    std::string message;
};

[[noreturn]] void Fail(const std::string& message) {
    throw ParseError{message};
}

bool ParseUnsigned(const std::string& token, std::uint64_t& value) {
    std::string digits = token;
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits = digits.substr(2);
        base = 16;
    } else if (digits.size() > 1 && digits[0] == '$') {
        digits = digits.substr(1);
        base = 16;
    }
    if (digits.empty()) {
        return false;
    }
    const char* end = digits.data() + digits.size();
    auto result = std::from_chars(digits.data(), end, value, base);
    return result.ec == std::errc() && result.ptr == end;
}

bool IsNumber(const std::string& token) {
    std::uint64_t ignored = 0;
    return ParseUnsigned(token, ignored);
}

// One line split into words, with the reading position and the line's number for messages.
class Words {
public:
    Words(std::vector<std::string> words) : words_(std::move(words)) {}

    bool Done() const { return next_ >= words_.size(); }
    const std::string& Peek() const { return words_[next_]; }

    std::string Word(const char* what) {
        if (Done()) {
            Fail(std::string("missing ") + what);
        }
        return words_[next_++];
    }

    std::uint64_t Number(const char* what, std::uint64_t lo, std::uint64_t hi) {
        std::string token = Word(what);
        std::uint64_t value = 0;
        if (!ParseUnsigned(token, value)) {
            Fail(std::string("invalid ") + what + " \"" + token + "\"");
        }
        if (value < lo || value > hi) {
            Fail(std::string(what) + " " + token + " out of range " + std::to_string(lo) + ".." +
                 std::to_string(hi));
        }
        return value;
    }

    double Fraction(const char* what) {
        std::string token = Word(what);
        double value = 0;
        const char* end = token.data() + token.size();
        auto result = std::from_chars(token.data(), end, value);
        if (result.ec != std::errc() || result.ptr != end || !(value >= 0 && value <= 1)) {
            Fail(std::string("invalid ") + what + " \"" + token + "\" (0 to 1)");
        }
        return value;
    }

    bool NextIsNumber() const { return !Done() && IsNumber(Peek()); }

    void End() {
        if (!Done()) {
            Fail("unexpected \"" + Peek() + "\"");
        }
    }

private:
    std::vector<std::string> words_;
    std::size_t next_ = 0;
};

std::vector<std::string> SplitWords(const std::string& line) {
    std::string text = line.substr(0, line.find('#'));
    std::vector<std::string> words;
    std::istringstream in(text);
    std::string word;
    while (in >> word) {
        words.push_back(word);
    }
    return words;
}

constexpr std::uint64_t kMaxMs = 1000ull * 3600 * 24 * 365;
constexpr std::uint64_t kMaxBaud = 4000000;

enum class BaseMode { Auto, Comset, Number };

struct DeviceDraft {
    DeviceConfig config;
    BaseMode baseMode = BaseMode::Auto;
    bool windowGiven = false;
    bool applIdGiven = false;
    std::string comVarxName;                                      // com_varx given as a name
    std::vector<std::pair<std::size_t, std::string>> followNames; // variable index, name
};

const VariableConfig* FindVariable(const DeviceConfig& config, const std::string& name) {
    for (const auto& v : config.variables) {
        if (v.name == name) {
            return &v;
        }
    }
    return nullptr;
}

// Settles what the variables imply once the device block is complete.
void CompleteDevice(DeviceDraft& draft) {
    DeviceConfig& d = draft.config;
    if (!draft.applIdGiven) {
        Fail("device " + d.name + " has no appl_id");
    }
    for (const auto& [index, name] : draft.followNames) {
        const VariableConfig* source = FindVariable(d, name);
        if (source == nullptr) {
            Fail("device " + d.name + ": follow source " + name + " is not a variable");
        }
        d.variables[index].wave.source = source->address;
    }

    const VariableConfig* begin = FindVariable(d, "COMSET_VAR_BEG");
    const VariableConfig* end = FindVariable(d, "COMSET_VAR_END");
    BaseMode mode = draft.baseMode;
    if (mode == BaseMode::Comset && begin == nullptr) {
        Fail("device " + d.name + ": write_base comset needs a variable COMSET_VAR_BEG");
    }
    if (mode == BaseMode::Auto) {
        if (begin != nullptr) {
            mode = BaseMode::Comset;
        } else {
            d.writeBase = (d.applId >= 0x80 || d.applId == 7) ? 0xC0 : 0x80;
        }
    }
    if (mode == BaseMode::Comset) {
        auto lo = static_cast<std::uint8_t>(begin->address & 0xFF);
        d.writeBase = static_cast<std::uint8_t>(0xE0 - lo);
        if (!draft.windowGiven) {
            int hi = end != nullptr ? (end->address & 0xFF) - 1 : lo + 15;
            if (hi < lo) {
                Fail("device " + d.name + ": COMSET_VAR_END lies below COMSET_VAR_BEG");
            }
            d.writeLo = lo;
            d.writeHi = static_cast<std::uint8_t>(std::min(hi, 0xFF));
        }
    } else if (!draft.windowGiven) {
        d.writeLo = 0;
        d.writeHi = d.writeBase == 0x80 ? 0x7F : d.writeBase == 0xC0 ? 0x3F : 0xFF;
    }

    if (!draft.comVarxName.empty()) {
        const VariableConfig* v = FindVariable(d, draft.comVarxName);
        if (v == nullptr) {
            Fail("device " + d.name + ": com_varx " + draft.comVarxName + " is not a variable");
        }
        if (v->address > 0xFF) {
            Fail("device " + d.name + ": com_varx must lie in page 0");
        }
        d.comVarx = static_cast<std::uint8_t>(v->address);
    } else if (!d.comVarx) {
        const VariableConfig* v = FindVariable(d, "COM_VARX");
        if (v != nullptr) {
            if (v->address > 0xFF) {
                Fail("device " + d.name + ": COM_VARX must lie in page 0");
            }
            d.comVarx = static_cast<std::uint8_t>(v->address);
        }
    }
}

Waveform ParseWave(Words& w, DeviceDraft& draft, std::size_t variableIndex) {
    Waveform wave;
    std::string kind = w.Word("waveform");
    auto range = [&w, &wave]() {
        if (w.Done()) {
            return;
        }
        wave.lo = static_cast<int>(w.Number("low value", 0, 255));
        wave.hi = static_cast<int>(w.Number("high value", 0, 255));
        if (wave.lo > wave.hi) {
            Fail("low value above high value");
        }
    };
    auto period = [&w](const char* what) { return static_cast<double>(w.Number(what, 1, kMaxMs)); };
    if (kind == "const") {
        wave.kind = WaveKind::Const;
        wave.value = static_cast<int>(w.Number("value", 0, 255));
    } else if (kind == "counter") {
        wave.kind = WaveKind::Counter;
        wave.periodMs = period("period");
        if (!w.Done()) {
            wave.step = static_cast<int>(w.Number("step", 0, 255));
        }
    } else if (kind == "counter16") {
        // Two bytes that change together, as a 16-bit counter of the firmware does between two
        // reads of the link: the low byte at the address unless "big" says the high one.
        wave.kind = WaveKind::Counter16;
        wave.periodMs = period("period");
        if (!w.Done() && w.NextIsNumber()) {
            wave.step = static_cast<int>(w.Number("step", 0, 65535));
        }
        if (!w.Done()) {
            const std::string order = w.Word("byte order");
            if (order != "big" && order != "little") {
                Fail("byte order must be big or little, not \"" + order + "\"");
            }
            wave.bigEndian = order == "big";
        }
    } else if (kind == "saw" || kind == "sine" || kind == "square") {
        wave.kind = kind == "saw"    ? WaveKind::Saw
                    : kind == "sine" ? WaveKind::Sine
                                     : WaveKind::Square;
        wave.periodMs = period("period");
        range();
    } else if (kind == "walk") {
        wave.kind = WaveKind::Walk;
        wave.periodMs = period("step time");
        if (!w.Done()) {
            wave.step = static_cast<int>(w.Number("largest step", 1, 255));
        }
        range();
    } else if (kind == "follow") {
        wave.kind = WaveKind::Follow;
        std::string source = w.Word("source");
        std::uint64_t address = 0;
        if (ParseUnsigned(source, address)) {
            if (address >= kMemorySize) {
                Fail("source address " + source + " out of range");
            }
            wave.source = static_cast<std::uint16_t>(address);
        } else {
            draft.followNames.emplace_back(variableIndex, source);
        }
        wave.periodMs = w.Done() ? 10.0 : period("step time");
    } else {
        Fail("unknown waveform \"" + kind + "\"");
    }
    w.End();
    return wave;
}

std::vector<std::uint8_t> ParseBytes(Words& w) {
    std::vector<std::uint8_t> bytes;
    while (!w.Done()) {
        bytes.push_back(static_cast<std::uint8_t>(w.Number("byte", 0, 255)));
    }
    if (bytes.empty()) {
        Fail("missing byte");
    }
    return bytes;
}

void ParseDeviceLine(const std::string& key, Words& w, DeviceDraft& draft) {
    DeviceConfig& d = draft.config;
    if (key == "appl_id") {
        d.applId = static_cast<std::uint8_t>(w.Number("application id", 0, 255));
        draft.applIdGiven = true;
    } else if (key == "baud") {
        d.baud = static_cast<std::uint32_t>(w.Number("baud rate", 50, kMaxBaud));
    } else if (key == "var") {
        VariableConfig v;
        v.name = w.Word("variable name");
        if (FindVariable(d, v.name) != nullptr) {
            Fail("variable " + v.name + " defined twice");
        }
        v.address = static_cast<std::uint16_t>(w.Number("address", 0, kMemorySize - 1));
        if (w.NextIsNumber()) {
            v.bit = static_cast<int>(w.Number("bit", 0, 7));
        }
        if (!w.Done()) {
            v.wave = ParseWave(w, draft, d.variables.size());
        }
        if (v.wave.kind == WaveKind::Counter16 && (v.bit >= 0 || v.address + 1u >= kMemorySize)) {
            Fail("variable " + v.name + ": counter16 needs two whole bytes");
        }
        d.variables.push_back(v);
    } else if (key == "mem" || key == "eeprom") {
        bool memory = key == "mem";
        std::uint32_t size = memory ? kMemorySize : kEepromSize;
        MemoryInit init;
        init.address = static_cast<std::uint32_t>(w.Number("address", 0, size - 1));
        init.bytes = ParseBytes(w);
        if (init.address + init.bytes.size() > size) {
            Fail(std::string(memory ? "memory" : "EEPROM") + " bytes run past the end");
        }
        (memory ? d.memory : d.eeprom).push_back(init);
    } else if (key == "write_base") {
        std::string base = w.Word("write base");
        std::uint64_t value = 0;
        if (base == "comset") {
            draft.baseMode = BaseMode::Comset;
        } else if (ParseUnsigned(base, value) && value <= 255) {
            draft.baseMode = BaseMode::Number;
            d.writeBase = static_cast<std::uint8_t>(value);
        } else {
            Fail("invalid write base \"" + base + "\" (comset or a byte)");
        }
    } else if (key == "write_window") {
        d.writeLo = static_cast<std::uint8_t>(w.Number("window start", 0, 255));
        d.writeHi = static_cast<std::uint8_t>(w.Number("window end", d.writeLo, 255));
        draft.windowGiven = true;
    } else if (key == "com_varx") {
        std::string target = w.Word("COM_VARX address or name");
        std::uint64_t value = 0;
        if (ParseUnsigned(target, value)) {
            if (value > 0xFF) {
                Fail("com_varx must lie in page 0");
            }
            d.comVarx = static_cast<std::uint8_t>(value);
        } else {
            draft.comVarxName = target;
        }
    } else if (key == "eeprom_mode") {
        std::string mode = w.Word("EEPROM mode");
        if (mode == "none") {
            d.eepromMode = EepromMode::None;
        } else if (mode == "block") {
            d.eepromMode = EepromMode::Block;
        } else if (mode == "block19200") {
            d.eepromMode = EepromMode::Block19200;
        } else if (mode == "byte") {
            d.eepromMode = EepromMode::ByteMode;
        } else {
            Fail("invalid EEPROM mode \"" + mode + "\" (none, block, block19200, byte)");
        }
    } else if (key == "eeprom_write_ms") {
        d.eepromWriteMs = static_cast<std::uint32_t>(w.Number("time", 0, 10000));
    } else if (key == "loader") {
        d.hasLoader = true;
        d.deviceCode = static_cast<std::uint8_t>(w.Number("device code", 0, 255));
    } else if (key == "boot_ms") {
        d.bootMs = static_cast<std::uint32_t>(w.Number("time", 0, 10000));
    } else if (key == "loader_window_ms") {
        d.loaderWindowMs = static_cast<std::uint32_t>(w.Number("time", 1, 600000));
    } else if (key == "start_in_loader") {
        d.startInLoader = true;
    } else if (key == "program_ms") {
        d.programMs = static_cast<std::uint32_t>(w.Number("time", 0, 10000));
    } else if (key == "flash_size") {
        d.flashSize = static_cast<std::uint32_t>(w.Number("flash size", 1, 0x10000));
    } else if (key == "exchange_timeout_ms") {
        d.exchangeTimeoutMs = static_cast<std::uint32_t>(w.Number("time", 1, 600000));
    } else {
        Fail("unknown device setting \"" + key + "\"");
    }
    w.End();
}

void ParseFault(Words& w, FaultConfig& faults) {
    std::string kind = w.Word("fault kind");
    if (kind == "vanish") {
        faults.vanish = true;
        if (w.Word("\"at\"") != "at") {
            Fail("expected: fault vanish at MS for MS [every MS]");
        }
        faults.vanishAtMs = w.Number("start time", 0, kMaxMs);
        if (w.Word("\"for\"") != "for") {
            Fail("expected: fault vanish at MS for MS [every MS]");
        }
        faults.vanishForMs = w.Number("duration", 1, kMaxMs);
        if (!w.Done()) {
            if (w.Word("\"every\"") != "every") {
                Fail("expected: fault vanish at MS for MS [every MS]");
            }
            faults.vanishEveryMs = w.Number("repetition time", faults.vanishForMs + 1, kMaxMs);
        }
        w.End();
        return;
    }
    FaultRate* rate = kind == "drop"       ? &faults.drop
                      : kind == "echo"     ? &faults.echo
                      : kind == "noise"    ? &faults.noise
                      : kind == "checksum" ? &faults.checksum
                      : kind == "late"     ? &faults.late
                                           : nullptr;
    if (rate == nullptr) {
        Fail("unknown fault \"" + kind + "\" (drop, echo, noise, checksum, late, vanish)");
    }
    std::string how = w.Word("\"every\" or \"fraction\"");
    if (how == "every") {
        rate->every = static_cast<std::uint32_t>(w.Number("count", 1, 1000000));
    } else if (how == "fraction") {
        rate->fraction = w.Fraction("fraction");
    } else {
        Fail("expected \"every N\" or \"fraction F\" after fault " + kind);
    }
    if (kind == "noise" && !w.Done()) {
        faults.noiseCount = static_cast<std::uint32_t>(w.Number("noise byte count", 1, 16));
    }
    if (kind == "late") {
        faults.lateMs = static_cast<std::uint32_t>(w.Number("delay", 1, 600000));
    }
    w.End();
}

struct Placement {
    std::size_t line;
    std::string device;
};

void ParseLines(const std::string& text, Scenario& scenario, std::size_t& lineNumber) {
    std::istringstream in(text);
    std::string line;
    std::optional<DeviceDraft> draft;
    std::vector<Placement> placements;
    std::array<bool, 4> channelGiven{};
    lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        Words w(SplitWords(line));
        if (w.Done()) {
            continue;
        }
        std::string key = w.Word("keyword");
        if (draft) {
            if (key == "end") {
                w.End();
                CompleteDevice(*draft);
                scenario.devices.push_back(draft->config);
                draft.reset();
            } else if (key == "device") {
                Fail("device " + draft->config.name + " is not closed with \"end\"");
            } else {
                ParseDeviceLine(key, w, *draft);
            }
            continue;
        }
        if (key == "device") {
            draft.emplace();
            draft->config.name = w.Word("device name");
            if (scenario.FindDevice(draft->config.name) != nullptr) {
                Fail("device " + draft->config.name + " defined twice");
            }
            w.End();
        } else if (key == "channel") {
            auto channel = w.Number("channel", 1, 3);
            if (channelGiven[channel]) {
                Fail("channel " + std::to_string(channel) + " given twice");
            }
            channelGiven[channel] = true;
            std::string device = w.Word("device name");
            if (device != "none") {
                scenario.channels[channel].device = device;
                placements.push_back({lineNumber, device});
            }
            w.End();
        } else if (key == "bus") {
            auto channel = w.Number("channel", 1, 3);
            scenario.channels[channel].bus = true;
            if (!w.Done()) {
                auto slot = w.Number("slot", 1, 7);
                std::string device = w.Word("device name");
                if (!scenario.channels[channel].slots[slot].empty()) {
                    Fail("slot " + std::to_string(slot) + " of channel " + std::to_string(channel) +
                         " given twice");
                }
                scenario.channels[channel].slots[slot] = device;
                placements.push_back({lineNumber, device});
            }
            w.End();
        } else if (key == "wiring") {
            std::string wiring = w.Word("wiring");
            if (wiring == "com3") {
                scenario.wiring = Wiring::ComThreeChannels;
            } else if (wiring == "com1") {
                scenario.wiring = Wiring::ComOneChannel;
            } else if (wiring == "usb") {
                scenario.wiring = Wiring::UsbAdapter;
            } else {
                Fail("invalid wiring \"" + wiring + "\" (com3, com1, usb)");
            }
            w.End();
        } else if (key == "pty_channel") {
            scenario.ptyChannel = static_cast<int>(w.Number("channel", 1, 3));
            w.End();
        } else if (key == "seed") {
            scenario.seed = w.Number("seed", 0, UINT64_MAX);
            w.End();
        } else if (key == "latency_us") {
            scenario.latencyUs = static_cast<std::uint32_t>(w.Number("latency", 0, 10000000));
            if (!w.Done()) {
                scenario.latencyJitterUs =
                    static_cast<std::uint32_t>(w.Number("jitter", 0, 10000000));
            }
            w.End();
        } else if (key == "fault") {
            ParseFault(w, scenario.faults);
        } else {
            Fail("unknown keyword \"" + key + "\"");
        }
    }
    if (draft) {
        Fail("device " + draft->config.name + " is not closed with \"end\"");
    }
    for (const auto& placement : placements) {
        if (scenario.FindDevice(placement.device) == nullptr) {
            lineNumber = placement.line;
            Fail("device " + placement.device + " is not defined");
        }
    }
    for (int channel = 1; channel <= 3; ++channel) {
        if (scenario.channels[channel].bus && scenario.channels[channel].device.empty()) {
            lineNumber = 0;
            Fail("channel " + std::to_string(channel) + " has a bus but no device of its own");
        }
    }
}

} // namespace

bool ParseScenario(const std::string& text, Scenario& scenario, std::string& error) {
    Scenario parsed;
    std::size_t lineNumber = 0;
    try {
        ParseLines(text, parsed, lineNumber);
    } catch (const ParseError& e) {
        error =
            lineNumber > 0 ? "line " + std::to_string(lineNumber) + ": " + e.message : e.message;
        return false;
    }
    scenario = std::move(parsed);
    error.clear();
    return true;
}

bool LoadScenarioFile(const std::string& path, Scenario& scenario, std::string& error) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        error = path + ": is a folder, not a scenario file";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be opened";
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (!ParseScenario(text.str(), scenario, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

} // namespace sim
