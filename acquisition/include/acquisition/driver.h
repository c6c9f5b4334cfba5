// What runs the engine for a front end. ThreadDriver is the programs' driver: a thread of its
// own that owns the link, steps the engine while it has work, waits for commands while it has
// none (a lost link is tried again every half second meanwhile), and hands every batch to a
// sink without ever waiting for the front end. StepDriver steps the engine on the caller's
// thread only when told, for tests that drive a window under a fake clock.
#pragma once

#include "acquisition/engine.h"

#include <atomic>
#include <functional>
#include <thread>

namespace acq {

// Receives each batch; called on the engine's thread.
using BatchSink = std::function<void(Batch&&)>;

class Driver {
public:
    virtual ~Driver() = default;
    // Set before Open.
    virtual void SetSink(BatchSink sink) = 0;
    // Opens the link and the application on the engine's thread and waits for the outcome.
    virtual OpenResult Open() = 0;
    virtual std::uint64_t Post(Command command) = 0;
    // Ends the engine at once, whatever it waits for, and closes the link on its thread.
    virtual void Shutdown() = 0;
    // The engine's history of samples (thread-safe).
    virtual History& SampleHistory() = 0;
};

class ThreadDriver final : public Driver {
public:
    explicit ThreadDriver(std::uint32_t sweepLastMs) : engine_(sweepLastMs) {}
    ~ThreadDriver() override { Shutdown(); }
    ThreadDriver(const ThreadDriver&) = delete;
    ThreadDriver& operator=(const ThreadDriver&) = delete;

    void SetSink(BatchSink sink) override { sink_ = std::move(sink); }
    OpenResult Open() override;
    std::uint64_t Post(Command command) override { return engine_.Post(std::move(command)); }
    void Shutdown() override;
    History& SampleHistory() override { return engine_.SampleHistory(); }

private:
    void Run(bool opened);

    Engine engine_;
    BatchSink sink_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
};

class StepDriver final : public Driver {
public:
    explicit StepDriver(std::uint32_t sweepLastMs) : engine_(sweepLastMs) {}
    ~StepDriver() override { Shutdown(); }

    void SetSink(BatchSink sink) override { sink_ = std::move(sink); }
    OpenResult Open() override;
    std::uint64_t Post(Command command) override { return engine_.Post(std::move(command)); }
    void Shutdown() override;
    History& SampleHistory() override { return engine_.SampleHistory(); }

    // One step on the calling thread; its batch goes to the sink. Returns how long the
    // programs' driver would wait before the next one.
    std::optional<std::uint32_t> Step();
    Engine& GetEngine() { return engine_; }

private:
    Engine engine_;
    BatchSink sink_;
    bool open_ = false;
};

} // namespace acq
