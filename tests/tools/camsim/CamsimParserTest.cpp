// The simulator's parsers: RTCP from the receiver, the picture stamp, the
// request target and the Digest header.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tools/camsim/CAuthenticator.h"
#include "tools/camsim/CPictureStamp.h"
#include "tools/camsim/CQueryString.h"
#include "tools/camsim/CRtcpCodec.h"

using namespace camsim;

namespace {

// The driver's receiver report.
const std::vector<uint8_t> kReceiverReport = {
    0x81, 201, 0x00, 0x07,   // V=2 RC=1, RR, length 7 words
    0x11, 0x22, 0x33, 0x44,  // reporter SSRC
    0xA0, 0xB0, 0xC0, 0xD0,  // source SSRC
    0x05, 0xFF, 0xFF, 0xFE,  // fraction lost 5, cumulative lost -2
    0x00, 0x01, 0x00, 0x10,  // extended highest sequence 65552
    0x00, 0x00, 0x00, 0x09,  // jitter 9
    0x12, 0x34, 0x56, 0x78,  // LSR
    0x00, 0x01, 0x80, 0x00,  // DLSR 98304 (1.5 s)
};

}  // namespace

TEST(CamsimRtcpParse, ReceiverReportFields) {
    const auto p = CRtcpCodec::Parse(kReceiverReport.data(), kReceiverReport.size());
    EXPECT_FALSE(p.malformed);
    EXPECT_EQ(p.receiverReports, 1u);
    ASSERT_TRUE(p.lastReport.has_value());
    const ReceiverReport& r = *p.lastReport;
    EXPECT_TRUE(r.hasBlock);
    EXPECT_EQ(r.reporterSsrc, 0x11223344u);
    EXPECT_EQ(r.sourceSsrc, 0xA0B0C0D0u);
    EXPECT_EQ(r.fractionLost, 5);
    EXPECT_EQ(r.cumulativeLost, -2);
    EXPECT_EQ(r.extendedHighestSeq, 65552u);
    EXPECT_EQ(r.jitter, 9u);
    EXPECT_EQ(r.lsr, 0x12345678u);
    EXPECT_EQ(r.dlsr, 98304u);
}

TEST(CamsimRtcpParse, EveryTruncationOfAReportIsMalformedAndCountsNothing) {
    for (size_t n = 1; n < kReceiverReport.size(); ++n) {
        const auto p = CRtcpCodec::Parse(kReceiverReport.data(), n);
        EXPECT_TRUE(p.malformed) << n;
        EXPECT_EQ(p.receiverReports, 0u) << n;
        EXPECT_FALSE(p.lastReport.has_value()) << n;
    }
    EXPECT_TRUE(CRtcpCodec::Parse(nullptr, 0).malformed);
}

TEST(CamsimRtcpParse, Table) {
    struct Row {
        const char* name;
        std::vector<uint8_t> bytes;
        unsigned rr, bye, others;
        bool malformed;
    };
    const std::vector<Row> rows = {
        {"RR without blocks",
         {0x80, 201, 0x00, 0x01,    // RC=0, length 1
          0x01, 0x02, 0x03, 0x04},  // reporter SSRC
         1, 0, 0, false},
        {"BYE",
         {0x81, 203, 0x00, 0x01,    // SC=1, length 1
          0x01, 0x02, 0x03, 0x04},  // SSRC
         0, 1, 0, false},
        {"BYE cut in its SSRC",
         {0x81, 203, 0x00, 0x01,  // claims 8 bytes
          0x01, 0x02},            // only 6 present
         0, 0, 0, true},
        {"BYE whose length is too short for its count",
         {0x82, 203, 0x00, 0x01,    // SC=2 needs 12 bytes, length says 8
          0x01, 0x02, 0x03, 0x04},
         0, 0, 0, true},
        {"RR whose length is too short for its blocks",
         {0x81, 201, 0x00, 0x01,    // RC=1 needs 32 bytes, length says 8
          0x01, 0x02, 0x03, 0x04},
         0, 0, 0, true},
        {"version 1",
         {0x41, 201, 0x00, 0x01,
          0x01, 0x02, 0x03, 0x04},
         0, 0, 0, true},
        {"APP then BYE",
         {0x80, 204, 0x00, 0x02,    // APP, length 2
          0x01, 0x02, 0x03, 0x04,   // SSRC
          'n', 'a', 'm', 'e',       // name
          0x81, 203, 0x00, 0x01,    // BYE
          0x05, 0x06, 0x07, 0x08},
         0, 1, 1, false},
        {"RR then a stray byte",
         {0x80, 201, 0x00, 0x01,
          0x01, 0x02, 0x03, 0x04,
          0x80},                    // header of a next packet cut short
         1, 0, 0, true},
    };
    for (const auto& row : rows) {
        const auto p = CRtcpCodec::Parse(row.bytes.data(), row.bytes.size());
        EXPECT_EQ(p.receiverReports, row.rr) << row.name;
        EXPECT_EQ(p.byes, row.bye) << row.name;
        EXPECT_EQ(p.others, row.others) << row.name;
        EXPECT_EQ(p.malformed, row.malformed) << row.name;
    }
}

