#include "config/brek_blocks.h"

namespace korvo {
namespace {

constexpr uint32_t kClosingAddress = uint32_t('B') << 24 | uint32_t('R') << 16 |
                                     uint32_t('E') << 8 | uint32_t('K');

uint32_t ReadU32(const std::vector<uint8_t>& s, size_t at) {
  return uint32_t(s[at]) << 24 | uint32_t(s[at + 1]) << 16 | uint32_t(s[at + 2]) << 8 | s[at + 3];
}

}  // namespace

bool ReadBrekBlocks(const std::vector<uint8_t>& stream, std::vector<BrekBlock>& blocks) {
  blocks.clear();
  size_t pos = 0;
  while (pos + 9 <= stream.size() && stream[pos] == 0x01) {
    BrekBlock block{ReadU32(stream, pos + 5), ReadU32(stream, pos + 1)};
    if (block.length == 0 && block.address == kClosingAddress) return pos + 10 == stream.size();
    // A check byte after every 1024 data bytes and after a last partial kilobyte.
    uint64_t body = uint64_t(block.length) + (uint64_t(block.length) + 1023) / 1024;
    if (body > stream.size() - pos - 9) return false;
    pos += 9 + size_t(body);
    blocks.push_back(block);
  }
  return false;
}

}  // namespace korvo
