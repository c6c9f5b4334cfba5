// The acquisition engine against the simulated MC over the in-memory link under the fake
// clock, opened as the scope opens it: parameters naming the application's folder, the
// application id table, the engine's Open.
#pragma once

#include "acquisition/engine.h"
#include "sim_link.h"
#include "temp_dir.h"

#include <optional>
#include <string>

namespace acquisition_testing {

std::string DemoScenario();

class EngineBench {
public:
    // files: the FILE_PATH folders; params: further lines of the parameter file.
    explicit EngineBench(const std::string& scenario = DemoScenario(),
                         const std::string& files = DEMO_DIR, const std::string& params = "");
    ~EngineBench();
    EngineBench(const EngineBench&) = delete;
    EngineBench& operator=(const EngineBench&) = delete;

    acq::Engine& Engine() { return engine_; }
    const acq::OpenResult& Opened() const { return opened_; }
    testing_support::SimBench& Sim() { return sim_; }
    foundation::FakeClock& Clock() { return sim_.Clock(); }
    std::uint64_t Us() { return sim_.Clock().NowUs(); }

    // The channel takes the table's variable name.
    void Use(int channel, const std::string& name);
    // One step; its batch (empty when it had nothing to tell) and the wait it asked for.
    acq::Batch Step();
    std::optional<std::uint32_t> wait;
    // Steps for ms of fake time; the batches' samples and sweep ends, joined.
    acq::Batch RunFor(std::uint64_t ms);

private:
    testing_support::SimBench sim_;
    acq::Engine engine_;
    acq::OpenResult opened_;
};

// The SDCC application KILN (its debug file tests/data/sdcc/kiln.cdb) on a simulated MC whose
// memory holds its typed variables: TICKS (u16) a counter 16 more every millisecond, so that it
// crosses a byte boundary every 16 ms; LEVEL 90, TREND -3 (i8), SPEED -5 (i16), TOTAL -100000
// (i32), GAIN 1.5 (f32, converted x 2 + 1 in V). big: the application stores its values high byte
// first, and the parameter file says so.
struct KilnFiles {
    KilnFiles();
    testing_support::TempDir dir; // applid.inc, the debug file, a conversion of GAIN
};
class KilnBench : private KilnFiles, public EngineBench {
public:
    explicit KilnBench(bool big = false);
};

} // namespace acquisition_testing
