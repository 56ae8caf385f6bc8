#include "web/HttpText.h"

#include <cstring>
#include <string_view>

#include "runtime/TextCompare.h"

namespace Web {
namespace {

bool IsTchar(uint8_t c) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
        return true;
    }
    return c != 0 && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool IsBlank(uint8_t c) { return c == ' ' || c == '\t'; }

bool EqualNoCase(const uint8_t* a, size_t size, const char* b) {
    return kestrel::EqualsNoCase(std::string_view(reinterpret_cast<const char*>(a), size), b);
}

uint32_t SchemeOfName(const uint8_t* name, size_t size) {
    if (EqualNoCase(name, size, "Basic")) return SchemeBasic;
    if (EqualNoCase(name, size, "NTLM")) return SchemeNtlm;
    if (EqualNoCase(name, size, "Passport1.4")) return SchemePassport;
    if (EqualNoCase(name, size, "Digest")) return SchemeDigest;
    if (EqualNoCase(name, size, "Negotiate")) return SchemeNegotiate;
    return 0;
}

size_t SkipBlanks(const uint8_t* v, size_t n, size_t i) {
    while (i < n && IsBlank(v[i])) ++i;
    return i;
}

size_t SkipQuoted(const uint8_t* v, size_t n, size_t i) {
    // v[i] is the opening quote; an unterminated string runs to the end.
    for (++i; i < n; ++i) {
        if (v[i] == '\\') {
            ++i;
        } else if (v[i] == '"') {
            return i + 1;
        }
    }
    return n;
}

bool IsUnsafe(uint8_t c) { return c >= 0x80 || (c != 0 && std::strchr("\"<>\\^`{|}", c) != nullptr); }

void AppendEscaped(std::string& out, uint8_t c) {
    static const char kHex[] = "0123456789ABCDEF";
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 15];
}

}  // namespace

uint32_t SchemeOfAuthValue(uint32_t authScheme) {
    if (authScheme & 4) return SchemeNegotiate;
    if ((authScheme & 3) == 3) return SchemeDigest;
    if (authScheme & 2) return SchemePassport;
    if (authScheme & 1) return SchemeNtlm;
    return SchemeBasic;
}

uint32_t FirstAuthScheme(const uint8_t* v, size_t n, uint32_t accepted) {
    // afterScheme: the last item was a scheme name with no comma since, so a
    // bare token now is that scheme's token68, not a scheme of its own.
    bool afterScheme = false;
    size_t i = 0;
    while (i < n) {
        if (v[i] == ',') {
            afterScheme = false;
            ++i;
            continue;
        }
        if (IsBlank(v[i])) {
            ++i;
            continue;
        }
        const size_t start = i;
        while (i < n && (IsTchar(v[i]) || v[i] == '/')) ++i;
        if (i == start) {
            ++i;  // a stray byte: step over it
            continue;
        }
        const size_t end = i;
        i = SkipBlanks(v, n, i);
        if (i < n && v[i] == '=') {
            size_t k = i;
            while (k < n && v[k] == '=') ++k;
            const size_t after = SkipBlanks(v, n, k);
            if (k - i > 1 || after >= n || v[after] == ',') {
                i = after;  // token68 with its padding
            } else if (v[after] == '"') {
                i = SkipQuoted(v, n, after);  // auth-param, quoted value
            } else {
                i = after;  // auth-param, token value
                while (i < n && v[i] != ',' && !IsBlank(v[i])) ++i;
            }
            continue;
        }
        if (afterScheme) {
            continue;  // token68 without padding
        }
        const uint32_t scheme = SchemeOfName(v + start, end - start);
        if ((scheme & accepted) != 0) {
            return scheme;
        }
        afterScheme = true;
    }
    return 0;
}

uint32_t ParseStatusLine(const uint8_t* line, size_t size) {
    // "HTTP/" version SP 3DIGIT [ SP reason ] [CR] LF
    if (size < 5 || std::memcmp(line, "HTTP/", 5) != 0) {
        return 0;
    }
    size_t i = 5;
    while (i < size && line[i] != ' ') ++i;
    while (i < size && line[i] == ' ') ++i;
    if (size - i < 3) {
        return 0;
    }
    uint32_t code = 0;
    for (size_t k = 0; k < 3; ++k) {
        const uint8_t c = line[i + k];
        if (c < '0' || c > '9') {
            return 0;
        }
        code = code * 10 + (c - '0');
    }
    if (size - i > 3 && line[i + 3] != ' ' && line[i + 3] != '\r' && line[i + 3] != '\n') {
        return 0;
    }
    return code;
}

bool ParseDecimalU32(const uint8_t* text, size_t size, uint32_t& value) {
    size_t i = SkipBlanks(text, size, 0);
    size_t end = size;
    while (end > i && (IsBlank(text[end - 1]) || text[end - 1] == '\r' || text[end - 1] == '\n')) --end;
    if (i == end) {
        return false;
    }
    uint64_t v = 0;
    for (; i < end; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        v = v * 10 + (text[i] - '0');
        if (v > 0xFFFFFFFFu) {
            return false;
        }
    }
    value = static_cast<uint32_t>(v);
    return true;
}

std::string BuildRequestTarget(const std::string& path, bool unescapedQuery) {
    std::string out;
    out.reserve(path.size() + 1);
    if (path.empty() || path[0] != '/') {
        out += '/';
    }
    bool inQuery = false;
    for (const char ch : path) {
        const auto c = static_cast<uint8_t>(ch);
        if (c == '?') {
            inQuery = true;
        }
        if (c <= 0x20 || c == 0x7F || (IsUnsafe(c) && !(inQuery && unescapedQuery))) {
            AppendEscaped(out, c);
        } else {
            out += ch;
        }
    }
    return out;
}

bool NormalizeHeaderLine(const std::string& line, std::string& out) {
    size_t end = line.size();
    if (end >= 2 && line[end - 2] == '\r' && line[end - 1] == '\n') {
        end -= 2;
    }
    const size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0 || colon >= end) {
        return false;
    }
    for (size_t i = 0; i < colon; ++i) {
        if (!IsTchar(static_cast<uint8_t>(line[i]))) {
            return false;
        }
    }
    for (size_t i = colon + 1; i < end; ++i) {
        const char c = line[i];
        if (c == '\r' || c == '\n' || c == '\0') {
            return false;
        }
    }
    size_t vs = colon + 1;
    while (vs < end && (line[vs] == ' ' || line[vs] == '\t')) ++vs;
    size_t ve = end;
    while (ve > vs && (line[ve - 1] == ' ' || line[ve - 1] == '\t')) --ve;
    out.assign(line, 0, colon);
    if (vs == ve) {
        out += ';';  // libcurl's form of a header with an empty value
    } else {
        out += ": ";
        out.append(line, vs, ve - vs);
    }
    return true;
}

std::string HeaderName(const std::string& normalized) {
    const size_t end = normalized.find_first_of(":;");
    std::string name(normalized, 0, end);
    for (char& c : name) {
        c = kestrel::LowerAscii(c);
    }
    return name;
}

bool IsHttpToken(const std::string& text) {
    if (text.empty()) {
        return false;
    }
    for (const char c : text) {
        if (!IsTchar(static_cast<uint8_t>(c))) {
            return false;
        }
    }
    return true;
}

}  // namespace Web
