#pragma once
#include <string_view>

namespace kestrel {

// Case-insensitive compares for protocol text (header names, schemes,
// configuration words): ASCII only, so that the locale never decides what
// a camera's answer means.
constexpr char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

constexpr bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (LowerAscii(text[i]) != LowerAscii(prefix[i])) {
            return false;
        }
    }
    return true;
}

constexpr bool EqualsNoCase(std::string_view left, std::string_view right) {
    return left.size() == right.size() && StartsWithNoCase(left, right);
}

}  // namespace kestrel
