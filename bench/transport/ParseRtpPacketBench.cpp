#include <benchmark/benchmark.h>

#include <vector>

#include "transport/RtpPacket.h"

namespace {

// A Motion JPEG packet as the camera sends it: fixed header, 1400 bytes.
void BM_ParseRtpPacket(benchmark::State& state) {
    std::vector<uint8_t> datagram = {0x80, 0x9A, 0x12, 0x34, 0, 1, 0x5F, 0x90, 0x11, 0x22, 0x33, 0x44};
    datagram.resize(12 + 1400, 0xAB);
    kestrel::RtpPacket packet;
    for (auto _ : state) {
        benchmark::DoNotOptimize(datagram.data());
        const bool ok = kestrel::ParseRtpPacket(datagram.data(), datagram.size(), packet);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(packet);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseRtpPacket);

// The longest header: 15 CSRCs and an extension.
void BM_ParseRtpPacketFullHeader(benchmark::State& state) {
    std::vector<uint8_t> datagram = {0x9F, 0x9A, 0x12, 0x34, 0, 1, 0x5F, 0x90, 0x11, 0x22, 0x33, 0x44};
    datagram.resize(12 + 60, 0xC0);
    datagram.insert(datagram.end(), {0xBE, 0xDE, 0x00, 0x02, 1, 2, 3, 4, 5, 6, 7, 8});
    datagram.resize(datagram.size() + 1400, 0xAB);
    kestrel::RtpPacket packet;
    for (auto _ : state) {
        benchmark::DoNotOptimize(datagram.data());
        const bool ok = kestrel::ParseRtpPacket(datagram.data(), datagram.size(), packet);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(packet);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseRtpPacketFullHeader);

}  // namespace
