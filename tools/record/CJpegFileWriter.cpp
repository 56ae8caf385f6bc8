#include "tools/record/CJpegFileWriter.h"

#include <sys/stat.h>

#include <cerrno>
#include <cinttypes>
#include <cstring>

namespace kestrel::record {

CJpegFileWriter::~CJpegFileWriter() { Close(); }

std::string CJpegFileWriter::FileName(uint64_t number) {
    char name[32];
    std::snprintf(name, sizeof(name), "%06" PRIu64 ".jpg", number);
    return name;
}

bool CJpegFileWriter::Fail(const std::string& what, const std::string& path) {
    m_error = "cannot " + what + " " + path + ": " + std::strerror(errno);
    return false;
}

bool CJpegFileWriter::Open() {
    if (::mkdir(m_dir.c_str(), 0777) != 0 && errno != EEXIST) return Fail("create", m_dir);
    const std::string indexPath = m_dir + "/index.csv";
    m_index = std::fopen(indexPath.c_str(), "we");
    if (m_index == nullptr) return Fail("create", indexPath);
    if (std::fputs("frame,arrival_time,size,width,height\n", m_index) < 0 || std::fflush(m_index) != 0) {
        return Fail("write", indexPath);
    }
    m_path.reserve(m_dir.size() + 32);
    return true;
}

bool CJpegFileWriter::Write(const Picture& picture) {
    if (m_index == nullptr) return false;
    m_path.assign(m_dir).append("/").append(FileName(picture.number));
    std::FILE* f = std::fopen(m_path.c_str(), "we");
    if (f == nullptr) return Fail("create", m_path);
    const bool written = std::fwrite(picture.data, 1, picture.size, f) == picture.size;
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed) {
        const int saved = errno;
        std::remove(m_path.c_str());  // no partial picture is left behind
        errno = saved;
        return Fail("write", m_path);
    }
    // The row follows the file, so every row names a complete picture.
    const long long seconds = picture.arrivalUs / 1000000;
    const long long micros = picture.arrivalUs % 1000000;
    if (std::fprintf(m_index, "%" PRIu64 ",%lld.%06lld,%u,%d,%d\n", picture.number, seconds, micros, picture.size,
                     picture.width, picture.height) < 0 ||
        std::fflush(m_index) != 0) {
        return Fail("write", m_dir + "/index.csv");
    }
    return true;
}

bool CJpegFileWriter::Close() {
    if (m_index == nullptr) return m_error.empty();
    const bool ok = std::fclose(m_index) == 0;
    m_index = nullptr;
    if (!ok) return Fail("write", m_dir + "/index.csv");
    return m_error.empty();
}

}  // namespace kestrel::record
