#include "tools/record/CJpegFileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    // Plain system calls: no stream buffer is allocated per picture.
    const int fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return Fail("create", m_path);
    int error = 0;
    for (uint32_t done = 0; error == 0 && done < picture.size;) {
        const ssize_t n = ::write(fd, picture.data + done, picture.size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;
        } else {
            done += static_cast<uint32_t>(n);
        }
    }
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error != 0) {
        ::unlink(m_path.c_str());  // no partial picture is left behind
        errno = error;
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
