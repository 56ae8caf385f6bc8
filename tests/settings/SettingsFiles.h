#pragma once
// Helpers that write settings files into a private temporary directory.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace settings_test {

class TempDirectory {
public:
    TempDirectory() {
        std::string name = (std::filesystem::temp_directory_path() / "halyard-settings-XXXXXX").string();
        if (::mkdtemp(name.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        m_path = name + "/";
    }
    ~TempDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    // Ends in "/".
    const std::string& Path() const { return m_path; }

    void Write(const std::string& name, const std::string& content) const {
        std::ofstream out(m_path + name, std::ios::binary | std::ios::trunc);
        out << content;
    }

private:
    std::string m_path;
};

// One key of a model file: a path below the root of at most two steps and
// its value attribute (none: the element has no value attribute).
struct Key {
    std::string path;
    std::optional<std::string> value;
};

// Builds a model file; keys sharing their first step share one element.
inline std::string ModelXml(const std::vector<Key>& keys, const std::string& root = "sony") {
    std::vector<std::pair<std::string, std::string>> groups;  // first step, inner XML
    std::string top;
    auto element = [](const std::string& name, const std::optional<std::string>& value) {
        return value ? "<" + name + " value=\"" + *value + "\"/>" : "<" + name + "/>";
    };
    for (const Key& key : keys) {
        const size_t slash = key.path.find('/');
        if (slash == std::string::npos) {
            top += "  " + element(key.path, key.value) + "\n";
            continue;
        }
        const std::string group = key.path.substr(0, slash);
        const std::string inner = "    " + element(key.path.substr(slash + 1), key.value) + "\n";
        auto it = groups.begin();
        while (it != groups.end() && it->first != group) {
            ++it;
        }
        if (it == groups.end()) {
            groups.emplace_back(group, inner);
        } else {
            it->second += inner;
        }
    }
    std::string xml = "<?xml version=\"1.0\"?>\n<" + root + ">\n" + top;
    for (const auto& [group, inner] : groups) {
        xml += "  <" + group + ">\n" + inner + "  </" + group + ">\n";
    }
    return xml + "</" + root + ">\n";
}

}  // namespace settings_test