TEST(CamsimRtcpBuild, SenderReportLayout) {
    uint8_t buf[128];
    const size_t n = CRtcpCodec::BuildSenderReport(buf, sizeof buf, 0xCAFEBABE, 0x0102030405060708ull, 0x11223344,
                                                   100, 140000, "abc");
    // SR 28 bytes + SDES: header 4, SSRC 4, CNAME item 2 + 3, end 1 -> 16.
    ASSERT_EQ(n, 28u + 16u);
    const std::vector<uint8_t> expected = {
        0x80, 200, 0x00, 0x06,  // V=2, SR, length 6
        0xCA, 0xFE, 0xBA, 0xBE,  // SSRC
        0x01, 0x02, 0x03, 0x04,  // NTP seconds
        0x05, 0x06, 0x07, 0x08,  // NTP fraction
        0x11, 0x22, 0x33, 0x44,  // RTP timestamp
        0x00, 0x00, 0x00, 100,   // packets
        0x00, 0x02, 0x22, 0xE0,  // octets 140000
        0x81, 202, 0x00, 0x03,   // SDES, one chunk, length 3
        0xCA, 0xFE, 0xBA, 0xBE,  // SSRC
        0x01, 0x03, 'a', 'b',    // CNAME, 3 bytes
        'c', 0x00, 0x00, 0x00,   // end of items, padding
    };
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + n), expected);
    // Too small a buffer writes nothing.
    EXPECT_EQ(CRtcpCodec::BuildSenderReport(buf, 40, 1, 2, 3, 4, 5, "abc"), 0u);
    const auto p = CRtcpCodec::Parse(buf, n);
    EXPECT_FALSE(p.malformed);
    EXPECT_EQ(p.others, 2u);
}

namespace {

uint64_t Fnv(uint64_t h, const std::vector<uint8_t>& v, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
        h ^= v[i];
        h *= 0x100000001b3ull;
    }
    return h;
}

// A minimal stamped file: SOI, APP0, the stamp, a frame header, EOI.
std::vector<uint8_t> StampedFile(uint32_t frame) {
    std::vector<uint8_t> f = {
        0xFF, 0xD8,              // SOI
        0xFF, 0xE0, 0x00, 0x04,  // APP0, length 4
        0x4A, 0x46,              // payload
        0xFF, 0xFE, 0x00, 0x1E,  // COM, length 30      (offset 8)
        'C', 'S', 'I', 'M',      // magic
        0x01, 0x00,              // version 1, flags 0
        0x00, 0x07,              // ring index 7
        0, 0, 0, 0,              // frame number        (offset 20)
        0, 0, 0, 0,              // file size           (offset 24)
        0x01, 0x60, 0x01, 0x20,  // 352 x 288
        0, 0, 0, 0, 0, 0, 0, 0,  // checksum            (offset 32)
        0xFF, 0xC0, 0x00, 0x0B,  // SOF0, length 11
        0x08, 0x01, 0x20, 0x01, 0x60, 0x01, 0x01, 0x11, 0x00,
        0xFF, 0xD9,              // EOI
    };
    for (int i = 0; i < 4; ++i) f[20 + i] = static_cast<uint8_t>(frame >> (24 - 8 * i));
    const uint32_t size = static_cast<uint32_t>(f.size());
    for (int i = 0; i < 4; ++i) f[24 + i] = static_cast<uint8_t>(size >> (24 - 8 * i));
    uint64_t h = Fnv(0xcbf29ce484222325ull, f, 40, f.size());
    h = Fnv(h, f, 0, 8);
    h = Fnv(h, f, 8, 32);
    for (int i = 0; i < 8; ++i) f[32 + i] = static_cast<uint8_t>(h >> (56 - 8 * i));
    return f;
}

}  // namespace

