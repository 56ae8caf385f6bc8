#include "tools/record/CDriverLibrary.h"

#include <dlfcn.h>
#include <sys/stat.h>

namespace kestrel::record {

namespace {

template <typename Fn>
bool Find(void* handle, const char* name, Fn& fn) {
    void* symbol = ::dlsym(handle, name);
    fn = reinterpret_cast<Fn>(symbol);
    return symbol != nullptr;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

CDriverLibrary::~CDriverLibrary() { Unload(); }

void CDriverLibrary::Unload() {
    if (m_handle != nullptr) ::dlclose(m_handle);
    m_handle = nullptr;
    createCapture = nullptr;
    deleteCapture = nullptr;
    createIPCapture = nullptr;
    deleteIPCapture = nullptr;
    queryModelCapabilities = nullptr;
}

std::vector<std::string> CDriverLibrary::DefaultCandidates(const std::string& exeDir) {
    std::vector<std::string> paths = {exeDir + "libHalyard.so", exeDir + "../lib/libHalyard.so"};
#ifdef HALYARD_RELATIVE_LIBDIR
    const std::string installed = exeDir + HALYARD_RELATIVE_LIBDIR "/libHalyard.so";
    if (installed != paths.back()) paths.push_back(installed);
#endif
#ifdef HALYARD_BUILD_LIBRARY
    paths.emplace_back(HALYARD_BUILD_LIBRARY);
#endif
    return paths;
}

bool CDriverLibrary::Load(const std::vector<std::string>& candidates, std::string& error) {
    Unload();
    std::string tried;
    for (const auto& path : candidates) {
        if (!Exists(path)) {
            if (!tried.empty()) tried += ", ";
            tried += path;
            continue;
        }
        m_handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (m_handle == nullptr) {
            const char* why = ::dlerror();
            error = "cannot load the driver library " + path + ": " + (why != nullptr ? why : "unknown error") +
                    "; check --library";
            return false;
        }
        if (!Find(m_handle, "CreateCapture", createCapture) || !Find(m_handle, "DeleteCapture", deleteCapture) ||
            !Find(m_handle, "CreateIPCapture", createIPCapture) ||
            !Find(m_handle, "DeleteIPCapture", deleteIPCapture) ||
            !Find(m_handle, "QueryModelCapabilities", queryModelCapabilities)) {
            Unload();
            error = path + " is not the Halyard driver (an export is missing); check --library";
            return false;
        }
        m_path = path;
        return true;
    }
    error = "driver library libHalyard.so not found (looked at " + tried + "); build it or give --library PATH";
    return false;
}

}  // namespace kestrel::record
