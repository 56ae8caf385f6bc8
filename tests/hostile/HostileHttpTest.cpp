// A camera, or something pretending to be one, answers the driver's HTTP
// requests in hostile ways: answers without end, answers that trickle,
// challenges the driver cannot meet, a TLS endpoint that goes away or
// changes its key. The real library is loaded as a recorder loads it; the
// camera is a server of the test's own, raw where the attack needs bytes
// no ordinary server sends.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/ICaptureIOApi.h"
#include "tests/hardening/DriverHost.h"
#include "tests/host/TestIOUser.h"
#include "tests/web/TestServers.h"

namespace {

using namespace std::chrono_literals;
using webtest::AuthorizationScheme;
using webtest::RawConnection;
using webtest::RawServer;
using webtest::Response;
using webtest::WaitFor;

constexpr uint32_t kInterval = 40;
constexpr int32_t kCif = 2;
constexpr int32_t kQuality = 50;
const char kModel[] = "SNC-RZ50P";  // one sensor input, one alarm output
const char kInquiry[] = "GET /command/inquiry.cgi?inq=sensor ";

// Keeps every debug message the driver sends.
class MessageHost : public hardening::Host {
public:
    void DebugInfo(CDebugInfoIf* message) override {
        const char* text = message->GetText();
        if (text != nullptr) {
            std::lock_guard<std::mutex> lock(m_lock);
            m_messages.emplace_back(text);
        }
        hardening::Host::DebugInfo(message);
    }
    bool WaitForMessage(const char* part, std::chrono::milliseconds limit = 20s) {
        return WaitFor([&] { return HasMessage(part); }, limit);
    }
    bool HasMessage(const char* part) {
        std::lock_guard<std::mutex> lock(m_lock);
        return std::any_of(m_messages.begin(), m_messages.end(),
                           [&](const std::string& m) { return m.find(part) != std::string::npos; });
    }
    std::string All() {
        std::lock_guard<std::mutex> lock(m_lock);
        std::string all;
        for (const std::string& m : m_messages) all += m + "\n";
        return all;
    }

private:
    std::mutex m_lock;
    std::vector<std::string> m_messages;
};

// One request as the camera saw it and what it answered.
struct Seen {
    std::string line;
    std::string scheme;  // of the credentials, "" without
    int status = 0;
};

// A camera's CGI over plain HTTP that takes Basic or Digest credentials
// (Digest ones are not checked: only the scheme matters here). The sensor
// inquiry may be answered by the test's own script; the first `forged`
// requests get a 401 naming `forgedChallenge`; requests naming `failing`
// get a 404 once their credentials pass.
class FakeCamera {
public:
    enum class Auth { Basic, Digest };
    using Inquiry = std::function<void(RawConnection&)>;

    explicit FakeCamera(Auth auth, Inquiry inquiry = nullptr, int forged = 0, std::string forgedChallenge = "",
                        std::string failing = "")
        : m_auth(auth),
          m_inquiry(std::move(inquiry)),
          m_forged(forged),
          m_forgedChallenge(std::move(forgedChallenge)),
          m_failing(std::move(failing)),
          m_server([this](RawConnection& c) { Serve(c); }) {}
    ~FakeCamera() { stop.store(true); }

    uint16_t Port() const { return m_server.Port(); }
    void SetAuth(Auth auth) { m_auth.store(auth); }
    std::vector<Seen> Log() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_log;
    }
    size_t Count(const std::function<bool(const Seen&)>& pick) {
        const auto log = Log();
        return static_cast<size_t>(std::count_if(log.begin(), log.end(), pick));
    }
    std::string Dump() {
        std::string all;
        for (const Seen& s : Log()) all += s.line + " [" + s.scheme + "] " + std::to_string(s.status) + "\n";
        return all;
    }

