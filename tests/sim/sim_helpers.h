// A PC for the simulator's own tests: it writes bytes at a time it keeps, and collects what
// has arrived after waiting. Times are microseconds.
#pragma once

#include "sim/scenario.h"
#include "sim/simulator.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace sim_test {

using Bytes = std::vector<std::uint8_t>;

inline sim::Scenario ParseOrFail(const std::string& text) {
    sim::Scenario scenario;
    std::string error;
    EXPECT_TRUE(sim::ParseScenario(text, scenario, error)) << error;
    return scenario;
}

class TestPc {
public:
    explicit TestPc(const std::string& scenarioText, std::uint64_t startUs = 1000)
        : now(startUs), sim(std::make_unique<sim::Simulator>(ParseOrFail(scenarioText), startUs)) {}

    // Sends the bytes back to back, waits waitUs and returns everything that arrived.
    Bytes Send(std::initializer_list<std::uint8_t> bytes, std::uint64_t waitUs = 20000) {
        for (auto b : bytes) {
            sim->Write(b, now);
        }
        return Wait(waitUs);
    }
    Bytes Send(std::uint8_t b, std::uint64_t waitUs = 20000) { return Send({b}, waitUs); }
    // Sends each byte only after the answer to the previous one (as the PC's exchanges do)
    // and returns all answers.
    Bytes Exchange(std::initializer_list<std::uint8_t> bytes, std::uint64_t waitUs = 20000) {
        Bytes all;
        for (auto b : bytes) {
            Bytes got = Send(b, waitUs);
            all.insert(all.end(), got.begin(), got.end());
        }
        return all;
    }
    Bytes Wait(std::uint64_t us) {
        now += us;
        return sim->ReadAll(now);
    }
    void Lines(bool rts, bool dtr) { sim->SetLines(rts, dtr, now); }
    void Baud(std::uint32_t rate) { sim->SetPcBaud(rate, now); }
    sim::Device& Mc(int channel = 1, int slot = 0) { return *sim->DeviceAt(channel, slot); }

    std::uint64_t now;
    std::unique_ptr<sim::Simulator> sim;
};

} // namespace sim_test
