#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/record/IPictureSink.h"

namespace kestrel::record {

// Motion JPEG in a RIFF/AVI 1.0 file with an idx1 index.
//
//   RIFF <size> 'AVI '
//     LIST <size> 'hdrl'
//       'avih' 56  main header: us/frame, max bytes/s, flags, frames, streams, buffer, w, h
//       LIST <size> 'strl'
//         'strh' 56  'vids' 'MJPG' ... scale, rate, length, buffer, quality, frame rect
//         'strf' 40  BITMAPINFOHEADER, compression 'MJPG'
//     LIST <size> 'movi'
//       '00dc' <size> <JPEG> [pad to even]   one per picture
//     'idx1' <16 * n>  '00dc', keyframe, offset from the 'movi' tag, size
//
// The header is written with zero counts when the file is opened and patched
// when it is closed; the rate is the measured one, so playback lasts as long
// as the recording. A file stops short of 1 GiB and the recording goes on in
// the next one (NAME-002.avi, ...), which keeps every file within what AVI
// 1.0 players accept.
class CAviWriter : public IPictureSink {
public:
    static constexpr uint64_t kDefaultLimit = 1ull << 30;

    CAviWriter(std::string path, uint32_t nominalIntervalMs, uint64_t limitBytes = kDefaultLimit);
    ~CAviWriter() override;

    bool Open() override;
    bool Write(const Picture& picture) override;
    bool Close() override;
    const std::string& Error() const override { return m_error; }

    // Every file written so far, in order.
    const std::vector<std::string>& Files() const { return m_files; }

    // Offsets of the header fields patched at close (tests read them back).
    static constexpr long kMoviTag = 220;
    static constexpr long kFirstChunk = 224;

private:
    struct IndexEntry {
        uint32_t offset;
        uint32_t size;
    };

    bool OpenFile();
    bool CloseFile();
    bool Fail(const std::string& what);
    std::string FilePath(size_t number) const;

    std::string m_path;
    uint32_t m_nominalIntervalMs;
    uint64_t m_limit;
    std::FILE* m_file = nullptr;
    std::vector<std::string> m_files;
    std::vector<IndexEntry> m_index;
    uint64_t m_position = 0;  // end of the last chunk
    uint32_t m_maxChunk = 0;
    int32_t m_width = 0;
    int32_t m_height = 0;
    int64_t m_firstUs = 0;
    int64_t m_lastUs = 0;
    std::string m_error;
};

}  // namespace kestrel::record
