#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>

#include "web/CHttpSender.h"
#include "web/HttpText.h"
#include "web/TestServers.h"

namespace {

using namespace webtest;
using Web::CHttpSender;
using Web::HttpRequest;

// Answers by path: a 401 offering Digest, a 401 offering Basic, a 401 that
// offers nothing, or 200.
RawServer::Script ChallengeServer()
{
    return [](RawConnection& c) {
        for (;;) {
            const std::string head = c.ReadRequest();
            if (head.empty()) return;
            const std::string line = RequestLine(head);
            std::string response;
            if (line.find(" /digest") != std::string::npos) {
                response = Response("401 Unauthorized",
                                    "WWW-Authenticate: Digest realm=\"cam\", nonce=\"n1\", qop=\"auth\"\r\n"
                                    "WWW-Authenticate: Basic realm=\"cam\"\r\n",
                                    "denied");
            } else if (line.find(" /basic") != std::string::npos) {
                response = Response("401 Unauthorized", "WWW-Authenticate: Basic realm=\"cam\"\r\n", "denied");
            } else if (line.find(" /none") != std::string::npos) {
                response = Response("401 Unauthorized", "", "denied");
            } else {
                response = Response("200 OK", "", "ok");
            }
            if (!c.Write(response)) return;
        }
    };
}

TEST(CHttpSenderAuth, LearningStepOnA401)
{
    struct Row {
        const char* name;
        const char* user;
        uint32_t authScheme;
        const char* path;
        uint32_t learned;
        size_t requests;            // as the camera saw them
        const char* authorization;  // scheme of every request's credentials
    };
    const Row rows[] = {
        // Nothing to offer; the camera names Digest: one more request, still without credentials.
        {"empty user, Digest offered", "", 0, "/digest", Web::SchemeDigest, 2, ""},
        {"empty user, Basic offered", "", 0, "/basic", Web::SchemeBasic, 1, ""},
        // The scheme just offered is the one named: no resend.
        {"Basic offered and named", "admin", 0, "/basic", Web::SchemeBasic, 1, "Basic"},
        // authScheme 5: never credentials, even with a user name (5 maps to Negotiate, so Digest differs).
        {"no credentials wanted", "admin", 5, "/digest", Web::SchemeDigest, 2, ""},
        {"no challenge at all", "admin", 0, "/none", 0, 1, "Basic"},
    };
    for (const Row& row : rows) {
        RawServer server(ChallengeServer());
        CHttpSender sender(Device(server.Port(), row.user, "pw"));
        HttpRequest request("GET", row.path);
        request.authScheme = row.authScheme;
        EXPECT_TRUE(sender.Send(request)) << row.name;
        EXPECT_EQ(sender.StatusCode(), 401u) << row.name;
        EXPECT_EQ(sender.LearnedScheme(), row.learned) << row.name;
        const auto heads = server.Heads();
        EXPECT_EQ(heads.size(), row.requests) << row.name;
        for (const auto& head : heads) {
            EXPECT_EQ(AuthorizationScheme(head), row.authorization) << row.name;
        }
        // The learning step closes the request; the resent one stays open.
        std::vector<uint8_t> body;
        sender.ReadResponse(body);
        EXPECT_EQ(Text(body), row.requests == 2 ? "denied" : "") << row.name;
    }
}

TEST(CHttpSenderAuth, LearnedSchemeIsNeverQueriedAgain)
{
    RawServer server(ChallengeServer());
    CHttpSender sender(Device(server.Port(), "admin", "pw"));
    ASSERT_TRUE(sender.Send(HttpRequest("GET", "/basic")));
    ASSERT_EQ(sender.LearnedScheme(), Web::SchemeBasic);

    // Digest would now differ from Basic, but nothing is learned twice.
    ASSERT_TRUE(sender.Send(HttpRequest("GET", "/digest")));
    EXPECT_EQ(sender.StatusCode(), 401u);
    EXPECT_EQ(sender.LearnedScheme(), Web::SchemeBasic);
    std::vector<uint8_t> body;
    sender.ReadResponse(body);
    EXPECT_EQ(Text(body), "denied");  // no learning step: the request stayed open

    ASSERT_TRUE(sender.Send(HttpRequest("GET", "/ok")));
    EXPECT_EQ(sender.StatusCode(), 200u);
    const auto heads = server.Heads();
    ASSERT_EQ(heads.size(), 3u);
    for (const auto& head : heads) {
        EXPECT_EQ(AuthorizationScheme(head), "Basic");
    }
}

// Runs Send on a thread of its own.
std::future<bool> SendAsync(CHttpSender& sender, const std::string& path)
{
    return std::async(std::launch::async, [&sender, path] { return sender.Send(HttpRequest("GET", path)); });
}

TEST(CHttpSenderCancel, EndsAHungRequestAtOnceWithoutASecondAttempt)
{
    RawServer server([](RawConnection& c) { c.Hang(); });
    CHttpSender sender(Device(server.Port(), "", "", 20000));
    auto sent = SendAsync(sender, "/hang");
    ASSERT_TRUE(WaitFor([&] { return server.Heads().size() == 1; }));
    std::this_thread::sleep_for(20ms);  // well into the wait for the head
    const auto start = Clock::now();
    sender.Cancel();
    const bool result = sent.get();
    const auto latency = Clock::now() - start;
    EXPECT_FALSE(result);
    EXPECT_EQ(sender.LastError(), Web::ErrorCancelled);
    EXPECT_LT(latency, 2s);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(server.Accepted(), 1);
    EXPECT_EQ(sender.Secure(), 0u);
}

TEST(CHttpSenderCancel, EndsAConnectThatNeverCompletes)
{
    RawServer server([](RawConnection&) {}, "127.0.0.1", 0, 0, false);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(server.Port());
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        fillers.push_back(fd);
    }
    CHttpSender sender(Device(server.Port(), "", "", 20000));
    std::atomic<bool> started{false};
    auto sent = std::async(std::launch::async, [&] {
        started.store(true);
        return sender.Send(HttpRequest("GET", "/x"));
    });
    ASSERT_TRUE(WaitFor([&] { return started.load(); }));
    std::this_thread::sleep_for(200ms);
    sender.Cancel();
    ASSERT_EQ(sent.wait_for(2s), std::future_status::ready);
    EXPECT_FALSE(sent.get());
    EXPECT_EQ(sender.LastError(), Web::ErrorCancelled);
    for (int fd : fillers) ::close(fd);
}