TEST(CamsimPictureStamp, VerifiesAHandBuiltFile) {
    const auto f = StampedFile(123456);
    PictureStampInfo info;
    ASSERT_EQ(CPictureStamp::Verify(f.data(), f.size(), &info), StampResult::Ok);
    EXPECT_EQ(info.frameNumber, 123456u);
    EXPECT_EQ(info.ringIndex, 7);
    EXPECT_EQ(info.width, 352);
    EXPECT_EQ(info.height, 288);
    EXPECT_EQ(info.stampOffset, 8u);
    EXPECT_FALSE(info.padded);
}

TEST(CamsimPictureStamp, AnyChangedByteIsCaught) {
    const auto good = StampedFile(5);
    for (size_t i = 0; i < good.size(); ++i) {
        auto f = good;
        f[i] ^= 0x01;
        EXPECT_NE(CPictureStamp::Verify(f.data(), f.size(), nullptr), StampResult::Ok) << "byte " << i;
    }
}

TEST(CamsimPictureStamp, TruncationsAndMissingParts) {
    const auto good = StampedFile(5);
    for (size_t n = 0; n < good.size(); ++n) {
        const StampResult r = CPictureStamp::Verify(good.data(), n, nullptr);
        // Up to the end of the stamp the file cannot show one; after it the
        // size in the stamp tells.
        if (n < 40) {
            EXPECT_TRUE(r == StampResult::NotJpeg || r == StampResult::NoStamp) << n;
        } else {
            EXPECT_EQ(r, StampResult::SizeMismatch) << n;
        }
    }
    auto noStamp = good;
    noStamp[12] = 'X';  // magic broken: no stamp
    EXPECT_EQ(CPictureStamp::Verify(noStamp.data(), noStamp.size(), nullptr), StampResult::NoStamp);
    auto longer = good;
    longer.push_back(0);
    EXPECT_EQ(CPictureStamp::Verify(longer.data(), longer.size(), nullptr), StampResult::SizeMismatch);
    // A stamp after the frame header does not count.
    const std::vector<uint8_t> late = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x02, 0xFF, 0xFE, 0x00, 0x1E};
    EXPECT_EQ(CPictureStamp::Verify(late.data(), late.size(), nullptr), StampResult::NoStamp);
}

TEST(CamsimQueryString, SplitAndParse) {
    struct Row {
        const char* target;
        const char* path;
        const char* query;
    };
    const Row rows[] = {
        {"/command/camera.cgi?Color=color", "command/camera.cgi", "Color=color"},
        {"mjpeg?UdpMode=unicast&UdpPort=5000", "mjpeg", "UdpMode=unicast&UdpPort=5000"},
        {"command/main.cgi?trigger=alarmout1on", "command/main.cgi", "trigger=alarmout1on"},
        {"/command/inquiry.cgi", "command/inquiry.cgi", ""},
        {"/", "", ""},
    };
    for (const auto& r : rows) {
        std::string path, query;
        CQueryString::SplitTarget(r.target, &path, &query);
        EXPECT_EQ(path, r.path) << r.target;
        EXPECT_EQ(query, r.query) << r.target;
    }
    const auto p = CQueryString::Parse("PrivacyDispEach=3,off&JpBandwidth=0.0&&flag&x=%41%2");
    ASSERT_EQ(p.size(), 4u);
    EXPECT_EQ(p[0].name, "PrivacyDispEach");
    EXPECT_EQ(p[0].value, "3,off");
    EXPECT_EQ(p[1].value, "0.0");
    EXPECT_EQ(p[2].name, "flag");
    EXPECT_EQ(p[2].value, "");
    EXPECT_EQ(p[3].value, "A%2");  // a cut escape stays as it is
}

TEST(CamsimQueryString, NumbersAndSizes) {
    uint32_t v = 0;
    EXPECT_TRUE(CQueryString::ParseUnsigned("4294967295", &v));
    EXPECT_EQ(v, 4294967295u);
    for (const char* bad : {"", "4294967296", "-1", "+1", "1 ", "0x10", "12345678901"})
        EXPECT_FALSE(CQueryString::ParseUnsigned(bad, &v)) << bad;
    struct Size {
        const char* text;
        bool ok;
        unsigned w, h;
    };
    const Size sizes[] = {{"704,480", true, 704, 480}, {"704x480", true, 704, 480}, {"cif", true, 352, 288},
                          {"4CIF", true, 704, 576},    {"VGA", true, 640, 480},     {"8x8", false, 0, 0},
                          {"5000,100", false, 0, 0},   {"704", false, 0, 0},        {"a,b", false, 0, 0}};
    for (const auto& s : sizes) {
        unsigned w = 0, h = 0;
        EXPECT_EQ(CQueryString::ParseSize(s.text, &w, &h), s.ok) << s.text;
        if (s.ok) {
            EXPECT_EQ(std::make_pair(w, h), std::make_pair(s.w, s.h)) << s.text;
        }
    }
    EXPECT_TRUE(CQueryString::ParseNumbered("Sensor12Mode", "Sensor", "Mode", &v));
    EXPECT_EQ(v, 12u);
    EXPECT_FALSE(CQueryString::ParseNumbered("SensorMode", "Sensor", "Mode", &v));
    EXPECT_FALSE(CQueryString::ParseNumbered("Sensor1Mod", "Sensor", "Mode", &v));
    EXPECT_TRUE(CQueryString::ParseNumbered("alarmout2off", "alarmout", "off", &v));
    EXPECT_FALSE(CQueryString::ParseNumbered("alarmout2off", "alarmout", "on", &v));
}

