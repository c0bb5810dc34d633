#include "device/parameter_text.h"

#include <gtest/gtest.h>

#include <string>

namespace korvo {
namespace {

TEST(ParameterBuffer, NumbersAreBlankAndUpperCaseHex) {
  ParameterBuffer p;  // small numbers are pinned by the firmware command table
  p.AppendNumber(0xabcdef);
  p.AppendNumber(static_cast<uint32_t>(-1));
  EXPECT_EQ(" ABCDEF FFFFFFFF", p.ToString());
  p.Reset();
  EXPECT_EQ(0u, p.size());
  EXPECT_EQ(0, p.data()[0]);
}

TEST(ParameterBuffer, CountedStringsKeepEveryByte) {
  ParameterBuffer p;
  p.AppendCounted(std::string("AB"));
  const char raw[] = {'x', 0, ' ', '\xff'};
  p.AppendCounted(raw, sizeof raw);
  EXPECT_EQ(std::string(" 2 AB 4 x\0 \xff", 12), p.ToString());
}

TEST(ParameterBuffer, APieceThatWouldPassTheLimitIsDroppedWhole) {
  ParameterBuffer p;
  std::string big(1596, 'z');
  EXPECT_FALSE(p.AppendCounted(big));  // " 63C " + 1596 bytes = 1601: too long
  EXPECT_EQ(0u, p.size()) << "1601 bytes must not fit";
  const std::string filler(1598, 'f');
  ASSERT_TRUE(p.AppendRaw(filler.data(), filler.size()));
  EXPECT_TRUE(p.AppendNumber(1));  // exactly 1600
  EXPECT_EQ(1600u, p.size());
  EXPECT_FALSE(p.AppendNumber(2));
  EXPECT_FALSE(p.AppendCounted(std::string()));
  EXPECT_EQ(1600u, p.size());
  EXPECT_EQ(0, p.data()[1600]);
}

TEST(AnswerTokens, HexReadingStopsAtTheEndGiven) {
  const char text[] = " 1F 7";
  uint32_t v = 99;
  const char* after = ScanHex(text, text + 3, &v);
  EXPECT_EQ(0x1Fu, v);
  EXPECT_EQ(text + 3, after);
  after = ScanHex(text, text + 2, &v);  // only " 1" is visible
  EXPECT_EQ(1u, v);
  EXPECT_EQ(text, ScanHex(text, text, &v));
  EXPECT_EQ(0u, v);
  const char zz[] = "ZZ";
  EXPECT_EQ(zz, ScanHex(zz, zz + 2, &v));
  EXPECT_EQ(0u, v);
  const char huge[] = "123456789ABCDEF";
  ScanHex(huge, huge + 15, &v);
  EXPECT_EQ(0xFFFFFFFFu, v);
  EXPECT_EQ(nullptr, FindBlank(text + 1, text + 3));
  EXPECT_EQ(text + 3, FindBlank(text + 1, text + 5));
}

}  // namespace
}  // namespace korvo
