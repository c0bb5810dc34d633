#include "bootloader/brek_frame.h"

#include <gtest/gtest.h>

#include <random>
#include <tuple>

namespace brek {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Random(size_t count) {
  std::mt19937 random(11);
  Bytes bytes(count);
  for (auto& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

// Plain runs below, at and above a group's length, ended by nothing, 0x00 or 0xFF.
TEST(BrekStuffingTest, RoundTripsWithoutZeroOrFrameEndAndSmallOverhead) {
  std::vector<Bytes> cases = {{}, {0x00}, {0xFF}, Bytes(300, 0), Bytes(300, 0xFF), Random(5000)};
  for (size_t plain : {1, 124, 125, 126, 250}) {
    for (int end : {-1, 0x00, 0xFF}) {
      cases.push_back(Bytes(plain, 'a'));
      if (end >= 0) cases.back().push_back(static_cast<uint8_t>(end));
    }
  }
  for (const Bytes& raw : cases) {
    Bytes stuffed = Stuff(raw);
    for (uint8_t b : stuffed) ASSERT_TRUE(b != 0x00 && b != 0xFF) << raw.size();
    EXPECT_LE(stuffed.size(), raw.size() + raw.size() / 125 + 1) << raw.size();
    Bytes back;
    ASSERT_TRUE(Unstuff(stuffed.data(), stuffed.size(), &back)) << raw.size();
    EXPECT_EQ(raw, back);
  }
}

TEST(BrekFrameTest, DecodesWhatItEncodedAndRefusesEveryDamagedByte) {
  Frame frame{kData, 7, Random(300)};
  Bytes line = EncodeFrame(frame);
  ASSERT_EQ(kFrameEnd, line.back());
  line.pop_back();
  Frame back;
  ASSERT_TRUE(DecodeFrame(line.data(), line.size(), &back));
  EXPECT_EQ(std::make_tuple(frame.type, frame.seq, frame.body),
            std::make_tuple(back.type, back.seq, back.body));
  for (size_t i = 0; i < line.size(); ++i) {
    Bytes damaged = line;
    damaged[i] ^= 0x10;
    EXPECT_FALSE(DecodeFrame(damaged.data(), damaged.size(), &back)) << i;
  }
  EXPECT_FALSE(DecodeFrame(line.data(), line.size() - 1, &back));
}

}  // namespace
}  // namespace brek
