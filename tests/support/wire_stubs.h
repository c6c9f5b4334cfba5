// Stand-ins between the link port and the simulated MC for the acquisition tests: a link that
// can be pulled away and an MC that can fall silent, and an MC that answers every read at once.
#pragma once

#include "foundation/clock.h"
#include "link/serial_library.h"
#include "sim_link.h"

#include <cstdint>
#include <deque>
#include <string>

namespace testing_support {

// Forwards to the in-memory link to the simulator. Unplugged, the device is gone: it reports
// itself closed and cannot be opened. Muted, the bytes reach the MC but its answers are lost.
// Installs itself for its lifetime and puts the in-memory link back afterwards.
class PluggableLink final : public comlink::SerialLibrary {
public:
    explicit PluggableLink(SimSerialLibrary& inner);
    ~PluggableLink() override;
    PluggableLink(const PluggableLink&) = delete;
    PluggableLink& operator=(const PluggableLink&) = delete;

    void Unplug() { plugged_ = false; }
    // What the device's open reports while unplugged ("device gone" unless set).
    void SetUnpluggedError(std::string text) { unpluggedError_ = std::move(text); }
    void Replug() { plugged_ = true; }
    void Mute(bool on) { muted_ = on; }
    int Opens() const { return opens_; }

    int OPENCOM(const comlink::SerialSettings& settings) override;
    void CLOSECOM() override { inner_.CLOSECOM(); }
    int SENDBYTE(std::uint8_t b) override;
    int READBYTE() override;
    int INBUFFER() override;
    int OUTBUFFER() override { return plugged_ ? inner_.OUTBUFFER() : 0; }
    void RTS(int on) override { inner_.RTS(on); }
    void DTR(int on) override { inner_.DTR(on); }
    bool IsOpen() const override { return plugged_ && inner_.IsOpen(); }
    std::string LastError() const override { return plugged_ ? "" : unpluggedError_; }

private:
    SimSerialLibrary& inner_;
    bool plugged_ = true;
    bool muted_ = false;
    std::string unpluggedError_ = "device gone";
    int opens_ = 0;
};

// An MC that answers each byte it receives with reply at once, moving the fake clock on by
// stepUs per byte: a link far faster than the scope's burst window was made for. Installs
// itself for its lifetime and puts previous back afterwards.
class InstantMc final : public comlink::SerialLibrary {
public:
    InstantMc(foundation::FakeClock& clock, comlink::SerialLibrary& previous, std::uint8_t reply,
              std::uint64_t stepUs);
    ~InstantMc() override;
    InstantMc(const InstantMc&) = delete;
    InstantMc& operator=(const InstantMc&) = delete;

    int Received() const { return received_; }

    int OPENCOM(const comlink::SerialSettings&) override { return 0; }
    void CLOSECOM() override {}
    int SENDBYTE(std::uint8_t b) override;
    int READBYTE() override;
    int INBUFFER() override { return static_cast<int>(pending_.size()); }
    int OUTBUFFER() override { return 0; }
    void RTS(int) override {}
    void DTR(int) override {}
    bool IsOpen() const override { return true; }
    std::string LastError() const override { return {}; }

private:
    foundation::FakeClock& clock_;
    comlink::SerialLibrary& previous_;
    std::uint8_t reply_;
    std::uint64_t stepUs_;
    std::deque<std::uint8_t> pending_;
    int received_ = 0;
};

} // namespace testing_support
