#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include <pugixml.hpp>

#include "runtime/CRecursiveLock.h"

// Read-only, path-addressed access to one XML settings file. The file is
// parsed once by Open; every query afterwards answers from that document.
// A query that cannot be answered yields an empty string, never an error.
class CXMLSettingsAPI {
public:
    static constexpr uint32_t kOk = 0;
    static constexpr uint32_t kInvalidArgument = 0x80070057u;
    static constexpr uint32_t kFail = 0x80004005u;
    static constexpr uint32_t kOutOfMemory = 0x8007000Eu;

    CXMLSettingsAPI() = default;
    virtual ~CXMLSettingsAPI();
    CXMLSettingsAPI(const CXMLSettingsAPI&) = delete;
    CXMLSettingsAPI& operator=(const CXMLSettingsAPI&) = delete;

    // fileName is relative to the base directory. While the object is open a
    // further Open only counts up; it never looks at the name.
    uint32_t Open(const char* fileName);
    // The open count after the call; the document goes when it reaches 0.
    int32_t Close();

    // Value of the first child of the selected node: an element's leading
    // text, or an attribute's value when the path ends in "/@value".
    std::string GetNodeText(const std::string& path);
    // The "value" attribute of the selected element. The formatted path is
    // cut to 1023 characters.
    std::string GetValueAttribute(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Empty (the default) means the directory of the process's executable.
    // Never set by the driver; tests point it at a directory of their own.
    void SetBaseDirectory(const std::string& directory);

    // Directory of the executable, ending in "/"; empty when it cannot be read.
    static std::string GetProcessDirectory();
    // baseDirectory ending in "/", or the process directory when it is empty.
    static std::string ResolveDirectory(const std::string& baseDirectory);
    static uint32_t CreateDOMDocument(std::unique_ptr<pugi::xml_document>& document);
    // Parses the file with white space kept; false unless the file is
    // well-formed with exactly one root element.
    static bool LoadDocument(pugi::xml_document& document, const std::string& path);

private:
    CRecursiveLock m_lock;
    std::unique_ptr<pugi::xml_document> m_document;
    int32_t m_openCount = 0;
    std::string m_path;
    std::string m_baseDirectory;
};
