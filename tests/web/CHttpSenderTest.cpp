#include "web/CHttpSender.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>

#include "runtime/CSimulatedClock.h"
#include "web/HttpText.h"
#include "web/TestServers.h"

namespace {

using namespace webtest;
using Web::CHttpSender;
using Web::HttpRequest;
using Body = std::vector<uint8_t>;

HttpRequest Get(const std::string& path) { return HttpRequest("GET", path); }

TEST(CHttpSender, StatusCodesAndBodiesFromHttplib) {
    auto http = std::make_unique<httplib::Server>();
    http->Get("/ok", [](const httplib::Request&, httplib::Response& res) { res.set_content("hello", "text/plain"); });
    http->Get("/missing", [](const httplib::Request&, httplib::Response& res) {
        res.status = 404;
        res.set_content("not here", "text/plain");
    });
    http->Get("/nocontent", [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
    http->Get("/moved", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/ok"); });
    http->Get("/big", [](const httplib::Request&, httplib::Response& res) { res.set_content(BigText(100000), "x/y"); });
    HttplibServer server(std::move(http));
    CHttpSender sender(Device(server.port));
    // clang-format off
    const std::tuple<const char*, uint32_t, std::string> rows[] = {
        {"/ok", 200, "hello"}, {"/missing", 404, "not here"}, {"/nocontent", 204, ""},
        {"/moved", 302, ""},              // redirects are not followed (flag 4 by default)
        {"/big", 200, BigText(100000)},  // many chunks of at most 8192 bytes
    };
    // clang-format on
    for (const auto& [path, status, text] : rows) {
        SCOPED_TRACE(path);
        ASSERT_TRUE(sender.Send(Get(path)));
        EXPECT_EQ(sender.StatusCode(), status);
        EXPECT_EQ(sender.ContentLength(), text.size());
        EXPECT_EQ(sender.LastError(), 0u);
        Body body{'x'};
        EXPECT_EQ(sender.ReadResponse(body), text.size());
        EXPECT_EQ(Text(body), text);
    }
}

TEST(CHttpSender, BodiesWithoutOrBeyondTheirContentLengthAndOverTheLimit) {
    const std::string mib = BigText(1048576);
    const std::string big = BigText(1536 * 1024);
    struct Row {
        const char* name;
        std::string response;
        uint32_t contentLength;
        uint32_t lastError;    // after Send
        uint32_t readFailure;  // after ReadResponse
        std::string text;
    };
    const Row rows[] = {
        // Without a length the header query fails; the body ends with the connection.
        {"no length, 1 MiB", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + mib, 0, 12150, 0, mib},
        {"no length, past 1 MiB", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + big, 0, 12150,
         Web::ErrorAnswerTooLarge, ""},
        {"chunked past 1 MiB",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n180000\r\n" + big + "\r\n0\r\n\r\n", 0, 12150,
         Web::ErrorAnswerTooLarge, ""},
        // Refused by its length alone: nothing of it is read.
        {"4 GB claimed", "HTTP/1.1 200 OK\r\nContent-Length: 4000000000\r\n\r\nabc", 4000000000u, 0,
         Web::ErrorAnswerTooLarge, ""},
        {"longer than its length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nHelloEXTRA", 5, 0, 0, "Hello"},
        {"204 with a stray length", "HTTP/1.1 204 No Content\r\nContent-Length: 7\r\n\r\n", 0, 0, 0, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RawServer server([&response = row.response](RawConnection& c) {
            if (!c.ReadRequest().empty()) c.Write(response);
        });
        CHttpSender sender(Device(server.Port()));
        ASSERT_TRUE(sender.Send(Get("/x")));
        EXPECT_EQ(sender.ContentLength(), row.contentLength);
        EXPECT_EQ(sender.LastError(), row.lastError);
        Body body;
        EXPECT_EQ(sender.ReadResponse(body), row.text.size());
        EXPECT_EQ(sender.ReadFailure(), row.readFailure);
        EXPECT_TRUE(Text(body) == row.text);
    }
}

TEST(CHttpSender, ReadDataQueryDataAvailableAndCancelBetweenRequests) {
    RawServer server(Always(Response("200 OK", "", "0123456789")));
    CHttpSender sender(Device(server.Port()));
    Body out{'k'};
    EXPECT_EQ(sender.ReadData(out, 100, false), 0u);  // no request yet
    ASSERT_TRUE(sender.Send(Get("/")));
    EXPECT_EQ(sender.ReadData(out, 0, false), 0u);  // maxBytes 0 reads nothing
    EXPECT_EQ(sender.QueryDataAvailable(), 10u);
    EXPECT_EQ(sender.ReadData(out, 4, false), 4u);  // appended
    EXPECT_EQ(Text(out), "k0123");
    EXPECT_EQ(sender.ReadData(out, 100, true), 6u);  // cleared first
    EXPECT_EQ(Text(out), "456789");
    EXPECT_EQ(sender.ReadData(out, 100, false), 0u);  // end of the body
    ASSERT_TRUE(sender.Send(Get("/")));
    sender.Cancel();  // releases the finished request
    EXPECT_EQ(sender.ReadResponse(out), 0u);
    EXPECT_EQ(sender.LastError(), 0u);
}

// A cancel is a stop: it holds for every later Send, none of which reaches
// the camera, until the owner restarts the work.
TEST(CHttpSender, CancelHoldsUntilTheOwnerResetsIt) {
    RawServer server(Always(Response("200 OK", "", "ok")));
    CHttpSender sender(Device(server.Port()));
    sender.Cancel();
    for (int i = 0; i < 2; ++i) {
        EXPECT_FALSE(sender.Send(Get("/stopped")));
        EXPECT_EQ(sender.LastError(), Web::ErrorCancelled);
        EXPECT_EQ(sender.StatusCode(), 0u);
    }
    EXPECT_EQ(server.Accepted(), 0);
    sender.ResetCancel();
    ASSERT_TRUE(sender.Send(Get("/again")));
    EXPECT_EQ(sender.StatusCode(), 200u);
    ASSERT_TRUE(sender.Send(Get("/twice")));  // a Send does not need a reset of its own
    sender.Cancel();
    EXPECT_FALSE(sender.Send(Get("/stopped")));
    EXPECT_EQ(server.Heads().size(), 2u);
}

TEST(CHttpSender, ReusesItsConnectionAndDropsAnUnreadBody) {
    std::atomic<int> served{0};
    RawServer server([&](RawConnection& c) {
        while (!c.ReadRequest().empty() && c.Write(Response("200 OK", "", std::to_string(++served) + BigText(50000)))) {
        }
    });
    CHttpSender sender(Device(server.Port()));
    Body body;
    for (int i = 1; i <= 3; ++i) {
        ASSERT_TRUE(sender.Send(Get("/r")));
        if (i != 2) sender.ReadResponse(body);  // the second body is left unread
    }
    EXPECT_EQ(Text(body), "3" + BigText(50000));
    EXPECT_EQ(server.Accepted(), 1);
}

// A header line that continues the one before (it starts with a space or a
// tab) as the first line of a later response: libcurl 7.88 would append it to
// the last header of the previous request, which is already freed. The line
// must be refused and the sender stay usable.
TEST(CHttpSender, ContinuationLineOpeningALaterResponseIsRefused) {
    std::atomic<int> served{0};
    RawServer server([&](RawConnection& c) {
        while (!c.ReadRequest().empty()) {
            const int n = ++served;
            const std::string folded = n == 2 ? " X-Folded: a\r\n" : n == 3 ? "\tX-Folded: b\r\n" : "";
            if (!c.Write("HTTP/1.1 200 OK\r\n" + folded + "X-Long: 0123456789abcdef\r\nContent-Length: 2\r\n\r\nok"))
                return;
        }
    });
    CHttpSender sender(Device(server.Port(), "", "", 300));  // the refused ones end in a TLS attempt
    Body body;
    for (int i = 1; i <= 4; ++i) {
        SCOPED_TRACE(i);
        const bool folded = i == 2 || i == 3;
        ASSERT_EQ(sender.Send(Get("/s")), !folded);
        if (!folded) {
            EXPECT_EQ(sender.ReadResponse(body), 2u);
            EXPECT_EQ(Text(body), "ok");
        }
    }
}

// Which failures end Send at once and which earn one attempt with the other
// protocol (plain HTTP here, so the second attempt is a TLS handshake).
TEST(CHttpSender, FailuresAreRetriedOnlyWhenTheOtherProtocolMayCureThem) {
    struct Row {
        const char* name;
        RawServer::Script script;
        HttpRequest request;
        uint32_t lastError;
        int connections;
    };
    HttpRequest upload("POST", "/upload");
    upload.body.assign(64u << 20, 'b');
    const Row rows[] = {
        {"no status line", Always("hello there\r\n\r\n"), Get("/x"), Web::ErrorInvalidServerResponse, 1},
        {"length that is no number", Always("HTTP/1.1 200 OK\r\nContent-Length: lots\r\n\r\nabc"), Get("/x"),
         Web::ErrorInvalidServerResponse, 1},
        // The peer never reads the 64 MiB: the time-out hits while sending.
        {"time-out while sending", [](RawConnection& c) { c.Stall(); }, upload, Web::ErrorTimeout, 1},
        // Waiting for the head is receiving: the other protocol is tried.
        {"time-out while receiving", [](RawConnection& c) { c.Hang(); }, Get("/x"), Web::ErrorTimeout, 2},
    };
    const bool timesOut[] = {false, false, true, true};
    // A time-out counts as one while receiving only once the request is out:
    // an accepted connection is not yet a sent request.
    const bool sentFirst[] = {false, false, false, true};
    size_t index = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RawServer server(row.script);
        kestrel::CSimulatedClock clock;
        CHttpSender sender(Device(server.Port(), "", "", 500), nullptr, clock);
        auto sent = std::async(std::launch::async, [&] { return sender.Send(row.request); });
        const bool sent1 = sentFirst[index];
        if (timesOut[index++]) {
            // Each attempt's deadline passes once its connection is there.
            for (int connection = 1; connection <= row.connections; ++connection) {
                ASSERT_TRUE(WaitFor([&] { return server.Accepted() >= connection; }));
                if (connection == 1 && sent1) {
                    ASSERT_TRUE(WaitFor([&] { return server.Wire().find("\r\n\r\n") != std::string::npos; }));
                }
                clock.Advance(500);
            }
        }
        ASSERT_EQ(sent.wait_for(10s), std::future_status::ready);
        EXPECT_FALSE(sent.get());
        EXPECT_EQ(sender.LastError(), row.lastError);
        EXPECT_TRUE(WaitFor([&] { return server.Accepted() >= row.connections; }));
        std::this_thread::sleep_for(50ms);  // a second connection that should not come
        EXPECT_EQ(server.Accepted(), row.connections);
        EXPECT_EQ(sender.Secure(), 0u);  // nothing won: nothing remembered
    }
}

TEST(CHttpSender, RequestsThatCannotBeBuiltNeverReachTheWire) {
    RawServer server(Always(Response("200 OK", "", "")));
    HttpRequest badHeader = Get("/x"), passport = Get("/x");
    badHeader.headers = {"X-A: 1\r\nX-B: 2"};
    passport.authScheme = HttpRequest::AuthPassport;  // libcurl has none
    const std::tuple<const char*, std::string, HttpRequest> rows[] = {
        {"empty verb", "127.0.0.1", HttpRequest("", "/x")},
        {"empty path", "127.0.0.1", Get("")},
        {"verb that is no token", "127.0.0.1", HttpRequest("GET /y HTTP/1.0\r\n", "/x")},
        {"header with a line break", "127.0.0.1", badHeader},
        {"Passport credentials", "127.0.0.1", passport},
        {"empty address", "", Get("/x")},
        {"address with a path", "127.0.0.1/evil", Get("/x")},
    };
    for (const auto& [name, address, request] : rows) {
        SCOPED_TRACE(name);
        CHttpSender sender(Device(server.Port(), "admin", "pw", 3000, address));
        EXPECT_FALSE(sender.Send(request));
        EXPECT_EQ(sender.LastError(), 0u);
    }
    EXPECT_EQ(server.Accepted(), 0);
}

TEST(CHttpSender, RequestGoesOutAsGivenAndCannotBeSplit) {
    RawServer server(Always(Response("200 OK", "", "")));
    CHttpSender sender(Device(server.Port()));
    const std::pair<const char*, const char*> rows[] = {
        {"/command/inquiry.cgi?inq=sensor&x=[1]", "GET /command/inquiry.cgi?inq=sensor&x=[1] HTTP/1.1"},
        {"mjpeg?UdpPort=3556", "GET /mjpeg?UdpPort=3556 HTTP/1.1"},
        {"/q?v=a b\r\nX-Injected: 1", "GET /q?v=a%20b%0D%0AX-Injected:%201 HTTP/1.1"},
    };
    for (const auto& [path, line] : rows) ASSERT_TRUE(sender.Send(Get(path))) << path;
    HttpRequest custom = Get("/h");
    custom.headers = {"X-One: 1", "Accept: image/jpeg", "X-One: 2"};
    ASSERT_TRUE(sender.Send(custom));

    const auto heads = server.Heads();
    ASSERT_EQ(heads.size(), std::size(rows) + 1);
    for (size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_EQ(RequestLine(heads[i]), rows[i].second);
        EXPECT_EQ(heads[i].find("\r\nX-Injected"), std::string::npos);
        EXPECT_EQ(heads[i].find("Accept"), std::string::npos);  // no accept types of our own
    }
    const std::string& last = heads.back();
    EXPECT_NE(last.find("\r\nUser-Agent: Kestrel::HttpSender\r\n"), std::string::npos);
    EXPECT_NE(last.find("\r\nX-One: 2\r\n"), std::string::npos);  // replaced, not added
    EXPECT_EQ(last.find("X-One: 1"), std::string::npos);
    EXPECT_NE(last.find("\r\nAccept: image/jpeg\r\n"), std::string::npos);
    EXPECT_EQ(last.find("Authorization"), std::string::npos);  // empty user name: no credentials
}

TEST(CHttpSender, SendOnlyRequestsGoOutAndAreNotAwaited) {
    RawServer server([](RawConnection& c) { c.Hang(); });  // never answers
    CHttpSender sender(Device(server.Port(), "", "", 10000));
    HttpRequest flagged = Get("/fire");
    flagged.flags |= HttpRequest::FlagSendOnly;
    EXPECT_TRUE(sender.Send(flagged));
    EXPECT_EQ(sender.StatusCode(), 0u);

    HttpRequest partial("POST", "/upload");
    partial.body = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
    partial.totalLength = 100;
    EXPECT_TRUE(sender.Send(partial));
    // Each connection is recorded by a thread of its own: wait for both.
    ASSERT_TRUE(WaitFor([&] {
        const std::string wire = server.Wire();
        return wire.find("GET /fire ") != std::string::npos && wire.find("0123456789") != std::string::npos;
    }));
    const std::string wire = server.Wire();
    EXPECT_NE(wire.find("\r\nContent-Length: 100\r\n"), std::string::npos);
    EXPECT_EQ(wire.find("Expect"), std::string::npos);
    Body body;
    EXPECT_EQ(sender.ReadResponse(body), 0u);
}

// Each part comes well within the limit, the whole answer does not: the
// read fails with what arrived in time. The camera sends a part when the
// test has moved the simulated clock on, so nothing waits out the limit.
TEST(CHttpSender, TheLimitBoundsTheWholeAnswerNotEachRead) {
    std::mutex lock;
    std::condition_variable changed;
    int released = 0, written = 0;
    RawServer server([&](RawConnection& c) {
        if (c.ReadRequest().empty()) return;
        c.Write("HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\n");
        int piece = 0;
        for (const char* text : {"abcd", "efgh", "ijkl"}) {
            std::unique_lock<std::mutex> hold(lock);
            if (!changed.wait_for(hold, 10s, [&] { return released > piece; })) return;
            hold.unlock();
            c.Write(text);
            hold.lock();
            written = ++piece;
            changed.notify_all();
        }
        c.Hang();
    });
    // Parts 1200 ms apart (simulated) against a 1600 ms limit for all of them.
    const auto releaseAfter = [&](kestrel::CSimulatedClock& clock, uint32_t ms) {
        clock.Advance(ms);
        std::unique_lock<std::mutex> hold(lock);
        const int piece = ++released;
        changed.notify_all();
        return changed.wait_for(hold, 10s, [&] { return written >= piece; });
    };
    kestrel::CSimulatedClock clock;
    CHttpSender sender(Device(server.Port(), "", "", 1600), nullptr, clock);
    ASSERT_TRUE(sender.Send(Get("/slow")));
    Body body;
    auto read = std::async(std::launch::async, [&] { return sender.ReadResponse(body); });
    ASSERT_TRUE(releaseAfter(clock, 1200));  // "abcd" at 1200 ms
    // 2400 ms: the read sees the time pass at its next look, within a second
    // of real time; a limit per part would wait on for "efgh".
    clock.Advance(1200);
    ASSERT_EQ(read.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(read.get(), 4u);
    EXPECT_EQ(Text(body), "abcd");
    EXPECT_EQ(sender.ReadFailure(), Web::ErrorTimeout);
    EXPECT_EQ(sender.LastError(), Web::ErrorTimeout);
    {
        std::lock_guard<std::mutex> hold(lock);
        released = 3;  // lets the camera's thread finish
    }
    changed.notify_all();
}

// A camera that never answers: the deadline of a 20 s limit fires as soon as
// the simulated clock passes it, not before, and again for the fallback.
TEST(CHttpSender, DeadlineReadsTheInjectedClock) {
    RawServer server([](RawConnection& c) { c.Hang(); });
    kestrel::CSimulatedClock clock;
    CHttpSender sender(Device(server.Port(), "", "", 20000), nullptr, clock);
    auto sent = std::async(std::launch::async, [&] { return sender.Send(Get("/hang")); });
    ASSERT_TRUE(WaitFor([&] { return server.Heads().size() == 1; }));
    EXPECT_EQ(sent.wait_for(50ms), std::future_status::timeout);  // real time alone does not end it
    clock.Advance(19999);
    EXPECT_EQ(sent.wait_for(50ms), std::future_status::timeout);
    clock.Advance(1);
    // A head never came: the other protocol is tried, on a new connection
    // and with a deadline of its own.
    ASSERT_TRUE(WaitFor([&] { return server.Accepted() == 2; }));
    EXPECT_EQ(sent.wait_for(50ms), std::future_status::timeout);
    clock.Advance(20000);
    ASSERT_EQ(sent.wait_for(5s), std::future_status::ready);
    EXPECT_FALSE(sent.get());
    EXPECT_EQ(sender.LastError(), Web::ErrorTimeout);
}

// A stalled body read ends by time-out or by Cancel from another thread,
// keeping only the bytes that arrived, and a hung head ends at Cancel
// without a second attempt; neither waits out the 20 s limit.
TEST(CHttpSender, CancelAndTimeOutEndHungRequestsAndReads) {
    const auto stalled = [](RawConnection& c) {
        if (!c.ReadRequest().empty()) c.Write("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npartial");
        c.Hang();
    };
    for (const bool cancel : {false, true}) {
        SCOPED_TRACE(cancel);
        RawServer server(stalled);
        kestrel::CSimulatedClock clock;
        CHttpSender sender(Device(server.Port(), "", "", 20000), nullptr, clock);
        ASSERT_TRUE(sender.Send(Get("/stall")));
        Body body;
        auto read = std::async(std::launch::async, [&] { return sender.ReadResponse(body); });
        if (cancel) {
            std::this_thread::sleep_for(100ms);  // into the read: a cancel before it would leave nothing to read
            sender.Cancel();
        } else {
            clock.Advance(20000);
        }
        ASSERT_EQ(read.wait_for(5s), std::future_status::ready);
        EXPECT_EQ(read.get(), 7u);
        EXPECT_EQ(Text(body), "partial");
        EXPECT_EQ(sender.LastError(), cancel ? Web::ErrorCancelled : Web::ErrorTimeout);
    }
    RawServer server([](RawConnection& c) { c.Hang(); });
    CHttpSender sender(Device(server.Port(), "", "", 20000));
    auto sent = std::async(std::launch::async, [&] { return sender.Send(Get("/hang")); });
    ASSERT_TRUE(WaitFor([&] { return server.Heads().size() == 1; }));
    std::this_thread::sleep_for(20ms);  // well into the wait for the head
    sender.Cancel();
    ASSERT_EQ(sent.wait_for(2s), std::future_status::ready);
    EXPECT_FALSE(sent.get());
    EXPECT_EQ(sender.LastError(), Web::ErrorCancelled);
    EXPECT_FALSE(sender.Send(Get("/hang")));  // the cancel still holds
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(server.Accepted(), 1);
}

// For the thread sanitizer: Cancel at any moment of Send or a read.
TEST(CHttpSender, CancelRacesWithSendAndRead) {
    RawServer server(Always(Response("200 OK", "", BigText(30000))));
    CHttpSender sender(Device(server.Port()));
    std::atomic<bool> stop{false};
    std::thread canceller([&] {
        while (!stop.load()) {
            sender.Cancel();
            std::this_thread::sleep_for(300us);
        }
    });
    for (int i = 0; i < 100; ++i) {
        Body body;
        sender.ResetCancel();  // a cancel holds; each round races a fresh one
        if (sender.Send(Get("/r"))) {
            sender.ReadResponse(body);
        } else {
            EXPECT_EQ(sender.LastError(), Web::ErrorCancelled);
        }
        EXPECT_LE(body.size(), 30000u);
    }
    stop.store(true);
    canceller.join();
}

// Tests cannot bind 443 on 127.0.0.1 in parallel; a random 127.x.y.z keeps them apart.
class TlsCamera {
public:
    explicit TlsCamera(const std::string& address = "127.0.0.1", uint16_t port = 0) {
        EXPECT_TRUE(MakeSelfSignedCertificate(m_dir.File("cert.pem"), m_dir.File("key.pem")));
        auto https =
            std::make_unique<httplib::SSLServer>(m_dir.File("cert.pem").c_str(), m_dir.File("key.pem").c_str());
        https->Get("/ok", [](const httplib::Request&, httplib::Response& res) { res.set_content("secure", "t/p"); });
        server = std::make_unique<HttplibServer>(std::move(https), address, port);
    }
    TempDir m_dir;
    std::unique_ptr<HttplibServer> server;
};

TEST(CHttpSenderTls, HttpsOnlyCameraIsReachedByTheFallBackAndRemembered) {
    TlsCamera camera;
    ASSERT_NE(camera.server->port, 0);
    CHttpSender sender(Device(camera.server->port));
    EXPECT_EQ(sender.Secure(), 0u);
    for (int i = 0; i < 2; ++i) {  // plain HTTP gets no reply: HTTPS follows, then comes first
        ASSERT_TRUE(sender.Send(Get("/ok")));
        EXPECT_EQ(sender.StatusCode(), 200u);
        EXPECT_EQ(sender.Secure(), 1u);
    }
    Body body;
    sender.ReadResponse(body);
    EXPECT_EQ(Text(body), "secure");
}

TEST(CHttpSenderTls, Port443StartsWithHttpsAndIgnoresCertificateErrorsByDefault) {
    const std::string address = RandomLoopbackAddress();
    TlsCamera camera(address, 443);
    if (camera.server->port == 0) GTEST_SKIP() << "cannot listen on " << address << ":443";
    CHttpSender sender(Device(443, "", "", 3000, address));
    EXPECT_EQ(sender.Secure(), 1u);
    ASSERT_TRUE(sender.Send(Get("/ok")));
    EXPECT_EQ(sender.StatusCode(), 200u);
    HttpRequest strict = Get("/ok");  // checked certificates: the self-signed one fails, plain HTTP too
    strict.flags &= ~HttpRequest::FlagIgnoreCertErrors;
    EXPECT_FALSE(sender.Send(strict));
    EXPECT_NE(sender.LastError(), 0u);
    EXPECT_EQ(sender.Secure(), 1u);
}

TEST(CHttpSenderTls, PlainCameraOnPort443IsRememberedAfterTheFallBack) {
    const std::string address = RandomLoopbackAddress();
    RawServer server(
        [](RawConnection& c) {
            if (c.PeekByte() == 0x16) return;  // a TLS ClientHello: hang up as a plain server does
            Always(Response("200 OK", "", "plain"))(c);
        },
        address, 443);
    if (!server.Ok()) GTEST_SKIP() << "cannot listen on " << address << ":443";
    CHttpSender sender(Device(443, "", "", 3000, address));
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(sender.Send(Get("/ok")));
        EXPECT_EQ(sender.StatusCode(), 200u);
        EXPECT_EQ(sender.Secure(), 0u);
        EXPECT_EQ(server.Accepted(), 2);  // the TLS attempt and the plain one, then the kept connection
    }
}

// Answers by path: a 401 offering Digest then Basic, a 401 offering Basic, a
// 401 offering nothing, or 200.
void ChallengeServer(RawConnection& c) {
    for (std::string head; !(head = c.ReadRequest()).empty();) {
        const std::string line = RequestLine(head);
        std::string offer =
            "WWW-Authenticate: Digest realm=\"cam\", nonce=\"n1\", qop=\"auth\"\r\n"
            "WWW-Authenticate: Basic realm=\"cam\"\r\n";
        if (line.find(" /basic") != std::string::npos) offer = offer.substr(offer.find("WWW", 10));
        if (line.find(" /none") != std::string::npos) offer.clear();
        const bool ok = line.find(" /ok") != std::string::npos;
        if (!c.Write(ok ? Response("200 OK", "", "ok") : Response("401 Unauthorized", offer, "denied"))) return;
    }
}

TEST(CHttpSenderAuth, LearningStepOnA401) {
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
        {"the scheme just offered is named", "admin", 0, "/basic", Web::SchemeBasic, 1, "Basic"},
        // authScheme 5: never credentials, even with a user name.
        {"no credentials wanted", "admin", 5, "/digest", Web::SchemeDigest, 2, ""},
        {"no challenge at all", "admin", 0, "/none", 0, 1, "Basic"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RawServer server(ChallengeServer);
        CHttpSender sender(Device(server.Port(), row.user, "pw"));
        HttpRequest request = Get(row.path);
        request.authScheme = row.authScheme;
        EXPECT_TRUE(sender.Send(request));
        EXPECT_EQ(sender.StatusCode(), 401u);
        EXPECT_EQ(sender.LearnedScheme(), row.learned);
        const auto heads = server.Heads();
        EXPECT_EQ(heads.size(), row.requests);
        for (const auto& head : heads) EXPECT_EQ(AuthorizationScheme(head), row.authorization);
        // The learning step closes the request; the resent one stays open.
        Body body;
        sender.ReadResponse(body);
        EXPECT_EQ(Text(body), row.requests == 2 ? "denied" : "");
    }
}

TEST(CHttpSenderSecrets, PasswordNeverAppearsInOutputOrOnTheWire) {
    const std::string password = "Pa55-Marker-7q9";
    RawServer server(ChallengeServer);
    RawServer hung([](RawConnection& c) { c.Hang(); });
    TempDir dir;
    std::fflush(nullptr);
    const int saved[] = {::dup(1), ::dup(2)};
    const int out = ::open(dir.File("out").c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    ::dup2(out, 1);
    ::dup2(out, 2);
    {
        CHttpSender sender(Device(server.Port(), "admin", password));
        sender.Send(Get("/ok"));
        sender.Send(Get("/digest"));  // learns Digest, resends with it
        sender.Send(Get("/digest"));
        HttpRequest bad = Get("/ok");
        bad.headers = {"broken\r\nline"};
        sender.Send(bad);
        CHttpSender(Device(FreePort(), "admin", password, 300)).Send(Get("/ok"));   // refused
        CHttpSender(Device(hung.Port(), "admin", password, 200)).Send(Get("/ok"));  // timed out
    }
    std::fflush(nullptr);
    ::dup2(saved[0], 1);
    ::dup2(saved[1], 2);
    for (int fd : {saved[0], saved[1], out}) ::close(fd);
    const std::string output = ReadFile(dir.File("out"));
    EXPECT_EQ(output.find(password), std::string::npos) << output;
    const std::string wire = server.Wire() + hung.Wire();
    EXPECT_NE(wire.find("Authorization: Basic"), std::string::npos);
    EXPECT_NE(wire.find("Authorization: Digest"), std::string::npos);
    EXPECT_EQ(wire.find(password), std::string::npos);
}

}  // namespace
