#pragma once
// Settings files written by the tests into a private temporary directory.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace settings_test {

class TempDirectory {
public:
    TempDirectory() {
        std::string name = (std::filesystem::temp_directory_path() / "halyard-settings-XXXXXX").string();
        if (::mkdtemp(name.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        m_path = name + "/";
    }
    ~TempDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::string& Path() const { return m_path; }  // ends in "/"
    void Write(const std::string& name, const std::string& content) const {
        std::ofstream(m_path + name, std::ios::binary | std::ios::trunc) << content;
    }

private:
    std::string m_path;
};

// A model file around `inner`.
inline std::string Model(const std::string& inner, const std::string& root = "sony") {
    return "<?xml version=\"1.0\"?>\n<" + root + ">" + inner + "</" + root + ">\n";
}

// The three keys of one picture size, e.g. cif, cifx and cify.
inline std::string Size(const std::string& name, const std::string& width, const std::string& height) {
    return "<" + name + " value='true'/><" + name + "x value='" + width + "'/><" + name + "y value='" + height + "'/>";
}

}  // namespace settings_test
