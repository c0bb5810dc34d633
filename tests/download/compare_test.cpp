#include "download/compare.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace korvo {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

TEST(TextToIntTest, ReadsLeadingDecimalNumberAndSaturates) {
  EXPECT_EQ(42, TextToInt("  42abc"));
  EXPECT_EQ(12, TextToInt(" \t\n12 34"));
  EXPECT_EQ(-7, TextToInt("-7"));
  EXPECT_EQ(3, TextToInt("+3"));
  EXPECT_EQ(0, TextToInt(""));
  EXPECT_EQ(0, TextToInt("abc"));
  EXPECT_EQ(0, TextToInt("- 5"));
  EXPECT_EQ(0, TextToInt("0x10"));
  EXPECT_EQ(0, TextToInt(nullptr, 5));
  EXPECT_EQ(12, TextToInt("123", 2));
  EXPECT_EQ(1, TextToInt(std::string("1\0" "2", 3)));
  EXPECT_EQ(std::numeric_limits<int32_t>::max(), TextToInt("2147483647"));
  EXPECT_EQ(std::numeric_limits<int32_t>::max(), TextToInt("2147483648"));
  EXPECT_EQ(std::numeric_limits<int32_t>::min(), TextToInt("-2147483648"));
  EXPECT_EQ(std::numeric_limits<int32_t>::min(), TextToInt("-99999999999999999999"));
}

TEST(CompareValuesTest, WritesTraceWithActualFirst) {
  CaptureStdout();
  EXPECT_FALSE(CompareValues("5", "7", kCompareGreaterEqual));
  EXPECT_EQ("Comparing 7 against 5\n", GetCapturedStdout());
  CaptureStdout();
  CompareValues(nullptr, 0, nullptr, 0, kCompareEqual);
  EXPECT_EQ("Comparing  against \n", GetCapturedStdout());
}

// "=" is a whole-value pattern match, "!=" compares bytes and lengths, the
// orderings put the specified value on the left.
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
      {"", "", kCompareEqual, false},  // an empty pattern matches nothing
      {"(a", "a", kCompareEqual, false},
      {"abc", "abcd", kCompareNotEqual, true},     {"abc", "abc", kCompareNotEqual, false},
      {nul_b, nul_c, kCompareNotEqual, true},      {"a.c", "abc", kCompareNotEqual, true},
      {"a.c", "a.c", kCompareNotEqual, false},  // not a pattern here
      {"7", "5", kCompareGreaterEqual, true},      {"5", "5", kCompareGreaterEqual, true},
      {"5", "7", kCompareLessEqual, true},         {"7", "5", kCompareLessEqual, false},
      {"-1", "-2", kCompareGreater, true},         {"5", "5", kCompareGreater, false},
      {" 4x", "5", kCompareLess, true},            {"5", "5", 6, false},
      {"5", "5", -1, false},
  };
  CaptureStdout();
  for (const Case& c : cases)
    EXPECT_EQ(c.holds, CompareValues(c.specified, c.actual, c.op))
        << "'" << c.specified << "' " << c.op << " '" << c.actual << "'";
  EXPECT_FALSE(CompareValues(nullptr, 0, "", 0, kCompareNotEqual));
  GetCapturedStdout();
}

// The operators themselves are exercised through the constraint checks.
TEST(CompareIntegersTest, SignedAndUnknownOperator) {
  EXPECT_TRUE(CompareIntegers(std::numeric_limits<int32_t>::min(), 0, kCompareLessEqual));
  EXPECT_TRUE(CompareIntegers(-1, 0, kCompareLess));
  EXPECT_FALSE(CompareIntegers(3, 3, 6));
}

}  // namespace
}  // namespace korvo
