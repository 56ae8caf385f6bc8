// The driver against a host that misbehaves at every boundary it has:
// frame allocators with no frames, frame callbacks that refuse, throw,
// block or stop the channel from inside, API calls repeated, out of order
// and from many threads, and thousands of start/stop cycles. Each case ends
// with the driver still delivering and no thread or socket left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "tests/hardening/DriverHost.h"
#include "tools/camsim/CCamera.h"

namespace {

using namespace std::chrono_literals;
using hardening::Host;

constexpr uint32_t kInterval = 40;  // 25 pictures a second
constexpr int32_t kCif = 2;
constexpr int32_t kQuality = 50;

class HostBoundary : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(lib.Loaded());
        camsim::CameraConfig config;
        config.defaultFrameRate = 25;
        config.bindAddress = hardening::CameraAddress();
        camera = std::make_unique<camsim::CCamera>(config);
        ASSERT_TRUE(camera->Start());
        // Warm up once: the first driver loads what stays loaded (TLS and
        // HTTP libraries, the model file parser).
        {
            CCaptureAPIEx* d = hardening::OpenDriver(lib, host, pool, camera->Port());
            ASSERT_NE(d, nullptr);
            ASSERT_EQ(d->StartChannel(0, kInterval, kCif, kQuality), 1);
            ASSERT_TRUE(host.WaitForAccepted(1));
            d->StopChannel(0);
            lib.destroy(&d);
        }
        base = hardening::ReadProcFigures();
        driver = hardening::OpenDriver(lib, host, pool, camera->Port());
        ASSERT_NE(driver, nullptr);
        host.driver = driver;
    }

    void TearDown() override {
        if (driver != nullptr) {
            driver->Close();
            lib.destroy(&driver);
        }
        hardening::ProcFigures now;
        EXPECT_TRUE(hardening::BackToBaseline(base, now))
            << "fds " << base.fds << " -> " << now.fds << ", threads " << base.threads << " -> " << now.threads;
        EXPECT_EQ(pool.outstanding.load(), 0);
        camera->Stop();
    }

    // The driver works: a fresh start delivers pictures again.
    void ExpectDelivers() {
        host.answer = Host::Answer::Accept;
        pool.none = false;
        driver->StopChannel(0);
        ASSERT_EQ(driver->StartChannel(0, kInterval, kCif, kQuality), 1);
        const size_t before = host.Accepted();
        EXPECT_TRUE(host.WaitForAccepted(before + 3));
        EXPECT_EQ(driver->StopChannel(0), 1);
    }

    hardening::Library lib;
    Host host;
    hardening::FramePool pool;
    std::unique_ptr<camsim::CCamera> camera;
    hardening::ProcFigures base;
    CCaptureAPIEx* driver = nullptr;
};

TEST_F(HostBoundary, AllocatorWithoutFramesDropsPicturesUntilItHasSome) {
    pool.none = true;
    const int before = host.calls.load();
    ASSERT_EQ(driver->StartChannel(0, kInterval, kCif, kQuality), 1);
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(host.calls.load(), before);
    pool.none = false;
    EXPECT_TRUE(host.WaitForAccepted(host.Accepted() + 3));
    ExpectDelivers();
}

TEST_F(HostBoundary, RefusingAndThrowingCallbacksAreReportedAndSurvived) {
    for (const Host::Answer answer : {Host::Answer::Refuse, Host::Answer::Throw}) {
        SCOPED_TRACE(answer == Host::Answer::Refuse ? "refuse" : "throw");
        host.answer = answer;
        const int callsBefore = host.calls.load();
        ASSERT_EQ(driver->StartChannel(0, kInterval, kCif, kQuality), 1);
        const auto end = std::chrono::steady_clock::now() + 10s;
        while (host.calls.load() < callsBefore + 4 && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(20ms);
        }
        EXPECT_GE(host.calls.load(), callsBefore + 4);
        // A refused frame drops the picture after it too; the channel goes on.
        EXPECT_GE(host.RefusalMessages(), 1u);
        EXPECT_EQ(driver->StopChannel(0), 1);
        ExpectDelivers();
    }
}

TEST_F(HostBoundary, BlockingCallbackHoldsOnlyItsOwnChannelAndStopWaitsForIt) {
    host.blockMs = 1500;
    host.answer = Host::Answer::Block;
    ASSERT_EQ(driver->StartChannel(0, kInterval, kCif, kQuality), 1);
    ASSERT_TRUE(host.WaitForAccepted(host.Accepted() + 2, 20s));
    // Other calls are not held up by a callback that blocks.
    int state = 0;
    int second = 0;
    char text[64] = {};
    const auto t0 = std::chrono::steady_clock::now();
    driver->GetChannelStatus(0, &state, &second, text, sizeof text);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 500ms);
    // A stop waits for the callback in progress, and no longer.
    const auto t1 = std::chrono::steady_clock::now();
    EXPECT_EQ(driver->StopChannel(0), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - t1, 5s);
    ExpectDelivers();
}

