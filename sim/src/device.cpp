#include "sim/device.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sim {

namespace {

constexpr std::uint64_t kNsPerMs = 1000000;
constexpr std::uint8_t kAttention = 0x07;
constexpr std::uint8_t kEepromHandshake = 0xF8;
constexpr std::uint8_t kLoaderQuery = 0xA5;
constexpr std::uint8_t kGreeting = 0xAA;
constexpr std::uint8_t kByteModeAnswer = 0x43; // "C"
constexpr std::uint8_t kByteModeRead = 0x80;
constexpr std::uint8_t kByteModeWrite = 0xB0;
constexpr std::uint8_t kByteModeSize = 48;
constexpr std::uint8_t kMaxReadBlock = 16;
constexpr std::uint8_t kMaxWriteBlock = 32;
constexpr std::uint8_t kStatusAccepted = 0;
constexpr std::uint8_t kStatusBadChecksum = 1;
constexpr std::uint8_t kStatusOutOfRange = 2;
// A walk or follow variable left alone for very long catches up at most this many steps.
constexpr long long kMaxCatchUpSteps = 100000;

std::uint64_t SplitMix(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

} // namespace

std::uint32_t LoaderBaudForCode(std::uint8_t code) {
    switch (code) {
    case 0x36:
    case 0x40:
    case 0x50:
    case 0x55:
    case 0x57:
        return 19200;
    case 0x42:
        return 28800;
    default:
        return 0;
    }
}

Device::Device(const DeviceConfig& config, std::uint64_t seed, std::uint64_t originNs)
    : config_(config), originNs_(originNs), baud_(config.baud), restBaud_(config.baud) {
    for (const auto& init : config_.memory) {
        std::copy(init.bytes.begin(), init.bytes.end(), memory_.begin() + init.address);
    }
    eeprom_.fill(0xFF);
    for (const auto& init : config_.eeprom) {
        std::copy(init.bytes.begin(), init.bytes.end(), eeprom_.begin() + init.address);
    }
    flash_.assign(config_.flashSize, 0xFF);
    flashWritten_.assign(config_.flashSize, false);
    variableState_.resize(config_.variables.size());
    for (std::size_t i = 0; i < config_.variables.size(); ++i) {
        const VariableConfig& v = config_.variables[i];
        VariableState& state = variableState_[i];
        state.random = seed ^ (0xD1B54A32D192ED03ull * (i + 1));
        state.lastStep = 0;
        switch (v.wave.kind) {
        case WaveKind::Const:
            StoreVariable(v, v.wave.value);
            break;
        case WaveKind::Walk:
            state.value = (v.wave.lo + v.wave.hi) / 2;
            break;
        case WaveKind::Follow:
            state.value = memory_[v.address];
            break;
        default:
            break;
        }
    }
}

void Device::Start(std::uint64_t tNs) {
    step_ = Step::Idle;
    streaming_ = false;
    blockBaud_ = false;
    baud_ = restBaud_ = config_.baud;
    lastByteNs_ = tNs;
    if (config_.hasLoader) {
        mode_ = Mode::Booting;
        greetingAtNs_ = tNs + config_.bootMs * kNsPerMs;
    } else {
        mode_ = Mode::Application;
    }
}

void Device::HoldInReset() {
    mode_ = Mode::Reset;
    step_ = Step::Idle;
    streaming_ = false;
    blockBaud_ = false;
    baud_ = restBaud_ = config_.baud;
}

std::optional<std::uint64_t> Device::NextTimerNs() const {
    std::optional<std::uint64_t> next;
    auto consider = [&next](std::uint64_t t) {
        if (!next || t < *next) {
            next = t;
        }
    };
    if (mode_ == Mode::Booting) {
        consider(greetingAtNs_);
    }
    if (mode_ == Mode::LoaderWindow) {
        consider(windowEndNs_);
    }
    if (step_ != Step::Idle && (mode_ == Mode::Application || mode_ == Mode::Loader)) {
        consider(lastByteNs_ + config_.exchangeTimeoutMs * kNsPerMs);
    }
    return next;
}

void Device::OnTimer(std::uint64_t tNs, TxActions& out) {
    if (mode_ == Mode::Booting && tNs >= greetingAtNs_) {
        Send(out, kGreeting, ByteRole::Greeting);
        if (config_.startInLoader) {
            mode_ = Mode::Loader;
        } else {
            mode_ = Mode::LoaderWindow;
            windowEndNs_ = greetingAtNs_ + config_.loaderWindowMs * kNsPerMs;
        }
    }
    if (mode_ == Mode::LoaderWindow && tNs >= windowEndNs_) {
        mode_ = Mode::Application;
    }
    if (step_ != Step::Idle && (mode_ == Mode::Application || mode_ == Mode::Loader) &&
        tNs >= lastByteNs_ + config_.exchangeTimeoutMs * kNsPerMs) {
        EndBlock(out);
    }
}

void Device::Receive(std::uint8_t b, std::uint64_t tNs, TxActions& out) {
    Refresh(tNs);
    lastByteNs_ = tNs;
    switch (mode_) {
    case Mode::Reset:
    case Mode::Booting:
        return;
    case Mode::LoaderWindow:
        if (b == kLoaderQuery) {
            mode_ = Mode::Loader;
            LoaderQuery(out);
            return;
        }
        // Anything else starts the application, which serves the byte.
        mode_ = Mode::Application;
        ServeApplication(b, out);
        return;
    case Mode::Loader:
        ServeLoader(b, out);
        return;
    case Mode::Application:
        ServeApplication(b, out);
        return;
    }
}

bool Device::ReadyForBus() const {
    return mode_ == Mode::Application && !streaming_ &&
           (step_ == Step::Idle || step_ == Step::Armed);
}

void Device::CancelExchange() {
    if (step_ == Step::Armed) {
        step_ = Step::Idle;
    }
}

void Device::Send(TxActions& out, std::uint8_t b, ByteRole role) {
    TxAction action;
    action.kind = TxAction::Kind::Byte;
    action.byte = b;
    action.role = role;
    out.push_back(action);
}

bool Device::IsWriteRequest(std::uint8_t b, std::uint8_t& address) const {
    // Attention and the command bytes keep their meaning, so the PC can always resynchronise.
    if (b == kAttention || b >= 0xF0) {
        return false;
    }
    address = static_cast<std::uint8_t>(b - config_.writeBase);
    // COM_VARX belongs to the link itself, so a firmware may keep it outside the window.
    return (address >= config_.writeLo && address <= config_.writeHi) ||
           (config_.comVarx && address == *config_.comVarx);
}

void Device::ServeApplication(std::uint8_t b, TxActions& out) {
    if (ServeBlockSteps(b, out)) {
        return;
    }
    switch (step_) {
    case Step::PageLow:
        step_ = Step::Idle;
        Send(out, Memory(page_ * 256u + b));
        return;
    case Step::WriteValue:
        step_ = Step::Idle;
        memory_[writeAddress_] = b;
        Send(out, b, ByteRole::Echo);
        if (config_.comVarx && writeAddress_ == *config_.comVarx) {
            streaming_ = true;
            xAddress_ = b;
        }
        return;
    case Step::Armed: {
        step_ = Step::Idle;
        std::uint8_t address = 0;
        if (IsWriteRequest(b, address)) {
            writeAddress_ = address;
            step_ = Step::WriteValue;
            Send(out, address, ByteRole::Echo);
            return;
        }
        break; // not a write request: served as a fresh request
    }
    default:
        break;
    }

    if (streaming_) {
        if (b == kAttention) {
            streaming_ = false;
            step_ = Step::Armed;
            Send(out, config_.applId);
        } else {
            // The x-variable is sampled together with the requested byte.
            Send(out, Memory(b));
            Send(out, Memory(xAddress_));
        }
        return;
    }
    if (b == kAttention) {
        step_ = Step::Armed;
        Send(out, config_.applId);
    } else if (b < 0xE0) {
        Send(out, Memory(b));
    } else if (b >= 0xF0 && b <= 0xF7) {
        page_ = static_cast<std::uint8_t>(b - 0xF0);
        step_ = Step::PageLow;
        Send(out, static_cast<std::uint8_t>(page_ * 16), ByteRole::Echo);
    } else if (b == kEepromHandshake) {
        Handshake(out);
    }
    // Other command bytes mean nothing to this firmware: no answer.
}

void Device::ServeLoader(std::uint8_t b, TxActions& out) {
    if (ServeBlockSteps(b, out)) {
        return;
    }
    step_ = Step::Idle;
    if (b == kLoaderQuery) {
        LoaderQuery(out);
    } else if (b == kEepromHandshake) {
        Handshake(out);
    } else if (b >= 1 && b <= kMaxWriteBlock) {
        blockCount_ = b;
        blockBytes_.clear();
        step_ = Step::WriteBlock;
    }
}

void Device::LoaderQuery(TxActions& out) {
    Send(out, config_.deviceCode);
    std::uint32_t rate = LoaderBaudForCode(config_.deviceCode);
    if (rate != 0 && rate != restBaud_) {
        restBaud_ = rate;
        TxAction action;
        action.kind = TxAction::Kind::Baud;
        action.baud = rate;
        out.push_back(action);
    }
}

void Device::Handshake(TxActions& out) {
    switch (config_.eepromMode) {
    case EepromMode::None:
        step_ = Step::Idle;
        return;
    case EepromMode::Block:
        Send(out, 0x07);
        step_ = Step::BlockRequest;
        return;
    case EepromMode::Block19200: {
        Send(out, kEepromHandshake);
        step_ = Step::BlockRequest;
        if (!blockBaud_) {
            blockBaud_ = true;
            TxAction action;
            action.kind = TxAction::Kind::Baud;
            action.baud = 19200;
            out.push_back(action);
        }
        return;
    }
    case EepromMode::ByteMode:
        Send(out, kByteModeAnswer);
        step_ = Step::ByteMode;
        return;
    }
}

void Device::EndBlock(TxActions& out) {
    step_ = Step::Idle;
    if (blockBaud_) {
        blockBaud_ = false;
        TxAction action;
        action.kind = TxAction::Kind::Baud;
        action.baud = restBaud_;
        out.push_back(action);
    }
}

void Device::BlockRequest(std::uint8_t b, TxActions& out) {
    if (b == kEepromHandshake) {
        Handshake(out);
    } else if (b > 0x80 && b <= 0x80 + kMaxReadBlock) {
        blockCount_ = static_cast<std::uint8_t>(b - 0x80);
        blockBytes_.clear();
        step_ = Step::ReadHeader;
    } else if (b >= 1 && b <= kMaxWriteBlock) {
        blockCount_ = b;
        blockBytes_.clear();
        step_ = Step::WriteBlock;
    } else {
        // Not a block: the host has moved on, so the byte is served as a request of its own.
        EndBlock(out);
        if (mode_ == Mode::Application) {
            ServeApplication(b, out);
        } else {
            ServeLoader(b, out);
        }
    }
}

bool Device::ServeBlockSteps(std::uint8_t b, TxActions& out) {
    switch (step_) {
    case Step::BlockRequest:
        BlockRequest(b, out);
        return true;
    case Step::ReadHeader: {
        blockBytes_.push_back(b);
        if (blockBytes_.size() < 3) {
            return true;
        }
        auto sum = static_cast<std::uint8_t>(blockCount_ + blockBytes_[0] + blockBytes_[1]);
        blockAddress_ = blockBytes_[0] * 256u + blockBytes_[1];
        if (static_cast<std::uint8_t>(sum + blockBytes_[2]) != 0 ||
            blockAddress_ + blockCount_ > kEepromSize) {
            EndBlock(out); // a request the firmware cannot trust gets no answer
            return true;
        }
        blockIndex_ = 0;
        std::uint8_t data = eeprom_[blockAddress_];
        blockSum_ = static_cast<std::uint8_t>(sum + data);
        step_ = Step::ReadAck;
        Send(out, data);
        return true;
    }
    case Step::ReadAck: {
        ++blockIndex_;
        if (blockIndex_ < blockCount_) {
            std::uint8_t data = eeprom_[blockAddress_ + blockIndex_];
            blockSum_ = static_cast<std::uint8_t>(blockSum_ + data);
            Send(out, data);
        } else {
            Send(out, blockSum_, ByteRole::Sum);
            EndBlock(out);
        }
        return true;
    }
    case Step::WriteBlock:
        blockBytes_.push_back(b);
        if (blockBytes_.size() == blockCount_ + 3u) {
            FinishWriteBlock(out);
        }
        return true;
    case Step::ByteMode:
        if (b >= kByteModeRead && b < kByteModeRead + kByteModeSize) {
            Send(out, eeprom_[b - kByteModeRead]);
            return true;
        }
        if (b >= kByteModeWrite && b < kByteModeWrite + kByteModeSize) {
            writeAddress_ = static_cast<std::uint8_t>(b - kByteModeWrite);
            step_ = Step::ByteWriteData;
            Send(out, writeAddress_, ByteRole::Echo);
            return true;
        }
        if (b == kEepromHandshake) {
            Handshake(out);
            return true;
        }
        step_ = Step::Idle;
        return false;
    case Step::ByteWriteData: {
        eeprom_[writeAddress_] = b;
        step_ = Step::ByteMode;
        if (config_.eepromWriteMs > 0) {
            TxAction pause;
            pause.kind = TxAction::Kind::Pause;
            pause.pauseNs = config_.eepromWriteMs * kNsPerMs;
            out.push_back(pause);
        }
        Send(out, b, ByteRole::Echo);
        return true;
    }
    default:
        return false;
    }
}

void Device::FinishWriteBlock(TxActions& out) {
    std::uint8_t sum = blockCount_;
    for (auto byte : blockBytes_) {
        sum = static_cast<std::uint8_t>(sum + byte);
    }
    std::uint32_t address = blockBytes_[0] * 256u + blockBytes_[1];
    bool toFlash = mode_ == Mode::Loader;
    std::uint32_t size = toFlash ? config_.flashSize : kEepromSize;
    std::uint8_t status = kStatusAccepted;
    if (sum != 0) {
        status = kStatusBadChecksum;
    } else if (address + blockCount_ > size) {
        status = kStatusOutOfRange;
    } else {
        for (std::uint32_t i = 0; i < blockCount_; ++i) {
            std::uint8_t data = blockBytes_[2 + i];
            if (toFlash) {
                flash_[address + i] = data;
                flashWritten_[address + i] = true;
            } else {
                eeprom_[address + i] = data;
            }
        }
        std::uint32_t ms = toFlash ? config_.programMs : config_.eepromWriteMs;
        if (ms > 0) {
            TxAction pause;
            pause.kind = TxAction::Kind::Pause;
            pause.pauseNs = ms * kNsPerMs;
            out.push_back(pause);
        }
    }
    Send(out, status, ByteRole::Status);
    EndBlock(out);
}

void Device::StoreVariable(const VariableConfig& v, int value) {
    if (v.wave.kind == WaveKind::Counter16) {
        const auto low = static_cast<std::uint8_t>(value & 0xFF);
        const auto high = static_cast<std::uint8_t>((value >> 8) & 0xFF);
        memory_[v.address] = v.wave.bigEndian ? high : low;
        memory_[v.address + 1u] = v.wave.bigEndian ? low : high;
        return;
    }
    std::uint8_t& byte = memory_[v.address];
    if (v.bit < 0) {
        byte = static_cast<std::uint8_t>(value);
        return;
    }
    // A constant bit is on when non-zero; a moving one while its waveform is in the upper half.
    bool on = v.wave.kind == WaveKind::Const ? value != 0 : value >= 128;
    auto mask = static_cast<std::uint8_t>(1u << v.bit);
    byte = static_cast<std::uint8_t>(on ? (byte | mask) : (byte & ~mask));
}

int Device::Evaluate(std::size_t index, double ms) {
    const Waveform& w = config_.variables[index].wave;
    VariableState& state = variableState_[index];
    switch (w.kind) {
    case WaveKind::Counter: {
        auto periods = static_cast<unsigned long long>(ms / w.periodMs);
        return static_cast<int>((periods * static_cast<unsigned>(w.step)) % 256);
    }
    case WaveKind::Counter16: {
        auto periods = static_cast<unsigned long long>(ms / w.periodMs);
        return static_cast<int>((periods * static_cast<unsigned>(w.step)) % 65536);
    }
    case WaveKind::Saw: {
        double phase = std::fmod(ms, w.periodMs) / w.periodMs;
        int value = w.lo + static_cast<int>(std::floor((w.hi - w.lo + 1) * phase));
        return std::min(value, w.hi);
    }
    case WaveKind::Sine: {
        double mid = (w.lo + w.hi) / 2.0;
        double amplitude = (w.hi - w.lo) / 2.0;
        double angle = 2 * std::numbers::pi * std::fmod(ms, w.periodMs) / w.periodMs;
        return static_cast<int>(std::lround(mid + amplitude * std::sin(angle)));
    }
    case WaveKind::Square:
        return std::fmod(ms, w.periodMs) < w.periodMs / 2 ? w.lo : w.hi;
    case WaveKind::Walk:
    case WaveKind::Follow: {
        auto stepIndex = static_cast<long long>(ms / w.periodMs);
        long long steps = stepIndex - state.lastStep;
        state.lastStep = stepIndex;
        if (steps <= 0) {
            return state.value;
        }
        if (w.kind == WaveKind::Follow) {
            int target = memory_[w.source];
            int distance = target - state.value;
            auto move = static_cast<int>(std::min<long long>(steps, std::abs(distance)));
            state.value += distance >= 0 ? move : -move;
            return state.value;
        }
        steps = std::min(steps, kMaxCatchUpSteps);
        const int span = 2 * w.step + 1;
        for (long long i = 0; i < steps; ++i) {
            int delta = static_cast<int>(SplitMix(state.random) % span) - w.step;
            state.value = std::clamp(state.value + delta, w.lo, w.hi);
        }
        return state.value;
    }
    case WaveKind::Const:
    case WaveKind::None:
        break;
    }
    return 0;
}

void Device::Refresh(std::uint64_t tNs) {
    double ms = tNs > originNs_ ? static_cast<double>(tNs - originNs_) / kNsPerMs : 0.0;
    for (std::size_t i = 0; i < config_.variables.size(); ++i) {
        const VariableConfig& v = config_.variables[i];
        if (v.wave.kind == WaveKind::None || v.wave.kind == WaveKind::Const) {
            continue;
        }
        StoreVariable(v, Evaluate(i, ms));
    }
}

} // namespace sim
