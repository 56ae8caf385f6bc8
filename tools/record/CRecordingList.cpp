#include "tools/record/CRecordingList.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>

namespace kestrel::record {

int64_t CRecordingList::StartFromName(const std::string& name) {
    // YYYY-MM-DDTHH-MM-SS anywhere after the prefix, e.g. camera1/2026-12-08T18-00-00.mkv
    static const char kShape[] = "dddd-dd-ddTdd-dd-dd";
    const size_t length = sizeof kShape - 1;
    for (size_t at = 0; at + length <= name.size(); ++at) {
        bool match = true;
        for (size_t i = 0; match && i < length; ++i) {
            const char c = name[at + i];
            match = kShape[i] == 'd' ? (c >= '0' && c <= '9') : c == kShape[i];
        }
        if (!match) continue;
        auto number = [&](size_t from, size_t count) {
            int value = 0;
            for (size_t i = 0; i < count; ++i) value = value * 10 + (name[at + from + i] - '0');
            return value;
        };
        std::tm local{};
        local.tm_year = number(0, 4) - 1900;
        local.tm_mon = number(5, 2) - 1;
        local.tm_mday = number(8, 2);
        local.tm_hour = number(11, 2);
        local.tm_min = number(14, 2);
        local.tm_sec = number(17, 2);
        local.tm_isdst = -1;
        if (local.tm_mon > 11 || local.tm_mday < 1 || local.tm_mday > 31 || local.tm_hour > 23 || local.tm_min > 59 ||
            local.tm_sec > 60) {
            return 0;
        }
        const std::time_t t = std::mktime(&local);
        return t < 0 ? 0 : static_cast<int64_t>(t) * 1000000;
    }
    return 0;
}

std::vector<RecordingFile> CRecordingList::Scan(const std::string& directory, const std::string& prefix,
                                                const std::string& extension, bool newestBeingWritten) {
    std::vector<RecordingFile> files;
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr) return files;
    std::vector<int64_t> modifiedUs;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        // "camera1.avi", "camera1-002.avi", but not "camera12.avi"
        const bool shape =
            name.size() >= prefix.size() + extension.size() && name.compare(0, prefix.size(), prefix) == 0 &&
            name.compare(name.size() - extension.size(), extension.size(), extension) == 0 &&
            (prefix.empty() || name.size() == prefix.size() + extension.size() || name[prefix.size()] == '-');
        if (!shape || name == extension) continue;
        RecordingFile file;
        file.name = name;
        file.path = directory + "/" + name;
        struct stat st {};
        if (::lstat(file.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        file.size = static_cast<uint64_t>(st.st_size);
        file.startUs = StartFromName(name);
        files.push_back(file);
        modifiedUs.push_back(static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000 + st.st_mtim.tv_nsec / 1000);
    }
    ::closedir(dir);
    std::vector<size_t> order(files.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return files[a].name < files[b].name; });
    std::vector<RecordingFile> sorted;
    for (size_t k = 0; k < order.size(); ++k) {
        RecordingFile file = files[order[k]];
        if (file.startUs > 0) {
            const int64_t end = k + 1 < order.size() && files[order[k + 1]].startUs > file.startUs
                                    ? files[order[k + 1]].startUs
                                    : modifiedUs[order[k]];
            if (end >= file.startUs) file.lengthS = static_cast<double>(end - file.startUs) / 1e6;
        }
        file.writing = newestBeingWritten && k + 1 == order.size();
        sorted.push_back(std::move(file));
    }
    return sorted;
}

}  // namespace kestrel::record