    std::atomic<bool> stop{false};  // for inquiry scripts that run long

private:
    void Serve(RawConnection& c) {
        for (;;) {
            const std::string head = c.ReadRequest();
            if (head.empty()) return;
            Seen seen{head.substr(0, head.find("\r\n")), AuthorizationScheme(head), 200};
            const Auth auth = m_auth.load();
            const char* wanted = auth == Auth::Basic ? "Basic" : "Digest";
            std::string answer;
            if (m_forged.fetch_sub(1) > 0) {
                seen.status = 401;
                answer = Response("401 Unauthorized", "WWW-Authenticate: " + m_forgedChallenge + "\r\n", "no");
            } else if (seen.scheme != wanted) {
                seen.status = 401;
                answer = Response("401 Unauthorized",
                                  auth == Auth::Basic
                                      ? "WWW-Authenticate: Basic realm=\"cam\"\r\n"
                                      : "WWW-Authenticate: Digest realm=\"cam\", nonce=\"5eed\", qop=\"auth\"\r\n",
                                  "no");
            } else if (!m_failing.empty() && seen.line.find(m_failing) != std::string::npos) {
                seen.status = 404;
                answer = Response("404 Not Found", "", "");
            } else if (m_inquiry && seen.line.rfind(kInquiry, 0) == 0) {
                Record(seen);
                m_inquiry(c);
                return;
            } else {
                answer = Response("200 OK", "", seen.line.rfind(kInquiry, 0) == 0 ? "Sensor1=0\r\n" : "");
            }
            Record(seen);
            if (!c.Write(answer)) return;
        }
    }
    void Record(const Seen& seen) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_log.push_back(seen);
    }

    std::atomic<Auth> m_auth;
    Inquiry m_inquiry;
    std::atomic<int> m_forged;
    std::string m_forgedChallenge;
    std::string m_failing;
    std::mutex m_lock;
    std::vector<Seen> m_log;
    RawServer m_server;  // last: its threads use the members above
};

// A camera over TLS only, answering every GET, with a key of its own or
// that of an earlier one.
class TlsCamera {
public:
    TlsCamera(const std::string& address, uint16_t port, std::shared_ptr<webtest::TempDir> keys = nullptr)
        : m_keys(keys != nullptr ? keys : std::make_shared<webtest::TempDir>()) {
        m_ready =
            keys != nullptr || webtest::MakeSelfSignedCertificate(m_keys->File("cert.pem"), m_keys->File("key.pem"));
        auto https =
            std::make_unique<httplib::SSLServer>(m_keys->File("cert.pem").c_str(), m_keys->File("key.pem").c_str());
        https->Get(".*", [this](const httplib::Request&, httplib::Response& res) {
            served.fetch_add(1);
            res.set_content("Sensor1=0\r\n", "text/plain");
        });
        m_server = std::make_unique<webtest::HttplibServer>(std::move(https), address, port);
    }
    bool Ok() const { return m_ready && m_server->port != 0; }
    std::shared_ptr<webtest::TempDir> Keys() const { return m_keys; }
    std::atomic<int> served{0};

private:
    std::shared_ptr<webtest::TempDir> m_keys;
    bool m_ready = false;
    std::unique_ptr<webtest::HttplibServer> m_server;
};

class HostileHttp : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(lib.Loaded()); }
    void TearDown() override {
        if (driver != nullptr) {
            if (Io() != nullptr) Io()->StopIO();
            lib.destroy(&driver);
        }
    }

    // A driver object for the camera at address:port with credentials, opened.
    void Open(uint16_t port, const std::string& address = "127.0.0.1") {
        driver = lib.create(0);
        ASSERT_NE(driver, nullptr);
        driver->SetCaptureUser(&host);
        driver->SetFrameAllocator(&pool);
        driver->SetParameter("IPSERVERADDRESS", address.c_str(), static_cast<int32_t>(address.size()));
        driver->SetParameter("IPSERVERPORT", reinterpret_cast<const void*>(uintptr_t{port}), 4);
        driver->SetParameter("IPSERVERTYPE", kModel, static_cast<int32_t>(std::strlen(kModel)));
        driver->SetParameter("IPSERVERUSERNAME", "admin", 5);
        driver->SetParameter("IPSERVERPASSWORD", "secret", 6);
        ASSERT_EQ(driver->Open(""), 1);
    }
    kestrel::ICaptureIOApi* Io() {
        kestrel::ICaptureIOApi* io = nullptr;
        if (driver == nullptr || driver->GetParameter("ICaptureIOApi", &io, sizeof io) == 0) return nullptr;
        return io;
    }
    void StartIO() {
        ASSERT_NE(Io(), nullptr);
        ASSERT_TRUE(Io()->SetIOUser(&ioUser));
        ASSERT_TRUE(Io()->StartIO());
    }

    hardening::Library lib;
    MessageHost host;
    hardening::FramePool pool;
    testhost::TestIOUser ioUser;
    CCaptureAPIEx* driver = nullptr;
};

// ---- bounded answers --------------------------------------------------------

