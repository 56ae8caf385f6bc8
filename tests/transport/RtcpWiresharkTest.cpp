// Wireshark's RTCP dissector judges the receiver report and BYE this code
// sends: the bytes caught on loopback go through text2pcap into a capture
// file that tshark decodes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <string>

#include "runtime/CSimulatedClock.h"
#include "tests/transport/TransportTestSupport.h"

using namespace kestrel;
using namespace transporttest;

namespace {

bool RunCommand(const std::string& command, std::string& output) {
    output.clear();
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return false;
    std::array<char, 4096> chunk{};
    for (size_t n; (n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0;) output.append(chunk.data(), n);
    return ::pclose(pipe) == 0;
}

TEST(RtcpOnTheWire, WiresharkDecodesTheReceiverReportAndBye) {
    std::string text;
    if (!RunCommand("command -v tshark && command -v text2pcap", text)) GTEST_SKIP() << "tshark is not installed";

    CSimulatedClock clock;
    Peer camera;
    CRTCPSendReceive rtcp(clock, [] { return std::array<uint32_t, 4>{0x51C0FFEE, 1, 2, 3}; });
    ASSERT_TRUE(rtcp.Open(0));
    rtcp.SetRemoteAddress("127.0.0.1");
    rtcp.SetReportInterval(1001);
    ASSERT_TRUE(rtcp.StartReports());
    const uint16_t rtcpPort = rtcp.GetPort().GetPort();
    rtcp.RtpSequenceSeen(65535);
    rtcp.RtpSequenceSeen(0);
    // NTP 0x83AA7E80.0x12345678: LSR is its middle, 0x7E801234.
    ASSERT_EQ(camera.Send(rtcpPort, SenderReport(0xCA3E4A01, 0x83AA7E80, 0x12345678)), UdpSuccess);
    ASSERT_TRUE(camera.received.WaitForDatagrams(1));
    // Back in its wait, the report thread is woken by the interval alone.
    ASSERT_TRUE(clock.WaitForSleepers(1, 5000));
    clock.Advance(1500);
    ASSERT_TRUE(camera.received.WaitForDatagrams(2));  // the interval's report
    rtcp.StopReports();
    rtcp.Close();
    ASSERT_TRUE(camera.received.WaitForDatagrams(3));
    const auto sent = camera.received.Datagrams();

    // One hex dump per datagram, each starting at offset 0.
    const std::string base = testing::TempDir() + "halyard-rtcp-" + std::to_string(::getpid());
    {
        std::ofstream dump(base + ".txt");
        for (const Bytes* datagram : {&sent[1].bytes, &sent.back().bytes}) {
            dump << "0000";
            for (uint8_t byte : *datagram)
                dump << ' ' << "0123456789abcdef"[byte >> 4] << "0123456789abcdef"[byte & 15];
            dump << '\n';
        }
    }
    const std::string ports = std::to_string(rtcpPort) + "," + std::to_string(camera.Port());
    const std::string tshark = "tshark -n -r " + base + ".pcap -d udp.port==" + std::to_string(rtcpPort) + ",rtcp";
    std::string decoded, expert;
    const bool ok = RunCommand("text2pcap -q -u " + ports + " " + base + ".txt " + base + ".pcap 2>&1", text) &&
                    RunCommand(tshark + " -V 2>/dev/null", decoded) &&
                    RunCommand(tshark + " -q -z expert 2>/dev/null", expert);
    std::remove((base + ".txt").c_str());
    std::remove((base + ".pcap").c_str());
    ASSERT_TRUE(ok) << text;
    SCOPED_TRACE(decoded);

    const size_t byeAt = decoded.find("Real-time Transport Control Protocol (Goodbye)");
    ASSERT_NE(byeAt, std::string::npos);
    const std::string report = decoded.substr(0, byeAt);
    const std::string goodbye = decoded.substr(byeAt);
    for (const char* line :
         {"Real-time Transport Control Protocol (Receiver Report)", "Version: RFC 1889 Version (2)",
          "Reception report count: 1", "Packet type: Receiver Report (201)", "Length: 7 (32 bytes)",
          "Sender SSRC: 0x51c0ffee", "Identifier: 0xca3e4a01", "Fraction lost: 0 / 256",
          "Cumulative number of packets lost: 0", "Extended highest sequence number received: 65536",
          "Sequence number cycles count: 1", "Interarrival jitter: 0", "Last SR timestamp: 2122322484 (0x7e801234)",
          "Delay since last SR timestamp: 98304 (1500 milliseconds)", "RTCP frame length check: OK - 32 bytes"}) {
        EXPECT_NE(report.find(line), std::string::npos) << line;
    }
    for (const char* line : {"Source count: 1", "Packet type: Goodbye (203)", "Length: 1 (8 bytes)",
                             "Identifier: 0x51c0ffee", "RTCP frame length check: OK - 8 bytes"}) {
        EXPECT_NE(goodbye.find(line), std::string::npos) << line;
    }
    for (const char* fault : {"Malformed", "Expert Info"}) EXPECT_EQ(decoded.find(fault), std::string::npos) << fault;
    EXPECT_EQ(expert.find_first_not_of(" \n"), std::string::npos) << expert;
}

}  // namespace
