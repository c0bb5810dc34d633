#include "bootloader/brek_frame.h"

#include <gtest/gtest.h>

#include <random>

namespace brek {
namespace {

std::vector<uint8_t> Filled(size_t count, uint8_t value) {
  return std::vector<uint8_t>(count, value);
}

std::vector<uint8_t> Random(size_t count) {
  std::mt19937 random(11);
  std::vector<uint8_t> bytes(count);
  for (auto& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

std::vector<uint8_t> PlainThen(size_t plain, uint8_t end) {
  std::vector<uint8_t> bytes = Filled(plain, 'a');
  bytes.push_back(end);
  return bytes;
}

TEST(BrekStuffingTest, RoundTripsWithoutZeroOrFrameEndAndSmallOverhead) {
  const std::vector<std::vector<uint8_t>> cases = {
      {},           Filled(1, 0),   Filled(300, 0),  Filled(300, 0xFF), Filled(125, 'a'),
      Filled(126, 'a'), Filled(250, 'a'), PlainThen(124, 0xFF), PlainThen(125, 0xFF), PlainThen(125, 0),
      PlainThen(126, 0),  {0xFF},         Random(5000),
  };
  for (const auto& raw : cases) {
    std::vector<uint8_t> stuffed = Stuff(raw);
    for (uint8_t b : stuffed) ASSERT_TRUE(b != 0x00 && b != 0xFF) << raw.size();
    EXPECT_LE(stuffed.size(), raw.size() + raw.size() / 125 + 1) << raw.size();
    std::vector<uint8_t> back;
    ASSERT_TRUE(Unstuff(stuffed.data(), stuffed.size(), &back)) << raw.size();
    EXPECT_EQ(raw, back);
  }
}

TEST(BrekStuffingTest, RefusesWhatTheEncoderNeverWrites) {
  const std::vector<std::vector<uint8_t>> cases = {
      {}, {0x00}, {0xFF}, {0xFE}, {0x03, 'a'}, {0x81, 'a'}, {0x7F, 'a'}, {0x02, 0x00},
  };
  std::vector<uint8_t> raw;
  for (const auto& bytes : cases) EXPECT_FALSE(Unstuff(bytes.data(), bytes.size(), &raw));
}

TEST(BrekFrameTest, DecodesWhatItEncodedAndRefusesEveryDamagedByte) {
  Frame frame{kData, 7, Random(300)};
  std::vector<uint8_t> line = EncodeFrame(frame);
  ASSERT_EQ(kFrameEnd, line.back());
  line.pop_back();
  Frame back;
  ASSERT_TRUE(DecodeFrame(line.data(), line.size(), &back));
  EXPECT_EQ(frame.type, back.type);
  EXPECT_EQ(frame.seq, back.seq);
  EXPECT_EQ(frame.body, back.body);
  for (size_t i = 0; i < line.size(); ++i) {
    std::vector<uint8_t> damaged = line;
    damaged[i] ^= 0x10;
    EXPECT_FALSE(DecodeFrame(damaged.data(), damaged.size(), &back)) << i;
  }
  EXPECT_FALSE(DecodeFrame(line.data(), line.size() - 1, &back));
}

}  // namespace
}  // namespace brek