// Content-Length: 4000000000 and the bytes to go with it, as fast as the
// driver takes them: the inquiry fails at once, memory stays where it was.
TEST_F(HostileHttp, AFourGigabyteAnswerIsRefusedAndMemoryStaysBounded) {
    constexpr size_t kChunk = 64 * 1024;
    constexpr size_t kOffered = 128u << 20;  // enough to show growth, bounded for the old code's sake
    std::atomic<size_t> written{0};
    FakeCamera camera(FakeCamera::Auth::Basic, [&](RawConnection& c) {
        if (!c.Write("HTTP/1.1 200 OK\r\nContent-Length: 4000000000\r\n\r\n")) return;
        const std::string chunk(kChunk, '0');
        while (written.load() < kOffered && c.Write(chunk)) written.fetch_add(kChunk);
    });
    Open(camera.Port());
    const long baseKiB = hardening::ReadLiveFigures().rssKiB;
    std::atomic<long> peakKiB{baseKiB};
    std::atomic<bool> sampling{true};
    std::thread sampler([&] {
        while (sampling.load()) {
            peakKiB.store(std::max(peakKiB.load(), hardening::ReadProcFigures().rssKiB));
            std::this_thread::sleep_for(5ms);
        }
    });
    StartIO();
    const bool reported = host.WaitForMessage("larger than 1 MiB");
    sampling.store(false);
    sampler.join();
    EXPECT_TRUE(reported) << host.All();
    EXPECT_LT(peakKiB.load() - baseKiB, 32 * 1024) << "RSS " << baseKiB << " -> " << peakKiB.load() << " KiB";
    // Far less than offered was taken before the connection was dropped.
    EXPECT_LT(written.load(), kOffered) << camera.Dump();
}

// Each byte of the inquiry's answer comes well within the request time
// limit, the whole answer would take minutes: the inquiry fails once the
// limit has passed, and the host's input states are left alone.
TEST_F(HostileHttp, ATrickledAnswerFailsWithinTheRequestTimeLimit) {
    std::atomic<bool> stop{false};
    FakeCamera camera(FakeCamera::Auth::Basic, [&](RawConnection& c) {
        if (!c.Write("HTTP/1.1 200 OK\r\nContent-Length: 200\r\n\r\n")) return;
        for (int i = 0; i < 200 && !stop.load(); ++i) {
            if (!c.Write("S")) return;
            std::this_thread::sleep_for(250ms);
        }
    });
    Open(camera.Port());
    StartIO();
    const int resets = ioUser.resets.load();
    // The limit is 5 s; the trickle would go on for 50 s.
    EXPECT_TRUE(host.WaitForMessage("no whole answer within the request time limit", 25s)) << host.All();
    EXPECT_EQ(ioUser.resets.load(), resets);
    stop.store(true);
    Io()->StopIO();
}

// ---- authentication -----------------------------------------------------------

// A 401 naming only a scheme the driver cannot answer is a failed request
// and nothing more: the next request is made as before and succeeds.
TEST_F(HostileHttp, ForgedChallengesTeachNothing) {
    for (const char* challenge : {"NTLM", "Passport1.4 srealm=\"x\"", "Negotiate, NTLM"}) {
        SCOPED_TRACE(challenge);
        FakeCamera camera(FakeCamera::Auth::Basic, nullptr, 2, challenge);
        Open(camera.Port());
        // Both forgeries go to the video channel's sender.
        ASSERT_EQ(driver->StartChannel(0, kInterval, kCif, kQuality), 1);
        ASSERT_TRUE(WaitFor([&] { return camera.Log().size() >= 3; }, 20s)) << camera.Dump();
        StartIO();
        const auto answered = [&](const char* part) {
            return camera.Count(
                [&](const Seen& s) { return s.status == 200 && s.line.find(part) != std::string::npos; });
        };
        EXPECT_TRUE(WaitFor([&] { return answered("VideoOutMode") > 0; }, 20s)) << camera.Dump();
        EXPECT_TRUE(WaitFor([&] { return answered("inq=sensor") > 0; }, 20s)) << camera.Dump();
        EXPECT_EQ(camera.Count([](const Seen& s) { return s.status == 200 && s.scheme != "Basic"; }), 0u);
        EXPECT_TRUE(host.HasMessage("credentials are invalid")) << host.All();
        TearDown();
        driver = nullptr;
    }
}

// A Digest-only camera: the Basic password goes out in clear at most once
// for the driver object's three senders (video, inputs, outputs), also
// across a restart of the stream and of the I/O.
TEST_F(HostileHttp, ADigestCameraSeesTheBasicPasswordAtMostOnce) {
    FakeCamera camera(FakeCamera::Auth::Digest);
    Open(camera.Port());
    const auto digestAnswers = [&](const char* part) {
        return camera.Count([&](const Seen& s) { return s.status == 200 && s.line.find(part) != std::string::npos; });
    };
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        const size_t video = digestAnswers("VideoOutMode"), inputs = digestAnswers("inq=sensor"),
                     outputs = digestAnswers("alarmout1");
        ASSERT_EQ(driver->StartChannel(0, kInterval, kCif, kQuality), 1);
        StartIO();
        ASSERT_TRUE(Io()->RequestOutputState(0, 2));
        EXPECT_TRUE(WaitFor([&] { return digestAnswers("VideoOutMode") > video; }, 20s)) << camera.Dump();
        EXPECT_TRUE(WaitFor([&] { return digestAnswers("inq=sensor") > inputs; }, 20s)) << camera.Dump();
        EXPECT_TRUE(WaitFor([&] { return digestAnswers("alarmout1") > outputs; }, 20s)) << camera.Dump();
        Io()->StopIO();
        EXPECT_EQ(driver->StopChannel(0), 1);
    }
    EXPECT_LE(camera.Count([](const Seen& s) { return s.scheme == "Basic"; }), 1u) << camera.Dump();
}

