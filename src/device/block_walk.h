// Walks a device data file in the block stream form part by part, as the
// device takes it: each block is a marker byte 1, a 32-bit big-endian data
// length n, a 4-byte load address, then the data with a check byte after
// every 1024 data bytes and after the last one. A block of up to 1024 data
// bytes is one part (n + 10 bytes); a longer one is a 1034-byte first part
// (header, 1024 data bytes, check byte) followed by continuation parts of at
// most 1025 bytes. The closing block (n = 0) is the last part.
//
// Used by the part-wise device update and by the first-stage download. The
// file is opened once and read front to back. Not thread-safe; one walk per
// transfer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/data_file.h"

namespace korvo {

class BlockWalk final {
 public:
  static constexpr uint32_t kMaxDataPerPart = 1024;
  static constexpr size_t kHeaderBytes = 9;
  static constexpr size_t kMaxFirstPart = kHeaderBytes + kMaxDataPerPart + 1;  // 1034
  static constexpr size_t kMaxContinuation = kMaxDataPerPart + 1;              // 1025

  explicit BlockWalk(std::string path) : file_(std::move(path)) {}

  // Reads the next part into `part` (replaced; its storage is reused). `last`
  // is set when the part is the closing block. False, with `part` empty,
  // when the file cannot be opened, holds no marker byte, or ends inside a
  // part; the walk is then not usable any more.
  bool NextPart(std::vector<uint8_t>& part, bool& last);

 private:
  bool FindFirstMarker();

  SequentialReader file_;
  bool started_ = false;
  uint32_t remaining_ = 0;  // data bytes of a long block still to send
};

}  // namespace korvo
