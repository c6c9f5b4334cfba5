#include "acquisition/driver.h"

#include "link/link_port.h"

#include <cstdlib>
#include <future>
#include <mutex>
#include <set>

namespace acq {

namespace {

// The drivers whose threads run. A program may be ended by exit() with its windows still up
// (Qt does so when the display goes away); the engine must not go on using the link's state
// while exit() destroys it, so a handler stops every thread first.
struct Running {
    std::mutex mutex;
    std::set<ThreadDriver*> drivers;
};

Running& Threads() {
    static Running running;
    return running;
}

void StopAllAtExit() {
    std::set<ThreadDriver*> drivers;
    {
        std::lock_guard<std::mutex> lock(Threads().mutex);
        drivers = Threads().drivers;
    }
    for (ThreadDriver* driver : drivers) {
        driver->Shutdown();
    }
}

void Enlist(ThreadDriver* driver) {
    static const bool registered = [] {
        // What the handler and the engine use exists before the handler is registered, so it
        // is destroyed only after the handler has run.
        Threads();
        comlink::LinkStopRequested();
        return std::atexit(StopAllAtExit) == 0;
    }();
    (void)registered;
    std::lock_guard<std::mutex> lock(Threads().mutex);
    Threads().drivers.insert(driver);
}

void Discharge(ThreadDriver* driver) {
    std::lock_guard<std::mutex> lock(Threads().mutex);
    Threads().drivers.erase(driver);
}

} // namespace

OpenResult ThreadDriver::Open() {
    Enlist(this);
    std::promise<OpenResult> outcome;
    std::future<OpenResult> opened = outcome.get_future();
    thread_ = std::thread([this, outcome = std::move(outcome)]() mutable {
        // From here on every exchange with the MC, the link's close included, is this
        // thread's.
        comlink::ClaimLink();
        OpenResult result = engine_.Open();
        const bool ok = result.applOpened;
        outcome.set_value(std::move(result));
        Run(ok);
        engine_.Close();
        comlink::ReleaseLink();
    });
    return opened.get();
}

void ThreadDriver::Run(bool opened) {
    while (!stop_.load()) {
        if (!opened) {
            engine_.Commands().Wait(std::nullopt);
            engine_.Commands().TakeAll();
            continue;
        }
        StepResult step = engine_.Step();
        if (step.batch && sink_) {
            sink_(std::move(*step.batch));
        }
        if (stop_.load()) {
            break;
        }
        if (!step.waitMs) {
            engine_.Commands().Wait(std::nullopt);
        } else if (*step.waitMs > 0) {
            engine_.Commands().Wait(std::chrono::milliseconds(*step.waitMs));
        }
    }
}

void ThreadDriver::Shutdown() {
    if (!thread_.joinable()) {
        return;
    }
    Discharge(this);
    stop_.store(true);
    // Whatever the engine waits for, a silent MC or a vanished adapter, it gives up at once.
    comlink::RequestLinkStop();
    engine_.Commands().Wake();
    thread_.join();
    comlink::ClearLinkStop();
}

OpenResult StepDriver::Open() {
    open_ = true;
    return engine_.Open();
}

void StepDriver::Shutdown() {
    if (open_) {
        open_ = false;
        engine_.Close();
    }
}

std::optional<std::uint32_t> StepDriver::Step() {
    StepResult step = engine_.Step();
    if (step.batch && sink_) {
        sink_(std::move(*step.batch));
    }
    return step.waitMs;
}

} // namespace acq
