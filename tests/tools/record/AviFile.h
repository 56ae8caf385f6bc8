#pragma once
// Reads an AVI file back the way a player does, for the tests: RIFF chunks
// walked by their sizes, every size checked against the file.
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace recordtest {

struct AviFrame {
    uint32_t offset = 0;  // of the '00dc' chunk header in the file
    uint32_t size = 0;
};

struct AviFile {
    std::vector<uint8_t> bytes;
    std::string error;  // empty when the structure is sound
    uint32_t usPerFrame = 0;
    uint32_t totalFrames = 0;
    uint32_t streams = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t suggestedBuffer = 0;
    std::string streamType;
    std::string handler;
    uint32_t scale = 0;
    uint32_t rate = 0;
    uint32_t length = 0;
    std::string compression;
    uint32_t bmpWidth = 0;
    uint32_t bmpHeight = 0;
    std::vector<AviFrame> frames;  // from the movi list
    std::vector<AviFrame> index;   // from idx1, offsets made absolute

    const uint8_t* FrameData(const AviFrame& f) const { return bytes.data() + f.offset + 8; }
};

inline uint32_t Le32(const uint8_t* p) {
    return p[0] | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
inline uint32_t Le16(const uint8_t* p) { return p[0] | (static_cast<uint32_t>(p[1]) << 8); }
inline std::string Tag(const uint8_t* p) { return std::string(reinterpret_cast<const char*>(p), 4); }

// RIFF 'AVI ' { LIST 'hdrl' { 'avih', LIST 'strl' { 'strh', 'strf' } }, LIST 'movi' { '00dc'... }, 'idx1' }
inline AviFile ReadAvi(const std::string& path) {
    AviFile avi;
    std::ifstream in(path, std::ios::binary);
    avi.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    const auto& b = avi.bytes;
    const size_t n = b.size();
    auto fail = [&avi](const std::string& why) {
        avi.error = why;
        return avi;
    };
    if (n < 12 || Tag(&b[0]) != "RIFF" || Tag(&b[8]) != "AVI ") return fail("no RIFF AVI header");
    if (Le32(&b[4]) + 8ull != n) return fail("RIFF size " + std::to_string(Le32(&b[4])) + " for a file of " + std::to_string(n));
    size_t moviTag = 0;
    bool haveHdrl = false;
    bool haveIdx1 = false;
    size_t pos = 12;
    while (pos < n) {
        if (pos + 8 > n) return fail("chunk header cut at " + std::to_string(pos));
        const std::string id = Tag(&b[pos]);
        const uint32_t size = Le32(&b[pos + 4]);
        if (pos + 8 + size > n) return fail(id + " runs past the end");
        const size_t data = pos + 8;
        if (id == "LIST" && size >= 4 && Tag(&b[data]) == "hdrl") {
            haveHdrl = true;
            size_t p = data + 4;
            while (p < data + size) {
                if (p + 8 > data + size) return fail("hdrl chunk cut");
                const std::string cid = Tag(&b[p]);
                const uint32_t csize = Le32(&b[p + 4]);
                if (p + 8 + csize > data + size) return fail(cid + " runs past hdrl");
                const uint8_t* c = &b[p + 8];
                if (cid == "avih") {
                    if (csize != 56) return fail("avih size");
                    avi.usPerFrame = Le32(c);
                    avi.totalFrames = Le32(c + 16);
                    avi.streams = Le32(c + 24);
                    avi.suggestedBuffer = Le32(c + 28);
                    avi.width = Le32(c + 32);
                    avi.height = Le32(c + 36);
                } else if (cid == "LIST" && Tag(c) == "strl") {
                    size_t q = p + 12;
                    while (q < p + 8 + csize) {
                        if (q + 8 > p + 8 + csize) return fail("strl chunk cut");
                        const std::string sid = Tag(&b[q]);
                        const uint32_t ssize = Le32(&b[q + 4]);
                        if (q + 8 + ssize > p + 8 + csize) return fail(sid + " runs past strl");
                        const uint8_t* s = &b[q + 8];
                        if (sid == "strh") {
                            if (ssize != 56) return fail("strh size");
                            avi.streamType = Tag(s);
                            avi.handler = Tag(s + 4);
                            avi.scale = Le32(s + 20);
                            avi.rate = Le32(s + 24);
                            avi.length = Le32(s + 32);
                        } else if (sid == "strf") {
                            if (ssize < 40) return fail("strf size");
                            avi.bmpWidth = Le32(s + 4);
                            avi.bmpHeight = Le32(s + 8);
                            avi.compression = Tag(s + 16);
                        }
                        q += 8 + ssize + (ssize & 1u);
                    }
                }
                p += 8 + csize + (csize & 1u);
            }
        } else if (id == "LIST" && size >= 4 && Tag(&b[data]) == "movi") {
            moviTag = data;
            size_t p = data + 4;
            while (p < data + size) {
                if (p + 8 > data + size) return fail("movi chunk cut");
                const std::string cid = Tag(&b[p]);
                const uint32_t csize = Le32(&b[p + 4]);
                if (p + 8 + csize > data + size) return fail(cid + " runs past movi");
                if (cid != "00dc") return fail("unexpected chunk " + cid + " in movi");
                avi.frames.push_back({static_cast<uint32_t>(p), csize});
                p += 8 + csize + (csize & 1u);
            }
            if (p != data + size) return fail("movi size does not end on a chunk");
        } else if (id == "idx1") {
            haveIdx1 = true;
            if (size % 16 != 0) return fail("idx1 size");
            for (size_t e = data; e < data + size; e += 16) {
                if (Tag(&b[e]) != "00dc") return fail("idx1 entry id");
                if ((Le32(&b[e + 4]) & 0x10u) == 0) return fail("idx1 entry not a key frame");
                avi.index.push_back({static_cast<uint32_t>(moviTag + Le32(&b[e + 8])), Le32(&b[e + 12])});
            }
        }
        pos = data + size + (size & 1u);
    }
    if (!haveHdrl) return fail("no hdrl");
    if (moviTag == 0) return fail("no movi");
    if (!haveIdx1) return fail("no idx1");
    return avi;
}

}  // namespace recordtest
