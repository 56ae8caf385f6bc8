// The live view without a driver: the shared newest-picture slot, the
// recording list, and the web server against a source of our own.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "tests/tools/record/LiveTestClient.h"
#include "tests/tools/record/RecordTestUtil.h"
#include "tools/record/CLatestPicture.h"
#include "tools/record/CLiveBoard.h"
#include "tools/record/CLiveServer.h"
#include "tools/record/CRecordingList.h"
#include "tools/record/ILiveSource.h"

using namespace kestrel::record;
using livetest::Fields;
using livetest::RawViewer;
using recordtest::TempDir;

namespace {

using namespace std::chrono_literals;

// A picture whose bytes all derive from its number, so a torn copy shows.
std::vector<uint8_t> Pattern(uint32_t number, size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(number * 31 + i);
    bytes[0] = 0xFF, bytes[1] = 0xD8;
    return bytes;
}

bool Intact(const uint8_t* data, size_t size) {
    if (size < 3) return false;
    const uint8_t base = static_cast<uint8_t>(data[2] - 2);
    for (size_t i = 2; i < size; ++i) {
        if (data[i] != static_cast<uint8_t>(base + i)) return false;
    }
    return true;
}

}  // namespace

TEST(LatestPicture, NewestOnlyAndHeldPicturesStayIntact) {
    CLatestPicture slot;
    EXPECT_FALSE(slot.Newest());
    EXPECT_FALSE(slot.WaitNewer(0, 10ms));  // nothing yet: the wait ends empty

    const auto first = Pattern(1, 1000);
    slot.Publish(first.data(), first.size(), 11);
    CLatestPicture::Ref held = slot.Newest();
    ASSERT_TRUE(held);
    EXPECT_EQ(held.Sequence(), 1u);
    EXPECT_EQ(held.ArrivalUs(), 11);

    // Many pictures later the held one is unchanged and the viewer that asks
    // again skips to the newest.
    for (uint32_t n = 2; n <= 50; ++n) {
        const auto bytes = Pattern(n, 500 + n);
        slot.Publish(bytes.data(), bytes.size(), n);
    }
    EXPECT_EQ(std::vector<uint8_t>(held.Data(), held.Data() + held.Size()), first);
    CLatestPicture::Ref next = slot.WaitNewer(held.Sequence(), 10ms);
    ASSERT_TRUE(next);
    EXPECT_EQ(next.Sequence(), 50u);
    EXPECT_EQ(next.Size(), 550u);
    EXPECT_FALSE(slot.WaitNewer(50, 10ms));
    // Two held, one current, one being filled: no more buffers than that.
    EXPECT_LE(slot.Buffers(), 3u);

    slot.Close();
    EXPECT_FALSE(slot.WaitNewer(0, 10s));  // closed: returns at once, even with pictures
}

// Viewers on other threads never see a picture change under them, and the
// publisher never waits for them.
TEST(LatestPicture, ConcurrentViewersSeeWholePictures) {
    CLatestPicture slot;
    constexpr uint32_t kPictures = 3000;
    std::atomic<bool> done{false};
    std::atomic<uint64_t> torn{0}, seen{0};
    std::vector<std::thread> viewers;
    for (int v = 0; v < 4; ++v) {
        viewers.emplace_back([&] {
            uint64_t last = 0;
            while (!done.load()) {
                const CLatestPicture::Ref p = slot.WaitNewer(last, 20ms);
                if (!p) continue;
                EXPECT_GT(p.Sequence(), last);
                last = p.Sequence();
                if (!Intact(p.Data(), p.Size())) torn.fetch_add(1);
                seen.fetch_add(1);
            }
        });
    }
    for (uint32_t n = 1; n <= kPictures; ++n) {
        const auto bytes = Pattern(n, 2000 + n % 700);
        slot.Publish(bytes.data(), bytes.size(), n);
    }
    // The publisher may finish before a viewer thread has run at all; each still gets the last picture.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (seen.load() < 4 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
    done = true;
    for (auto& v : viewers) v.join();
    EXPECT_EQ(slot.Sequence(), kPictures);
    EXPECT_EQ(torn.load(), 0u);
    EXPECT_GE(seen.load(), 4u);
    EXPECT_LE(slot.Buffers(), 4u + 2u);  // one per viewer at most, plus current and filling
}