// What was learned holds until the stream starts again: a camera set up
// anew with another scheme is answered with that one at the next start.
// The camera refuses the first set-up command, so the channel starts its
// stream again and again without being stopped.
TEST_F(HostileHttp, AStreamRestartLearnsTheSchemeAfresh) {
    FakeCamera camera(FakeCamera::Auth::Digest, nullptr, 0, "", "VideoOutMode");
    Open(camera.Port());
    const auto passed = [&](const char* scheme) {
        return camera.Count([&](const Seen& s) { return s.status == 404 && s.scheme == scheme; });
    };
    ASSERT_EQ(driver->StartChannel(0, kInterval, kCif, kQuality), 1);
    ASSERT_TRUE(WaitFor([&] { return passed("Digest") > 0; }, 20s)) << camera.Dump();
    camera.SetAuth(FakeCamera::Auth::Basic);
    EXPECT_TRUE(WaitFor([&] { return passed("Basic") > 0; }, 20s)) << camera.Dump();
}

// ---- HTTPS ----------------------------------------------------------------------

// Port 443 means HTTPS. When it fails, the password is not sent over plain
// HTTP instead: the camera's stand-in, which speaks only plain HTTP, never
// sees credentials.
TEST_F(HostileHttp, TheFallBackToPlainHttpIsRefusedWithCredentials) {
    const std::string address = webtest::RandomLoopbackAddress();
    auto tls = std::make_unique<TlsCamera>(address, 443);
    if (!tls->Ok()) GTEST_SKIP() << "cannot listen on " << address << ":443";
    Open(443, address);
    StartIO();
    ASSERT_TRUE(WaitFor([&] { return tls->served.load() >= 2; }, 20s)) << host.All();
    tls.reset();
    // A plain server in its place (httplib's, which may take the port while
    // the TLS server's connections linger): a ClientHello gets a 400.
    std::atomic<int> plainRequests{0}, withCredentials{0};
    auto http = std::make_unique<httplib::Server>();
    http->Get(".*", [&](const httplib::Request& req, httplib::Response& res) {
        plainRequests.fetch_add(1);
        if (req.has_header("Authorization")) withCredentials.fetch_add(1);
        res.set_content("Sensor1=0\r\n", "text/plain");
    });
    webtest::HttplibServer plain(std::move(http), address, 443);
    ASSERT_NE(plain.port, 0);
    EXPECT_TRUE(host.WaitForMessage("plain HTTP refused")) << host.All();
    std::this_thread::sleep_for(1s);  // more inquiries meet the plain server
    Io()->StopIO();
    EXPECT_EQ(withCredentials.load(), 0);
    EXPECT_EQ(plainRequests.load(), 0);
}

// The key the driver object saw first is the camera's: the camera back
// with the same key is reached on a new connection, another endpoint on the
// same address and port with another key gets no request.
TEST_F(HostileHttp, AChangedCertificateKeyFailsTheRequest) {
    const std::string address = webtest::RandomLoopbackAddress();
    auto first = std::make_unique<TlsCamera>(address, 443);
    if (!first->Ok()) GTEST_SKIP() << "cannot listen on " << address << ":443";
    Open(443, address);
    StartIO();
    ASSERT_TRUE(WaitFor([&] { return first->served.load() >= 2; }, 20s)) << host.All();
    const auto keys = first->Keys();
    first.reset();
    auto again = std::make_unique<TlsCamera>(address, 443, keys);
    ASSERT_TRUE(again->Ok());
    EXPECT_TRUE(WaitFor([&] { return again->served.load() >= 1; }, 20s)) << host.All();
    again.reset();
    TlsCamera second(address, 443);
    ASSERT_TRUE(second.Ok());
    EXPECT_TRUE(host.WaitForMessage("certificate key changed")) << host.All();
    Io()->StopIO();
    EXPECT_EQ(second.served.load(), 0);
}

}  // namespace
