// What the simulator reads from its peers: RTCP from the receiver, the
// request target, and Digest credentials.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "tools/camsim/CAuthenticator.h"
#include "tools/camsim/CQueryString.h"
#include "tools/camsim/CRtcpCodec.h"

using namespace camsim;

namespace {

const std::vector<uint8_t> kReceiverReport = {
    0x81, 201,  0x00, 0x07,  // V=2 RC=1, RR, length 7 words
    0x11, 0x22, 0x33, 0x44,  // reporter SSRC
    0xA0, 0xB0, 0xC0, 0xD0,  // source SSRC
    0x05, 0xFF, 0xFF, 0xFE,  // fraction lost 5, cumulative lost -2
    0x00, 0x01, 0x00, 0x10,  // extended highest sequence 65552
    0x00, 0x00, 0x00, 0x09,  // jitter 9
    0x12, 0x34, 0x56, 0x78,  // LSR
    0x00, 0x01, 0x80, 0x00,  // DLSR 98304 (1.5 s)
};

}  // namespace

TEST(CamsimRtcpParse, ReceiverReportAndEveryTruncation) {
    const auto p = CRtcpCodec::Parse(kReceiverReport.data(), kReceiverReport.size());
    ASSERT_FALSE(p.malformed);
    ASSERT_EQ(p.receiverReports, 1u);
    const ReceiverReport& r = p.lastReport.value();
    EXPECT_TRUE(r.hasBlock);
    EXPECT_EQ(std::tie(r.reporterSsrc, r.sourceSsrc, r.extendedHighestSeq, r.jitter, r.lsr, r.dlsr),
              std::make_tuple(0x11223344u, 0xA0B0C0D0u, 65552u, 9u, 0x12345678u, 98304u));
    EXPECT_EQ(r.fractionLost * 1000 + r.cumulativeLost, 5000 - 2);
    for (size_t n = 0; n < kReceiverReport.size(); ++n) {
        const auto cut = CRtcpCodec::Parse(n ? kReceiverReport.data() : nullptr, n);
        EXPECT_TRUE(cut.malformed) << n;
        EXPECT_EQ(cut.receiverReports, 0u) << n;
        EXPECT_FALSE(cut.lastReport.has_value()) << n;
    }
}

TEST(CamsimRtcpParse, CompoundsAndDamagedPackets) {
    struct Row {
        unsigned rr, bye, others;
        bool malformed;
        std::vector<uint8_t> bytes;
    };
    // clang-format off
    const Row rows[] = {
        {1, 0, 0, false, {0x80, 201, 0, 1, 1, 2, 3, 4}},  // RR: RC=0, length 1, reporter SSRC
        {0, 1, 0, false, {0x81, 203, 0, 1, 1, 2, 3, 4}},  // BYE: SC=1, length 1, SSRC
        {0, 0, 0, true, {0x81, 203, 0, 1, 1, 2}},         // BYE claims 8 bytes, 6 present
        {0, 0, 0, true, {0x82, 203, 0, 1, 1, 2, 3, 4}},   // BYE SC=2 needs 12 bytes, length says 8
        {0, 0, 0, true, {0x81, 201, 0, 1, 1, 2, 3, 4}},   // RR RC=1 needs 32 bytes, length says 8
        {0, 0, 0, true, {0x41, 201, 0, 1, 1, 2, 3, 4}},   // version 1
        {0, 1, 1, false,
         {0x80, 204, 0, 2, 1, 2, 3, 4, 'n', 'a', 'm', 'e',  // APP, length 2, SSRC, name
          0x81, 203, 0, 1, 5, 6, 7, 8}},                    // then BYE
        {1, 0, 0, true, {0x80, 201, 0, 1, 1, 2, 3, 4, 0x80}},  // RR, then a next header cut short
    };
    // clang-format on
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& r = rows[i];
        const auto p = CRtcpCodec::Parse(r.bytes.data(), r.bytes.size());
        EXPECT_EQ(std::tie(p.receiverReports, p.byes, p.others, p.malformed),
                  std::tie(r.rr, r.bye, r.others, r.malformed))
            << "row " << i;
    }
}

