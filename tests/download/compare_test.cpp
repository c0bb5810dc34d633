#include "download/compare.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <utility>

namespace korvo {
namespace {

TEST(TextToIntTest, ReadsLeadingDecimalNumberAndSaturates) {
  const int32_t max = std::numeric_limits<int32_t>::max(), min = std::numeric_limits<int32_t>::min();
  const std::pair<std::string, int32_t> rows[] = {
      {"  42abc", 42}, {" \t\n12 34", 12}, {"-7", -7}, {"+3", 3}, {"", 0}, {"abc", 0},
      {"- 5", 0}, {"0x10", 0}, {std::string("1\0" "2", 3), 1}, {"2147483647", max},
      {"2147483648", max}, {"-2147483648", min}, {"-99999999999999999999", min}};
  for (const auto& [text, value] : rows) EXPECT_EQ(value, TextToInt(text)) << text;
  EXPECT_EQ(0, TextToInt(nullptr, 5));
  EXPECT_EQ(12, TextToInt("123", 2));
}

// "=" is a whole-value pattern match, "!=" compares bytes and lengths.
TEST(CompareValuesTest, Operators) {
  struct Case {
    std::string specified, actual;
    int op;
    bool holds;
  };
  const std::string nul_b("a\0b", 3), nul_c("a\0c", 3);
  const Case cases[] = {
      {"1\\.[0-9]+", "1.23", kCompareEqual, true}, {"1\\.[0-9]+", "1.x", kCompareEqual, false},
      {"abc", "abcd", kCompareEqual, false},       {"a.b", nul_b, kCompareEqual, true},
      {"abc", "abcd", kCompareNotEqual, true},     {"abc", "abc", kCompareNotEqual, false},
      {nul_b, nul_c, kCompareNotEqual, true},      {"a.c", "abc", kCompareNotEqual, true},
      {"5", "5", 6, false},
  };
  testing::internal::CaptureStdout();
  for (const Case& c : cases)
    EXPECT_EQ(c.holds, CompareValues(c.specified, c.actual, c.op))
        << "'" << c.specified << "' " << c.op << " '" << c.actual << "'";
  EXPECT_FALSE(CompareValues(nullptr, 0, "", 0, kCompareNotEqual));
  // The orderings read both as numbers, the specified one on the left.
  const struct {
    int op;
    bool holds[3];  // for the actual values 4, 5, 6
  } orders[] = {{kCompareGreaterEqual, {true, true, false}}, {kCompareLessEqual, {false, true, true}},
                {kCompareGreater, {true, false, false}}, {kCompareLess, {false, false, true}}};
  for (const auto& o : orders)
    for (int v : {4, 5, 6})
      EXPECT_EQ(o.holds[v - 4], CompareValues(" 5x", std::to_string(v), o.op)) << o.op << " " << v;
  testing::internal::GetCapturedStdout();
}

}  // namespace
}  // namespace korvo
