#include "web/CCurlTransfer.h"

#include <gtest/gtest.h>

#include <future>

#include "runtime/CSimulatedClock.h"
#include "web/CBaseHttpSender.h"
#include "web/HttpText.h"
#include "web/TestServers.h"

namespace {

using namespace webtest;
using Web::CCurlTransfer;
using Web::HttpRequest;
using HeadWait = CCurlTransfer::HeadWait;

// One transfer on a simulated clock, started with what the builder makes
// of `request` for a camera at 127.0.0.1:port.
struct Attempt {
    kestrel::CSimulatedClock clock;
    kestrel::CStopToken stop;
    CCurlTransfer transfer;
    std::string user = "admin", password = "pw";
    Web::BuiltRequest built;

    explicit Attempt(uint32_t limitMs = 500) : transfer(limitMs, clock, stop) {}
    bool Start(const HttpRequest& request, uint16_t port, bool withUser) {
        if (!Web::CRequestBuilder::Build(request, "127.0.0.1:" + std::to_string(port), withUser, 0, built)) {
            return false;
        }
        CCurlTransfer::Credentials credentials;
        if (built.credentials) credentials = {&user, &password, built.scheme};
        transfer.StartClock();
        return transfer.Start(built, request.body, credentials, false, "");
    }
};

// How the wait for the head ends, named: whether the request was out when
// it failed decides whether Send tries the other protocol.
TEST(CCurlTransfer, WaitForTheHeadNamesHowItEnded) {
    HttpRequest upload("POST", "/upload");
    upload.body.assign(64u << 20, 'b');
    HttpRequest partial("POST", "/part");
    partial.body = {'x'};
    partial.totalLength = 10;  // the rest is the caller's: only the head and one byte go out
    struct Row {
        const char* name;
        RawServer::Script script;
        HttpRequest request;
        bool stopFirst, timesOut, sendOnly;
        HeadWait how;
        uint32_t error;
    };
    // clang-format off
    const Row rows[] = {
        {"answered", Always(Response("200 OK", "", "ok")), HttpRequest("GET", "/"), false, false, false,
         HeadWait::HeadReady, 0},
        {"send-only, written", [](RawConnection& c) { c.Hang(); }, partial, false, false, true, HeadWait::Sent, 0},
        {"closed without a word", [](RawConnection& c) { c.ReadRequest(); }, HttpRequest("GET", "/"), false,
         false, false, HeadWait::FailedAnswering, Web::ErrorConnectionReset},
        {"no status line", Always("hello there\r\n\r\n"), HttpRequest("GET", "/"), false, false, false,
         HeadWait::FailedAnswering, Web::ErrorInvalidServerResponse},
        {"no head in time", [](RawConnection& c) { c.Hang(); }, HttpRequest("GET", "/"), false, true, false,
         HeadWait::FailedAnswering, Web::ErrorTimeout},
        {"body never read", [](RawConnection& c) { c.Stall(); }, upload, false, true, false,
         HeadWait::FailedSending, Web::ErrorTimeout},
        {"stopped before", Always(Response("200 OK", "", "ok")), HttpRequest("GET", "/"), true, false, false,
         HeadWait::FailedSending, Web::ErrorCancelled},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RawServer server(row.script);
        Attempt attempt;
        ASSERT_TRUE(attempt.Start(row.request, server.Port(), false));
        if (row.stopFirst) attempt.stop.RequestStop();
        auto waited = std::async(std::launch::async, [&] { return attempt.transfer.WaitForHead(row.sendOnly); });
        if (row.timesOut) {
            // A request the camera reads must be out before the deadline passes.
            ASSERT_TRUE(WaitFor([&] {
                return server.Accepted() == 1 && (row.how == HeadWait::FailedSending || !server.Heads().empty());
            }));
            attempt.clock.Advance(500);
        }
        ASSERT_EQ(waited.wait_for(10s), std::future_status::ready);
        const CCurlTransfer::HeadResult result = waited.get();
        EXPECT_EQ(result.how, row.how);
        EXPECT_EQ(result.error, row.error);
        EXPECT_EQ(attempt.transfer.Head().Done(), row.how == HeadWait::HeadReady);
        attempt.transfer.Close();
    }
}

// The rounds libcurl answers on its own (a redirect it follows, a Digest
// challenge it meets) are not the answer: the head is the one after them.
// A 401 to Basic credentials is final at once. The camera sends each head a
// moment before its body, so that the transfer sees the head of a round
// alone, as it would from a slow camera.
TEST(CCurlTransfer, RoundsLibcurlAnswersItselfAreNotTheHead) {
    const auto camera = [](RawConnection& c) {
        for (std::string head; !(head = c.ReadRequest()).empty();) {
            const std::string line = RequestLine(head);
            const std::string scheme = AuthorizationScheme(head);
            std::string answer = Response("200 OK", "", "final " + scheme);
            if (line.find(" /moved ") != std::string::npos) {
                answer = Response("302 Found", "Location: /here\r\n", "elsewhere");
            } else if (line.find(" /here ") == std::string::npos && scheme != "Digest") {
                answer = Response("401 Unauthorized",
                                  line.find(" /basic ") != std::string::npos
                                      ? "WWW-Authenticate: Basic realm=\"cam\"\r\n"
                                      : "WWW-Authenticate: Digest realm=\"cam\", nonce=\"n1\", qop=\"auth\"\r\n",
                                  "denied");
            }
            const size_t body = answer.find("\r\n\r\n") + 4;
            if (!c.Write(answer.substr(0, body))) return;
            std::this_thread::sleep_for(30ms);
            if (!c.Write(answer.substr(body))) return;
        }
    };
    HttpRequest moved("GET", "/moved"), digest("GET", "/digest"), basic("GET", "/basic");
    moved.flags &= ~HttpRequest::FlagNoRedirects;
    digest.authScheme = HttpRequest::AuthDigest;
    const std::tuple<const char*, HttpRequest, bool, uint32_t, std::string, size_t> rows[] = {
        {"redirect followed", moved, false, 200, "final ", 2},
        {"Digest challenge met", digest, true, 200, "final Digest", 2},
        {"Basic refused", basic, true, 401, "denied", 1},
    };
    for (const auto& [name, request, withUser, status, text, requests] : rows) {
        SCOPED_TRACE(name);
        RawServer server(camera);
        Attempt attempt(5000);
        ASSERT_TRUE(attempt.Start(request, server.Port(), withUser));
        EXPECT_EQ(attempt.transfer.WaitForHead(false).how, HeadWait::HeadReady);
        EXPECT_EQ(attempt.transfer.Head().Status(), status);
        std::vector<uint8_t> body;
        EXPECT_EQ(attempt.transfer.ReadWhole(body, Web::kAnswerBodyLimit), 0u);
        EXPECT_EQ(Text(body), text);
        EXPECT_TRUE(attempt.transfer.EndedCleanly());
        EXPECT_EQ(server.Heads().size(), requests);
    }
}

// Body bytes are taken one delivery at a time and the next waits in libcurl
// (paused) until the caller has read them; nothing is lost or doubled.
TEST(CCurlTransfer, ReadingPieceByPieceLosesNothing) {
    const std::string text = BigText(200000);  // many deliveries
    RawServer server(Always(Response("200 OK", "", text)));
    Attempt attempt(5000);
    ASSERT_TRUE(attempt.Start(HttpRequest("GET", "/big"), server.Port(), false));
    ASSERT_EQ(attempt.transfer.WaitForHead(false).how, HeadWait::HeadReady);
    std::vector<uint8_t> out;
    while (attempt.transfer.WaitForBody() == 0 && attempt.transfer.Body().Waiting() > 0) {
        attempt.transfer.Body().TakeInto(out, 1000);
    }
    EXPECT_TRUE(Text(out) == text);
    EXPECT_TRUE(attempt.transfer.EndedCleanly());
}

// What libcurl cannot carry is refused before anything goes out.
TEST(CCurlTransfer, RefusesWhatLibcurlCannotCarry) {
    RawServer server(Always(Response("200 OK", "", "")));
    HttpRequest passport("GET", "/x");
    passport.authScheme = HttpRequest::AuthPassport;
    Attempt attempt;
    EXPECT_FALSE(attempt.Start(passport, server.Port(), true));
    EXPECT_FALSE(attempt.transfer.IsOpen());
    EXPECT_FALSE(CCurlTransfer::ParsesAsUrl("http://127.0.0.1:80/a b"));
    EXPECT_TRUE(CCurlTransfer::ParsesAsUrl("http://127.0.0.1:80/a%20b?x=1"));
    EXPECT_TRUE(attempt.Start(HttpRequest("GET", "/x"), server.Port(), true));  // usable after a refusal
    EXPECT_EQ(attempt.transfer.WaitForHead(false).how, HeadWait::HeadReady);
    EXPECT_EQ(server.Accepted(), 1);
}

}  // namespace
