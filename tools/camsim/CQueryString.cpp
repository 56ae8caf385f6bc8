#include "tools/camsim/CQueryString.h"

#include <cctype>

namespace camsim {

void CQueryString::SplitTarget(std::string_view target, std::string* path, std::string* query) {
    const size_t q = target.find('?');
    std::string_view p = target.substr(0, q);
    if (!p.empty() && p.front() == '/') p.remove_prefix(1);
    *path = std::string(p);
    *query = q == std::string_view::npos ? std::string() : std::string(target.substr(q + 1));
}

std::string CQueryString::Decode(std::string_view text) {
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int hi = hex(text[i + 1]);
            const int lo = hex(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

std::vector<CQueryString::Param> CQueryString::Parse(std::string_view query) {
    std::vector<Param> params;
    size_t start = 0;
    while (start <= query.size()) {
        size_t end = query.find('&', start);
        if (end == std::string_view::npos) end = query.size();
        std::string_view item = query.substr(start, end - start);
        if (!item.empty()) {
            const size_t eq = item.find('=');
            Param p;
            p.name = Decode(item.substr(0, eq));
            if (eq != std::string_view::npos) p.value = Decode(item.substr(eq + 1));
            params.push_back(std::move(p));
        }
        start = end + 1;
    }
    return params;
}

bool CQueryString::ParseUnsigned(std::string_view text, uint32_t* value) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > 0xFFFFFFFFull) return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

bool CQueryString::ParseSize(std::string_view text, unsigned* width, unsigned* height) {
    struct Named {
        const char* name;
        unsigned w, h;
    };
    static constexpr Named kNames[] = {{"QCIF", 176, 144}, {"CIF", 352, 288},  {"2CIF", 704, 288},
                                       {"4CIF", 704, 576}, {"QVGA", 320, 240}, {"VGA", 640, 480}};
    std::string upper(text);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const auto& n : kNames)
        if (upper == n.name) {
            *width = n.w;
            *height = n.h;
            return true;
        }
    size_t sep = text.find(',');
    if (sep == std::string_view::npos) sep = text.find('x');
    if (sep == std::string_view::npos) sep = text.find('X');
    if (sep == std::string_view::npos) return false;
    uint32_t w = 0, h = 0;
    if (!ParseUnsigned(text.substr(0, sep), &w) || !ParseUnsigned(text.substr(sep + 1), &h)) return false;
    // Bounded so that a picture stays small enough to encode at once.
    if (w < 16 || h < 16 || w > 4096 || h > 4096) return false;
    *width = w;
    *height = h;
    return true;
}

bool CQueryString::ParseNumbered(std::string_view text, std::string_view prefix, std::string_view suffix,
                                 uint32_t* number) {
    if (text.size() <= prefix.size() + suffix.size()) return false;
    if (text.substr(0, prefix.size()) != prefix) return false;
    if (text.substr(text.size() - suffix.size()) != suffix) return false;
    return ParseUnsigned(text.substr(prefix.size(), text.size() - prefix.size() - suffix.size()), number);
}

}  // namespace camsim
