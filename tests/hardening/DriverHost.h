#pragma once
// A recorder as the hardening and soak tests play it: the library loaded
// with dlopen and driven through the legacy capture interface, a capture
// user whose answer to each frame can be switched (accept, refuse, throw,
// block, stop the channel from inside), a frame allocator that reuses its
// buffers (so memory stays flat over hours) and can be told to have none,
// and the process figures the tests compare before and after.
#include <dirent.h>
#include <dlfcn.h>
#include <malloc.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "host/CCaptureAPIEx.h"
#include "host/CCaptureAPIUser.h"
#include "host/CDebugInfoIf.h"
#include "host/HalyardExports.h"
#include "host/IFrameAllocator.h"
#include "host/IFrameBuffer.h"
#include "tests/hardening/CameraAddress.h"

namespace hardening {

// ---- process figures -------------------------------------------------------

struct ProcFigures {
    int fds = 0;
    int threads = 0;
    long rssKiB = 0;
    long heapKiB = -1;  // bytes handed out by malloc; -1 unknown
};

inline ProcFigures ReadProcFigures() {
    ProcFigures f;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (const dirent* e = ::readdir(d)) {
            if (e->d_name[0] != '.') ++f.fds;
        }
        ::closedir(d);
        --f.fds;  // the directory stream's own
    }
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Threads:", 0) == 0) f.threads = std::stoi(line.substr(8));
        if (line.rfind("VmRSS:", 0) == 0) f.rssKiB = std::stol(line.substr(6));
    }
    return f;
}

// The same, after handing the allocator's free memory back to the system:
// glibc keeps freed memory in per-thread arenas, so threads that come and go
// raise the resident size without anything being held. The heap figure is
// what is really held.
inline ProcFigures ReadLiveFigures() {
    ::malloc_trim(0);
    ProcFigures f = ReadProcFigures();
    const struct mallinfo2 info = ::mallinfo2();
    f.heapKiB = static_cast<long>((info.uordblks + info.hblkhd) / 1024);
    return f;
}

// Waits up to `limit` for the figures to come back to `base` (threads end
// and sockets close a little after the call that ended them returns).
inline bool BackToBaseline(const ProcFigures& base, ProcFigures& now,
                           std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        now = ReadProcFigures();
        if (now.fds <= base.fds && now.threads <= base.threads) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// ---- frames ----------------------------------------------------------------

class Frame : public IFrameBuffer {
public:
    uint32_t GetCapacity() override { return static_cast<uint32_t>(data.size()); }
    uint8_t* GetData(uint32_t size) override {
        if (size > data.size()) data.resize(size);
        return data.data();
    }
    uint32_t GetDataSize() override { return size; }
    void SetDataSize(uint32_t s) override { size = s; }
    void BeginFrame() override {}
    uint64_t GetTimestamp() override { return 0; }
    void SetTimestamp(uint64_t) override {}
    uint32_t GetFlags() override { return 0; }
    void SetFlags(uint32_t) override {}
    void SetFrameFourCC(uint32_t f) override { fourcc = f; }
    uint32_t GetFrameFourCC() override { return fourcc; }
    void SetHeight(int32_t h) override { height = h; }
    int32_t GetHeight() override { return height; }
    void SetWidth(int32_t w) override { width = w; }
    int32_t GetWidth() override { return width; }
    void SetResolution(int32_t k) override { kind = k; }
    int32_t GetResolution() override { return kind; }

    std::vector<uint8_t> data;
    uint32_t size = 0;
    uint32_t fourcc = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t kind = 0;
};

// Hands out frames from a free list; can be told to have none.
class FramePool : public IFrameAllocator {
public:
    ~FramePool() override {
        for (Frame* f : m_free) delete f;
    }
    uint32_t GetFreeCount() override { return 0; }
    IFrameBuffer* AllocateFrame(uint32_t, uint32_t size, const char*) override {
        if (none.load()) return nullptr;
        std::lock_guard<std::mutex> lock(m_mutex);
        Frame* f = nullptr;
        if (!m_free.empty()) {
            f = m_free.back();
            m_free.pop_back();
        } else {
            f = new Frame;
        }
        f->data.reserve(size);
        ++outstanding;
        return f;
    }
    uint32_t GetFrameCount() override { return 0; }
    void Reserved4() override {}
    void Reserved5() override {}
    void ReleaseFrame(IFrameBuffer* frame) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_free.push_back(static_cast<Frame*>(frame));
        --outstanding;
    }

    std::atomic<bool> none{false};
    std::atomic<int> outstanding{0};

private:
    std::mutex m_mutex;
    std::vector<Frame*> m_free;
};

