// The part-wise walk over block streams larger than its read buffer (shared with S-records).
#include "device/block_walk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "platform/system.h"
#include "support/files.h"

namespace korvo {
namespace {

using namespace std::string_literals;
using test_support::WriteFile;

const char kFile[] = "block_walk_test.bin";

// A block of `n` data bytes at 0x1000, check bytes random (the walk does not
// look at them).
std::string Block(uint32_t n, std::mt19937& random) {
  std::string block = {1, char(n >> 24), char(n >> 16), char(n >> 8), char(n), 0, 0, 0x10, 0};
  while (block.size() < 9 + n + (n + 1023) / 1024) block.push_back(char(random()));
  return block;
}

TEST(BlockWalkTest, PartsCoverTheStreamAsTheDeviceTakesIt) {
  std::mt19937 random(99);
  // Bytes before the first marker are skipped; blocks of every kind follow.
  std::string stream = "\x00\x02\x03"s;
  std::vector<size_t> expected;
  for (uint32_t length : {1u, 1024u, 1025u, 2048u, 70000u, 300u, 0u}) {
    stream += length ? Block(length, random) : "\x01\0\0\0\0BREK\xDC"s;
    if (length <= 1024) {
      expected.push_back(length + 10);
      continue;
    }
    expected.push_back(1034);
    for (uint32_t left = length - 1024; left > 0; left -= std::min(left, 1024u))
      expected.push_back(std::min(left, 1024u) + 1);
  }
  WriteFile(kFile, stream);
  std::vector<uint8_t> part;
  std::vector<size_t> sizes;
  bool last = false;
  {
    BlockWalk walk(kFile);
    std::string walked;
    while (!last && walk.NextPart(part, last)) {
      sizes.push_back(part.size());
      walked.append(part.begin(), part.end());
    }
    EXPECT_TRUE(last);
    EXPECT_EQ(expected, sizes);
    EXPECT_TRUE(stream.substr(3) == walked);
  }  // each walk is closed before the file changes: Windows holds open files

  // A stream cut inside a part ends the walk there, without a padded part.
  WriteFile(kFile, stream.substr(0, 3 + 9 + 1 + 1 + 9 + 1034 + 500));
  {
    BlockWalk cut(kFile);
    sizes.clear();
    while (cut.NextPart(part, last)) sizes.push_back(part.size());
    EXPECT_EQ((std::vector<size_t>{11, 1034}), sizes);
    EXPECT_TRUE(part.empty());
  }
  RemoveFile(kFile);
  EXPECT_FALSE(BlockWalk(kFile).NextPart(part, last));
}

}  // namespace
}  // namespace korvo
