#include "settings/CDinaFileBase.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

CDinaFileBase::~CDinaFileBase() { Close(); }

void CDinaFileBase::SetFileName(const std::string& fileName) {
    m_fileName = fileName;
    m_named = true;
}

bool CDinaFileBase::OpenForReading() {
    Close();
    if (m_fileName.empty()) {
        return false;
    }
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    const int handle = ::open(m_fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (handle < 0) {
        return false;
    }
    struct stat info {};
    if (::fstat(handle, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(handle);
        return false;
    }
    m_handle = handle;
    return true;
}

int64_t CDinaFileBase::GetSize() const {
    if (m_handle < 0) {
        return -1;
    }
    struct stat info {};
    if (::fstat(m_handle, &info) != 0) {
        return -1;
    }
    return static_cast<int64_t>(info.st_size);
}

void CDinaFileBase::Close() {
    if (m_handle >= 0) {
        ::close(m_handle);
        m_handle = -1;
    }
}
