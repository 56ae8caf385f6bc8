#include "runtime/FormatString.h"

#include <gtest/gtest.h>

#include <climits>
#include <ostream>
#include <string>

namespace {

TEST(FormatStringTest, TextsLongerThanAnyFixedBuffer) {
    const std::string big(100000, 'x');
    const std::string result = kestrel::FormatString("<%s|%u|%s>", big.c_str(), 7u, big.c_str());
    EXPECT_EQ(result, "<" + big + "|7|" + big + ">");
    EXPECT_EQ(result.size(), 2 * big.size() + 5);
}

TEST(FormatStringTest, ResultWithEmbeddedPercentAndSizes) {
    EXPECT_EQ(kestrel::FormatString("%s: %d%% of %lu", "kestrel::X::Y", -5, 4294967296UL),
              "kestrel::X::Y: -5% of 4294967296");
    EXPECT_EQ(kestrel::FormatString("Camera %s", "10.0.0.5"), "Camera 10.0.0.5");
}

TEST(FormatStringTest, EmptyResults) {
    EXPECT_EQ(kestrel::FormatString("%s", ""), "");
    EXPECT_EQ(kestrel::FormatString("%.0s", "hidden"), "");
}

struct UnsignedRow {
    uint32_t value;
    const char* text;
};
void PrintTo(const UnsignedRow& row, std::ostream* os) { *os << row.text; }

class FormatUnsignedRows : public ::testing::TestWithParam<UnsignedRow> {};

TEST_P(FormatUnsignedRows, DecimalText) { EXPECT_EQ(kestrel::FormatUnsigned(GetParam().value), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(Rows, FormatUnsignedRows,
                         ::testing::Values(UnsignedRow{0u, "0"}, UnsignedRow{80u, "80"},
                                           UnsignedRow{2147483648u, "2147483648"},
                                           UnsignedRow{UINT_MAX, "4294967295"}));

}  // namespace
