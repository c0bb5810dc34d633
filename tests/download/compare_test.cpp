#include "download/compare.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace korvo {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

TEST(TextToIntTest, ReadsLeadingDecimalNumber) {
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
}

TEST(TextToIntTest, SaturatesAtTheLimits) {
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

TEST(CompareValuesTest, EqualIsAWholePatternMatch) {
  CaptureStdout();
  EXPECT_TRUE(CompareValues("1\\.[0-9]+", "1.23", kCompareEqual));
  EXPECT_FALSE(CompareValues("1\\.[0-9]+", "1.x", kCompareEqual));
  EXPECT_FALSE(CompareValues("abc", "abcd", kCompareEqual));
  EXPECT_TRUE(CompareValues("a.b", std::string("a\0b", 3), kCompareEqual));
  EXPECT_FALSE(CompareValues("", "", kCompareEqual));  // empty pattern matches nothing
  EXPECT_FALSE(CompareValues("(a", "a", kCompareEqual));
  GetCapturedStdout();
}

TEST(CompareValuesTest, NotEqualComparesBytesAndLengths) {
  CaptureStdout();
  EXPECT_TRUE(CompareValues("abc", "abcd", kCompareNotEqual));
  EXPECT_FALSE(CompareValues("abc", "abc", kCompareNotEqual));
  EXPECT_TRUE(CompareValues(std::string("a\0b", 3), std::string("a\0c", 3), kCompareNotEqual));
  EXPECT_FALSE(CompareValues("a.c", "a.c", kCompareNotEqual));  // not a pattern here
  EXPECT_TRUE(CompareValues("a.c", "abc", kCompareNotEqual));
  EXPECT_FALSE(CompareValues(nullptr, 0, "", 0, kCompareNotEqual));
  GetCapturedStdout();
}

TEST(CompareValuesTest, OrderingPutsSpecifiedOnTheLeft) {
  CaptureStdout();
  EXPECT_TRUE(CompareValues("7", "5", kCompareGreaterEqual));
  EXPECT_TRUE(CompareValues("5", "5", kCompareGreaterEqual));
  EXPECT_TRUE(CompareValues("5", "7", kCompareLessEqual));
  EXPECT_FALSE(CompareValues("7", "5", kCompareLessEqual));
  EXPECT_TRUE(CompareValues("-1", "-2", kCompareGreater));
  EXPECT_FALSE(CompareValues("5", "5", kCompareGreater));
  EXPECT_TRUE(CompareValues(" 4x", "5", kCompareLess));
  EXPECT_FALSE(CompareValues("5", "5", 6));
  EXPECT_FALSE(CompareValues("5", "5", -1));
  GetCapturedStdout();
}

TEST(CompareIntegersTest, SignedComparisons) {
  EXPECT_TRUE(CompareIntegers(-1, -1, kCompareEqual));
  EXPECT_FALSE(CompareIntegers(-1, 1, kCompareEqual));
  EXPECT_TRUE(CompareIntegers(-1, 1, kCompareNotEqual));
  EXPECT_TRUE(CompareIntegers(-1, 0, kCompareLess));
  EXPECT_FALSE(CompareIntegers(0, -1, kCompareLess));
  EXPECT_TRUE(CompareIntegers(3, 3, kCompareGreaterEqual));
  EXPECT_TRUE(CompareIntegers(3, 3, kCompareLessEqual));
  EXPECT_TRUE(CompareIntegers(std::numeric_limits<int32_t>::min(), 0, kCompareLessEqual));
  EXPECT_TRUE(CompareIntegers(4, 3, kCompareGreater));
  EXPECT_FALSE(CompareIntegers(3, 3, kCompareGreater));
  EXPECT_FALSE(CompareIntegers(3, 3, 6));
}

}  // namespace
}  // namespace korvo