TEST(RecordingList, OnlyThisCamerasRegularFilesInOrder) {
    TempDir dir;
    const std::string d = dir.Path();
    for (const char* name : {"camera1-002.avi", "camera1.avi", "camera12.avi", "camera1.csv", "camera1-003.avi.part"}) {
        std::ofstream(d + "/" + name) << "data";
    }
    std::filesystem::create_symlink("/etc/passwd", d + "/camera1-009.avi");
    std::filesystem::create_directory(d + "/camera1-010.avi");
    const auto files = CRecordingList::Scan(d, "camera1", ".avi", true);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].name + " " + files[1].name, "camera1-002.avi camera1.avi");
    EXPECT_EQ(files[0].path, d + "/camera1-002.avi");
    EXPECT_EQ(files[0].size, 4u);
    EXPECT_FALSE(files[0].writing);
    EXPECT_TRUE(files[1].writing);
    EXPECT_TRUE(CRecordingList::Scan(d + "/missing", "camera1", ".avi", true).empty());
}

TEST(RecordingList, StartAndLengthFromSegmentNames) {
    TempDir dir;
    for (const char* name : {"2026-12-08T18-10-00.mkv", "2026-12-08T18-00-00.mkv", "notes.mkv"}) {
        std::ofstream(dir.Path() + "/" + name) << "x";
    }
    const auto files = CRecordingList::Scan(dir.Path(), "", ".mkv", false);
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0].name, "2026-12-08T18-00-00.mkv");
    EXPECT_EQ(files[0].lengthS, 600.0);  // up to the next segment's start
    EXPECT_EQ(files[1].startUs - files[0].startUs, 600'000'000);
    EXPECT_EQ(files[2].startUs, 0);
    EXPECT_LT(files[2].lengthS, 0);

    struct Case {
        const char* name;
        bool hasStart;
    };
    for (const auto& c : std::vector<Case>{{"2026-12-08T18-00-00.mkv", true},
                                           {"camera1-2026-01-31T23-59-59.avi", true},
                                           {"2026-13-08T18-00-00.mkv", false},
                                           {"2026-12-08T18-00-0.mkv", false},
                                           {"2026-12-08 18-00-00.mkv", false},
                                           {"", false}}) {
        EXPECT_EQ(CRecordingList::StartFromName(c.name) > 0, c.hasStart) << c.name;
    }
}

namespace {

// The recorder as the server sees it: cameras with slots, files listed from
// a folder, output switches remembered.
class FakeSource : public ILiveSource {
public:
    explicit FakeSource(size_t cameras) {
        for (size_t i = 0; i < cameras; ++i) {
            m_slots.push_back(std::make_shared<CLatestPicture>());
            LiveCameraStatus s;
            s.name = "camera" + std::to_string(i + 1);
            s.state = "streaming";
            s.inputs = {2, 1};
            s.outputs = 2;
            m_status.push_back(s);
        }
    }
    size_t CameraCount() const override { return m_slots.size(); }
    double ElapsedS() const override { return 12; }
    std::vector<LiveCameraStatus> Status() const override { return m_status; }
    std::shared_ptr<CLatestPicture> Latest(size_t index) const override {
        return index < m_slots.size() ? m_slots[index] : nullptr;
    }
    std::vector<RecordingFile> Recordings(size_t index) const override {
        return index == 0 ? m_files : std::vector<RecordingFile>{};
    }
    bool SwitchOutput(size_t index, uint32_t output, bool on, std::string&) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_switched.push_back(std::to_string(index) + "/" + std::to_string(output) + (on ? "=on" : "=off"));
        return true;
    }
    std::vector<std::string> Switched() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_switched;
    }

    std::vector<std::shared_ptr<CLatestPicture>> m_slots;
    std::vector<LiveCameraStatus> m_status;
    std::vector<RecordingFile> m_files;
    std::mutex m_mutex;
    std::vector<std::string> m_switched;
};

// Publishes numbered pictures into a slot until stopped.
class Camera {
public:
    Camera(CLatestPicture& slot, size_t size, std::chrono::milliseconds interval)
        : m_thread([this, &slot, size, interval] {
              for (uint32_t n = 1; !m_stop.load(); ++n) {
                  const auto bytes = Pattern(n, size);
                  slot.Publish(bytes.data(), bytes.size(), n);
                  m_published.fetch_add(1);
                  std::this_thread::sleep_for(interval);
              }
          }) {}
    ~Camera() {
        m_stop = true;
        m_thread.join();
    }
    uint64_t Published() const { return m_published.load(); }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<uint64_t> m_published{0};
    std::thread m_thread;
};

