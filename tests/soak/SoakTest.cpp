// Seeded impairment soak: N simulated cameras recorded through the library
// (loaded as a recorder loads it, legacy interface) while the simulators
// drop, duplicate, reorder and burst-lose packets, change SSRC, jump the
// sequence, pause, restart, hang, reset and answer 401/404/500. Every
// delivered picture must be byte-identical to one a simulator sent (its
// stamp's checksum); once the faults stop every camera must deliver again
// and withhold no whole picture; the RTCP extended highest sequence number
// of an unimpaired camera must stay exact across several 16-bit wraps;
// stops are prompt and nothing is left behind.
//
//   HALYARD_SOAK_CAMERAS (2)  HALYARD_SOAK_SECONDS (30)  HALYARD_SOAK_SEED (1)
//   HALYARD_SOAK_FAULT_MS (3000: a fault every 3000 +- 1500 ms)
//   HALYARD_SOAK_CHECK_RSS (unset: report only; set: heap growth < 1 MiB)
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/hardening/DriverHost.h"
#include "tools/camsim/CCamera.h"
#include "tools/camsim/CPictureStamp.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

int EnvInt(const char* name, int fallback) {
    const char* v = std::getenv(name);
    return v != nullptr ? std::atoi(v) : fallback;
}

struct Rig {
    camsim::CameraConfig config;
    std::unique_ptr<camsim::CCamera> camera;
    hardening::Host host;
    hardening::FramePool pool;
    CCaptureAPIEx* driver = nullptr;
    std::atomic<uint64_t> verified{0};
    std::string lastFault;
};

camsim::CameraConfig MakeConfig(unsigned index, uint64_t seed, bool judge) {
    camsim::CameraConfig c;
    c.name = "soak" + std::to_string(index);
    c.defaultFrameRate = 25;
    c.bindAddress = hardening::CameraAddress();
    c.faultSeed = seed * 131 + index;
    c.srIntervalMs = 1000;
    if (judge) {
        // Small payloads: many packets a picture, so the sequence wraps
        // every few seconds.
        c.maxPayload = 64;
        c.firstSequence = 65000;
        c.ssrc = 0x50AC0000u + index;
    }
    return c;
}

class Soak : public ::testing::Test {};

