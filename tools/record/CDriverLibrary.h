#pragma once
#include <string>
#include <vector>

#include "host/HalyardExports.h"

namespace kestrel::record {

// libHalyard.so loaded with dlopen and its five exports found by name, as a
// recorder does it. Unloaded when destroyed: every driver object must be
// deleted before.
class CDriverLibrary {
public:
    CDriverLibrary() = default;
    ~CDriverLibrary();
    CDriverLibrary(const CDriverLibrary&) = delete;
    CDriverLibrary& operator=(const CDriverLibrary&) = delete;

    // Tries the paths in order; the first that loads with all five exports wins.
    bool Load(const std::vector<std::string>& candidates, std::string& error);
    const std::string& Path() const { return m_path; }

    // Where the library is looked for when --library is not given: beside
    // the executable, in lib directories beside it, then the build tree.
    static std::vector<std::string> DefaultCandidates(const std::string& exeDir);

    CreateCaptureFn createCapture = nullptr;
    DeleteCaptureFn deleteCapture = nullptr;
    CreateIPCaptureFn createIPCapture = nullptr;
    DeleteIPCaptureFn deleteIPCapture = nullptr;
    QueryModelCapabilitiesFn queryModelCapabilities = nullptr;

private:
    void Unload();

    void* m_handle = nullptr;
    std::string m_path;
};

}  // namespace kestrel::record
