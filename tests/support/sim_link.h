// The in-memory link: the serial-port library the link port drives, wired straight to a
// simulated MC, with the fake clock as the one time base. Protocol tests run through the real
// link port against the simulator in milliseconds and can assert the exact bytes on the wire.
#pragma once

#include "foundation/clock.h"
#include "link/serial_library.h"
#include "sim/simulator.h"

#include <memory>
#include <string>
#include <vector>

namespace testing_support {

class SimSerialLibrary final : public comlink::SerialLibrary {
public:
    SimSerialLibrary(sim::Simulator& sim, foundation::FakeClock& clock);

    int OPENCOM(const comlink::SerialSettings& settings) override;
    void CLOSECOM() override { open_ = false; }
    int SENDBYTE(std::uint8_t b) override;
    int READBYTE() override;
    int INBUFFER() override;
    int OUTBUFFER() override;
    void RTS(int on) override;
    void DTR(int on) override;
    bool IsOpen() const override { return open_; }
    std::string LastError() const override { return {}; }

    bool Rts() const { return rts_; }
    bool Dtr() const { return dtr_; }

private:
    std::uint64_t Now() const { return clock_.NowUs(); }

    sim::Simulator& sim_;
    foundation::FakeClock& clock_;
    bool open_ = false;
    bool rts_ = true;
    bool dtr_ = false;
};

// A simulator built from scenario text, on the in-memory link, with the link port started on
// COM1 (three channels) under a fake clock. Puts the link, the parameters and the clock back
// when it goes.
class SimBench {
public:
    explicit SimBench(const std::string& scenarioText, const std::string& paramText = "");
    ~SimBench();
    SimBench(const SimBench&) = delete;
    SimBench& operator=(const SimBench&) = delete;

    sim::Simulator& Sim() { return *sim_; }
    foundation::FakeClock& Clock() { return clock_; }
    SimSerialLibrary& Serial() { return *serial_; }

    // Bytes the PC sent (as the selected MC's UART decoded them) and the bytes that reached
    // the PC, since the last ClearWire.
    std::vector<std::uint8_t> Sent() const;
    std::vector<std::uint8_t> Received() const;
    void ClearWire() { sim_->ClearTraffic(); }

private:
    foundation::FakeClock clock_;
    foundation::ScopedTickSource useClock_;
    std::unique_ptr<sim::Simulator> sim_;
    std::unique_ptr<SimSerialLibrary> serial_;
    std::unique_ptr<comlink::ScopedSerialLibrary> useSerial_;
};

} // namespace testing_support
