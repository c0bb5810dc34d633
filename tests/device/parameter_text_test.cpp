#include "device/parameter_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace korvo {
namespace {

// Small numbers and whole commands are pinned by the firmware command table.
TEST(ParameterBuffer, PiecesAreUpperCaseHexAndCountedBytesAndDroppedWholeAtTheLimit) {
  ParameterBuffer p;
  p.AppendNumber(0xabcdef);
  p.AppendNumber(static_cast<uint32_t>(-1));
  const char raw[] = {'x', 0, ' ', '\xff'};
  p.AppendCounted(raw, sizeof raw);
  EXPECT_EQ(std::string(" ABCDEF FFFFFFFF 4 x\0 \xff", 23), p.ToString());
  // A piece that would pass the limit is dropped whole.
  p.Reset();
  EXPECT_FALSE(p.AppendCounted(std::string(1596, 'z')));  // " 63C " + 1596 bytes = 1601
  EXPECT_EQ(0u, p.size());
  ASSERT_TRUE(p.AppendRaw(std::string(1598, 'f').data(), 1598));
  EXPECT_TRUE(p.AppendNumber(1));  // exactly 1600
  EXPECT_FALSE(p.AppendNumber(2));
  EXPECT_FALSE(p.AppendCounted(std::string()));
  EXPECT_EQ(1600u, p.size());
  EXPECT_EQ(0, p.data()[1600]);
}

TEST(AnswerTokens, HexReadingStopsAtTheEndGivenAndSaturates) {
  // "bytes taken, value" for the first `visible` bytes of `text`.
  auto scan = [](const char* text, size_t visible) {
    uint32_t value = 99;
    const char* after = ScanHex(text, text + visible, &value);
    char out[32];
    std::snprintf(out, sizeof out, "%d %X", static_cast<int>(after - text), value);
    return std::string(out);
  };
  EXPECT_EQ("3 1F", scan(" 1F 7", 3));
  EXPECT_EQ("2 1", scan(" 1F 7", 2));
  EXPECT_EQ("0 0", scan(" 1F 7", 0));
  EXPECT_EQ("0 0", scan("ZZ", 2));
  EXPECT_EQ("15 FFFFFFFF", scan("123456789ABCDEF", 15));
}

}  // namespace
}  // namespace korvo
