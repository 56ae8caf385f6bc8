#include "settings/CXMLSettingsAPI.h"

#include <unistd.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <new>

#include "settings/CDinaFileBase.h"

namespace {

// White space, comments and processing instructions stay in the tree, so a
// node's first child is the one the file really has.
constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_ws_pcdata | pugi::parse_comments | pugi::parse_pi;

bool FileHasContent(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    CDinaFileBase file;
    file.SetFileName(path);
    if (!file.OpenForReading()) {
        return false;
    }
    const bool present = file.GetSize() > 0;
    file.Close();
    return present;
}

std::string FirstChildValue(const pugi::xml_node& node) {
    const pugi::xml_node child = node.first_child();
    switch (child.type()) {
    case pugi::node_pcdata:
    case pugi::node_cdata:
    case pugi::node_comment:
    case pugi::node_pi:
        return child.value();
    default:
        // No child, or one (an element) that has no value of its own.
        return {};
    }
}

}  // namespace

CXMLSettingsAPI::~CXMLSettingsAPI() {
    Close();
    // Opened twice and destroyed: the one Close above left the document.
    m_document.reset();
}

uint32_t CXMLSettingsAPI::Open(const char* fileName) {
    CLockGuard guard(m_lock);
    try {
        if (m_openCount > 0) {
            if (m_openCount == INT32_MAX) {
                return kFail;
            }
            ++m_openCount;
            return kOk;
        }
        if (fileName == nullptr) {
            return kInvalidArgument;
        }
        // Without a known directory the name alone would be looked up in
        // whatever the working directory happens to be; refuse instead.
        const std::string directory = ResolveDirectory(m_baseDirectory);
        const std::string fullPath = directory.empty() ? std::string() : directory + fileName;
        if (!FileHasContent(fullPath)) {
            return kFail;
        }
        m_path = fullPath;
        const uint32_t status = CreateDOMDocument(m_document);
        if (status != kOk) {
            return status;
        }
        if (!LoadDocument(*m_document, fullPath)) {
            m_document.reset();
            return kFail;
        }
        m_openCount = 1;
        return kOk;
    } catch (const std::bad_alloc&) {
        m_document.reset();
        return kOutOfMemory;
    } catch (...) {
        m_document.reset();
        return kFail;
    }
}

int32_t CXMLSettingsAPI::Close() {
    CLockGuard guard(m_lock);
    if (m_openCount > 0) {
        --m_openCount;
        if (m_openCount == 0) {
            m_document.reset();
        }
    }
    return m_openCount;
}

std::string CXMLSettingsAPI::GetNodeText(const std::string& path) {
    if (path.empty()) {
        return {};
    }
    CLockGuard guard(m_lock);
    if (m_openCount <= 0 || !m_document) {
        return {};
    }
    try {
        const pugi::xpath_node selected = m_document->select_node(path.c_str());
        if (selected.attribute()) {
            // An attribute's only child is the text of its value.
            return selected.attribute().value();
        }
        if (!selected.node()) {
            return {};
        }
        return FirstChildValue(selected.node());
    } catch (...) {
        // A path the query language rejects, or memory: nothing to answer.
        return {};
    }
}

std::string CXMLSettingsAPI::GetValueAttribute(const char* format, ...) {
    if (format == nullptr) {
        return {};
    }
    char path[1024];
    va_list args;
    va_start(args, format);
    const int written = std::vsnprintf(path, sizeof path, format, args);
    va_end(args);
    if (written < 0) {
        return {};
    }
    CLockGuard guard(m_lock);
    if (m_openCount <= 0 || !m_document) {
        return {};
    }
    try {
        const pugi::xml_node node = m_document->select_node(path).node();
        if (node.type() != pugi::node_element) {
            return {};
        }
        return node.attribute("value").value();
    } catch (...) {
        return {};
    }
}

void CXMLSettingsAPI::SetBaseDirectory(const std::string& directory) {
    CLockGuard guard(m_lock);
    m_baseDirectory = directory;
    if (!m_baseDirectory.empty() && m_baseDirectory.back() != '/') {
        m_baseDirectory += '/';
    }
}

std::string CXMLSettingsAPI::GetProcessDirectory() {
    // A name cut short would name some other directory; PATH_MAX holds any
    // name the link can carry, and a full buffer is taken as cut.
    char name[PATH_MAX] = {};
    const ssize_t length = ::readlink("/proc/self/exe", name, sizeof name - 1);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof name - 1) {
        return {};
    }
    const std::string executable(name, static_cast<size_t>(length));
    const size_t slash = executable.rfind('/');
    return slash == std::string::npos ? executable : executable.substr(0, slash + 1);
}

std::string CXMLSettingsAPI::ResolveDirectory(const std::string& baseDirectory) {
    if (baseDirectory.empty()) {
        return GetProcessDirectory();
    }
    return baseDirectory.back() == '/' ? baseDirectory : baseDirectory + '/';
}

uint32_t CXMLSettingsAPI::CreateDOMDocument(std::unique_ptr<pugi::xml_document>& document) {
    document.reset();
    document.reset(new (std::nothrow) pugi::xml_document);
    return document ? kOk : kOutOfMemory;
}

bool CXMLSettingsAPI::LoadDocument(pugi::xml_document& document, const std::string& path) {
    // The parser opens the file itself and would wait forever on a FIFO.
    CDinaFileBase file;
    file.SetFileName(path);
    if (!file.OpenForReading()) {
        return false;
    }
    file.Close();
    if (!document.load_file(path.c_str(), kParseOptions, pugi::encoding_auto)) {
        return false;
    }
    // pugixml accepts several top-level elements; a well-formed file has one.
    int elements = 0;
    for (const pugi::xml_node& child : document.children()) {
        if (child.type() == pugi::node_element) {
            ++elements;
        }
    }
    return elements == 1;
}
