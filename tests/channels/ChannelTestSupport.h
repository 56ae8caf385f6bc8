#pragma once
// What the channel tests share: the driver as a channel sees it, waiting,
// and the local UDP ports of the RTP range.
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "capture/DEVICE_INFO.h"
#include "capture/IDriver.h"
#include "runtime/FormatString.h"

namespace channeltest {

struct Message {
    int level = 0;
    std::string text;
};

// Settings a channel reads, hosts it hands out, and every formatted message.
class FakeDriver : public kestrel::IDriver {
public:
    FakeDriver() { device.address = "127.0.0.1"; }

    std::string GetDeviceAddress() override { return device.address + kestrel::FormatString(":%hu", device.port); }
    void DebugMessage(int level, const char* format, ...) override __attribute__((format(printf, 3, 4))) {
        va_list args;
        va_start(args, format);
        std::string text = kestrel::FormatStringV(format, args);
        va_end(args);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_messages.push_back({level, std::move(text)});
    }
    std::string GetDriverName() override { return "Halyard"; }
    const kestrel::DEVICE_INFO* GetDeviceInfo() override { return &device; }
    std::pair<int32_t, int32_t> GetIOCounts() override { return {0, 0}; }
    IFrameAllocator* GetFrameAllocator() override { return allocator.load(); }
    CCaptureAPIUser* GetCaptureUser() override { return captureUser.load(); }
    int32_t GetVideoStandard() override { return 0; }
    uint32_t GetCameraCount() override { return cameraCount.load(); }

    std::vector<Message> Messages() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_messages;
    }
    size_t Count(const std::string& needle, int level = -1) {
        size_t n = 0;
        for (const auto& m : Messages())
            n += m.text.find(needle) != std::string::npos && (level < 0 || m.level == level);
        return n;
    }
    std::string Dump() {
        std::string out;
        for (const auto& m : Messages()) out += "\n  " + std::to_string(m.level) + " " + m.text;
        return out;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_messages.clear();
    }

    kestrel::DEVICE_INFO device;  // set before a channel is made
    std::atomic<IFrameAllocator*> allocator{nullptr};
    std::atomic<CCaptureAPIUser*> captureUser{nullptr};
    std::atomic<uint32_t> cameraCount{1};

private:
    std::mutex m_mutex;
    std::vector<Message> m_messages;
};

template <typename Predicate>
bool WaitUntil(Predicate predicate, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// A local UDP port held so that the channel cannot take it.
class HeldUdpPort {
public:
    explicit HeldUdpPort(uint16_t port) : m_fd(::socket(AF_INET, SOCK_DGRAM, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        if (m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~HeldUdpPort() {
        if (m_fd >= 0) ::close(m_fd);
    }
    HeldUdpPort(const HeldUdpPort&) = delete;
    HeldUdpPort& operator=(const HeldUdpPort&) = delete;
    bool Bound() const { return m_fd >= 0; }
    static bool IsFree(uint16_t port) { return HeldUdpPort(port).Bound(); }

private:
    int m_fd;
};

// True when a UDP socket of this process is bound to `port`. Other programs
// may take a port this process released, so "released" is asked this way.
inline bool ProcessHoldsUdpPort(uint16_t port) {
    std::set<std::string> inodes;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (dirent* entry = ::readdir(dir)) {
            char target[64] = {};
            const std::string path = std::string("/proc/self/fd/") + entry->d_name;
            const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
            const std::string link(target, n > 0 ? static_cast<size_t>(n) : 0);
            if (link.rfind("socket:[", 0) == 0) inodes.insert(link.substr(8, link.size() - 9));
        }
        ::closedir(dir);
    }
    // sl local_address rem_address st tx:rx tr:tm retrnsmt uid timeout inode
    std::ifstream table("/proc/net/udp");
    std::string line, slot, local, skip, inode;
    std::getline(table, line);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        fields >> slot >> local;
        for (int i = 0; i < 7; ++i) fields >> skip;
        fields >> inode;
        const size_t colon = local.find(':');
        if (colon != std::string::npos && std::stoul(local.substr(colon + 1), nullptr, 16) == port &&
            inodes.count(inode) != 0) {
            return true;
        }
    }
    return false;
}

}  // namespace channeltest
