// File-to-file compression with an adaptive splay-tree prefix code behind
// the magic number 0xFF02AA55 (bytes 55 AA 02 FF). The bit layout is a
// contract shared with every other reader and writer of these files.
//
// Not thread-safe: one object serves one operation at a time.
#pragma once

#include <cstdint>
#include <string>

namespace korvo {

constexpr uint32_t kCompressedFileMagic = 0xFF02AA55u;

class SplayCompressor final {
 public:
  // 0, or -1 when either file cannot be opened or written.
  int Compress(const std::string& input_path, const std::string& output_path);

  // 0, or -1 when either file cannot be opened, the magic number is wrong
  // (the output file is then left behind empty), or the input ends before
  // the end symbol.
  int Decompress(const std::string& input_path, const std::string& output_path);
};

}  // namespace korvo
