#include "web/CAnswerHead.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "web/HttpText.h"

namespace {

using Web::CAnswerHead;

// Lines as libcurl hands them over, line ends included.
CAnswerHead Feed(const std::vector<std::string>& lines) {
    CAnswerHead head;
    for (const std::string& line : lines) head.OnLine(reinterpret_cast<const uint8_t*>(line.data()), line.size());
    return head;
}

TEST(CAnswerHead, StatusEndAndWhatTheSenderReads) {
    struct Row {
        const char* name;
        std::vector<std::string> lines;
        uint32_t status;
        bool done;
        bool hasLength;
        uint32_t length;
        bool location;
    };
    // clang-format off
    const Row rows[] = {
        {"plain", {"HTTP/1.1 200 OK\r\n", "Content-Length: 12\r\n", "\r\n"}, 200, true, true, 12, false},
        {"name in any case, blanks around", {"HTTP/1.1 200 OK\r\n", "cOnTeNt-LeNgTh:  7 \r\n", "\r\n"}, 200, true, true, 7, false},
        {"first length counts", {"HTTP/1.1 200 OK\r\n", "Content-Length: x\r\n", "Content-Length: 5\r\n", "\r\n"}, 200, true, false, 0, false},
        {"beyond 32 bits", {"HTTP/1.1 200 OK\r\n", "Content-Length: 4294967296\r\n", "\r\n"}, 200, true, false, 0, false},
        {"a prefix is not the header", {"HTTP/1.1 200 OK\r\n", "Content-Length-X: 5\r\n", "Content-Length 5\r\n", "\r\n"}, 200, true, false, 0, false},
        {"no end yet", {"HTTP/1.1 200 OK\r\n", "Content-Length: 3\r\n"}, 200, false, true, 3, false},
        {"interim head is replaced", {"HTTP/1.1 100 Continue\r\n", "\r\n", "HTTP/1.1 204 No Content\r\n", "\r\n"}, 204, true, false, 0, false},
        {"interim never ends a head", {"HTTP/1.1 100 Continue\r\n", "\r\n"}, 100, false, false, 0, false},
        {"redirect", {"HTTP/1.1 302 Found\r\n", "LOCATION: /x\r\n", "\r\n"}, 302, true, false, 0, true},
        {"second head forgets the first", {"HTTP/1.1 302 Found\r\n", "Location: /x\r\n", "\r\n", "HTTP/1.1 200 OK\r\n", "\r\n"}, 200, true, false, 0, false},
        {"trailers ignored", {"HTTP/1.1 200 OK\r\n", "\r\n", "Content-Length: 9\r\n", "Location: /x\r\n"}, 200, true, false, 0, false},
        {"bare LF end", {"HTTP/1.1 200 OK\n", "Content-Length: 1\n", "\n"}, 200, true, true, 1, false},
        {"empty call ends", {"HTTP/1.1 200 OK\r\n", ""}, 200, true, false, 0, false},
        {"no status line", {"Content-Length: 1\r\n", "\r\n"}, 0, false, true, 1, false},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const CAnswerHead head = Feed(row.lines);
        EXPECT_EQ(head.Status(), row.status);
        EXPECT_EQ(head.Done(), row.done);
        uint32_t length = 0;
        EXPECT_EQ(head.ContentLength(length), row.hasLength);
        if (row.hasLength) {
            EXPECT_EQ(length, row.length);
        }
        EXPECT_EQ(head.HasLocation(), row.location);
    }
}

TEST(CAnswerHead, ChallengesAnsweredInOrderOfLines) {
    const std::vector<std::string> lines = {"HTTP/1.1 401 Unauthorized\r\n", "WWW-Authenticate: NTLM\r\n",
                                            "www-authenticate: Digest realm=\"c\", nonce=\"n\"\r\n",
                                            "WWW-Authenticate: Basic realm=\"c\"\r\n", "\r\n"};
    const CAnswerHead head = Feed(lines);
    const uint32_t answerable = Web::SchemeBasic | Web::SchemeDigest;
    EXPECT_EQ(head.FirstScheme(answerable), Web::SchemeDigest);  // NTLM is passed over
    EXPECT_EQ(head.FirstScheme(0x1F), Web::SchemeNtlm);
    EXPECT_EQ(head.FirstScheme(Web::SchemeBasic), Web::SchemeBasic);
    EXPECT_EQ(Feed({"HTTP/1.1 401 x\r\n", "WWW-Authenticate: NTLM\r\n", "\r\n"}).FirstScheme(answerable), 0u);
    EXPECT_EQ(Feed({"HTTP/1.1 401 x\r\n", "\r\n"}).FirstScheme(answerable), 0u);
}

// A camera cannot make the head grow without bound: lines beyond the count
// or the bytes are dropped, so a late Content-Length goes unseen.
TEST(CAnswerHead, LinesAndBytesAreBounded) {
    std::vector<std::string> many = {"HTTP/1.1 200 OK\r\n"};
    for (size_t i = 0; i < CAnswerHead::kLineLimit; ++i) many.push_back("X-" + std::to_string(i) + ": y\r\n");
    many.push_back("Content-Length: 5\r\n");
    many.push_back("\r\n");
    CAnswerHead head = Feed(many);
    EXPECT_EQ(head.Lines().size(), CAnswerHead::kLineLimit);
    uint32_t length = 0;
    EXPECT_FALSE(head.ContentLength(length));
    EXPECT_TRUE(head.Done());

    const std::string big = "X-Big: " + std::string(CAnswerHead::kByteLimit - 7, 'a') + "\r\n";  // exactly the limit
    head = Feed({"HTTP/1.1 200 OK\r\n", big, "Content-Length: 5\r\n", "\r\n"});
    ASSERT_EQ(head.Lines().size(), 1u);
    EXPECT_EQ(head.Lines()[0].size(), CAnswerHead::kByteLimit);  // line end not kept
    EXPECT_FALSE(head.ContentLength(length));
    head = Feed({"HTTP/1.1 200 OK\r\n", "X-Big: " + std::string(CAnswerHead::kByteLimit, 'a') + "\r\n",
                 "Content-Length: 5\r\n", "\r\n"});
    EXPECT_TRUE(head.ContentLength(length));  // the oversized line alone is dropped
    EXPECT_EQ(length, 5u);
}

}  // namespace
