// Memory runs out while the host calls the driver. Every operation of every
// interface the host holds is called with each allocation of the calling
// thread refused: it answers its failure value (or, where it needs no
// memory, its usual one), nothing escapes, nothing terminates, and what it
// was asked to release is released. Afterwards the driver works as before.
//
// The refusal comes from the global allocation functions replaced below.
// The library is loaded with dlopen and binds its allocations to them as it
// binds to any other definition in the executable (the first test shows it).
// The thread sanitizer's runtime brings definitions of its own that cannot
// be replaced; under it the group is skipped.
#include <gtest/gtest.h>

#if defined(__SANITIZE_THREAD__)
#define HALYARD_REPLACES_NEW 0
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define HALYARD_REPLACES_NEW 0
#endif
#endif
#ifndef HALYARD_REPLACES_NEW
#define HALYARD_REPLACES_NEW 1
#endif

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "host/ICaptureIOApi.h"
#include "host/IIPCaptureDriver.h"
#include "host/IIPVideoCapture.h"
#include "tests/hardening/DriverHost.h"
#include "tests/host/TestCapabilities.h"
#include "tests/host/TestDeviceDescription.h"
#include "tests/host/TestHostSink.h"
#include "tests/host/TestIOUser.h"
#include "tests/host/TestStreamFormat.h"
#include "tests/host/TestVideoSink.h"
#include "tools/camsim/CCamera.h"

// ---- allocation functions that can refuse ---------------------------------

namespace {

// Per thread: the driver's own threads and the simulated camera go on
// allocating while the test's thread is starved. The number of allocations
// this thread still gets; -1: no limit.
constinit thread_local long t_allowed = -1;
std::atomic<uint64_t> g_refused{0};

#if HALYARD_REPLACES_NEW
bool Refuse() {
    if (t_allowed < 0) return false;
    if (t_allowed > 0) {
        --t_allowed;
        return false;
    }
    g_refused.fetch_add(1, std::memory_order_relaxed);
    return true;
}

void* Take(std::size_t size) {
    if (Refuse()) return nullptr;
    return std::malloc(size != 0 ? size : 1);
}

void* TakeAligned(std::size_t size, std::align_val_t align) {
    if (Refuse()) return nullptr;
    const std::size_t a = static_cast<std::size_t>(align);
    return std::aligned_alloc(a, (size + a - 1) / a * a);
}

// Out of line: a compiler that sees new and free meet would call them a
// mismatched pair.
__attribute__((noinline)) void Give(void* p) noexcept { std::free(p); }
#endif

}  // namespace

