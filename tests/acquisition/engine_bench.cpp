#include "engine_bench.h"

#include "foundation/clock.h"
#include "mcu/access.h"
#include "mcu/appl.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace acquisition_testing {

std::string DemoScenario() {
    std::ifstream in(std::string(DEMO_DIR) + "/demo.scenario");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

EngineBench::EngineBench(const std::string& scenario, const std::string& files,
                         const std::string& params)
    : sim_(scenario, "[FILE_PATH]\n" + files + "\n" + params), engine_(acq::SweepLastMs(704)) {
    foundation::CaptureClockOrigin();
    mcu::ResetMcuModule();
    mcu::SetProgramKind(mcu::ProgramKind::Scope);
    mcu::LoadApplIdTable();
    opened_ = engine_.Open();
    if (!opened_.applOpened) {
        throw std::runtime_error("application not opened: " + opened_.reason);
    }
}

EngineBench::~EngineBench() {
    engine_.Close();
    mcu::ResetMcuModule();
    mcu::ApplIdTable().fill("");
}

void EngineBench::Use(int channel, const std::string& name) {
    const mcu::MCVar* var = opened_.variables.Find(name);
    if (var == nullptr) {
        throw std::runtime_error("no variable " + name);
    }
    engine_.Post(acq::UseVariable{channel, var->address, var->bitMask});
}

acq::Batch EngineBench::Step() {
    acq::StepResult step = engine_.Step();
    wait = step.waitMs;
    return step.batch ? std::move(*step.batch) : acq::Batch{};
}

acq::Batch EngineBench::RunFor(std::uint64_t ms) {
    acq::Batch all;
    const std::uint64_t end = Us() + ms * 1000;
    while (Us() < end) {
        acq::Batch b = Step();
        for (acq::SweepEnd e : b.sweepEnds) {
            e.sample += all.samples.size();
            all.sweepEnds.push_back(e);
        }
        all.samples.insert(all.samples.end(), b.samples.begin(), b.samples.end());
        all.rate = b.rate;
        if (!wait) {
            break; // stopped: nothing moves until a command comes
        }
        if (*wait > 0) {
            Clock().AdvanceMs(*wait);
        }
    }
    return all;
}

namespace {

std::string KilnScenario(bool big) {
    // Each value's bytes in address order.
    auto bytes = [big](std::string little, std::string high) { return big ? high : little; };
    return std::string("device KILN\n appl_id 0x21\n var TICKS 0x23 counter16 1 16") +
           (big ? " big" : "") + "\n mem 0x21 90 0xFD\n mem 0x25 " +
           bytes("0xFB 0xFF", "0xFF 0xFB") + "\n mem 0x2B " +
           bytes("0x60 0x79 0xFE 0xFF", "0xFF 0xFE 0x79 0x60") + "\n mem 0x2F " +
           bytes("0x00 0x00 0xC0 0x3F", "0x3F 0xC0 0x00 0x00") + "\nend\nchannel 1 KILN\n";
}

} // namespace

KilnFiles::KilnFiles() {
    dir.Write("applid.inc", "APPL_KILN EQU 33\n");
    for (const char* file : {"kiln.cdb", "kiln.rst"}) {
        std::filesystem::copy_file(std::string(SDCC_DIR) + "/" + file, dir.path() + "/" + file);
    }
    dir.Write("kiln.cdb.cvt", "GAIN 2 1 V\n");
}

KilnBench::KilnBench(bool big)
    : EngineBench(KilnScenario(big), dir.path(), big ? "[BIG_ENDIAN]\nKILN\n" : "") {}

} // namespace acquisition_testing