struct Server {
    explicit Server(FakeSource& source, LiveServerOptions options = {}) : server(source, Port0(options)) {
        std::string error;
        started = server.Start(error);
        EXPECT_TRUE(started) << error;
    }
    static LiveServerOptions Port0(LiveServerOptions options) {
        options.port = 0;
        return options;
    }
    CLiveServer server;
    bool started = false;
};

class LiveServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ::signal(SIGPIPE, SIG_IGN); }
};

}  // namespace

// Every part is a whole picture as published: boundary, type, exact length,
// the bytes, and pictures only ever newer.
TEST_F(LiveServer, MultipartFramingCarriesTheVeryBytes) {
    FakeSource source(2);
    Server s(source);
    ASSERT_TRUE(s.started);
    Camera camera(*source.m_slots[1], 30000, 5ms);
    RawViewer viewer(s.server.Port(), "/camera/2/live");
    std::string head;
    ASSERT_TRUE(viewer.Until("\r\n\r\n", head));
    EXPECT_EQ(head.substr(0, 15), "HTTP/1.1 200 OK");
    const auto type = Fields(head)["content-type"];
    const std::string prefix = "multipart/x-mixed-replace; boundary=";
    ASSERT_EQ(type.substr(0, prefix.size()), prefix);
    const std::string boundary = "--" + type.substr(prefix.size());
    std::string previous;
    for (int part = 0; part < 20; ++part) {
        SCOPED_TRACE(part);
        std::string before, partHead, bytes, tail;
        ASSERT_TRUE(viewer.Until(boundary + "\r\n", before));
        EXPECT_EQ(before, "");  // nothing between parts
        ASSERT_TRUE(viewer.Until("\r\n\r\n", partHead));
        auto fields = Fields(partHead);
        EXPECT_EQ(fields["content-type"], "image/jpeg");
        const size_t length = std::stoul(fields["content-length"]);
        ASSERT_TRUE(viewer.Take(length + 2, bytes));
        EXPECT_EQ(bytes.substr(length), "\r\n");
        bytes.resize(length);
        const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
        EXPECT_TRUE(Intact(data, length));
        EXPECT_EQ(length, 30000u);
        EXPECT_NE(bytes, previous);  // never the same picture twice
        previous = bytes;
    }
}

TEST_F(LiveServer, RequestsOutsideWhatIsListedAreRefused) {
    TempDir dir;
    std::ofstream(dir.Path() + "/camera1.avi") << "RIFF....AVI ";
    std::ofstream(dir.Path() + "/secret.txt") << "not listed";
    FakeSource source(3);
    source.m_files = {{"camera1.avi", dir.Path() + "/camera1.avi", 0, -1, 12, true}};
    Server s(source);
    ASSERT_TRUE(s.started);
    httplib::Client client("127.0.0.1", s.server.Port());
    struct Case {
        const char* method;
        const char* path;
        int status;
    };
    const std::vector<Case> cases = {
        {"GET", "/", 200},
        {"GET", "/status", 200},
        {"GET", "/camera/1/recordings", 200},
        {"GET", "/camera/1/recordings.json", 200},
        {"GET", "/camera/1/recordings/camera1.avi", 200},
        {"GET", "/camera/1/latest.jpg", 503},  // no picture yet
        {"GET", "/camera/0/live", 404},
        {"GET", "/camera/4/live", 404},
        {"GET", "/camera/99999999999999999999/live", 404},
        {"GET", "/camera/-1/live", 404},
        {"GET", "/camera/1/recordings/secret.txt", 404},
        {"GET", "/camera/1/recordings/..%2Fsecret.txt", 404},
        {"GET", "/camera/1/recordings/../secret.txt", 404},
        {"GET", "/camera/1/recordings/%2e%2e%2f%2e%2e%2fetc%2fpasswd", 404},
        {"GET", "/camera/2/recordings/camera1.avi", 404},  // another camera's file
        {"GET", "/../../etc/passwd", 404},
        {"GET", "/camera/1/live/extra", 404},
        {"POST", "/camera/1/outputs/1", 403},  // no password: no switching
        {"DELETE", "/camera/1/recordings/camera1.avi", 404},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.path);
        httplib::Result result = std::string(c.method) == "GET"    ? client.Get(c.path)
                                 : std::string(c.method) == "POST" ? client.Post(c.path, "on", "text/plain")
                                                                   : client.Delete(c.path);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, c.status);
        EXPECT_EQ(result->body.find("not listed"), std::string::npos);
    }
    const auto file = client.Get("/camera/1/recordings/camera1.avi");
    ASSERT_TRUE(file);
    EXPECT_EQ(file->body, "RIFF....AVI ");
    EXPECT_NE(file->get_header_value("Content-Disposition").find("camera1-camera1.avi"), std::string::npos);

    const auto status = nlohmann::json::parse(client.Get("/status")->body);
    ASSERT_EQ(status["cameras"].size(), 3u);
    EXPECT_EQ(status["cameras"][2]["name"], "camera3");
    EXPECT_EQ(status["cameras"][0]["inputs"], nlohmann::json::array({"on", "off"}));
    EXPECT_EQ(status["outputs_switchable"], false);
    const auto list = nlohmann::json::parse(client.Get("/camera/1/recordings.json")->body);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]["url"], "/camera/1/recordings/camera1.avi");
    EXPECT_EQ(list[0]["writing"], true);
    EXPECT_TRUE(source.Switched().empty());
}

