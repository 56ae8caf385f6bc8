#include "tools/record/CAviWriter.h"

#include <cerrno>
#include <cstring>

namespace kestrel::record {

namespace {

constexpr uint32_t kHeaderEnd = 224;   // first byte after the 'movi' tag
constexpr uint32_t kAvihFlagHasIndex = 0x10;
constexpr uint32_t kIndexKeyFrame = 0x10;

void Put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutTag(uint8_t* p, const char* tag) { std::memcpy(p, tag, 4); }

}  // namespace

CAviWriter::CAviWriter(std::string path, uint32_t nominalIntervalMs, uint64_t limitBytes)
    : m_path(std::move(path)), m_nominalIntervalMs(nominalIntervalMs == 0 ? 1 : nominalIntervalMs),
      m_limit(limitBytes) {
    m_index.reserve(4096);
}

CAviWriter::~CAviWriter() { Close(); }

bool CAviWriter::Fail(const std::string& what) {
    m_error = "cannot " + what + " " + (m_files.empty() ? m_path : m_files.back()) + ": " + std::strerror(errno);
    return false;
}

std::string CAviWriter::FilePath(size_t number) const {
    if (number <= 1) return m_path;
    char suffix[32];
    std::snprintf(suffix, sizeof(suffix), "-%03zu", number);
    const auto dot = m_path.rfind(".avi");
    if (dot == std::string::npos || dot + 4 != m_path.size()) return m_path + suffix;
    return m_path.substr(0, dot) + suffix + ".avi";
}

bool CAviWriter::Open() { return OpenFile(); }

bool CAviWriter::OpenFile() {
    m_files.push_back(FilePath(m_files.size() + 1));
    m_file = std::fopen(m_files.back().c_str(), "w+e");
    if (m_file == nullptr) return Fail("create");
    m_index.clear();
    m_maxChunk = 0;
    m_width = 0;
    m_height = 0;
    m_firstUs = 0;
    m_lastUs = 0;
    // The header with its counts still zero; CloseFile fills them in.
    uint8_t header[kHeaderEnd] = {};
    PutTag(header + 0, "RIFF");
    PutTag(header + 8, "AVI ");
    PutTag(header + 12, "LIST");
    Put32(header + 16, 192);
    PutTag(header + 20, "hdrl");
    PutTag(header + 24, "avih");
    Put32(header + 28, 56);
    Put32(header + 32 + 12, kAvihFlagHasIndex);
    Put32(header + 32 + 24, 1);  // streams
    PutTag(header + 88, "LIST");
    Put32(header + 92, 116);
    PutTag(header + 96, "strl");
    PutTag(header + 100, "strh");
    Put32(header + 104, 56);
    PutTag(header + 108, "vids");
    PutTag(header + 112, "MJPG");
    Put32(header + 108 + 40, 0xFFFFFFFFu);  // quality: driver's choice
    PutTag(header + 164, "strf");
    Put32(header + 168, 40);
    Put32(header + 172, 40);
    Put16(header + 172 + 12, 1);   // planes
    Put16(header + 172 + 14, 24);  // bits per pixel after decoding
    PutTag(header + 172 + 16, "MJPG");
    PutTag(header + 212, "LIST");
    PutTag(header + 220, "movi");
    if (std::fwrite(header, 1, sizeof(header), m_file) != sizeof(header)) return Fail("write");
    m_position = kHeaderEnd;
    return true;
}

bool CAviWriter::Write(const Picture& picture) {
    if (m_file == nullptr) return false;
    const uint64_t chunk = 8ull + picture.size + (picture.size & 1u);
    // Room for this chunk, the index entries and the idx1 header.
    const uint64_t after = m_position + chunk + 8 + 16ull * (m_index.size() + 1);
    if (after > m_limit && !m_index.empty()) {
        if (!CloseFile() || !OpenFile()) return false;
    }
    uint8_t head[8];
    PutTag(head, "00dc");
    Put32(head + 4, picture.size);
    static const uint8_t kPad = 0;
    if (std::fwrite(head, 1, 8, m_file) != 8 ||
        std::fwrite(picture.data, 1, picture.size, m_file) != picture.size ||
        ((picture.size & 1u) != 0 && std::fwrite(&kPad, 1, 1, m_file) != 1)) {
        return Fail("write");
    }
    m_index.push_back({static_cast<uint32_t>(m_position - kMoviTag), picture.size});
    m_position += chunk;
    if (picture.size > m_maxChunk) m_maxChunk = picture.size;
    if (m_width == 0 && picture.width > 0 && picture.height > 0) {
        m_width = picture.width;
        m_height = picture.height;
    }
    if (m_index.size() == 1) m_firstUs = picture.arrivalUs;
    m_lastUs = picture.arrivalUs;
    return true;
}

bool CAviWriter::CloseFile() {
    if (m_file == nullptr) return m_error.empty();
    bool ok = true;
    const auto frames = static_cast<uint32_t>(m_index.size());
    // idx1
    uint8_t head[8];
    PutTag(head, "idx1");
    Put32(head + 4, 16u * frames);
    ok = ok && std::fwrite(head, 1, 8, m_file) == 8;
    for (const auto& e : m_index) {
        uint8_t entry[16];
        PutTag(entry, "00dc");
        Put32(entry + 4, kIndexKeyFrame);
        Put32(entry + 8, e.offset);
        Put32(entry + 12, e.size);
        ok = ok && std::fwrite(entry, 1, 16, m_file) == 16;
    }
    const uint64_t fileSize = m_position + 8 + 16ull * frames;

    // Measured time per picture in microseconds; the nominal one until two
    // pictures give a measure.
    uint64_t usPerFrame = static_cast<uint64_t>(m_nominalIntervalMs) * 1000u;
    if (frames >= 2 && m_lastUs > m_firstUs) {
        usPerFrame = static_cast<uint64_t>(m_lastUs - m_firstUs) / (frames - 1u);
        if (usPerFrame == 0) usPerFrame = 1;
    }
    const uint64_t bytesPerSecond = usPerFrame > 0 ? static_cast<uint64_t>(m_maxChunk) * 1000000u / usPerFrame : 0;
    const uint32_t buffer = m_maxChunk + (m_maxChunk & 1u);
    const auto w = static_cast<uint32_t>(m_width);
    const auto h = static_cast<uint32_t>(m_height);

    // Read the header back, fill in the counts and write it over the old one.
    uint8_t header[kHeaderEnd - 4];
    ok = ok && std::fseek(m_file, 0, SEEK_SET) == 0 && std::fread(header, 1, sizeof(header), m_file) == sizeof(header);
    if (ok) {
        Put32(header + 4, static_cast<uint32_t>(fileSize - 8));
        uint8_t* avih = header + 32;
        Put32(avih + 0, static_cast<uint32_t>(usPerFrame));
        Put32(avih + 4, static_cast<uint32_t>(bytesPerSecond > 0xFFFFFFFFu ? 0xFFFFFFFFu : bytesPerSecond));
        Put32(avih + 16, frames);
        Put32(avih + 28, buffer);
        Put32(avih + 32, w);
        Put32(avih + 36, h);
        uint8_t* strh = header + 108;
        Put32(strh + 20, static_cast<uint32_t>(usPerFrame));  // scale
        Put32(strh + 24, 1000000u);                           // rate: scale/rate seconds per frame
        Put32(strh + 32, frames);                             // length
        Put32(strh + 36, buffer);
        Put16(strh + 52, w);
        Put16(strh + 54, h);
        uint8_t* strf = header + 172;
        Put32(strf + 4, w);
        Put32(strf + 8, h);
        Put32(strf + 20, w * h * 3);
        Put32(header + 216, static_cast<uint32_t>(m_position - 220));  // movi list size
        ok = std::fseek(m_file, 0, SEEK_SET) == 0 && std::fwrite(header, 1, sizeof(header), m_file) == sizeof(header);
    }
    if (!ok) Fail("write");
    if (std::fclose(m_file) != 0 && ok) {
        ok = false;
        Fail("write");
    }
    m_file = nullptr;
    return ok;
}

bool CAviWriter::Close() { return CloseFile(); }

}  // namespace kestrel::record
