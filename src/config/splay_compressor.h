// File-to-file compression with an adaptive splay-tree prefix code behind
// the magic number 0xFF02AA55 (bytes 55 AA 02 FF). The bit layout is a
// contract shared with every other reader and writer of these files.
//
// Not thread-safe: one object serves one operation at a time. The object
// carries its tree and file buffers (about 38 KB); the coder allocates
// nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace korvo {

constexpr uint32_t kCompressedFileMagic = 0xFF02AA55u;

// Inputs are regular files of at most this size (the largest XML document
// the library loads), so that a device or a pipe cannot keep a run going.
constexpr uint64_t kMaxSplayInputBytes = uint64_t(512) << 20;

// Why the last Compress or Decompress returned -1.
enum class SplayFailure {
  kNone,
  kOpenInput,     // the input file cannot be opened
  kInputNotFile,  // the input is a folder, a device, a pipe or a socket
  kInputTooLarge, // the input is larger than kMaxSplayInputBytes
  kStopped,       // the library is being unloaded
  kCreateOutput,  // the output file cannot be created
  kBadMagic,      // the input does not start with 55 AA 02 FF
  kTruncated,     // the input ends before the end symbol
  kRead,          // reading the input failed
  kWrite,         // writing or closing the output failed
};

// What a failure of Decompress means for the input, in a few words.
const char* DecompressFailureText(SplayFailure why);

class SplayCompressor final {
 public:
  // 0, or -1 when either file cannot be opened, read or written (a partly
  // written output is left behind).
  int Compress(const std::string& input_path, const std::string& output_path);

  // 0, or -1 when either file cannot be opened, read or written, the magic
  // number is wrong (the output file is then left behind empty), or the
  // input ends before the end symbol (the output then holds what was
  // decoded). Bytes after the end symbol are ignored.
  int Decompress(const std::string& input_path, const std::string& output_path);

  // The same on open streams (binary, read from and written to where they
  // stand); the streams stay open, the output is flushed. For callers that
  // hold the data in memory.
  int Compress(std::FILE* input, std::FILE* output);
  int Decompress(std::FILE* input, std::FILE* output);

  // The reason for the last -1; kNone after a success.
  SplayFailure last_failure() const { return failure_; }

 private:
  static constexpr int kInternalNodes = 256;
  static constexpr int kNodes = 513;
  static constexpr int kEndSymbol = 256;
  // Larger than the format needs; the bytes written do not depend on it.
  static constexpr size_t kBufferSize = 16384;
  // Slack so that whole 64-bit words may be stored past the fill count.
  static constexpr size_t kSlack = 8;

  void ResetTree();
  template <bool kKeepParents>
  void SwapWithUncle(size_t a, size_t a_link, size_t c_link);
  void SplayDecoded(size_t leaf_ref, const uint16_t* links, int depth);

  // Codes the bytes of `data`, then the end symbol when `last`.
  // Opens both files, runs `code` on them, closes them; 0 or -1.
  int RunOnFiles(const std::string& input_path, const std::string& output_path,
                 void (SplayCompressor::*code)());
  int RunOnStreams(std::FILE* input, std::FILE* output, void (SplayCompressor::*code)());
  void CompressFiles();
  void DecompressFiles();
  void EncodeBlock(const unsigned char* data, size_t size, bool last);
  void EncodeSymbol(unsigned symbol, uint64_t& acc, int& acc_count, size_t& fill);
  void PutLongCode(int depth);
  void PutBits(uint64_t bits, int count);
  bool FlushOutput();

  bool RefillBits();
  bool DecodeStream();
  int Fail(SplayFailure why);

  // Node n is named by its "ref" 4n, the byte offset of its entry in the
  // tables below, so that walking the tree is a chain of plain loads. The
  // "link" holding a child is the byte offset of its child_ entry: 4 *
  // parent, plus 2 for a right child.
  uint16_t child_[2 * kInternalNodes];  // refs of the left and right children
  // The link holding each node, stored in both 16-bit halves: a 16-bit load
  // at offset `link` then yields the parent's own link whichever side the
  // child is on, so the encoder's walk up needs no arithmetic between loads.
  uint16_t up_[2 * kNodes];
  // Links of the path of the symbol being coded, leaf end first.
  uint16_t path_[kInternalNodes];

  // Reads up to `size` input bytes, counting them against the bound; fails
  // (kInputTooLarge, kStopped) by returning 0 with failure_ set.
  size_t ReadInput(unsigned char* buffer, size_t size);

  std::FILE* in_ = nullptr;
  std::FILE* out_ = nullptr;
  uint64_t in_total_ = 0;
  SplayFailure failure_ = SplayFailure::kNone;

  // Encoder: pending bits, least significant first, and the output buffer.
  uint64_t put_bits_ = 0;
  int put_count_ = 0;
  size_t out_fill_ = 0;
  unsigned char out_buf_[kBufferSize + kSlack];

  // Decoder: unread bits of the input, least significant first, above them
  // a single 1 that marks where they end.
  uint64_t get_bits_ = 1;
  size_t in_pos_ = 0;
  size_t in_fill_ = 0;
  bool in_end_ = false;
  unsigned char in_buf_[kBufferSize + kSlack];
};

}  // namespace korvo
