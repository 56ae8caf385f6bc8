#pragma once
#include <stdlib.h>

#include <filesystem>
#include <string>

namespace recordtest {

// A fresh directory under /tmp, removed with everything in it.
class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/halyard-record-test-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        m_path = made != nullptr ? made : "/tmp";
    }
    ~TempDir() {
        std::error_code ignored;
        if (m_path != "/tmp") std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

}  // namespace recordtest
