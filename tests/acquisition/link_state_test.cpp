// What the engine does when nothing comes back: a silent MC, a device pulled away and brought
// back, a port another program holds; and the driver that runs the engine on its own thread.
#include "engine_bench.h"
#include "wire_stubs.h"

#include "acquisition/driver.h"
#include "link/link_port.h"
#include "link/posix_serial.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

using namespace acq;
using acquisition_testing::EngineBench;

namespace {

class LinkStateTest : public ::testing::Test {
protected:
    EngineBench bench;
    Engine& engine = bench.Engine();
    testing_support::PluggableLink link{bench.Sim().Serial()};
};

TEST_F(LinkStateTest, ASilentMcIsOfflineUntilItAnswersAgain) {
    bench.Use(1, "SINE");
    link.Mute(true);
    const Batch silent = bench.Step();
    EXPECT_TRUE(silent.samples.empty());
    EXPECT_TRUE(silent.offline);
    EXPECT_EQ(silent.status.link, LinkState::Up);
    EXPECT_EQ(silent.status.reason, LinkReason::McSilent);
    EXPECT_EQ(silent.status.linkError, "no answer on COM1");
    link.Mute(false);
    const Batch back = bench.Step();
    EXPECT_FALSE(back.samples.empty());
    EXPECT_FALSE(back.offline);
    EXPECT_EQ(back.status.reason, LinkReason::None);
}

TEST_F(LinkStateTest, ALostDeviceIsTriedEveryHalfSecondRunningOrNotAndTakenUpAgain) {
    bench.Use(1, "SINE");
    engine.Post(ChannelOneNamed{true});
    bench.Step();

    // Running: the burst fails at once and nothing reaches the MC while the device is gone.
    link.Unplug();
    bench.Sim().ClearWire();
    Batch b = bench.Step();
    EXPECT_TRUE(b.offline);
    EXPECT_EQ(b.status.link, LinkState::Down);
    EXPECT_EQ(b.status.reason, LinkReason::DeviceGone);
    EXPECT_EQ(b.status.linkError, "device gone");
    EXPECT_TRUE(b.status.running);
    // One attempt now, then one every 500 ms; the steps between wait for the next.
    const int opens = link.Opens();
    for (int i = 0; i < 6; ++i) {
        b = bench.Step();
        EXPECT_TRUE(b.offline);
        ASSERT_TRUE(bench.wait.has_value());
        EXPECT_GT(*bench.wait, 0u);
        EXPECT_LE(*bench.wait, kReopenIntervalMs);
        bench.Clock().AdvanceMs(*bench.wait);
    }
    EXPECT_TRUE(bench.Sim().Sent().empty());
    EXPECT_EQ(link.Opens(), opens); // a refused open is not counted by the stand-in
    link.Replug();
    bench.Clock().AdvanceMs(kReopenIntervalMs);
    b = bench.Step();
    EXPECT_EQ(b.status.link, LinkState::Up);
    EXPECT_EQ(b.status.reason, LinkReason::None);
    EXPECT_FALSE(b.samples.empty());

    // Lost while running, then stopped (the window went inactive): the link is still taken
    // up again, and the acquisition restarts as an activation would, since channel 1 is named.
    auto loseAndStop = [&] {
        link.Unplug();
        EXPECT_EQ(bench.Step().status.link, LinkState::Down);
        engine.Post(SwitchChannel{1, false});
        // The batches say so once; the steps after it only wait for the next attempt.
        for (int i = 0; i < 4; ++i) {
            bench.Step();
            EXPECT_FALSE(engine.Running());
            EXPECT_TRUE(bench.wait.has_value());
            bench.Clock().AdvanceMs(bench.wait.value_or(0));
        }
        link.Replug();
        bench.Clock().AdvanceMs(kReopenIntervalMs);
        return bench.Step();
    };
    b = loseAndStop();
    EXPECT_EQ(b.status.link, LinkState::Up);
    EXPECT_TRUE(b.status.running);
    EXPECT_FALSE(b.samples.empty());

    // With channel 1's box empty it stays stopped.
    engine.Post(ChannelOneNamed{false});
    b = loseAndStop();
    EXPECT_EQ(b.status.link, LinkState::Up);
    EXPECT_FALSE(b.status.running);
}

TEST_F(LinkStateTest, APortAnotherProgramHoldsIsToldApart) {
    bench.Use(1, "SINE");
    link.SetUnpluggedError(comlink::InUseText("/dev/ttyUSB0"));
    link.Unplug();
    const Batch b = bench.Step();
    EXPECT_EQ(b.status.reason, LinkReason::PortInUse);
    EXPECT_EQ(b.status.linkError, "/dev/ttyUSB0 is in use by another program");
}

TEST(ThreadDriverTest, RunsTheEngineOnItsOwnThreadAndClosesTheLinkThere) {
    EngineBench opened; // parameters, the application id table and the in-memory link
    opened.Engine().Close();
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<Batch> batches;
    std::thread::id sinkThread;
    {
        ThreadDriver driver(704);
        driver.SetSink([&](Batch&& b) {
            std::lock_guard<std::mutex> lock(mutex);
            sinkThread = std::this_thread::get_id();
            batches.push_back(std::move(b));
            arrived.notify_all();
        });
        const OpenResult result = driver.Open();
        ASSERT_TRUE(result.applOpened) << result.reason;
        EXPECT_EQ(result.applName, "DEMO");
        EXPECT_EQ(result.portName, "COM1");
        const mcu::MCVar* sine = result.variables.Find("SINE");
        ASSERT_NE(sine, nullptr);
        driver.Post(UseVariable{1, sine->address, sine->bitMask});
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(
            arrived.wait_for(lock, std::chrono::seconds(60), [&] { return batches.size() >= 3; }));
        lock.unlock();
        driver.Shutdown();
    }
    EXPECT_NE(sinkThread, std::this_thread::get_id());
    EXPECT_FALSE(batches[1].samples.empty());
    EXPECT_EQ(batches[1].sequence, batches[0].sequence + 1);
    // Closed by the driver's thread, and the link's stop is lifted again.
    EXPECT_TRUE(comlink::LinkDown());
    EXPECT_FALSE(comlink::LinkStopRequested());
}

} // namespace
