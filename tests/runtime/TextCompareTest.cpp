#include "runtime/TextCompare.h"

#include <gtest/gtest.h>

#include <string_view>

namespace {

using namespace std::string_view_literals;

TEST(TextCompare, AsciiLettersOnlyFoldAndLengthsCount) {
    struct Row {
        std::string_view left, right;
        bool equals, startsWith;
    };
    // clang-format off
    const Row rows[] = {
        {"Content-Length", "content-length", true, true},
        {"DIGEST", "digest", true, true},
        {"PAL", "pal", true, true},
        {"", "", true, true},
        {"Basic", "Basi", false, true},  // a prefix is not the word
        {"Basi", "Basic", false, false},
        {"[", "{", false, false},          // 0x5B and 0x7B differ by 32 but are no letters
        {"@", "`", false, false},
        {"\xC4", "\xE4", false, false},  // Latin-1 letters do not fold
        {"a\0b"sv, "A\0B"sv, true, true},  // embedded NUL is compared, not an end
        {"a\0b"sv, "A\0C"sv, false, false},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.left) + " / " + std::string(row.right));
        EXPECT_EQ(kestrel::EqualsNoCase(row.left, row.right), row.equals);
        EXPECT_EQ(kestrel::EqualsNoCase(row.right, row.left), row.equals);
        EXPECT_EQ(kestrel::StartsWithNoCase(row.left, row.right), row.startsWith);
    }
}

}  // namespace
