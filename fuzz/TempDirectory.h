#pragma once
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace fuzzsupport {

// A directory of this process's own, removed at exit, where a target writes
// its input as a file for readers that only take files. In memory
// (/dev/shm) where there is one: a disk-backed /tmp makes every input a
// block write and the targets ran at a few hundred inputs a second.
class TempDirectory {
public:
    TempDirectory() {
        for (const char* base : {"/dev/shm", "/tmp"}) {
            std::string pattern = std::string(base) + "/halyard-fuzz-XXXXXX";
            if (::mkdtemp(pattern.data()) != nullptr) {
                m_path = pattern + "/";
                break;
            }
        }
    }
    ~TempDirectory() {
        for (const std::string& name : m_files) ::unlink((m_path + name).c_str());
        if (!m_path.empty()) ::rmdir(m_path.c_str());
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::string& Path() const { return m_path; }

    // Writes (replaces) one file; false when it could not be written.
    bool Write(const std::string& name, const uint8_t* data, size_t size) {
        if (m_path.empty()) return false;
        FILE* file = std::fopen((m_path + name).c_str(), "wb");
        if (file == nullptr) return false;
        const bool ok = size == 0 || std::fwrite(data, 1, size, file) == size;
        std::fclose(file);
        bool known = false;
        for (const std::string& f : m_files) known = known || f == name;
        if (!known) m_files.push_back(name);
        return ok;
    }

private:
    std::string m_path;
    std::vector<std::string> m_files;
};

}  // namespace fuzzsupport