TEST(CamsimDigest, HeaderParsing) {
    std::map<std::string, std::string> f;
    ASSERT_TRUE(CAuthenticator::ParseDigest(
        "Digest username=\"u\\\"x\", realm=\"r\", nonce=\"abc\", uri=\"/a?b=c,d\", qop=auth, nc=00000001, "
        "cnonce=\"xyz\", response=\"0123\"",
        &f));
    EXPECT_EQ(f["username"], "u\"x");
    EXPECT_EQ(f["uri"], "/a?b=c,d");
    EXPECT_EQ(f["qop"], "auth");
    EXPECT_EQ(f["nc"], "00000001");
    for (const char* bad : {"Basic abc", "Digest username=\"open", "Digest =x", "Digest name"})
        EXPECT_FALSE(CAuthenticator::ParseDigest(bad, &f)) << bad;
}

TEST(CamsimDigest, Base64AndMd5) {
    std::string out;
    ASSERT_TRUE(CAuthenticator::DecodeBase64("dXNlcjpwYXNz", &out));
    EXPECT_EQ(out, "user:pass");
    ASSERT_TRUE(CAuthenticator::DecodeBase64("YQ==", &out));
    EXPECT_EQ(out, "a");
    EXPECT_FALSE(CAuthenticator::DecodeBase64("YQ==YQ", &out));
    EXPECT_FALSE(CAuthenticator::DecodeBase64("Y*", &out));
    // RFC 2617's example: HA1 of Mufasa.
    EXPECT_EQ(CAuthenticator::Md5Hex("Mufasa:testrealm@host.com:Circle Of Life"), "939e7578ed9e3c518a452acee763bce9");
}

TEST(CamsimDigest, RfcExampleIsAccepted) {
    // A nonce of our own is needed, so take one from a challenge and answer
    // it the way RFC 2617 computes a response.
    CAuthenticator auth(AuthMode::Digest, "Mufasa", "Circle Of Life", "testrealm@host.com");
    std::string challenge;
    ASSERT_FALSE(auth.Check("GET", "/dir/index.html", "", &challenge));
    std::map<std::string, std::string> c;
    ASSERT_TRUE(CAuthenticator::ParseDigest(challenge, &c));
    EXPECT_EQ(c["qop"], "auth");
    const std::string ha1 = CAuthenticator::Md5Hex("Mufasa:testrealm@host.com:Circle Of Life");
    const std::string ha2 = CAuthenticator::Md5Hex("GET:/dir/index.html");
    const std::string resp =
        CAuthenticator::Md5Hex(ha1 + ":" + c["nonce"] + ":00000001:0a4f113b:auth:" + ha2);
    const std::string header = "Digest username=\"Mufasa\", realm=\"testrealm@host.com\", nonce=\"" + c["nonce"] +
                               "\", uri=\"/dir/index.html\", qop=auth, nc=00000001, cnonce=\"0a4f113b\", response=\"" +
                               resp + "\", opaque=\"" + c["opaque"] + "\"";
    EXPECT_TRUE(auth.Check("GET", "/dir/index.html", header, nullptr));
    // The same answer for another target, a foreign nonce or a wrong
    // password fails.
    EXPECT_FALSE(auth.Check("GET", "/dir/other.html", header, &challenge));
    std::string foreign = header;
    char& last = foreign[foreign.find(c["nonce"]) + c["nonce"].size() - 1];  // the keyed hash part
    last = last == '0' ? '1' : '0';
    EXPECT_FALSE(auth.Check("GET", "/dir/index.html", foreign, &challenge));
    CAuthenticator other(AuthMode::Digest, "Mufasa", "wrong", "testrealm@host.com");
    EXPECT_FALSE(other.Check("GET", "/dir/index.html", header, &challenge));
}