TEST_F(HostBoundary, StopChannelFromInsideTheFrameCallback) {
    host.answer = Host::Answer::StopFromInside;
    ASSERT_EQ(driver->StartChannel(0, kInterval, kCif, kQuality), 1);
    const auto end = std::chrono::steady_clock::now() + 15s;
    while (!host.insideStopReturned.load() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(host.insideStopReturned.load()) << "StopChannel inside SendFrameCallback never returned";
    EXPECT_EQ(host.insideStopResult.load(), 1);
    // Stopped: after the callback that stopped it, no more frames come.
    std::this_thread::sleep_for(300ms);
    const int calls = host.calls.load();
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(host.calls.load(), calls);
    EXPECT_EQ(driver->StopChannel(0), 0);  // nothing left to stop
    ExpectDelivers();
}

TEST_F(HostBoundary, CloseFromInsideTheFrameCallback) {
    // The harshest host: it closes the whole driver from a frame callback.
    host.answer = Host::Answer::CloseFromInside;
    ASSERT_EQ(driver->StartChannel(0, kInterval, kCif, kQuality), 1);
    const auto end = std::chrono::steady_clock::now() + 15s;
    while (!host.insideStopReturned.load() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(host.insideStopReturned.load()) << "Close inside SendFrameCallback never returned";
    EXPECT_EQ(host.insideStopResult.load(), 1);
    ASSERT_EQ(driver->Open(""), 1);
    ExpectDelivers();
}

TEST_F(HostBoundary, CallsRepeatedAndOutOfOrder) {
    EXPECT_EQ(driver->StopChannel(0), 0);  // never started
    EXPECT_EQ(driver->StopChannel(7), 0);  // no such channel
    EXPECT_EQ(driver->StartChannel(7, kInterval, kCif, kQuality), 0);
    ASSERT_EQ(driver->StartChannel(0, kInterval, kCif, kQuality), 1);
    driver->StartChannel(0, kInterval, kCif, kQuality);  // again while running
    EXPECT_EQ(driver->StopChannel(0), 1);
    EXPECT_EQ(driver->StopChannel(0), 0);
    EXPECT_EQ(driver->Close(), 1);
    driver->Close();                                                   // closed twice
    EXPECT_EQ(driver->StartChannel(0, kInterval, kCif, kQuality), 0);  // not open
    ASSERT_EQ(driver->Open(""), 1);
    driver->Open("");  // opened twice
    ASSERT_EQ(driver->StartChannel(0, kInterval, kCif, kQuality), 1);
    EXPECT_EQ(driver->Close(), 1);  // closes with a channel running
    ASSERT_EQ(driver->Open(""), 1);
    ExpectDelivers();
}

// Start, stop and queries from many threads at once.
void Hammer(CCaptureAPIEx* driver, bool openAndClose) {
    std::atomic<bool> go{true};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 random(static_cast<unsigned>(t) * 7919u + 1);
            while (go.load()) {
                int state = 0;
                int second = 0;
                char text[64] = {};
                void* io = nullptr;
                switch (random() % 8) {
                case 0:
                case 1:
                    driver->StartChannel(0, kInterval, kCif, kQuality);
                    break;
                case 2:
                case 3:
                    driver->StopChannel(0);
                    break;
                case 4:
                    driver->GetChannelStatus(0, &state, &second, text, sizeof text);
                    break;
                case 5:
                    if (openAndClose) driver->GetParameter("ICaptureIOApi", &io, sizeof io);
                    break;
                case 6:
                    if (openAndClose && random() % 8 == 0) {
                        driver->Close();
                        driver->Open("");
                    }
                    break;
                default:
                    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 20));
                    break;
                }
            }
        });
    }
    // HALYARD_HARDENING_SECONDS (scripts/hardening.sh) for a longer hammering.
    const char* env = std::getenv("HALYARD_HARDENING_SECONDS");
    std::this_thread::sleep_for(std::chrono::seconds(env != nullptr ? std::max(1, std::atoi(env)) : 5));
    go = false;
    for (auto& t : threads) t.join();
    driver->Open("");
}

TEST_F(HostBoundary, ManyThreadsStartStopAndQueryAtOnce) {
    Hammer(driver, false);
    ExpectDelivers();
}

// Known fault, left to the driver's owner: Open rewrites the configuration
// and Close the digital I/O pointer while StartChannel and GetParameter on
// other threads read them without the open lock (TSan reports the races).
TEST_F(HostBoundary, ManyThreadsAlsoOpenAndCloseAtOnce) {
    Hammer(driver, true);
    ExpectDelivers();
}

TEST_F(HostBoundary, StartStopCycles) {
    // HALYARD_HARDENING_CYCLES=10000 (scripts/hardening.sh) for the full count.
    const char* env = std::getenv("HALYARD_HARDENING_CYCLES");
    const int cycles = env != nullptr ? std::atoi(env) : 200;
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < cycles; ++i) {
        ASSERT_EQ(driver->StartChannel(0, kInterval, kCif, kQuality), 1) << "cycle " << i;
        if (i % 50 == 0) {
            // Now and then all the way to pictures.
            ASSERT_TRUE(host.WaitForAccepted(host.Accepted() + 1)) << "cycle " << i;
        }
        ASSERT_EQ(driver->StopChannel(0), 1) << "cycle " << i;
    }
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const hardening::ProcFigures now = hardening::ReadProcFigures();
    std::printf("%d start/stop cycles in %.1f s; fds %d -> %d, threads %d -> %d, VmRSS %ld -> %ld KiB\n", cycles,
                seconds, base.fds, now.fds, base.threads, now.threads, base.rssKiB, now.rssKiB);
    ExpectDelivers();
}

}  // namespace
