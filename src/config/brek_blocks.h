// Reading back the memory map of a BREK block stream (the payload of the
// "BREK" and "BREKBIN" data types), for tools that show what a
// configuration will write where.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvo {

struct BrekBlock {
  uint32_t address = 0;
  uint32_t length = 0;  // data bytes, check bytes not counted
};

// The blocks of `stream` in stream order, up to its closing block. False
// when the stream is cut short, a marker is wrong or the closing block is
// missing; `blocks` then holds the blocks read before the fault.
bool ReadBrekBlocks(const std::vector<uint8_t>& stream, std::vector<BrekBlock>& blocks);

}  // namespace korvo
