#include "PcapFile.h"

#include <cstdio>

namespace camsim_test {
namespace {

void Le32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}
void Le16(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
}
void Be16(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back(static_cast<uint8_t>(x >> 8));
    v.push_back(static_cast<uint8_t>(x));
}

}  // namespace

void PcapFile::Add(const std::vector<uint8_t>& payload, const sockaddr_in& from, const sockaddr_in& to) {
    const uint32_t ipLen = 20 + 8 + static_cast<uint32_t>(payload.size());
    const uint32_t frameLen = 14 + ipLen;
    // Record header: seconds, microseconds, captured and original length.
    Le32(m_bytes, 1700000000u + m_count / 1000);
    Le32(m_bytes, (m_count % 1000) * 1000);
    Le32(m_bytes, frameLen);
    Le32(m_bytes, frameLen);
    ++m_count;
    // Ethernet: destination, source, type IPv4.
    const uint8_t macs[12] = {2, 0, 0, 0, 0, 1, 2, 0, 0, 0, 0, 2};
    m_bytes.insert(m_bytes.end(), macs, macs + 12);
    Be16(m_bytes, 0x0800);
    // IPv4 header with its checksum.
    std::vector<uint8_t> ip;
    ip.push_back(0x45);
    ip.push_back(0);
    Be16(ip, static_cast<uint16_t>(ipLen));
    Be16(ip, static_cast<uint16_t>(m_count));
    Be16(ip, 0x4000);
    ip.push_back(64);
    ip.push_back(17);
    Be16(ip, 0);
    const uint32_t src = ntohl(from.sin_addr.s_addr);
    const uint32_t dst = ntohl(to.sin_addr.s_addr);
    Be16(ip, static_cast<uint16_t>(src >> 16));
    Be16(ip, static_cast<uint16_t>(src));
    Be16(ip, static_cast<uint16_t>(dst >> 16));
    Be16(ip, static_cast<uint16_t>(dst));
    uint32_t sum = 0;
    for (size_t i = 0; i < ip.size(); i += 2) sum += (uint32_t{ip[i]} << 8) | ip[i + 1];
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    const uint16_t check = static_cast<uint16_t>(~sum);
    ip[10] = static_cast<uint8_t>(check >> 8);
    ip[11] = static_cast<uint8_t>(check);
    m_bytes.insert(m_bytes.end(), ip.begin(), ip.end());
    // UDP: ports, length, checksum 0 (none).
    Be16(m_bytes, ntohs(from.sin_port));
    Be16(m_bytes, ntohs(to.sin_port));
    Be16(m_bytes, static_cast<uint16_t>(8 + payload.size()));
    Be16(m_bytes, 0);
    m_bytes.insert(m_bytes.end(), payload.begin(), payload.end());
}

bool PcapFile::Write(const std::string& path) const {
    std::vector<uint8_t> head;
    Le32(head, 0xa1b2c3d4);
    Le16(head, 2);
    Le16(head, 4);
    Le32(head, 0);
    Le32(head, 0);
    Le32(head, 262144);
    Le32(head, 1);  // Ethernet
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(head.data(), 1, head.size(), f) == head.size() &&
              std::fwrite(m_bytes.data(), 1, m_bytes.size(), f) == m_bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace camsim_test
