// Lets Wireshark's RTCP dissector judge the reports and BYE this code sends:
// the bytes caught on loopback are written to a capture file with proper
// Ethernet, IPv4 and UDP headers and decoded by tshark.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <string>

#include "tests/transport/RtcpTestSupport.h"

using namespace kestrel;
using namespace transporttest;

namespace {

using Bytes = std::vector<uint8_t>;

struct Frame {
    uint32_t seconds;
    uint32_t microseconds;
    uint16_t sourcePort;
    uint16_t destinationPort;
    Bytes payload;
};

void PutLittle32(Bytes& out, uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(v >> shift));
}
void PutLittle16(Bytes& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void PutBig16(Bytes& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

uint16_t InternetChecksum(const Bytes& bytes, size_t offset, size_t length, uint32_t sum = 0) {
    for (size_t i = 0; i + 1 < length; i += 2) sum += (uint32_t{bytes[offset + i]} << 8) | bytes[offset + i + 1];
    if (length % 2 != 0) sum += uint32_t{bytes[offset + length - 1]} << 8;
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

// Ethernet II, IPv4 127.0.0.1 -> 127.0.0.1, UDP.
Bytes LoopbackPacket(const Frame& frame) {
    Bytes p = {0x02, 0, 0, 0, 0, 0x01, 0x02, 0, 0, 0, 0, 0x02, 0x08, 0x00};  // dst MAC, src MAC, IPv4
    const size_t ip = p.size();
    const auto udpLength = static_cast<uint16_t>(8 + frame.payload.size());
    p.insert(p.end(), {0x45, 0x00});  // version 4, 20-byte header
    PutBig16(p, static_cast<uint16_t>(20 + udpLength));
    p.insert(p.end(), {0x00, 0x01, 0x40, 0x00, 64, 17, 0x00, 0x00});  // id, DF, TTL, UDP, checksum
    p.insert(p.end(), {127, 0, 0, 1, 127, 0, 0, 1});
    const uint16_t ipChecksum = InternetChecksum(p, ip, 20);
    p[ip + 10] = static_cast<uint8_t>(ipChecksum >> 8);
    p[ip + 11] = static_cast<uint8_t>(ipChecksum);
    const size_t udp = p.size();
    PutBig16(p, frame.sourcePort);
    PutBig16(p, frame.destinationPort);
    PutBig16(p, udpLength);
    PutBig16(p, 0);
    p.insert(p.end(), frame.payload.begin(), frame.payload.end());
    // Pseudo header: addresses, protocol, UDP length.
    const uint32_t pseudo = 0x7F00 + 0x0001 + 0x7F00 + 0x0001 + 17 + udpLength;
    uint16_t udpChecksum = InternetChecksum(p, udp, udpLength, pseudo);
    if (udpChecksum == 0) udpChecksum = 0xFFFF;
    p[udp + 6] = static_cast<uint8_t>(udpChecksum >> 8);
    p[udp + 7] = static_cast<uint8_t>(udpChecksum);
    return p;
}

void WriteCapture(const std::string& path, const std::vector<Frame>& frames) {
    Bytes file;
    PutLittle32(file, 0xA1B2C3D4);  // microsecond time stamps
    PutLittle16(file, 2);
    PutLittle16(file, 4);
    PutLittle32(file, 0);       // UTC
    PutLittle32(file, 0);
    PutLittle32(file, 65535);   // snap length
    PutLittle32(file, 1);       // Ethernet
    for (const Frame& frame : frames) {
        const Bytes packet = LoopbackPacket(frame);
        PutLittle32(file, frame.seconds);
        PutLittle32(file, frame.microseconds);
        PutLittle32(file, static_cast<uint32_t>(packet.size()));
        PutLittle32(file, static_cast<uint32_t>(packet.size()));
        file.insert(file.end(), packet.begin(), packet.end());
    }
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
}

bool RunCommand(const std::string& command, std::string& output) {
    output.clear();
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return false;
    std::array<char, 4096> chunk{};
    size_t n;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) output.append(chunk.data(), n);
    return ::pclose(pipe) == 0;
}

bool Contains(const std::string& haystack, const std::string& needle) {
    return haystack.find(needle) != std::string::npos;
}

TEST(RtcpOnTheWire, WiresharkDecodesTheReceiverReportAndBye) {
    std::string ignored;
    if (!RunCommand("command -v tshark >/dev/null 2>&1", ignored)) GTEST_SKIP() << "tshark is not installed";

    constexpr uint32_t kCamera = 0xCA3E4A01;
    constexpr uint32_t kOwn = 0x51C0FFEE;
    ManualClock clock;
    FakeCamera camera;
    CRTCPSendReceive rtcp(clock.Source(), [] { return std::array<uint32_t, 4>{kOwn, 1, 2, 3}; });
    ASSERT_TRUE(rtcp.Open(0));
    rtcp.SetRemoteAddress("127.0.0.1");
    rtcp.SetReportInterval(1001);
    ASSERT_TRUE(rtcp.StartReports());
    const uint16_t rtcpPort = rtcp.GetPort().GetPort();
    rtcp.RtpSequenceSeen(65535);
    rtcp.RtpSequenceSeen(0);

    // NTP 0x83AA7E80.0x12345678: LSR is its middle, 0x7E801234.
    const Bytes sr = SenderReport(kCamera, 0x83AA7E80, 0x12345678);
    ASSERT_EQ(camera.Send(rtcpPort, sr), UdpSuccess);
    ASSERT_TRUE(camera.received.WaitForDatagrams(1));
    clock.now += 1500;
    ASSERT_TRUE(camera.received.WaitForDatagrams(2));  // the interval's report
    rtcp.StopReports();
    rtcp.Close();
    ASSERT_TRUE(camera.received.WaitForDatagrams(3));
    const auto sent = camera.received.Datagrams();
    // A slow machine may let one more interval report out before the stop.
    ASSERT_GE(sent.size(), 3u);
    ASSERT_EQ(sent[0].from.port, rtcpPort);
    const Bytes& report = sent[1].bytes;
    const Bytes& bye = sent.back().bytes;
    ASSERT_EQ(bye.size(), 8u);

    const std::string path = testing::TempDir() + "halyard-rtcp-" + std::to_string(::getpid()) + ".pcap";
    WriteCapture(path, {
        {1000, 0, camera.Port(), rtcpPort, sr},
        {1001, 500000, rtcpPort, camera.Port(), report},
        {1001, 600000, rtcpPort, camera.Port(), bye},
    });
    // Checksums are verified too, so a fault in the capture itself shows.
    const std::string tshark = "tshark -n -r " + path + " -d udp.port==" + std::to_string(rtcpPort) +
                               ",rtcp -o udp.check_checksum:TRUE -o ip.check_checksum:TRUE";
    std::string decoded;
    std::string expert;
    const bool decodedOk = RunCommand(tshark + " -V 2>/dev/null", decoded);
    const bool expertOk = RunCommand(tshark + " -q -z expert 2>/dev/null", expert);
    std::remove(path.c_str());
    ASSERT_TRUE(decodedOk);
    ASSERT_TRUE(expertOk);
    SCOPED_TRACE(decoded);

    // The camera's sender report, then ours.
    EXPECT_TRUE(Contains(decoded, "Packet type: Sender Report (200)"));
    const size_t rr = decoded.find("Real-time Transport Control Protocol (Receiver Report)");
    const size_t byeAt = decoded.find("Real-time Transport Control Protocol (Goodbye)");
    ASSERT_NE(rr, std::string::npos);
    ASSERT_NE(byeAt, std::string::npos);
    const std::string reportText = decoded.substr(rr, byeAt - rr);
    const std::string goodbye = decoded.substr(byeAt);
    const char* reportLines[] = {
        "Version: RFC 1889 Version (2)",
        "Reception report count: 1",
        "Packet type: Receiver Report (201)",
        "Length: 7 (32 bytes)",
        "Sender SSRC: 0x51c0ffee",
        "Identifier: 0xca3e4a01",
        "Fraction lost: 0 / 256",
        "Cumulative number of packets lost: 0",
        "Extended highest sequence number received: 65536",
        "Sequence number cycles count: 1",
        "Interarrival jitter: 0",
        "Last SR timestamp: 2122322484 (0x7e801234)",
        "Delay since last SR timestamp: 98304 (1500 milliseconds)",
        "RTCP frame length check: OK - 32 bytes",
    };
    for (const char* line : reportLines) EXPECT_TRUE(Contains(reportText, line)) << line;
    const char* byeLines[] = {
        "Version: RFC 1889 Version (2)",
        "Source count: 1",
        "Packet type: Goodbye (203)",
        "Length: 1 (8 bytes)",
        "Identifier: 0x51c0ffee",
        "RTCP frame length check: OK - 8 bytes",
    };
    for (const char* line : byeLines) EXPECT_TRUE(Contains(goodbye, line)) << line;

    for (const char* fault : {"Malformed", "Expert Info", "[Checksum Status: Bad]", "Header checksum status: Bad"}) {
        EXPECT_FALSE(Contains(decoded, fault)) << fault;
    }
    EXPECT_TRUE(expert.find_first_not_of(" \n") == std::string::npos) << expert;
}

}  // namespace