#if HALYARD_REPLACES_NEW
// The whole family is replaced, so that no default definition (nor a
// sanitizer's) is pulled in beside these and every pointer goes back to free.
void* operator new(std::size_t size) {
    if (void* p = Take(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    if (void* p = Take(size)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Take(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Take(size); }
void* operator new(std::size_t size, std::align_val_t align) {
    if (void* p = TakeAligned(size, align)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t align) {
    if (void* p = TakeAligned(size, align)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
    return TakeAligned(size, align);
}
void* operator new[](std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
    return TakeAligned(size, align);
}
void operator delete(void* p) noexcept { Give(p); }
void operator delete[](void* p) noexcept { Give(p); }
void operator delete(void* p, std::size_t) noexcept { Give(p); }
void operator delete[](void* p, std::size_t) noexcept { Give(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Give(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Give(p); }
void operator delete(void* p, std::align_val_t) noexcept { Give(p); }
void operator delete[](void* p, std::align_val_t) noexcept { Give(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { Give(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { Give(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { Give(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { Give(p); }
#endif

namespace {

using namespace std::chrono_literals;
using namespace kestrel::ipcapture;

constexpr uint32_t kInterval = 40;
constexpr int32_t kCif = 2;
constexpr int32_t kQuality = 50;
constexpr uint32_t kJpeg = 0x4745504Au;  // "JPEG" in memory order
const char kModel[] = "SNC-RZ50P";       // one sensor input, one alarm output
// Longer than any short-string buffer: storing it needs the heap.
const char kLongUser[] = "a-user-name-far-longer-than-a-short-string-buffer";

// Runs `call` with the allocations of this thread after the first
// `allowed` refused.
template <typename F>
long Limited(long allowed, F&& call) {
    struct Restore {
        ~Restore() { t_allowed = -1; }
    } restore;
    t_allowed = allowed;
    return call();
}

template <typename F>
long Starved(F&& call) {
    return Limited(0, std::forward<F>(call));
}

// One operation: the state it needs, the call, and its answer with and
// without memory.
struct Row {
    const char* name;
    std::function<void()> prepare;
    std::function<long()> call;
    long starved;
    long normal;
};

class HostileBoundary : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HALYARD_REPLACES_NEW) GTEST_SKIP() << "operator new belongs to the thread sanitizer here";
        ASSERT_TRUE(lib.Loaded());
        m_handle = ::dlopen(HALYARD_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(m_handle, nullptr);
        createIP = reinterpret_cast<CreateIPCaptureFn>(::dlsym(m_handle, "CreateIPCapture"));
        deleteIP = reinterpret_cast<DeleteIPCaptureFn>(::dlsym(m_handle, "DeleteIPCapture"));
        query = reinterpret_cast<QueryModelCapabilitiesFn>(::dlsym(m_handle, "QueryModelCapabilities"));
        ASSERT_TRUE(createIP != nullptr && deleteIP != nullptr && query != nullptr);
        camsim::CameraConfig config;
        config.defaultFrameRate = 25;
        config.bindAddress = hardening::CameraAddress();
        camera = std::make_unique<camsim::CCamera>(config);
        ASSERT_TRUE(camera->Start());
        // The first driver loads what stays loaded (TLS, HTTP, XML).
        CCaptureAPIEx* warm = hardening::OpenDriver(lib, host, pool, camera->Port(), kModel);
        ASSERT_NE(warm, nullptr);
        ASSERT_EQ(warm->StartChannel(0, kInterval, kCif, kQuality), 1);
        ASSERT_TRUE(host.WaitForAccepted(1));
        lib.destroy(&warm);
        base = hardening::ReadProcFigures();
        device.model.name = kModel;
        device.connection.address = hardening::CameraAddress();
        device.connection.port = camera->Port();
        device.connection.userName = "admin";
        device.connection.password = "secret";
    }

    void TearDown() override {
        if (IsSkipped()) return;
        if (driver != nullptr) lib.destroy(&driver);
        if (ip != nullptr) deleteIP(ip);
        hardening::ProcFigures now;
        EXPECT_TRUE(hardening::BackToBaseline(base, now))
            << "fds " << base.fds << " -> " << now.fds << ", threads " << base.threads << " -> " << now.threads;
        EXPECT_EQ(pool.outstanding.load(), 0);
        if (camera) camera->Stop();
        if (m_handle != nullptr) ::dlclose(m_handle);
    }

    void RunTable(const std::vector<Row>& rows) {
        for (const Row& row : rows) {
            SCOPED_TRACE(row.name);
            if (row.prepare) row.prepare();
            const uint64_t before = g_refused.load();
            const long starved = Starved(row.call);
            EXPECT_EQ(starved, row.starved);
            if (row.starved != row.normal) {
                EXPECT_GT(g_refused.load(), before) << "no allocation was refused: the row proves nothing";
            }
            if (row.prepare) row.prepare();
            EXPECT_EQ(row.call(), row.normal);
        }
    }

    // Refuses the first, then the second … allocation of the call, until it
    // needs fewer than it is given: each time it answers its failure value
    // or (the refused allocation was not needed to succeed) its usual one.
    void Sweep(const Row& row) {
        SCOPED_TRACE(row.name);
        for (long allowed = 0; allowed < 20000; ++allowed) {
            if (row.prepare) row.prepare();
            const uint64_t before = g_refused.load();
            const long got = Limited(allowed, row.call);
            if (g_refused.load() == before) {
                EXPECT_EQ(got, row.normal) << "given all it needs";
                std::printf("%s: %ld allocations, each refused once\n", row.name, allowed);
                return;
            }
            if (got != row.starved && got != row.normal) {
                ADD_FAILURE() << "allocation " << allowed << " refused: answered " << got;
                return;
            }
        }
        ADD_FAILURE() << "more than 20000 allocations";
    }

    // ---- states of the legacy driver object -------------------------------
    void Opened() {
        if (driver == nullptr) driver = hardening::OpenDriver(lib, host, pool, camera->Port(), kModel);
        ASSERT_NE(driver, nullptr);
        ASSERT_EQ(driver->Open(""), 1);
    }
    void Closed() {
        Opened();
        ASSERT_EQ(driver->Close(), 1);
    }
    void ChannelStopped() {
        Opened();
        driver->StopChannel(0);
    }
    // Streaming, with pictures arriving and the digital I/O running.
    void ChannelRunning() {
        Opened();
        int state = 0;
        if (driver->GetChannelStatus(0, &state, nullptr, nullptr, 0) == 0) {
            const size_t before = host.Accepted();
            ASSERT_EQ(driver->StartChannel(0, kInterval, kCif, kQuality), 1);
            ASSERT_TRUE(host.WaitForAccepted(before + 1));
        }
        ASSERT_NE(Io(), nullptr);
        ASSERT_TRUE(Io()->SetIOUser(&ioUser));
        Io()->StopIO();
        ASSERT_TRUE(Io()->StartIO());
    }
    kestrel::ICaptureIOApi* Io() {
        kestrel::ICaptureIOApi* io = nullptr;
        if (driver == nullptr || driver->GetParameter("ICaptureIOApi", &io, sizeof io) == 0) return nullptr;
        return io;
    }
    void ExpectDelivers() {
        ChannelStopped();
        const size_t before = host.Accepted();
        ASSERT_EQ(driver->StartChannel(0, kInterval, kCif, kQuality), 1);
        EXPECT_TRUE(host.WaitForAccepted(before + 3));
        EXPECT_EQ(driver->StopChannel(0), 1);
    }

    // ---- states of the IP adapter -----------------------------------------
    // Initialized, with its video object made unless told otherwise (the
    // calls under test must not be the ones that make it).
    void IpInitialized(bool withVideo = true) {
        if (ip == nullptr) ip = createIP();
        ASSERT_NE(ip, nullptr);
        ip->Shutdown();
        video = nullptr;
        ASSERT_TRUE(ip->Initialize(&sink, &pool, &device));
        if (withVideo) video = ip->GetVideoCapture();
        ASSERT_TRUE(!withVideo || video != nullptr);
    }
    void IpVideoRunning() {
        IpInitialized();
        const int before = videoSink.frames.load();
        ASSERT_TRUE(video->StartVideo(0, &videoSink, &format));
        const auto end = std::chrono::steady_clock::now() + 15s;
        while (videoSink.frames.load() == before && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_GT(videoSink.frames.load(), before);
    }

    hardening::Library lib;
    hardening::Host host;
    hardening::FramePool pool;
    testhost::TestIOUser ioUser;
    std::unique_ptr<camsim::CCamera> camera;
    hardening::ProcFigures base;
    CCaptureAPIEx* driver = nullptr;
    IIPCaptureDriver* ip = nullptr;
    IIPVideoCapture* video = nullptr;  // the adapter's, made before each call under test
    testhost::TestHostSink sink;
    testhost::TestDeviceDescription device;
    testhost::TestVideoSink videoSink;
    testhost::TestStreamFormat format;
    CreateIPCaptureFn createIP = nullptr;
    DeleteIPCaptureFn deleteIP = nullptr;
    QueryModelCapabilitiesFn query = nullptr;

private:
    void* m_handle = nullptr;
};

TEST_F(HostileBoundary, TheLoadedLibraryAllocatesThroughTheTestsFunctions) {
    Opened();
    const uint64_t before = g_refused.load();
    // Storing a long name needs the heap inside the library, nowhere else.
    const long stored = Starved([&] {
        return driver->SetParameter("IPSERVERUSERNAME", kLongUser, static_cast<int32_t>(sizeof kLongUser - 1));
    });
    EXPECT_GT(g_refused.load(), before);
    EXPECT_EQ(stored, 0);
}

TEST_F(HostileBoundary, LegacyInterface) {
    int w = 0, h = 0, rate = 0, kind = 0, state = 0, second = 0;
    uint32_t value = 0;
    char text[32] = {};
    void* io = nullptr;
    CCaptureAPIEx*& d = driver;
    auto opened = [&] { Opened(); };
    auto closed = [&] { Closed(); };
    auto stopped = [&] { ChannelStopped(); };
    auto running = [&] { ChannelRunning(); };
    // clang-format off
    const std::vector<Row> rows = {
        {"Init", opened, [&] { return long{d->Init()}; }, 1, 1},
        {"SetCaptureUser", opened, [&] { d->SetCaptureUser(&host); return 1L; }, 1, 1},
        {"SetFrameAllocator", opened, [&] { d->SetFrameAllocator(&pool); return 1L; }, 1, 1},
        {"SetFourCC", opened, [&] { return long{d->SetFourCC(kJpeg)}; }, 1, 1},
        {"GetResolutionSize", opened, [&] { return long{d->GetResolutionSize(kCif, &w, &h)}; }, 1, 1},
        {"Fixed7", opened, [&] { return long{d->Fixed7(0)}; }, 0, 0},
        {"GetCameraCount", opened, [&] { return long{d->GetCameraCount()}; }, 1, 1},
        {"GetFirstFourCC", opened, [&] { return long{d->GetFirstFourCC(&value)}; }, 1, 1},
        {"GetNextFourCC", opened, [&] { return long{d->GetNextFourCC(&value)}; }, 0, 0},
        {"GetMaxFrameRate", opened, [&] { return long{d->GetMaxFrameRate(0, &rate)}; }, 1, 1},
        {"Fixed12", opened, [&] { return long{d->Fixed12()}; }, 1, 1},
        {"GetFirstResolution", opened, [&] { return long{d->GetFirstResolution(&kind)}; }, 1, 1},
        {"GetNextResolution", opened, [&] { return long{d->GetNextResolution(&kind)}; }, 1, 1},
        {"GetFirstFrameInterval", opened, [&] { return long{d->GetFirstFrameInterval(&value)}; }, 1, 1},
        {"GetNextFrameInterval", opened, [&] { return long{d->GetNextFrameInterval(&value)}; }, 1, 1},
        {"Fixed17", opened, [&] { return long{d->Fixed17()}; }, 0, 0},
        {"Open", closed, [&] { return long{d->Open("")}; }, 0, 1},
        // Releasing never needs memory.
        {"Close", running, [&] { return long{d->Close()}; }, 1, 1},
        {"StartChannel", stopped, [&] { return long{d->StartChannel(0, kInterval, kCif, kQuality)}; }, 0, 1},
        {"StopChannel", running, [&] { return long{d->StopChannel(0)}; }, 1, 1},
        {"GetChannelName", opened, [&] { return long{d->GetChannelName(0, text, sizeof text)}; }, 1, 1},
        {"Fixed23", opened, [&] { return long{d->Fixed23()}; }, 0, 0},
        {"Fixed24", opened, [&] { return long{d->Fixed24()}; }, 1, 1},
        {"Fixed25", opened, [&] { return long{d->Fixed25()}; }, 0, 0},
        {"Fixed26", opened, [&] { return long{d->Fixed26(1, 2, 3, 4, 5, 6, 7, 8, 9)}; }, 0, 0},
        {"Fixed27", opened, [&] { return long{d->Fixed27()}; }, 0, 0},
        {"Fixed28", opened, [&] { return long{d->Fixed28(1)}; }, 0, 0},
        {"Fixed29", opened, [&] { d->Fixed29(); return 1L; }, 1, 1},
        {"SetParameter", opened,
         [&] { return long{d->SetParameter("IPSERVERUSERNAME", kLongUser, sizeof kLongUser - 1)}; }, 0, 1},
        {"GetParameter", opened, [&] { return long{d->GetParameter("ICaptureIOApi", &io, sizeof io)}; }, 1, 1},
        {"Fixed32", opened, [&] { return long{d->Fixed32(&w, &h)}; }, 0, 0},
        {"Fixed33", opened, [&] { return long{d->Fixed33(1, 2)}; }, 0, 0},
        {"GetChannelStatus", running,
         [&] { return long{d->GetChannelStatus(0, &state, &second, text, sizeof text)}; }, 1, 1},
        {"Fixed35", opened, [&] { return long{d->Fixed35(1)}; }, 0, 0},
        {"Fixed36", opened, [&] { return long{d->Fixed36(1, 2)}; }, 0, 0},
        {"Fixed37", opened, [&] { return long{d->Fixed37(1, 2)}; }, 0, 0},
        // Last: the frame-interval list stays empty until the next Open.
        {"SetVideoStandard", opened, [&] { return long{d->SetVideoStandard(0)}; }, 1, 1},
    };
    // clang-format on
    RunTable(rows);
    d->SetParameter("IPSERVERUSERNAME", "admin", 5);
    ASSERT_EQ(d->Close(), 1);
    ExpectDelivers();
}

TEST_F(HostileBoundary, DigitalIO) {
    auto running = [&] { ChannelRunning(); };
    auto ioStopped = [&] {
        Opened();
        ASSERT_TRUE(Io()->StopIO());
    };
    const std::vector<Row> rows = {
        {"SetIOUser", running, [&] { return long{Io()->SetIOUser(&ioUser)}; }, 1, 1},
        {"StartIO", ioStopped, [&] { return long{Io()->StartIO()}; }, 0, 1},
        {"StopIO", running, [&] { return long{Io()->StopIO()}; }, 1, 1},
        {"GetInputCount", running, [&] { return long{Io()->GetInputCount()}; }, 1, 1},
        {"GetOutputCount", running, [&] { return long{Io()->GetOutputCount()}; }, 1, 1},
        {"RequestOutputState", running, [&] { return long{Io()->RequestOutputState(0, 2)}; }, 0, 1},
    };
    RunTable(rows);
    // The output still switches: the camera hears the request.
    ChannelRunning();
    ASSERT_TRUE(Io()->RequestOutputState(0, 2));
    EXPECT_TRUE(camera->WaitForRequest("alarmout1on", 5000).has_value());
    ExpectDelivers();
}

TEST_F(HostileBoundary, Exports) {
    CCaptureAPIEx* made = nullptr;
    IIPCaptureDriver* madeIP = nullptr;
    testhost::TestCapabilities capabilities;
    // clang-format off
    const std::vector<Row> rows = {
        {"CreateCapture", nullptr,
         [&] {
             CCaptureAPIEx* c = lib.create(0);
             const long got = c != nullptr;
             if (c != nullptr) lib.destroy(&c);
             return got;
         },
         0, 1},
        {"DeleteCapture", [&] { made = hardening::OpenDriver(lib, host, pool, camera->Port(), kModel);
                                ASSERT_NE(made, nullptr);
                                ASSERT_EQ(made->StartChannel(0, kInterval, kCif, kQuality), 1);
                                ASSERT_TRUE(host.WaitForAccepted(host.Accepted() + 1)); },
         [&] { return long{lib.destroy(&made)} + (made == nullptr ? 10 : 0); }, 11, 11},
        {"CreateIPCapture", nullptr,
         [&] {
             IIPCaptureDriver* c = createIP();
             const long got = c != nullptr;
             if (c != nullptr) deleteIP(c);
             return got;
         },
         0, 1},
        {"DeleteIPCapture", [&] { IpVideoRunning(); madeIP = ip; ip = nullptr; },
         [&] { deleteIP(madeIP); return 1L; }, 1, 1},
        // The host's own list allocates too; its failure is caught as well.
        {"QueryModelCapabilities", nullptr, [&] { return long{query(1, 0, &capabilities)}; }, 0, 1},
    };
    // clang-format on
    RunTable(rows);
    hardening::ProcFigures now;
    EXPECT_TRUE(hardening::BackToBaseline(base, now)) << "threads " << base.threads << " -> " << now.threads;
}

TEST_F(HostileBoundary, IPCaptureInterface) {
    auto initialized = [&] { IpInitialized(); };
    auto running = [&] { IpVideoRunning(); };
    auto stopped = [&] {
        IpInitialized();
        video->StopVideo(0);
    };
    auto withoutVideo = [&] { IpInitialized(false); };
    int state = 0, second = 0;
    char text[32] = {};
    int32_t isIP = 0;
    testhost::TestResolution cif(352, 288);
    // clang-format off
    const std::vector<Row> rows = {
        {"Initialize", [&] { if (ip == nullptr) ip = createIP(); ASSERT_NE(ip, nullptr); ip->Shutdown(); },
         [&] { return long{ip->Initialize(&sink, &pool, &device)}; }, 0, 1},
        {"Shutdown", running, [&] { ip->Shutdown(); return 1L; }, 1, 1},
        {"GetVideoCapture", withoutVideo, [&] { return long{ip->GetVideoCapture() != nullptr}; }, 0, 1},
        {"GetIOApi", initialized, [&] { return long{ip->GetIOApi() != nullptr}; }, 1, 1},
        {"GetCameraCount", running, [&] { return long{video->GetCameraCount()}; }, 1, 1},
        {"StartVideo", stopped, [&] { return long{video->StartVideo(0, &videoSink, &format)}; }, 0, 1},
        {"StopVideo", running, [&] { return long{video->StopVideo(0)}; }, 1, 1},
        {"ChangeResolution", running, [&] { return long{video->ChangeResolution(0, &cif, kInterval)}; }, 0, 1},
        {"Fixed5", initialized, [&] { return long{video->Fixed5()}; }, 0, 0},
        {"GetChannelStatus", running,
         [&] { return long{video->GetChannelStatus(0, &state, &second, text, sizeof text)}; }, 1, 1},
        {"SetParameter", initialized,
         [&] { return long{video->SetParameter("IPSERVERUSERNAME", kLongUser, sizeof kLongUser - 1)}; }, 0, 1},
        {"GetParameter", initialized, [&] { return long{video->GetParameter("isIPCamera", &isIP, 4)}; }, 1, 1},
    };
    // clang-format on
    RunTable(rows);
    // Still streams to the host's sink.
    IpVideoRunning();
    EXPECT_TRUE(video->StopVideo(0));
}

// Everything that builds something, with each of its allocations refused
// in turn: a start that fails half-way leaves nothing running behind it.
TEST_F(HostileBoundary, EachAllocationOfEveryStartMayFail) {
    CCaptureAPIEx*& d = driver;
    // clang-format off
    const std::vector<Row> rows = {
        {"Open", [&] { Closed(); }, [&] { return long{d->Open("")}; }, 0, 1},
        {"StartChannel", [&] { ChannelStopped(); },
         [&] { return long{d->StartChannel(0, kInterval, kCif, kQuality)}; }, 0, 1},
        {"StartIO", [&] { Opened(); Io()->StopIO(); }, [&] { return long{Io()->StartIO()}; }, 0, 1},
        {"RequestOutputState", [&] { ChannelRunning(); }, [&] { return long{Io()->RequestOutputState(0, 2)}; }, 0, 1},
        {"SetParameter", [&] { Opened(); },
         [&] { return long{d->SetParameter("IPSERVERUSERNAME", kLongUser, sizeof kLongUser - 1)}; }, 0, 1},
        {"CreateCapture", nullptr,
         [&] {
             CCaptureAPIEx* c = lib.create(0);
             const long got = c != nullptr;
             if (c != nullptr) lib.destroy(&c);
             return got;
         },
         0, 1},
        {"Initialize", [&] { if (ip == nullptr) ip = createIP(); ASSERT_NE(ip, nullptr); ip->Shutdown(); },
         [&] { return long{ip->Initialize(&sink, &pool, &device)}; }, 0, 1},
        {"GetVideoCapture", [&] { IpInitialized(false); }, [&] { return long{ip->GetVideoCapture() != nullptr}; }, 0, 1},
        {"StartVideo", [&] { IpInitialized(); video->StopVideo(0); },
         [&] { return long{video->StartVideo(0, &videoSink, &format)}; }, 0, 1},
    };
    // clang-format on
    for (const Row& row : rows) Sweep(row);
    if (ip != nullptr) ip->Shutdown();
    ExpectDelivers();
}

}  // namespace