TEST_F(Soak, PicturesStayWholeThroughFaults) {
    const int cameras = std::max(1, EnvInt("HALYARD_SOAK_CAMERAS", 2));
    const int seconds = std::max(5, EnvInt("HALYARD_SOAK_SECONDS", 30));
    const uint64_t seed = static_cast<uint64_t>(EnvInt("HALYARD_SOAK_SEED", 1));
    const int faultMs = std::max(200, EnvInt("HALYARD_SOAK_FAULT_MS", 3000));
    const bool checkRss = std::getenv("HALYARD_SOAK_CHECK_RSS") != nullptr;
    std::mt19937_64 random(seed);

    hardening::Library lib;
    ASSERT_TRUE(lib.Loaded());
    // A thread started and joined first: the thread sanitizer adds a
    // background thread of its own at the first one, which is no leak.
    std::thread([] {}).join();
    const hardening::ProcFigures base = hardening::ReadProcFigures();

    // Camera 0 judges RTCP: it streams unimpaired. The others take faults.
    std::vector<std::unique_ptr<Rig>> rigs;
    for (int i = 0; i <= cameras; ++i) {
        auto rig = std::make_unique<Rig>();
        rig->config = MakeConfig(static_cast<unsigned>(i), seed, i == 0);
        rig->camera = std::make_unique<camsim::CCamera>(rig->config);
        ASSERT_TRUE(rig->camera->Start());
        rig->config.httpPort = rig->camera->Port();  // a restart keeps the port
        Rig* r = rig.get();
        r->host.check = [r](uint32_t, const uint8_t* data, uint32_t size) {
            if (camsim::CPictureStamp::Verify(data, size, nullptr) != camsim::StampResult::Ok) return false;
            r->verified.fetch_add(1);
            return true;
        };
        r->driver = hardening::OpenDriver(lib, r->host, r->pool, r->camera->Port());
        ASSERT_NE(r->driver, nullptr);
        r->host.driver = r->driver;
        ASSERT_EQ(r->driver->StartChannel(0, 40, 2, 50), 1);
        rigs.push_back(std::move(rig));
    }
    for (auto& r : rigs) ASSERT_TRUE(r->host.WaitForAccepted(1, 20s)) << r->config.name;

    // ---- faults ----
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    const auto warm = Clock::now() + std::chrono::seconds(seconds / 4);
    hardening::ProcFigures warmFigures;
    bool warmTaken = false;
    long rssPeak = 0;
    int faultCount = 0;
    std::uniform_int_distribution<int> gap(faultMs / 2, faultMs * 3 / 2);
    std::uniform_int_distribution<int> kind(0, 13);
    std::uniform_int_distribution<int> victim(1, cameras);
    while (Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(gap(random)));
        const hardening::ProcFigures now = hardening::ReadProcFigures();
        rssPeak = std::max(rssPeak, now.rssKiB);
        if (!warmTaken && Clock::now() >= warm) {
            // The simulators share this process; their request logs grow
            // with every restart and are not the driver's.
            for (auto& rig : rigs) rig->camera->ClearRequests();
            warmFigures = hardening::ReadLiveFigures();
            warmTaken = true;
        }
        Rig& r = *rigs[static_cast<size_t>(victim(random))];
        camsim::CCamera& cam = *r.camera;
        cam.ResetFaults();
        ++faultCount;
        switch (kind(random)) {
        case 0:
            cam.SetRtpFaults({.dropFraction = 0.05});
            r.lastFault = "drop";
            break;
        case 1:
            cam.SetRtpFaults({.duplicateFraction = 0.1});
            r.lastFault = "duplicate";
            break;
        case 2:
            cam.SetRtpFaults({.reorderFraction = 0.05});
            r.lastFault = "reorder";
            break;
        case 3:
            cam.SetRtpFaults({.dropFraction = 1.0});
            std::this_thread::sleep_for(300ms);
            cam.ResetFaults();
            r.lastFault = "burst loss";
            break;
        case 4:
            cam.ChangeSsrc();
            r.lastFault = "ssrc";
            break;
        case 5:
            cam.JumpSequence(static_cast<uint32_t>(random() % 40000));
            r.lastFault = "seqjump";
            break;
        case 6:
            cam.SetPaused(true);
            std::this_thread::sleep_for(2s);
            cam.SetPaused(false);
            r.lastFault = "pause";
            break;
        case 7:
            // The camera goes away and comes back on the same port.
            r.camera->Stop();
            r.camera.reset();
            std::this_thread::sleep_for(500ms);
            r.camera = std::make_unique<camsim::CCamera>(r.config);
            ASSERT_TRUE(r.camera->Start());
            r.lastFault = "restart";
            break;
        case 8:
            cam.StopStream("soak");
            r.lastFault = "stream stop";
            break;
        case 9:
            cam.AddHttpFault({"", camsim::HttpFaultAction::Hang, 0, 2});
            cam.StopStream("soak");
            r.lastFault = "hang";
            break;
        case 10:
            cam.AddHttpFault({"", camsim::HttpFaultAction::Close, 0, 3});
            cam.StopStream("soak");
            r.lastFault = "reset";
            break;
        default: {
            const int codes[] = {401, 404, 500};
            cam.AddHttpFault({"", camsim::HttpFaultAction::Status, codes[random() % 3], 3});
            cam.StopStream("soak");
            r.lastFault = "status";
            break;
        }
        }
        // A hang is released after a while, as a slow camera would be.
        if (r.lastFault == "hang") {
            std::this_thread::sleep_for(1s);
            r.camera->ReleaseHangs();
        }
    }
    for (auto& r : rigs) r->camera->ResetFaults();

    // ---- recovery: every camera delivers again, and withholds nothing ----
    for (auto& r : rigs) {
        const size_t before = r->host.Accepted();
        EXPECT_TRUE(r->host.WaitForAccepted(before + 5, 40s)) << r->config.name << " after " << r->lastFault;
    }
    std::this_thread::sleep_for(500ms);
    std::vector<uint64_t> sent0;
    std::vector<size_t> got0;
    for (auto& r : rigs) {
        sent0.push_back(r->camera->GetStreamStats().pictures);
        got0.push_back(r->host.Accepted());
    }
    std::this_thread::sleep_for(3s);
    // Taken as the warm figures were: every camera streaming.
    for (auto& r : rigs) r->camera->ClearRequests();
    const hardening::ProcFigures endFigures = hardening::ReadLiveFigures();
    uint64_t withheld = 0;
    for (size_t i = 0; i < rigs.size(); ++i) {
        const uint64_t sent = rigs[i]->camera->GetStreamStats().pictures - sent0[i];
        const uint64_t got = rigs[i]->host.Accepted() - got0[i];
        // One picture may be under way at each edge of the window.
        EXPECT_GE(got + 2, sent) << rigs[i]->config.name;
        withheld += sent > got + 2 ? sent - got - 2 : 0;
    }

    // ---- RTCP of the unimpaired camera: exact across the wraps ----
    const camsim::StreamStats judge = rigs[0]->camera->GetStreamStats();
    ASSERT_TRUE(judge.lastReport.has_value());
    const uint64_t cameraExtended = 65000 + judge.packets - judge.duplicated + judge.dropped;
    const uint32_t reported = judge.lastReport->extendedHighestSeq;
    const uint64_t wraps = cameraExtended >> 16;
    EXPECT_GE(wraps, 2u) << "the judge did not wrap often enough";
    EXPECT_LE(reported, cameraExtended);
    EXPECT_LE(cameraExtended - reported, 20000u) << "reported " << reported << ", camera at " << cameraExtended;

    // ---- stop: prompt, nothing left ----
    long maxStopMs = 0;
    uint64_t delivered = 0;
    uint64_t bad = 0;
    for (auto& r : rigs) {
        const auto t0 = Clock::now();
        r->driver->StopChannel(0);
        maxStopMs = std::max<long>(
            maxStopMs,
            static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count()));
        r->driver->Close();
        lib.destroy(&r->driver);
        delivered += r->host.Accepted();
        bad += static_cast<uint64_t>(r->host.bad.load());
        EXPECT_EQ(r->pool.outstanding.load(), 0);
    }
    for (auto& r : rigs) r->camera->Stop();
    rigs.clear();
    hardening::ProcFigures after;
    const bool clean = hardening::BackToBaseline(base, after);

    std::printf(
        "soak: %d cameras + judge, %d s, seed %llu, %d faults; %llu pictures delivered, %llu corrupt, "
        "%llu withheld; judge wrapped %llu times, RR ext %u vs camera %llu; max stop %ld ms; "
        "VmRSS warm %ld peak %ld end %ld KiB, heap warm %ld end %ld KiB; fds %d->%d threads %d->%d\n",
        cameras, seconds, static_cast<unsigned long long>(seed), faultCount, static_cast<unsigned long long>(delivered),
        static_cast<unsigned long long>(bad), static_cast<unsigned long long>(withheld),
        static_cast<unsigned long long>(wraps), reported, static_cast<unsigned long long>(cameraExtended), maxStopMs,
        warmFigures.rssKiB, rssPeak, endFigures.rssKiB, warmFigures.heapKiB, endFigures.heapKiB, base.fds, after.fds,
        base.threads, after.threads);
    EXPECT_EQ(bad, 0u);
    EXPECT_LE(maxStopMs, 1000);
    EXPECT_TRUE(clean);
    if (checkRss && warmTaken) {
        // VmRSS is reported, not judged: glibc keeps the stacks of ended
        // threads (up to 40 MiB) and arena pages that trimming cannot return,
        // so it creeps while restarts come and go without anything held.
        EXPECT_LT(endFigures.heapKiB - warmFigures.heapKiB, 1024) << "heap grew after warm-up";
    }
}

}  // namespace