TEST(CamsimQueryString, EscapesNumbersAndSizes) {
    const auto p = CQueryString::Parse("PrivacyDispEach=3,off&&flag&x=%41%2");
    ASSERT_EQ(p.size(), 3u);
    EXPECT_EQ(p[0].name + "=" + p[0].value + " " + p[1].name + "=" + p[1].value, "PrivacyDispEach=3,off flag=");
    EXPECT_EQ(p[2].value, "A%2");  // a cut escape stays as it is
    uint32_t v = 0;
    EXPECT_TRUE(CQueryString::ParseUnsigned("4294967295", &v) && v == 4294967295u);
    for (const char* bad : {"", "4294967296", "-1", "+1", "1 ", "0x10", "12345678901"})
        EXPECT_FALSE(CQueryString::ParseUnsigned(bad, &v)) << bad;
    struct Size {
        const char* text;
        unsigned w, h;  // 0: refused
    };
    for (const Size s : {Size{"704,480", 704, 480},
                         {"704x480", 704, 480},
                         {"cif", 352, 288},
                         {"4CIF", 704, 576},
                         {"8x8", 0, 0},
                         {"5000,100", 0, 0},
                         {"704", 0, 0},
                         {"a,b", 0, 0}}) {
        unsigned w = 0, h = 0;
        EXPECT_EQ(CQueryString::ParseSize(s.text, &w, &h), s.w != 0) << s.text;
        EXPECT_TRUE(s.w == 0 || (w == s.w && h == s.h)) << s.text;
    }
    EXPECT_TRUE(CQueryString::ParseNumbered("Sensor12Mode", "Sensor", "Mode", &v) && v == 12);
    EXPECT_FALSE(CQueryString::ParseNumbered("SensorMode", "Sensor", "Mode", &v));
    EXPECT_FALSE(CQueryString::ParseNumbered("alarmout2off", "alarmout", "on", &v));
}

TEST(CamsimDigest, HeaderParsingAndBadBase64) {
    std::map<std::string, std::string> f;
    ASSERT_TRUE(CAuthenticator::ParseDigest(
        "Digest username=\"u\\\"x\", realm=\"r\", uri=\"/a?b=c,d\", qop=auth, nc=00000001, response=\"0123\"", &f));
    EXPECT_EQ(f["username"], "u\"x");
    EXPECT_EQ(f["uri"], "/a?b=c,d");
    EXPECT_EQ(f["qop"], "auth");
    for (const char* bad : {"Basic abc", "Digest username=\"open", "Digest =x", "Digest name"})
        EXPECT_FALSE(CAuthenticator::ParseDigest(bad, &f)) << bad;
    std::string out;
    EXPECT_FALSE(CAuthenticator::DecodeBase64("YQ==YQ", &out));
    EXPECT_FALSE(CAuthenticator::DecodeBase64("Y*", &out));
}

// A response computed as RFC 2617 does, to a nonce of the simulator's own.
TEST(CamsimDigest, RfcStyleResponseIsBoundToTargetNonceAndPassword) {
    EXPECT_EQ(CAuthenticator::Md5Hex("Mufasa:testrealm@host.com:Circle Of Life"), "939e7578ed9e3c518a452acee763bce9");
    CAuthenticator auth(AuthMode::Digest, "Mufasa", "Circle Of Life", "testrealm@host.com");
    std::string challenge;
    ASSERT_FALSE(auth.Check("GET", "/dir/index.html", "", &challenge));
    std::map<std::string, std::string> c;
    ASSERT_TRUE(CAuthenticator::ParseDigest(challenge, &c));
    EXPECT_EQ(c["qop"], "auth");
    const std::string ha1 = CAuthenticator::Md5Hex("Mufasa:testrealm@host.com:Circle Of Life");
    const std::string ha2 = CAuthenticator::Md5Hex("GET:/dir/index.html");
    const std::string resp = CAuthenticator::Md5Hex(ha1 + ":" + c["nonce"] + ":00000001:0a4f113b:auth:" + ha2);
    const std::string header = "Digest username=\"Mufasa\", realm=\"testrealm@host.com\", nonce=\"" + c["nonce"] +
                               "\", uri=\"/dir/index.html\", qop=auth, nc=00000001, cnonce=\"0a4f113b\", response=\"" +
                               resp + "\", opaque=\"" + c["opaque"] + "\"";
    EXPECT_TRUE(auth.Check("GET", "/dir/index.html", header, nullptr));
    EXPECT_FALSE(auth.Check("GET", "/dir/other.html", header, &challenge));
    std::string foreign = header;
    char& last = foreign[foreign.find(c["nonce"]) + c["nonce"].size() - 1];  // the keyed hash part
    last = last == '0' ? '1' : '0';
    EXPECT_FALSE(auth.Check("GET", "/dir/index.html", foreign, &challenge));
    CAuthenticator other(AuthMode::Digest, "Mufasa", "wrong", "testrealm@host.com");
    EXPECT_FALSE(other.Check("GET", "/dir/index.html", header, &challenge));
}
