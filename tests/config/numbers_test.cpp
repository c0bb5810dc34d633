#include "config/numbers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace korvo {
namespace {

constexpr int64_t kRefused = -1;  // ParseUnsigned said no and left the value alone

// Each text read three ways: decimal as atoi, unsigned in any base as the
// 32-bit C library, and strictly as a whole unsigned number.
struct Row { std::string text; int32_t decimal; uint32_t any_base; int64_t strict; };

const Row kRows[] = {
    {"  42abc", 42, 42, kRefused},
    {" \t\n12 34", 12, 12, kRefused},
    {"-7", -7, 0xFFFFFFF9u, kRefused},
    {"+3", 3, 3, 3},
    {"", 0, 0, kRefused},
    {" ", 0, 0, kRefused},
    {"abc", 0, 0, kRefused},
    {"- 5", 0, 0, kRefused},
    {"+-1", 0, 0, kRefused},
    {" -0", 0, 0, kRefused},
    {"0x10", 0, 16, 16},
    {"0x10000", 0, 65536, 65536},
    {"0x", 0, 0, kRefused},
    {"010", 10, 8, 8},
    {std::string("1\0" "2", 3), 1, 1, 1},
    {"2147483647", INT32_MAX, 2147483647u, 2147483647},
    {"2147483648", INT32_MAX, 2147483648u, 2147483648},
    {"-2147483648", INT32_MIN, 2147483648u, kRefused},
    {"4294967295", INT32_MAX, 0xFFFFFFFFu, 4294967295},
    {"4294967296", INT32_MAX, 0xFFFFFFFFu, kRefused},
    {"-99999999999999999999", INT32_MIN, 0xFFFFFFFFu, kRefused},
};

TEST(NumbersTest, EachReadingAsItsUsersNeedIt) {
  for (const Row& row : kRows) {
    SCOPED_TRACE("\"" + row.text + "\"");
    EXPECT_EQ(row.decimal, TextToInt(row.text));
    EXPECT_EQ(row.any_base, TextToUnsigned(row.text));
    uint32_t value = 7;
    const bool parsed = ParseUnsigned(row.text, value);
    EXPECT_EQ(row.strict, parsed ? int64_t(value) : value == 7 ? kRefused : -2);
  }
  EXPECT_EQ(0, TextToInt(nullptr, 5));
  EXPECT_EQ(12, TextToInt("123", 2));
}

}  // namespace
}  // namespace korvo
