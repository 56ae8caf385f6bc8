#include "runtime/CDebugInfo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>

namespace {

// GetText never hands the host an empty string: a text or null.
struct TextRow {
    const char* name;
    const char* text;
    int8_t level;
};
void PrintTo(const TextRow& row, std::ostream* os) { *os << row.name; }

class CDebugInfoRows : public ::testing::TestWithParam<TextRow> {};

TEST_P(CDebugInfoRows, TextIsACopyOrNull) {
    const TextRow& row = GetParam();
    std::string source = row.text != nullptr ? row.text : "";
    kestrel::CDebugInfo info(row.text != nullptr ? source.c_str() : nullptr, row.level);
    const CDebugInfoIf& host = info;
    EXPECT_EQ(host.GetLevel(), row.level);
    if (row.text == nullptr || row.text[0] == '\0') {
        EXPECT_EQ(host.GetText(), nullptr);
        return;
    }
    ASSERT_NE(host.GetText(), nullptr);
    EXPECT_NE(host.GetText(), source.c_str()) << "not a private copy";
    const std::string expected = source;
    source.assign(source.size(), '#');  // the caller's buffer changes afterwards
    EXPECT_STREQ(host.GetText(), expected.c_str());
}

INSTANTIATE_TEST_SUITE_P(Rows, CDebugInfoRows,
                         ::testing::Values(TextRow{"Null", nullptr, 1}, TextRow{"Empty", "", 3},
                                           TextRow{"OneChar", "x", 2},
                                           TextRow{"Message", "kestrel::CIPCapture::Open: failed", 100},
                                           TextRow{"NegativeLevel", "text", -5}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