// A viewer that leaves in the middle of a picture, and one that stops
// reading, each give their place back; the pictures keep coming.
TEST_F(LiveServer, ViewersThatLeaveOrStallAreLetGo) {
    FakeSource source(1);
    LiveServerOptions options;
    options.maxViewersPerCamera = 1;
    options.viewerTimeoutMs = 500;
    Server s(source, options);
    ASSERT_TRUE(s.started);
    Camera camera(*source.m_slots[0], 200000, 2ms);
    const uint16_t port = s.server.Port();

    auto acceptedWithin = [port](std::chrono::seconds limit) {
        for (auto end = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < end;) {
            RawViewer viewer(port, "/camera/1/live");
            std::string head;
            if (viewer.Until("\r\n\r\n", head) && head.find(" 200 ") != std::string::npos) {
                std::string part;
                return viewer.Until("\r\n\r\n", part);  // and a picture starts
            }
            std::this_thread::sleep_for(50ms);
        }
        return false;
    };
    {
        RawViewer leaving(port, "/camera/1/live");
        std::string head, half;
        ASSERT_TRUE(leaving.Until("\r\n\r\n", head));
        ASSERT_TRUE(leaving.Take(100000, half));  // half a picture, then gone
        RawViewer second(port, "/camera/1/live");
        ASSERT_TRUE(second.Until("\r\n\r\n", head));
        EXPECT_NE(head.find(" 503 "), std::string::npos) << head;  // the place is taken
    }
    EXPECT_TRUE(acceptedWithin(10s));

    const uint64_t before = camera.Published();
    {
        RawViewer stalled(port, "/camera/1/live", 4096);  // reads nothing from here on
        std::string head;
        ASSERT_TRUE(stalled.Until("\r\n\r\n", head));
        // The camera goes on while the viewer reads nothing...
        for (auto end = std::chrono::steady_clock::now() + 10s;
             camera.Published() < before + 50 && std::chrono::steady_clock::now() < end;) {
            std::this_thread::sleep_for(10ms);
        }
        EXPECT_GE(camera.Published(), before + 50);
        EXPECT_TRUE(acceptedWithin(20s));  // ...and the viewer is dropped after its time-out
    }
}

