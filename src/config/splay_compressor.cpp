#include "config/splay_compressor.h"

#include <cstring>

#include "platform/sync.h"
#include "platform/system.h"

// The coding loops are the whole cost; keep them free of calls.
#if defined(__GNUC__)
#define KORVO_ALWAYS_INLINE inline __attribute__((always_inline))
#elif defined(_MSC_VER)
#define KORVO_ALWAYS_INLINE __forceinline
#else
#define KORVO_ALWAYS_INLINE inline
#endif

namespace korvo {
namespace {

const unsigned char kMagicBytes[4] = {
    kCompressedFileMagic & 0xFF, (kCompressedFileMagic >> 8) & 0xFF,
    (kCompressedFileMagic >> 16) & 0xFF, kCompressedFileMagic >> 24};

// The stream is least significant byte first on any host.
inline void StoreLittle64(unsigned char* p, uint64_t v) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
#else
  std::memcpy(p, &v, 8);
#endif
}

inline uint64_t LoadLittle64(const unsigned char* p) {
  uint64_t v = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  for (int i = 0; i < 8; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
#else
  std::memcpy(&v, p, 8);
#endif
  return v;
}

// Longest code the encoder hands to PutBits in one piece: with up to 7
// pending bits the accumulator never overflows.
constexpr int kMaxPutBits = 56;

// Closes the output and reports whether everything reached the file.
bool CloseOutput(UniqueFile& file) {
  std::FILE* f = file.release();
  bool ok = !std::ferror(f);
  return std::fclose(f) == 0 && ok;
}

// The entry at byte offset `offset` of a node table.
template <typename T>
inline T& At(T* table, size_t offset) {
  return *reinterpret_cast<T*>(reinterpret_cast<char*>(table) + offset);
}

constexpr uint32_t kLeafRefs = 4 * 256;  // refs at or above this are leaves
constexpr uint32_t kSideBit = 2;         // set in the link of a right child

// Sets both halves of node `ref`'s entry in the upward table to `link`.
inline void SetUp(uint16_t* up, size_t ref, size_t link) {
  const uint16_t halves[2] = {static_cast<uint16_t>(link), static_cast<uint16_t>(link)};
  std::memcpy(reinterpret_cast<char*>(up) + ref, halves, sizeof halves);
}

}  // namespace

int SplayCompressor::Fail(SplayFailure why) {
  failure_ = why;
  return -1;
}

void SplayCompressor::ResetTree() {
  // Internal node i has children 2i+1 and 2i+2, so node n (n >= 1) hangs in
  // link 2(n-1) of parent (n-1)/2.
  for (uint32_t i = 0; i < kInternalNodes; ++i) {
    child_[2 * i] = static_cast<uint16_t>(4 * (2 * i + 1));
    child_[2 * i + 1] = static_cast<uint16_t>(4 * (2 * i + 2));
  }
  SetUp(up_, 0, 0);
  for (uint32_t n = 1; n < kNodes; ++n) SetUp(up_, 4 * n, 2 * (n - 1));
}

// One step of the semi-splay that follows every symbol: node a, held by
// a_link under c, which is held by c_link under d, swaps places with c's
// sibling b. Then a's walk continues from d. The decoder never walks up and
// so skips the upward table.
template <bool kKeepParents>
KORVO_ALWAYS_INLINE void SplayCompressor::SwapWithUncle(size_t a, size_t a_link, size_t c_link) {
  const size_t b_link = c_link ^ kSideBit;
  const size_t b = At(child_, b_link);
  At(child_, b_link) = static_cast<uint16_t>(a);
  At(child_, a_link) = static_cast<uint16_t>(b);
  if (kKeepParents) {
    SetUp(up_, a, b_link);
    SetUp(up_, b, a_link);
  }
}

// Semi-splays a leaf after decoding: `links` holds the links of the leaf
// and its ancestors (leaf first), `depth` entries. A step only changes
// nodes already passed, so the rest of the path stays valid.
KORVO_ALWAYS_INLINE void SplayCompressor::SplayDecoded(size_t leaf_ref, const uint16_t* links,
                                                       int depth) {
  size_t a = leaf_ref;
  for (int i = 0; i + 2 <= depth; i += 2) {
    SwapWithUncle<false>(a, links[i], links[i + 1]);
    a = links[i + 1] & ~size_t{3};
  }
}

bool SplayCompressor::FlushOutput() {
  if (out_fill_ != 0 && std::fwrite(out_buf_, 1, out_fill_, out_) != out_fill_) {
    failure_ = SplayFailure::kWrite;
    out_fill_ = 0;
    return false;
  }
  out_fill_ = 0;
  return true;
}

void SplayCompressor::PutBits(uint64_t bits, int count) {
  put_bits_ |= bits << put_count_;
  put_count_ += count;
  // Store the whole word; only the complete bytes count as written.
  StoreLittle64(out_buf_ + out_fill_, put_bits_);
  out_fill_ += static_cast<size_t>(put_count_ >> 3);
  put_bits_ >>= (put_count_ & ~7);
  put_count_ &= 7;
  if (out_fill_ >= kBufferSize) FlushOutput();
}

// Codes longer than one accumulator load, from a degenerate tree.
void SplayCompressor::PutLongCode(int depth) {
  int remaining = depth;
  while (remaining > 0) {
    int n = remaining < kMaxPutBits ? remaining : kMaxPutBits;
    uint64_t bits = 0;
    for (int k = 0; k < n; ++k)
      bits |= static_cast<uint64_t>((path_[remaining - 1 - k] & kSideBit) >> 1) << k;
    PutBits(bits, n);
    remaining -= n;
  }
}

// Codes one symbol into the pending bits `acc` (`acc_count` of them) and the
// output buffer filled up to `fill`; kept in registers by the caller.
KORVO_ALWAYS_INLINE void SplayCompressor::EncodeSymbol(unsigned symbol, uint64_t& acc, int& acc_count,
                                          size_t& fill) {
  // Walking up yields the leaf's bit first; doubling leaves the root's bit
  // at the bottom, which is the order the stream wants. The side bit is
  // gathered in place (value 2) and shifted down once at the end. Each pair
  // of levels is splayed as soon as it has been read: the steps change only
  // nodes already passed, so the code read is that of the tree before.
  size_t a = 4 * (kInternalNodes + symbol);
  size_t a_link = At(up_, a);
  uint16_t* end = path_;  // kept only for codes too long for `code`
  uint64_t code = 0;
  for (;;) {
    *end++ = static_cast<uint16_t>(a_link);
    code = 2 * code + (a_link & kSideBit);
    if (a_link < 4) break;  // a's parent is the root
    const size_t c_link = At(up_, a_link);
    *end++ = static_cast<uint16_t>(c_link);
    code = 2 * code + (c_link & kSideBit);
    SwapWithUncle<true>(a, a_link, c_link);
    if (c_link < 4) break;  // c's parent is the root
    a = c_link & ~size_t{3};
    a_link = At(up_, c_link);
  }
  code >>= 1;
  const int depth = static_cast<int>(end - path_);
  if (depth <= kMaxPutBits) {
    acc |= code << acc_count;
    acc_count += depth;
    // Store the whole word; only the complete bytes count as written.
    StoreLittle64(out_buf_ + fill, acc);
    fill += static_cast<size_t>(acc_count >> 3);
    acc >>= (acc_count & ~7);
    acc_count &= 7;
    if (fill >= kBufferSize) {
      out_fill_ = fill;
      FlushOutput();
      fill = out_fill_;
    }
  } else {
    put_bits_ = acc;
    put_count_ = acc_count;
    out_fill_ = fill;
    PutLongCode(depth);
    acc = put_bits_;
    acc_count = put_count_;
    fill = out_fill_;
  }
}

void SplayCompressor::EncodeBlock(const unsigned char* data, size_t size, bool last) {
  uint64_t acc = put_bits_;
  int acc_count = put_count_;
  size_t fill = out_fill_;
  for (size_t i = 0; i < size; ++i) EncodeSymbol(data[i], acc, acc_count, fill);
  if (last) EncodeSymbol(kEndSymbol, acc, acc_count, fill);
  put_bits_ = acc;
  put_count_ = acc_count;
  out_fill_ = fill;
}

int SplayCompressor::RunOnFiles(const std::string& input_path, const std::string& output_path,
                                void (SplayCompressor::*code)()) {
  failure_ = SplayFailure::kNone;
  InputFileError why = InputFileError::kNone;
  UniqueFile in(OpenInputFile(input_path, kMaxSplayInputBytes, &why));
  if (!in) {
    return Fail(why == InputFileError::kNotRegular ? SplayFailure::kInputNotFile
                : why == InputFileError::kTooLarge ? SplayFailure::kInputTooLarge
                                                   : SplayFailure::kOpenInput);
  }
  UniqueFile out(OpenFileUtf8(output_path, "wb"));
  if (!out) return Fail(SplayFailure::kCreateOutput);
  in_ = in.get();
  out_ = out.get();
  in_total_ = 0;
  (this->*code)();
  in_ = out_ = nullptr;
  bool closed = CloseOutput(out);
  if (failure_ != SplayFailure::kNone) return -1;
  return closed ? 0 : Fail(SplayFailure::kWrite);
}

int SplayCompressor::RunOnStreams(std::FILE* input, std::FILE* output,
                                  void (SplayCompressor::*code)()) {
  failure_ = SplayFailure::kNone;
  if (!input) return Fail(SplayFailure::kOpenInput);
  if (!output) return Fail(SplayFailure::kCreateOutput);
  in_ = input;
  out_ = output;
  in_total_ = 0;  // each run is bounded on its own, not the compressor's life
  (this->*code)();
  in_ = out_ = nullptr;
  if (failure_ != SplayFailure::kNone) return -1;
  return std::fflush(output) == 0 ? 0 : Fail(SplayFailure::kWrite);
}

int SplayCompressor::Compress(std::FILE* input, std::FILE* output) {
  return RunOnStreams(input, output, &SplayCompressor::CompressFiles);
}

int SplayCompressor::Decompress(std::FILE* input, std::FILE* output) {
  return RunOnStreams(input, output, &SplayCompressor::DecompressFiles);
}

int SplayCompressor::Compress(const std::string& input_path, const std::string& output_path) {
  return RunOnFiles(input_path, output_path, &SplayCompressor::CompressFiles);
}

int SplayCompressor::Decompress(const std::string& input_path, const std::string& output_path) {
  return RunOnFiles(input_path, output_path, &SplayCompressor::DecompressFiles);
}

void SplayCompressor::CompressFiles() {
  ResetTree();
  put_bits_ = 0;
  put_count_ = 0;
  for (int i = 0; i < 4; ++i) out_buf_[i] = kMagicBytes[i];
  out_fill_ = 4;

  for (;;) {
    size_t n = ReadInput(in_buf_, kBufferSize);
    EncodeBlock(in_buf_, n, false);
    if (failure_ != SplayFailure::kNone) break;
    if (n < kBufferSize) {
      if (std::ferror(in_)) failure_ = SplayFailure::kRead;
      break;
    }
  }
  if (failure_ == SplayFailure::kNone) {
    EncodeBlock(nullptr, 0, true);
    if (put_count_ != 0) out_buf_[out_fill_++] = static_cast<unsigned char>(put_bits_);
    FlushOutput();
  }
}

// A file that grows after it was opened is cut off at the bound all the
// same; the stop is looked at once per buffer, which costs nothing.
size_t SplayCompressor::ReadInput(unsigned char* buffer, size_t size) {
  if (StopRequested()) {
    failure_ = SplayFailure::kStopped;
    return 0;
  }
  size_t n = std::fread(buffer, 1, size, in_);
  in_total_ += n;
  if (in_total_ > kMaxSplayInputBytes) {
    failure_ = SplayFailure::kInputTooLarge;
    return 0;
  }
  return n;
}

// Loads more input bits (with their end mark) once the current ones are
// used up; false at the end of the input or on a read error.
bool SplayCompressor::RefillBits() {
  if (in_fill_ - in_pos_ < 8) {
    if (in_pos_ == in_fill_) {
      if (!in_end_) {
        in_pos_ = 0;
        in_fill_ = ReadInput(in_buf_, kBufferSize);
        in_end_ = in_fill_ < kBufferSize;
      }
      if (in_pos_ == in_fill_) {
        if (failure_ == SplayFailure::kNone)
          failure_ = std::ferror(in_) ? SplayFailure::kRead : SplayFailure::kTruncated;
        return false;
      }
    }
    if (in_fill_ - in_pos_ < 8) {
      get_bits_ = in_buf_[in_pos_++] | 0x100u;
      return true;
    }
  }
  // Seven bytes at a time leave room for the end mark.
  get_bits_ = (LoadLittle64(in_buf_ + in_pos_) & 0x00FFFFFFFFFFFFFFu) | (uint64_t{1} << 56);
  in_pos_ += 7;
  return true;
}

// Decodes up to and including the end symbol; false when the input ends
// first (every step down consumes a bit, so garbage input ends at the
// latest with the file) or a read or write fails.
bool SplayCompressor::DecodeStream() {
  uint16_t* const bottom = path_ + kInternalNodes;
  uint64_t bits = 1;
  size_t fill = 0;
  for (;;) {
    uint16_t* top = bottom;
    size_t node = 0;
    do {
      if (bits == 1) {
        if (!RefillBits()) {
          out_fill_ = fill;
          return false;
        }
        bits = get_bits_;
      }
      const size_t link = node + kSideBit * static_cast<size_t>(bits & 1u);
      bits >>= 1;
      *--top = static_cast<uint16_t>(link);
      node = At(child_, link);
    } while (node < kLeafRefs);
    SplayDecoded(node, top, static_cast<int>(bottom - top));
    const size_t symbol = node / 4 - kInternalNodes;
    if (symbol == kEndSymbol) break;
    out_buf_[fill++] = static_cast<unsigned char>(symbol);
    if (fill == kBufferSize) {
      out_fill_ = fill;
      if (!FlushOutput()) return false;
      fill = 0;
    }
  }
  out_fill_ = fill;
  return true;
}

void SplayCompressor::DecompressFiles() {
  unsigned char magic[4];
  size_t got = std::fread(magic, 1, 4, in_);
  if (got != 4 || magic[0] != kMagicBytes[0] || magic[1] != kMagicBytes[1] ||
      magic[2] != kMagicBytes[2] || magic[3] != kMagicBytes[3]) {
    failure_ = std::ferror(in_) ? SplayFailure::kRead : SplayFailure::kBadMagic;
  } else {
    ResetTree();
    in_pos_ = in_fill_ = 0;
    in_end_ = false;
    out_fill_ = 0;
    DecodeStream();
    // What was decoded before a failure is kept; callers discard the file.
    if (failure_ != SplayFailure::kWrite) FlushOutput();
  }
}

const char* DecompressFailureText(SplayFailure why) {
  switch (why) {
    case SplayFailure::kOpenInput: return "cannot be opened";
    case SplayFailure::kBadMagic: return "not a compressed file (wrong magic number)";
    case SplayFailure::kTruncated: return "truncated compressed data (no end mark)";
    case SplayFailure::kRead: return "read error";
    case SplayFailure::kNone: return "";
    default: return "cannot write the decompressed text to a temporary file";
  }
}

}  // namespace korvo
