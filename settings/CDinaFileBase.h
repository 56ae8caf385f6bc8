#pragma once
#include <cstdint>
#include <string>

// A file held open for reading just long enough to look at it: the settings
// reader uses it to tell a missing or empty file from one worth parsing.
class CDinaFileBase {
public:
    CDinaFileBase() = default;
    virtual ~CDinaFileBase();
    CDinaFileBase(const CDinaFileBase&) = delete;
    CDinaFileBase& operator=(const CDinaFileBase&) = delete;

    void SetFileName(const std::string& fileName);
    const std::string& GetFileName() const { return m_fileName; }
    bool IsNamed() const { return m_named; }

    // Opens the named file for reading. Only a regular file counts: a
    // directory or a device is refused, and a FIFO never blocks the caller.
    bool OpenForReading();
    bool IsOpen() const { return m_handle >= 0; }
    // Size in bytes of the open file; -1 when closed or unreadable.
    int64_t GetSize() const;
    void Close();

private:
    std::string m_fileName;
    int m_handle = -1;
    bool m_named = false;
};
