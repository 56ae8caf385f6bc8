#include <httplib.h>

#include "web/CHttpSender.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "web/TestServers.h"

namespace {

using namespace std::chrono_literals;
using Web::CHttpSender;
using Web::HttpRequest;
using webtest::RawConnection;
using webtest::RawServer;
using webtest::Always;
using webtest::BigText;
using webtest::Device;
using webtest::HttplibServer;
using webtest::Response;
using webtest::Text;
using webtest::WaitFor;
using Clock = std::chrono::steady_clock;

void AddRoutes(httplib::Server& server)
{
    server.Get("/ok", [](const httplib::Request&, httplib::Response& res) { res.set_content("hello", "text/plain"); });
    server.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
        res.status = 404;
        res.set_content("not here", "text/plain");
    });
    server.Get("/error", [](const httplib::Request&, httplib::Response& res) {
        res.status = 500;
        res.set_content("broken", "text/plain");
    });
    server.Get("/nocontent", [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
    server.Get("/big", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(BigText(100000), "application/octet-stream");
    });
}

TEST(CHttpSender, StatusCodesAndBodiesFromHttplib)
{
    HttplibServer server(std::make_unique<httplib::Server>());
    AddRoutes(server.Get());
    CHttpSender sender(Device(server.Port()));
    struct Row {
        const char* path;
        uint32_t status;
        std::string body;
    };
    const Row rows[] = {
        {"/ok", 200, "hello"},
        {"/missing", 404, "not here"},
        {"/error", 500, "broken"},
        {"/nocontent", 204, ""},       // contentLength stays 0, nothing queried
        {"/big", 200, BigText(100000)},  // many chunks of at most 8192 bytes
        {"/ok", 200, "hello"},
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(sender.Send(HttpRequest("GET", row.path))) << row.path;
        EXPECT_EQ(sender.StatusCode(), row.status) << row.path;
        EXPECT_EQ(sender.ContentLength(), row.body.size()) << row.path;
        EXPECT_EQ(sender.LastError(), 0u) << row.path;
        std::vector<uint8_t> body{'x'};
        EXPECT_EQ(sender.ReadResponse(body), row.body.size()) << row.path;
        EXPECT_EQ(Text(body), row.body) << row.path;
        EXPECT_EQ(sender.Secure(), 0u);
    }
}

TEST(CHttpSender, BodiesWithoutOrBeyondContentLength)
{
    const std::string long20k = BigText(20000);
    struct Row {
        const char* name;
        std::string response;
        bool closeAfter;
        uint32_t contentLength;
        uint32_t lastError;
        std::string body;
    };
    const Row rows[] = {
        {"no length, ends with the connection", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + long20k, true, 0,
         12150, long20k},
        {"longer than its Content-Length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nHelloEXTRA-BYTES", false, 5, 0,
         "Hello"},
        {"204 with a stray Content-Length", "HTTP/1.1 204 No Content\r\nContent-Length: 7\r\n\r\n", false, 0, 0, ""},
    };
    for (const Row& row : rows) {
        RawServer server([&](RawConnection& c) {
            if (!c.ReadRequest().empty()) c.Write(row.response);
            if (!row.closeAfter) c.Hang();
        });
        CHttpSender sender(Device(server.Port()));
        ASSERT_TRUE(sender.Send(HttpRequest("GET", "/x"))) << row.name;
        EXPECT_EQ(sender.ContentLength(), row.contentLength) << row.name;
        EXPECT_EQ(sender.LastError(), row.lastError) << row.name;
        std::vector<uint8_t> body;
        sender.ReadResponse(body);
        EXPECT_EQ(Text(body), row.body) << row.name;
    }
}

