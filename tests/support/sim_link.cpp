#include "sim_link.h"

#include "foundation/params.h"
#include "link/link_port.h"
#include "sim/scenario.h"

#include <stdexcept>

namespace testing_support {

SimSerialLibrary::SimSerialLibrary(sim::Simulator& sim, foundation::FakeClock& clock)
    : sim_(sim), clock_(clock) {}

int SimSerialLibrary::OPENCOM(const comlink::SerialSettings& settings) {
    sim_.SetPcBaud(settings.baud, Now());
    open_ = true;
    return 0;
}

int SimSerialLibrary::SENDBYTE(std::uint8_t b) {
    sim_.Write(b, Now());
    return 0;
}

int SimSerialLibrary::READBYTE() {
    auto b = sim_.ReadByte(Now());
    return b ? *b : -1;
}

int SimSerialLibrary::INBUFFER() {
    return static_cast<int>(sim_.Available(Now()));
}

int SimSerialLibrary::OUTBUFFER() {
    return Now() < sim_.PcTxIdleUs() ? 1 : 0;
}

void SimSerialLibrary::RTS(int on) {
    rts_ = on != 0;
    sim_.SetLines(rts_, dtr_, Now());
}

void SimSerialLibrary::DTR(int on) {
    dtr_ = on != 0;
    sim_.SetLines(rts_, dtr_, Now());
}

namespace {

std::unique_ptr<sim::Simulator> MakeSimulator(const std::string& text, std::uint64_t nowUs) {
    sim::Scenario scenario;
    std::string error;
    if (!sim::ParseScenario(text, scenario, error)) {
        throw std::runtime_error("scenario: " + error);
    }
    return std::make_unique<sim::Simulator>(scenario, nowUs);
}

} // namespace

SimBench::SimBench(const std::string& scenarioText, const std::string& paramText)
    : useClock_(clock_), sim_(MakeSimulator(scenarioText, clock_.NowUs())),
      serial_(std::make_unique<SimSerialLibrary>(*sim_, clock_)),
      useSerial_(std::make_unique<comlink::ScopedSerialLibrary>(*serial_)) {
    foundation::ResetParams();
    foundation::SetSystemParamFile("/nonexistent/param.ini");
    if (!paramText.empty()) {
        // Parameters come from a file like everywhere else; a scratch file keeps it honest.
        char name[] = "/tmp/simbench-param-XXXXXX";
        int fd = mkstemp(name);
        if (fd >= 0) {
            std::string path = name;
            FILE* f = fdopen(fd, "w");
            std::fputs(paramText.c_str(), f);
            std::fclose(f);
            foundation::ReadParamFile(path);
            std::remove(path.c_str());
        }
    }
    comlink::ResetLink();
    comlink::InitLink();
    comlink::StartLink();
}

SimBench::~SimBench() {
    comlink::CloseLink();
    comlink::ResetLink();
    foundation::ResetParams();
}

std::vector<std::uint8_t> SimBench::Sent() const {
    std::vector<std::uint8_t> bytes;
    for (const auto& e : sim_->Traffic()) {
        if (e.direction == sim::TrafficEntry::Direction::ToMc) {
            bytes.push_back(e.byte);
        }
    }
    return bytes;
}

std::vector<std::uint8_t> SimBench::Received() const {
    std::vector<std::uint8_t> bytes;
    for (const auto& e : sim_->Traffic()) {
        if (e.direction == sim::TrafficEntry::Direction::ToPc && e.heard) {
            bytes.push_back(e.byte);
        }
    }
    return bytes;
}

} // namespace testing_support
