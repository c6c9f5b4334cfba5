// Fixtures of the selector module tests: the link to the simulated MC (or to a scripted port
// for replies the simulator never gives), the console caught in a string, fatal stops
// recorded, and the identification state put back around every test.
#pragma once

#include "fake_serial.h"
#include "foundation/clock.h"
#include "foundation/params.h"
#include "link/link_port.h"
#include "link/serial_library.h"
#include "selector/console.h"
#include "selector/eepmem.h"
#include "selector/mcsys.h"
#include "sim_link.h"
#include "temp_dir.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace selector_test {

using Bytes = std::vector<std::uint8_t>;

class SelectorTest : public ::testing::Test {
protected:
    SelectorTest() { selector::ResetMcSys(); }
    ~SelectorTest() override {
        bench.reset();
        selector::ResetMcSys();
    }

    // A fresh simulator on the in-memory link; the wire record starts empty.
    testing_support::SimBench& Bench(const std::string& scenario, const std::string& params = "") {
        bench.reset(); // one bench at a time: each installs the link and the clock
        bench = std::make_unique<testing_support::SimBench>(scenario, params);
        bench->ClearWire();
        return *bench;
    }
    std::uint64_t NowMs() const { return bench->Clock().NowUs() / 1000; }
    std::string Out() const { return console.str(); }
    const std::vector<std::string>& Fatals() const { return fatal.messages(); }

    std::stringstream console;
    selector::ScopedConsole useConsole{console};
    testing_support::FatalRecorder fatal;
    testing_support::TempDir dir;
    std::unique_ptr<testing_support::SimBench> bench;
};

// The link on COM1 over a scripted port: every byte the PC sends is answered by the
// responder (or not), 1 ms later.
class ScriptedLink {
public:
    explicit ScriptedLink(std::function<std::optional<std::uint8_t>(std::uint8_t)> responder) {
        comlink::ResetLink();
        foundation::ReadParamFile(dir_.Write("param.ini", "[COM]\n1\n"));
        comlink::InitLink();
        comlink::StartLink();
        serial_.Answer(std::move(responder), 1);
        serial_.calls.clear();
    }
    ~ScriptedLink() {
        comlink::CloseLink();
        comlink::ResetLink();
    }
    ScriptedLink(const ScriptedLink&) = delete;
    ScriptedLink& operator=(const ScriptedLink&) = delete;

    Bytes Sent() const {
        Bytes bytes;
        for (const auto& call : serial_.calls) {
            if (call.rfind("SENDBYTE ", 0) == 0) {
                bytes.push_back(static_cast<std::uint8_t>(std::stoul(call.substr(9), nullptr, 16)));
            }
        }
        return bytes;
    }
    foundation::FakeClock& Clock() { return clock_; }
    testing_support::FakeSerialLibrary& Serial() { return serial_; }

private:
    testing_support::ParamGuard params_;
    testing_support::TempDir dir_;
    foundation::FakeClock clock_{1000};
    testing_support::FakeSerialLibrary serial_{clock_};
    foundation::ScopedTickSource useClock_{clock_};
    comlink::ScopedSerialLibrary useSerial_{serial_};
};

// An image of size bytes with the given bytes marked at address.
inline selector::oEEPMem Image(std::uint32_t size, std::uint32_t address = 0,
                               const Bytes& bytes = {}) {
    selector::oEEPMem image;
    selector::InitImage(image, size);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        image.Data[address + i] = bytes[i];
        image.Marks[address + i] = 1;
    }
    image.Used = static_cast<std::uint32_t>(address + bytes.size());
    return image;
}

// The addresses whose mark is set, in rising order.
inline std::vector<int> MarkedAddresses(const selector::oEEPMem& image) {
    std::vector<int> marked;
    for (std::size_t a = 0; a < image.Marks.size(); ++a) {
        if (image.Marks[a] != 0) {
            marked.push_back(static_cast<int>(a));
        }
    }
    return marked;
}

} // namespace selector_test