TEST(CHttpSender, BodyWithoutLengthIsCutAtOneMebibyte)
{
    const std::string big = BigText(1536 * 1024);
    RawServer server([&](RawConnection& c) {
        if (c.ReadRequest().empty()) return;
        c.Write("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
        c.Write(big);
    });
    CHttpSender sender(Device(server.Port()));
    ASSERT_TRUE(sender.Send(HttpRequest("GET", "/stream")));
    std::vector<uint8_t> body;
    EXPECT_EQ(sender.ReadResponse(body), 1048576u);
    EXPECT_EQ(Text(body), big.substr(0, 1048576));
}

TEST(CHttpSender, ReadDataAndQueryDataAvailable)
{
    RawServer server(Always(Response("200 OK", "", "0123456789")));
    CHttpSender sender(Device(server.Port()));
    std::vector<uint8_t> out{'k'};
    EXPECT_EQ(sender.ReadData(out, 100, false), 0u);  // no request yet
    EXPECT_EQ(sender.QueryDataAvailable(), 0u);

    ASSERT_TRUE(sender.Send(HttpRequest("GET", "/")));
    EXPECT_EQ(sender.ReadData(out, 0, false), 0u);  // maxBytes 0 reads nothing
    EXPECT_EQ(Text(out), "k");
    EXPECT_EQ(sender.QueryDataAvailable(), 10u);
    EXPECT_EQ(sender.ReadData(out, 4, false), 4u);   // appended
    EXPECT_EQ(Text(out), "k0123");
    EXPECT_EQ(sender.ReadData(out, 100, true), 6u);  // cleared first
    EXPECT_EQ(Text(out), "456789");
    EXPECT_EQ(sender.ReadData(out, 100, false), 0u);  // end of the body
    EXPECT_EQ(sender.QueryDataAvailable(), 0u);
    EXPECT_EQ(sender.LastError(), 0u);
}

TEST(CHttpSender, ReusesItsConnectionAndDropsAnUnreadBody)
{
    std::atomic<int> served{0};
    RawServer server([&](RawConnection& c) {
        while (!c.ReadRequest().empty()) {
            const std::string body = "reply " + std::to_string(++served) + " " + BigText(50000);
            c.Write(Response("200 OK", "", body));
        }
    });
    CHttpSender sender(Device(server.Port()));
    for (int i = 1; i <= 3; ++i) {
        ASSERT_TRUE(sender.Send(HttpRequest("GET", "/r")));
        std::vector<uint8_t> body;
        sender.ReadResponse(body);
        EXPECT_EQ(Text(body).substr(0, 8), "reply " + std::to_string(i) + " ");
    }
    EXPECT_EQ(server.Accepted(), 1);

    // A body left unread must not leak into the next response.
    ASSERT_TRUE(sender.Send(HttpRequest("GET", "/r")));
    ASSERT_TRUE(sender.Send(HttpRequest("GET", "/r")));
    std::vector<uint8_t> body;
    sender.ReadResponse(body);
    EXPECT_EQ(Text(body), "reply 5 " + BigText(50000));
}

TEST(CHttpSender, InvalidResponsesAreNotRetried)
{
    struct Row {
        const char* name;
        std::string response;
    };
    const Row rows[] = {
        {"no status line", "hello there\r\n\r\n"},
        {"Content-Length that is no number", "HTTP/1.1 200 OK\r\nContent-Length: lots\r\n\r\nabc"},
    };
    for (const Row& row : rows) {
        RawServer server([&](RawConnection& c) {
            if (!c.ReadRequest().empty()) c.Write(row.response);
        });
        CHttpSender sender(Device(server.Port()));
        EXPECT_FALSE(sender.Send(HttpRequest("GET", "/x"))) << row.name;
        EXPECT_EQ(sender.LastError(), Web::ErrorInvalidServerResponse) << row.name;
        EXPECT_EQ(server.Accepted(), 1) << row.name;
    }
}

TEST(CHttpSender, RequestGoesOutAsGiven)
{
    RawServer server(Always(Response("200 OK", "", "")));
    CHttpSender sender(Device(server.Port()));
    struct Row {
        const char* path;
        uint32_t flags;
        const char* requestLine;
    };
    const Row rows[] = {
        {"/command/inquiry.cgi?inq=sensor", 7, "GET /command/inquiry.cgi?inq=sensor HTTP/1.1"},
        {"mjpeg?UdpMode=unicast&UdpPort=3556", 7, "GET /mjpeg?UdpMode=unicast&UdpPort=3556 HTTP/1.1"},
        {"command/main.cgi?trigger=alarmout1on", 7, "GET /command/main.cgi?trigger=alarmout1on HTTP/1.1"},
        {"/a/../b?x=%41&y=[1]#f", 7, "GET /a/../b?x=%41&y=[1]#f HTTP/1.1"},
        {"/q?v={1}", 6, "GET /q?v=%7B1%7D HTTP/1.1"},
        {"/q?v=a b\r\nX-Injected: 1", 7, "GET /q?v=a%20b%0D%0AX-Injected:%201 HTTP/1.1"},
    };
    for (const Row& row : rows) {
        HttpRequest request("GET", row.path);
        request.flags = row.flags;
        ASSERT_TRUE(sender.Send(request)) << row.path;
    }
    HttpRequest custom("GET", "/h");
    custom.headers = {"X-One: 1", "Accept: image/jpeg", "X-One: 2"};
    ASSERT_TRUE(sender.Send(custom));

    const auto heads = server.Heads();
    ASSERT_EQ(heads.size(), std::size(rows) + 1);
    for (size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_EQ(webtest::RequestLine(heads[i]), rows[i].requestLine);
        EXPECT_EQ(heads[i].find("\r\nX-Injected"), std::string::npos);  // never a header line
    }
    const std::string& last = heads.back();
    EXPECT_NE(last.find("\r\nUser-Agent: Kestrel::HttpSender\r\n"), std::string::npos);
    EXPECT_NE(last.find("\r\nX-One: 2\r\n"), std::string::npos);  // replaced, not added
    EXPECT_EQ(last.find("X-One: 1"), std::string::npos);
    EXPECT_NE(last.find("\r\nAccept: image/jpeg\r\n"), std::string::npos);
    EXPECT_EQ(last.find("Authorization"), std::string::npos);  // empty user name: no credentials
    EXPECT_EQ(heads[0].find("Accept"), std::string::npos);      // no accept types of our own
}

TEST(CHttpSender, RequestsThatCannotBeBuilt)
{
    RawServer server(Always(Response("200 OK", "", "")));
    struct Row {
        const char* name;
        std::string address;
        HttpRequest request;
    };
    HttpRequest badHeader("GET", "/x");
    badHeader.headers = {"X-A: 1\r\nX-B: 2"};
    const Row rows[] = {
        {"empty verb", "127.0.0.1", HttpRequest("", "/x")},
        {"empty path", "127.0.0.1", HttpRequest("GET", "")},
        {"verb that is no token", "127.0.0.1", HttpRequest("GET /y HTTP/1.0\r\n", "/x")},
        {"header with a line break", "127.0.0.1", badHeader},
        {"empty address", "", HttpRequest("GET", "/x")},
        {"address with a path", "127.0.0.1/evil", HttpRequest("GET", "/x")},
    };
    for (const Row& row : rows) {
        CHttpSender sender(Device(server.Port(), "", "", 3000, row.address));
        EXPECT_FALSE(sender.Send(row.request)) << row.name;
        EXPECT_EQ(sender.LastError(), 0u) << row.name;
        EXPECT_EQ(sender.StatusCode(), 0u) << row.name;
    }
    EXPECT_EQ(server.Accepted(), 0);
}

TEST(CHttpSender, PassportCredentialsAreRefused)
{
    RawServer server(Always(Response("200 OK", "", "")));
    CHttpSender sender(Device(server.Port(), "admin", "pw"));
    HttpRequest request("GET", "/x");
    request.authScheme = HttpRequest::AuthPassport;  // libcurl has no Passport
    EXPECT_FALSE(sender.Send(request));
    EXPECT_EQ(sender.LastError(), 0u);
    EXPECT_EQ(server.Accepted(), 0);
}

TEST(CHttpSender, RedirectsAreFollowedOnlyWithoutFlag4)
{
    RawServer server([](RawConnection& c) {
        for (;;) {
            const std::string head = c.ReadRequest();
            if (head.empty()) return;
            const bool old = webtest::RequestLine(head).find(" /old ") != std::string::npos;
            const std::string response = old ? Response("302 Found", "Location: /new?a=1\r\n", "go away")
                                             : Response("200 OK", "", "moved here");
            if (!c.Write(response)) return;
        }
    });
    CHttpSender sender(Device(server.Port()));
    struct Row {
        uint32_t flags;
        uint32_t status;
        const char* body;
    };
    for (const Row& row : {Row{7, 302, "go away"}, Row{3, 200, "moved here"}}) {
        HttpRequest request("GET", "/old");
        request.flags = row.flags;
        ASSERT_TRUE(sender.Send(request)) << row.flags;
        EXPECT_EQ(sender.StatusCode(), row.status) << row.flags;
        std::vector<uint8_t> body;
        sender.ReadResponse(body);
        EXPECT_EQ(Text(body), row.body) << row.flags;
    }
    const auto heads = server.Heads();
    ASSERT_EQ(heads.size(), 3u);
    EXPECT_EQ(webtest::RequestLine(heads[2]), "GET /new?a=1 HTTP/1.1");
}

TEST(CHttpSender, SendOnlyRequestsAreNotAwaited)
{
    RawServer server([](RawConnection& c) {
        c.ReadRequest();
        c.Hang();  // never answers
    });
    CHttpSender sender(Device(server.Port(), "", "", 10000));

    HttpRequest flagged("GET", "/fire");
    flagged.flags |= HttpRequest::FlagSendOnly;
    EXPECT_TRUE(sender.Send(flagged));
    EXPECT_EQ(sender.StatusCode(), 0u);

    HttpRequest partial("POST", "/upload");
    partial.body = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
    partial.totalLength = 100;
    EXPECT_TRUE(sender.Send(partial));
    ASSERT_TRUE(WaitFor([&] { return server.Wire().find("0123456789") != std::string::npos; }));
    const auto heads = server.Heads();
    ASSERT_EQ(heads.size(), 2u);
    EXPECT_EQ(webtest::RequestLine(heads[1]), "POST /upload HTTP/1.1");
    EXPECT_NE(heads[1].find("\r\nContent-Length: 100\r\n"), std::string::npos);
    EXPECT_EQ(heads[1].find("Expect"), std::string::npos);
    std::vector<uint8_t> body;
    EXPECT_EQ(sender.ReadResponse(body), 0u);  // no response was awaited
}

TEST(CHttpSender, PostsItsBody)
{
    const std::string sent = "name=value&x=1";
    RawServer server([&](RawConnection& c) {
        const std::string request = c.ReadRequest(sent.size());
        if (request.empty()) return;
        c.Write(Response("200 OK", "", "echo:" + request.substr(request.size() - sent.size())));
    });
    CHttpSender sender(Device(server.Port()));
    HttpRequest request("POST", "/form");
    request.body.assign(sent.begin(), sent.end());
    ASSERT_TRUE(sender.Send(request));
    std::vector<uint8_t> body;
    sender.ReadResponse(body);
    EXPECT_EQ(Text(body), "echo:" + sent);
    const auto heads = server.Heads();
    ASSERT_EQ(heads.size(), 1u);
    EXPECT_EQ(heads[0].find("Content-Type"), std::string::npos);
    EXPECT_EQ(heads[0].find("Expect"), std::string::npos);
}

// A time-out while the request is still being written ends Send after one
// attempt. On loopback three things really stall the sending side: a
// listener whose accept queue is full (the kernel drops our SYN, so connect
// never completes), a peer that accepts but never reads a large body (the
// socket buffers on both ends fill and writing stops), and a TLS handshake
// that the peer never answers. An unroutable address is no good here: in a
// sandbox it fails at once with "network unreachable".
TEST(CHttpSender, TimeOutWhileSendingEndsAfterOneAttempt)
{
    const uint32_t limit = 1000;
    {  // the peer never reads a 64 MiB body
        RawServer server([](RawConnection& c) { c.Stall(); });
        CHttpSender sender(Device(server.Port(), "", "", limit));
        HttpRequest request("POST", "/upload");
        request.body.assign(64u << 20, 'b');
        EXPECT_FALSE(sender.Send(request));
        EXPECT_EQ(sender.LastError(), Web::ErrorTimeout);
        EXPECT_EQ(server.Accepted(), 1);
    }
    {  // the accept queue is full: connect itself never completes
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
        std::this_thread::sleep_for(100ms);
        CHttpSender sender(Device(server.Port(), "", "", limit));
        const auto start = Clock::now();
        EXPECT_FALSE(sender.Send(HttpRequest("GET", "/x")));
        const auto elapsed = Clock::now() - start;
        EXPECT_EQ(sender.LastError(), Web::ErrorTimeout);
        // A second attempt would have waited out a second limit.
        EXPECT_LT(elapsed, std::chrono::milliseconds(limit * 2 - 100));
        for (int fd : fillers) ::close(fd);
    }
}

TEST(CHttpSender, HungResponseTimesOutOnBothProtocols)
{
    // Waiting for the head is receiving: its time-out earns one attempt with
    // the other protocol, whose TLS handshake then times out while sending.
    RawServer server([](RawConnection& c) { c.Hang(); });
    CHttpSender sender(Device(server.Port(), "", "", 400));
    EXPECT_FALSE(sender.Send(HttpRequest("GET", "/hang")));
    EXPECT_EQ(sender.LastError(), Web::ErrorTimeout);
    EXPECT_EQ(server.Accepted(), 2);
    EXPECT_EQ(sender.Secure(), 0u);
    EXPECT_EQ(server.Heads().size(), 1u);  // the plain request; the other was a ClientHello
}

TEST(CHttpSender, TheLimitAppliesToEachPhaseNotToTheWhole)
{
    const uint32_t limit = 800;
    RawServer server([&](RawConnection& c) {
        if (c.ReadRequest().empty()) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(limit / 2));
        c.Write("HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\n");
        for (const char* piece : {"abcd", "efgh", "ijkl"}) {
            std::this_thread::sleep_for(std::chrono::milliseconds(limit / 2));
            c.Write(piece);
        }
        c.Hang();
    });
    CHttpSender sender(Device(server.Port(), "", "", limit));
    ASSERT_TRUE(sender.Send(HttpRequest("GET", "/slow")));
    std::vector<uint8_t> body;
    EXPECT_EQ(sender.ReadResponse(body), 12u);
    EXPECT_EQ(Text(body), "abcdefghijkl");
    EXPECT_EQ(sender.LastError(), 0u);
}

TEST(CHttpSender, StalledBodyKeepsOnlyWhatArrived)
{
    RawServer server([](RawConnection& c) {
        if (c.ReadRequest().empty()) return;
        c.Write("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npartial");
        c.Hang();
    });
    CHttpSender sender(Device(server.Port(), "", "", 300));
    ASSERT_TRUE(sender.Send(HttpRequest("GET", "/stall")));
    std::vector<uint8_t> body;
    EXPECT_EQ(sender.ReadResponse(body), 7u);
    EXPECT_EQ(Text(body), "partial");
    EXPECT_EQ(sender.LastError(), Web::ErrorTimeout);
}

}  // namespace