// ---- the capture user ------------------------------------------------------

class Host : public CCaptureAPIUser {
public:
    enum class Answer { Accept, Refuse, Throw, Block, StopFromInside, CloseFromInside };

    int SendFrameCallback(uint32_t channel, IFrameBuffer*, IFrameBuffer* frame) override {
        calls.fetch_add(1);
        switch (answer.load()) {
        case Answer::Refuse:
            return 0;
        case Answer::Throw:
            throw std::runtime_error("host refuses by throwing");
        case Answer::Block:
            std::this_thread::sleep_for(std::chrono::milliseconds(blockMs.load()));
            break;
        case Answer::StopFromInside:
            if (driver != nullptr && !stoppedFromInside.exchange(true)) {
                insideStopResult.store(driver->StopChannel(channel));
                insideStopReturned.store(true);
            }
            break;
        case Answer::CloseFromInside:
            if (driver != nullptr && !stoppedFromInside.exchange(true)) {
                insideStopResult.store(driver->Close());
                insideStopReturned.store(true);
            }
            break;
        default:
            break;
        }
        if (check) {
            auto* f = static_cast<Frame*>(frame);
            if (!check(channel, f->data.data(), f->size)) bad.fetch_add(1);
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_accepted;
        }
        m_cv.notify_all();
        return 1;
    }
    void VideoStopped(uint32_t) override { videoStopped.fetch_add(1); }
    void Reserved3() override {}
    void DebugInfo(CDebugInfoIf* message) override {
        const char* text = message->GetText();
        if (text == nullptr) return;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (std::strstr(text, "SendFrameCallback failed") != nullptr) ++m_refusalMessages;
        m_lastMessage = text;
    }

    size_t Accepted() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_accepted;
    }
    size_t RefusalMessages() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_refusalMessages;
    }
    // Waits until `count` frames more than `from` were accepted.
    bool WaitForAccepted(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(15)) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, limit, [&] { return m_accepted >= count; });
    }

    std::atomic<Answer> answer{Answer::Accept};
    std::atomic<int> blockMs{0};
    std::atomic<int> calls{0};
    std::atomic<int> videoStopped{0};
    std::atomic<int> bad{0};
    CCaptureAPIEx* driver = nullptr;
    std::atomic<bool> stoppedFromInside{false};
    std::atomic<bool> insideStopReturned{false};
    std::atomic<int> insideStopResult{-1};
    // Judges each accepted frame; runs on the driver's receive thread.
    std::function<bool(uint32_t channel, const uint8_t* data, uint32_t size)> check;

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    size_t m_accepted = 0;
    size_t m_refusalMessages = 0;
    std::string m_lastMessage;
};

// ---- the library -----------------------------------------------------------

class Library {
public:
    Library() {
        m_handle = ::dlopen(HALYARD_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        if (m_handle == nullptr) return;
        create = reinterpret_cast<CreateCaptureFn>(::dlsym(m_handle, "CreateCapture"));
        destroy = reinterpret_cast<DeleteCaptureFn>(::dlsym(m_handle, "DeleteCapture"));
    }
    ~Library() {
        if (m_handle != nullptr) ::dlclose(m_handle);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    bool Loaded() const { return create != nullptr && destroy != nullptr; }

    CreateCaptureFn create = nullptr;
    DeleteCaptureFn destroy = nullptr;

private:
    void* m_handle = nullptr;
};

// One driver object set up for a camera on CameraAddress():port, opened.
inline CCaptureAPIEx* OpenDriver(Library& lib, Host& host, FramePool& pool, uint16_t port,
                                 const char* model = "SNC-RZ50P") {
    CCaptureAPIEx* d = lib.create(0);
    if (d == nullptr) return nullptr;
    d->SetCaptureUser(&host);
    d->SetFrameAllocator(&pool);
    d->SetParameter("IPSERVERADDRESS", CameraAddress().c_str(), static_cast<int32_t>(CameraAddress().size()));
    d->SetParameter("IPSERVERPORT", reinterpret_cast<const void*>(uintptr_t{port}), 4);
    d->SetParameter("IPSERVERTYPE", model, static_cast<int32_t>(std::strlen(model)));
    d->SetParameter("IPSERVERUSERNAME", "admin", 5);
    d->SetParameter("IPSERVERPASSWORD", "secret", 6);
    if (d->Open("") != 1) {
        lib.destroy(&d);
        return nullptr;
    }
    return d;
}

}  // namespace hardening
