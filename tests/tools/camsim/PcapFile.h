#pragma once
#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <vector>

namespace camsim_test {

// Writes captured UDP datagrams as a classic pcap file with Ethernet, IPv4
// and UDP headers, so that tshark can dissect them.
class PcapFile {
public:
    void Add(const std::vector<uint8_t>& payload, const sockaddr_in& from, const sockaddr_in& to);
    bool Write(const std::string& path) const;

private:
    std::vector<uint8_t> m_bytes;
    uint32_t m_count = 0;
};

}  // namespace camsim_test