TEST(CHttpSenderCancel, BeforeSendHasNoEffectAfterSendReleasesTheRequest)
{
    RawServer server(Always(Response("200 OK", "", "body")));
    CHttpSender sender(Device(server.Port()));
    sender.Cancel();
    ASSERT_TRUE(sender.Send(HttpRequest("GET", "/a")));
    EXPECT_EQ(sender.StatusCode(), 200u);

    sender.Cancel();  // releases the finished request
    std::vector<uint8_t> body;
    EXPECT_EQ(sender.ReadResponse(body), 0u);
    EXPECT_EQ(sender.QueryDataAvailable(), 0u);
    EXPECT_EQ(sender.LastError(), 0u);

    ASSERT_TRUE(sender.Send(HttpRequest("GET", "/b")));
    EXPECT_EQ(sender.ReadResponse(body), 4u);
}

TEST(CHttpSenderCancel, StopsAReadOfAStalledBody)
{
    RawServer server([](RawConnection& c) {
        if (c.ReadRequest().empty()) return;
        c.Write("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nfirst");
        c.Hang();
    });
    CHttpSender sender(Device(server.Port(), "", "", 20000));
    ASSERT_TRUE(sender.Send(HttpRequest("GET", "/stall")));
    std::vector<uint8_t> body;
    std::atomic<bool> started{false};
    auto read = std::async(std::launch::async, [&] {
        started.store(true);
        return sender.ReadResponse(body);
    });
    ASSERT_TRUE(WaitFor([&] { return started.load(); }));
    std::this_thread::sleep_for(100ms);
    sender.Cancel();
    ASSERT_EQ(read.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(read.get(), 5u);
    EXPECT_EQ(Text(body), "first");
    EXPECT_EQ(sender.LastError(), Web::ErrorCancelled);
}

// Cancel arriving at any moment of Send, of a read and of the destructor.
TEST(CHttpSenderCancel, RacesWithSendReadAndDestruction)
{
    RawServer server(Always(Response("200 OK", "", BigText(30000))));
    for (int round = 0; round < 5; ++round) {
        auto sender = std::make_unique<CHttpSender>(Device(server.Port()));
        std::atomic<bool> stop{false};
        std::thread canceller([&] {
            while (!stop.load()) {
                sender->Cancel();
                std::this_thread::sleep_for(std::chrono::microseconds(300));
            }
            sender->Cancel();
        });
        for (int i = 0; i < 20; ++i) {
            if (sender->Send(HttpRequest("GET", "/r"))) {
                std::vector<uint8_t> body;
                sender->ReadResponse(body);
                EXPECT_LE(body.size(), 30000u);
            } else {
                EXPECT_EQ(sender->LastError(), Web::ErrorCancelled);
            }
        }
        stop.store(true);
        canceller.join();
    }
    // The destructor while Cancel keeps coming until it has begun.
    for (int round = 0; round < 20; ++round) {
        auto sender = std::make_unique<CHttpSender>(Device(server.Port()));
        ASSERT_TRUE(sender->Send(HttpRequest("GET", "/r")) || sender->LastError() == Web::ErrorCancelled);
        std::atomic<bool> go{false};
        std::thread canceller([&] {
            go.store(true);
            sender->Cancel();
        });
        while (!go.load()) std::this_thread::yield();
        canceller.join();
        sender.reset();
    }
}

class TlsFiles {
public:
    TlsFiles() { m_ok = MakeSelfSignedCertificate(m_dir.File("cert.pem"), m_dir.File("key.pem")); }
    bool Ok() const { return m_ok; }
    std::unique_ptr<httplib::Server> Server() const
    {
        auto server = std::make_unique<httplib::SSLServer>(m_dir.File("cert.pem").c_str(), m_dir.File("key.pem").c_str());
        server->Get("/ok", [](const httplib::Request&, httplib::Response& res) { res.set_content("secure", "text/plain"); });
        return server;
    }

private:
    TempDir m_dir;
    bool m_ok = false;
};

TEST(CHttpSenderTls, HttpsOnlyCameraIsReachedByTheFallBackAndRemembered)
{
    TlsFiles tls;
    ASSERT_TRUE(tls.Ok());
    HttplibServer server(tls.Server());
    ASSERT_TRUE(server.Ok());
    CHttpSender sender(Device(server.Port()));
    ASSERT_EQ(sender.Secure(), 0u);
    // Plain HTTP gets an empty reply (not a time-out): the HTTPS attempt follows.
    ASSERT_TRUE(sender.Send(HttpRequest("GET", "/ok")));
    EXPECT_EQ(sender.StatusCode(), 200u);
    EXPECT_EQ(sender.Secure(), 1u);
    std::vector<uint8_t> body;
    sender.ReadResponse(body);
    EXPECT_EQ(Text(body), "secure");
    ASSERT_TRUE(sender.Send(HttpRequest("GET", "/ok")));
    EXPECT_EQ(sender.Secure(), 1u);
}

// Port 443 needs a privileged bind; a random 127.x.y.z keeps parallel runs apart.
TEST(CHttpSenderTls, Port443StartsWithHttpsAndIgnoresCertificateErrorsByDefault)
{
    TlsFiles tls;
    ASSERT_TRUE(tls.Ok());
    const std::string address = RandomLoopbackAddress();
    HttplibServer server(tls.Server(), address, 443);
    if (!server.Ok()) GTEST_SKIP() << "cannot listen on " << address << ":443";
    CHttpSender sender(Device(443, "", "", 3000, address));
    EXPECT_EQ(sender.Secure(), 1u);
    ASSERT_TRUE(sender.Send(HttpRequest("GET", "/ok")));
    EXPECT_EQ(sender.StatusCode(), 200u);
    EXPECT_EQ(sender.Secure(), 1u);

    // Checked certificates: the self-signed one fails, plain HTTP then too.
    HttpRequest strict("GET", "/ok");
    strict.flags &= ~HttpRequest::FlagIgnoreCertErrors;
    EXPECT_FALSE(sender.Send(strict));
    EXPECT_NE(sender.LastError(), 0u);
    EXPECT_EQ(sender.Secure(), 1u);
}

TEST(CHttpSenderTls, PlainCameraOnPort443IsRememberedAfterTheFallBack)
{
    const std::string address = RandomLoopbackAddress();
    RawServer server(
        [](RawConnection& c) {
            if (c.PeekByte() == 0x16) return;  // a TLS ClientHello: hang up as a plain server does
            for (;;) {
                const std::string head = c.ReadRequest();
                if (head.empty()) return;
                if (!c.Write(Response("200 OK", "", "plain"))) return;
            }
        },
        address, 443);
    if (!server.Ok()) GTEST_SKIP() << "cannot listen on " << address << ":443";
    CHttpSender sender(Device(443, "", "", 3000, address));
    ASSERT_TRUE(sender.Send(HttpRequest("GET", "/first")));
    EXPECT_EQ(sender.StatusCode(), 200u);
    EXPECT_EQ(sender.Secure(), 0u);
    EXPECT_EQ(server.Accepted(), 2);  // the TLS attempt and the plain one
    std::vector<uint8_t> body;
    sender.ReadResponse(body);
    ASSERT_TRUE(sender.Send(HttpRequest("GET", "/second")));
    EXPECT_EQ(sender.StatusCode(), 200u);
    EXPECT_EQ(server.Accepted(), 2);  // straight to HTTP on the kept connection
    const auto heads = server.Heads();
    ASSERT_GE(heads.size(), 2u);
    EXPECT_EQ(RequestLine(heads[heads.size() - 1]), "GET /second HTTP/1.1");
}

// Captures what the process writes to stdout and stderr.
class OutputCapture {
public:
    OutputCapture()
    {
        std::fflush(stdout);
        std::fflush(stderr);
        m_fd = ::open(m_dir.File("out").c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
        m_saved1 = ::dup(1);
        m_saved2 = ::dup(2);
        ::dup2(m_fd, 1);
        ::dup2(m_fd, 2);
    }
    std::string Finish()
    {
        std::fflush(stdout);
        std::fflush(stderr);
        ::dup2(m_saved1, 1);
        ::dup2(m_saved2, 2);
        ::close(m_saved1);
        ::close(m_saved2);
        ::close(m_fd);
        return ReadFile(m_dir.File("out"));
    }

private:
    TempDir m_dir;
    int m_fd = -1;
    int m_saved1 = -1;
    int m_saved2 = -1;
};

TEST(CHttpSenderSecrets, PasswordNeverAppearsInOutputOrOnTheWire)
{
    const std::string password = "Pa55-Marker-7q9";
    RawServer server(ChallengeServer());
    RawServer hung([](RawConnection& c) { c.Hang(); });
    OutputCapture capture;
    {
        CHttpSender basic(Device(server.Port(), "admin", password));
        basic.Send(HttpRequest("GET", "/ok"));
        basic.Send(HttpRequest("GET", "/digest"));  // learns Digest, resends with it
        basic.Send(HttpRequest("GET", "/digest"));
        CHttpSender refused(Device(FreePort(), "admin", password, 300));
        refused.Send(HttpRequest("GET", "/ok"));
        CHttpSender timedOut(Device(hung.Port(), "admin", password, 200));
        timedOut.Send(HttpRequest("GET", "/ok"));
        HttpRequest bad("GET", "/ok");
        bad.headers = {"broken\r\nline"};
        basic.Send(bad);
    }
    const std::string output = capture.Finish();
    EXPECT_EQ(output.find(password), std::string::npos) << output;
    const std::string wire = server.Wire() + hung.Wire();
    EXPECT_NE(wire.find("Authorization: Basic"), std::string::npos);
    EXPECT_NE(wire.find("Authorization: Digest"), std::string::npos);
    EXPECT_EQ(wire.find(password), std::string::npos);
}

}  // namespace