TEST_F(LiveServer, PasswordGuardsEveryPathAndTheOutputs) {
    FakeSource source(1);
    LiveServerOptions options;
    options.password = "s3cret:with colon";
    Server s(source, options);
    ASSERT_TRUE(s.started);
    EXPECT_TRUE(s.server.Secure());
    EXPECT_EQ(s.server.Url().substr(0, 8), "https://");
    EXPECT_EQ(s.server.Fingerprint().size(), 32u * 3 - 1);
    httplib::SSLClient client("127.0.0.1", s.server.Port());
    client.enable_server_certificate_verification(false);

    struct Case {
        const char* user;  // nullptr: no credentials
        const char* password;
        const char* path;
        int status;
    };
    const std::vector<Case> cases = {
        {nullptr, nullptr, "/", 401},
        {nullptr, nullptr, "/status", 401},
        {nullptr, nullptr, "/camera/1/live", 401},
        {nullptr, nullptr, "/camera/9/recordings/x", 401},  // even what does not exist
        {"admin", "wrong", "/status", 401},
        {"admin", "s3cret:with colo", "/status", 401},
        {"admin", "s3cret:with colon!", "/status", 401},
        {"", "", "/status", 401},
        {"admin", "s3cret:with colon", "/status", 200},
        {"anyone", "s3cret:with colon", "/", 200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " " + (c.user ? c.user : "-") + ":" + (c.password ? c.password : "-"));
        httplib::Headers headers;
        if (c.user != nullptr) headers.insert(httplib::make_basic_authentication_header(c.user, c.password));
        const auto result = client.Get(c.path, headers);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, c.status);
        if (c.status == 401) {
            EXPECT_EQ(result->get_header_value("WWW-Authenticate").substr(0, 6), "Basic ");
        }
    }
    // Malformed credentials.
    for (const char* value : {"Basic", "Basic !!!!", "Basic YWRtaW4=", "Digest x", "Basic YWRtaW46"}) {
        const auto result = client.Get("/status", {{"Authorization", value}});
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, 401) << value;
    }

    httplib::Headers auth = {httplib::make_basic_authentication_header("admin", "s3cret:with colon")};
    struct Switch {
        const char* path;
        const char* body;
        const char* origin;
        int status;
    };
    const std::vector<Switch> switches = {
        {"/camera/1/outputs/2", "on", nullptr, 200},
        {"/camera/1/outputs/1", "off", nullptr, 200},
        {"/camera/1/outputs/3", "on", nullptr, 404},
        {"/camera/1/outputs/0", "on", nullptr, 404},
        {"/camera/2/outputs/1", "on", nullptr, 404},
        {"/camera/1/outputs/1", "blink", nullptr, 400},
        {"/camera/1/outputs/1", "on", "https://evil.example", 403},
    };
    for (const auto& sw : switches) {
        SCOPED_TRACE(std::string(sw.path) + " " + sw.body);
        httplib::Headers headers = auth;
        if (sw.origin != nullptr) headers.insert({"Origin", sw.origin});
        const auto result = client.Post(sw.path, headers, sw.body, "text/plain");
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, sw.status);
    }
    EXPECT_EQ(source.Switched(), (std::vector<std::string>{"0/1=on", "0/0=off"}));

    auto status = client.Get("/status", auth);
    ASSERT_TRUE(status);
    EXPECT_EQ(nlohmann::json::parse(status->body)["outputs_switchable"], true);
}

TEST_F(LiveServer, BeyondLoopbackOnlyWithAPassword) {
    FakeSource source(1);
    for (const char* address : {"0.0.0.0", "192.0.2.1"}) {
        LiveServerOptions options;
        options.address = address;
        options.port = 0;
        CLiveServer server(source, options);
        std::string error;
        EXPECT_FALSE(server.Start(error)) << address;
        EXPECT_NE(error.find("--http-password-file"), std::string::npos) << error;
    }
    for (const auto& [address, loopback] : std::vector<std::pair<std::string, bool>>{{"127.0.0.1", true},
                                                                                     {"127.9.9.9", true},
                                                                                     {"localhost", true},
                                                                                     {"0.0.0.0", false},
                                                                                     {"128.0.0.1", false},
                                                                                     {"127.0.0", false}}) {
        EXPECT_EQ(CLiveServer::IsLoopback(address), loopback) << address;
    }
}

// A camera a re-read configuration removes leaves the page, and its viewers'
// streams end rather than hang on a camera that will never send again.
TEST_F(LiveServer, RemovedCameraEndsItsViewers) {
    CLiveBoard board;
    auto first = std::make_shared<CLatestPicture>(), second = std::make_shared<CLatestPicture>();
    auto camera = [](const char* name, std::shared_ptr<CLatestPicture> latest) {
        CLiveBoard::Camera c;
        c.status.name = name;
        c.latest = std::move(latest);
        return c;
    };
    board.Update({camera("front", first), camera("back", second)}, 1);
    LiveServerOptions options;
    options.port = 0;
    CLiveServer server(board, options);
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;
    const auto picture = Pattern(7, 5000);
    second->Publish(picture.data(), picture.size(), 1);

    RawViewer viewer(server.Port(), "/camera/2/live");
    std::string head, part, bytes;
    ASSERT_TRUE(viewer.Until("\r\n\r\n", head));
    ASSERT_TRUE(viewer.Until("\r\n\r\n", part));
    ASSERT_TRUE(viewer.Take(5002, bytes));

    board.Update({camera("front", first)}, 2);
    EXPECT_TRUE(viewer.Closed());  // not the socket's 5 s time-out
    httplib::Client client("127.0.0.1", server.Port());
    const auto gone = client.Get("/camera/2/live");
    ASSERT_TRUE(gone);
    EXPECT_EQ(gone->status, 404);
    const auto status = nlohmann::json::parse(client.Get("/status")->body);
    ASSERT_EQ(status["cameras"].size(), 1u);
    EXPECT_EQ(status["cameras"][0]["name"], "front");
}
