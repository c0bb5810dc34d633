#include "config/splay_compressor.h"

#include "platform/system.h"

namespace korvo {
namespace {

const unsigned char kMagicBytes[4] = {
    kCompressedFileMagic & 0xFF, (kCompressedFileMagic >> 8) & 0xFF,
    (kCompressedFileMagic >> 16) & 0xFF, kCompressedFileMagic >> 24};

// Byte-wise so the stream stays least significant byte first on any host;
// compilers merge these into single moves.
inline void StoreLittle64(unsigned char* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

inline uint64_t LoadLittle64(const unsigned char* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
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

}  // namespace

int SplayCompressor::Fail(SplayFailure why) {
  failure_ = why;
  return -1;
}

void SplayCompressor::ResetTree() {
  for (unsigned i = 0; i < kInternalNodes; ++i) {
    child_[2 * i] = static_cast<uint16_t>(2 * i + 1);
    child_[2 * i + 1] = static_cast<uint16_t>(2 * i + 2);
  }
  // Node n starts as child 2i+1 or 2i+2 of i = (n-1)/2, i.e. in slot n-1.
  parent_slot_[0] = 0;
  for (unsigned n = 1; n < kNodes; ++n) parent_slot_[n] = static_cast<uint16_t>(n - 1);
}

// Semi-splays `leaf` towards the root: each step swaps the current node with
// the sibling of its parent and moves on to the grandparent. `slots` holds
// the slots of the leaf and its ancestors (leaf first), `depth` entries, as
// walked when the symbol was coded; the steps only change nodes already
// passed, so the rest of the walk stays valid. The decoder never walks
// upwards and so skips the parent links.
template <bool kKeepParents>
void SplayCompressor::Splay(unsigned leaf, const uint16_t* slots, int depth) {
  unsigned a = leaf;
  for (int i = 0; i + 2 <= depth; i += 2) {
    unsigned a_slot = slots[i];        // a under c
    unsigned c_slot = slots[i + 1];    // c under d
    unsigned d = c_slot >> 1;
    unsigned b_slot = c_slot ^ 1;      // c's sibling under d
    unsigned b = child_[b_slot];
    child_[b_slot] = static_cast<uint16_t>(a);
    child_[a_slot] = static_cast<uint16_t>(b);
    if (kKeepParents) {
      parent_slot_[a] = static_cast<uint16_t>(b_slot);
      parent_slot_[b] = static_cast<uint16_t>(a_slot);
    }
    a = d;
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
      bits |= static_cast<uint64_t>(path_[remaining - 1 - k] & 1u) << k;
    PutBits(bits, n);
    remaining -= n;
  }
}

void SplayCompressor::EncodeSymbol(unsigned symbol) {
  const unsigned leaf = kInternalNodes + symbol;
  unsigned node = leaf;
  int depth = 0;
  uint64_t code = 0;
  // Walking up yields the leaf's bit first; shifting left leaves the root's
  // bit at the bottom, which is the order the stream wants.
  do {
    unsigned slot = parent_slot_[node];
    path_[depth++] = static_cast<uint16_t>(slot);
    code = (code << 1) | (slot & 1u);
    node = slot >> 1;
  } while (node != 0);
  if (depth <= kMaxPutBits)
    PutBits(code, depth);
  else
    PutLongCode(depth);
  Splay<true>(leaf, path_, depth);
}

int SplayCompressor::Compress(const std::string& input_path, const std::string& output_path) {
  failure_ = SplayFailure::kNone;
  UniqueFile in(OpenFileUtf8(input_path, "rb"));
  if (!in) return Fail(SplayFailure::kOpenInput);
  UniqueFile out(OpenFileUtf8(output_path, "wb"));
  if (!out) return Fail(SplayFailure::kCreateOutput);
  in_ = in.get();
  out_ = out.get();

  ResetTree();
  put_bits_ = 0;
  put_count_ = 0;
  for (int i = 0; i < 4; ++i) out_buf_[i] = kMagicBytes[i];
  out_fill_ = 4;

  for (;;) {
    size_t n = std::fread(in_buf_, 1, kBufferSize, in_);
    for (size_t i = 0; i < n; ++i) EncodeSymbol(in_buf_[i]);
    if (failure_ != SplayFailure::kNone) break;
    if (n < kBufferSize) {
      if (std::ferror(in_)) failure_ = SplayFailure::kRead;
      break;
    }
  }
  if (failure_ == SplayFailure::kNone) {
    EncodeSymbol(kEndSymbol);
    if (put_count_ != 0) out_buf_[out_fill_++] = static_cast<unsigned char>(put_bits_);
    FlushOutput();
  }
  in_ = out_ = nullptr;
  bool closed = CloseOutput(out);
  if (failure_ != SplayFailure::kNone) return -1;
  return closed ? 0 : Fail(SplayFailure::kWrite);
}

// Makes at least one more input bit available; false at the end of the
// input or on a read error.
bool SplayCompressor::RefillBits() {
  if (in_fill_ - in_pos_ < 8) {
    if (in_pos_ == in_fill_) {
      if (!in_end_) {
        in_pos_ = 0;
        in_fill_ = std::fread(in_buf_, 1, kBufferSize, in_);
        in_end_ = in_fill_ < kBufferSize;
      }
      if (in_pos_ == in_fill_) {
        failure_ = std::ferror(in_) ? SplayFailure::kRead : SplayFailure::kTruncated;
        return false;
      }
    }
    if (in_fill_ - in_pos_ < 8) {
      get_bits_ = in_buf_[in_pos_++];
      get_count_ = 8;
      return true;
    }
  }
  get_bits_ = LoadLittle64(in_buf_ + in_pos_);
  in_pos_ += 8;
  get_count_ = 64;
  return true;
}

// The decoded symbol, or -1 when the input ran out first. Every step down
// consumes a bit, so garbage input ends at the latest with the file.
int SplayCompressor::DecodeSymbol() {
  uint16_t* const bottom = path_ + kInternalNodes;
  uint16_t* top = bottom;
  uint64_t bits = get_bits_;
  int count = get_count_;
  unsigned node = 0;
  do {
    if (count == 0) {
      get_count_ = 0;
      if (!RefillBits()) return -1;
      bits = get_bits_;
      count = get_count_;
    }
    unsigned slot = 2 * node + static_cast<unsigned>(bits & 1u);
    bits >>= 1;
    --count;
    *--top = static_cast<uint16_t>(slot);
    node = child_[slot];
  } while (node < kInternalNodes);
  get_bits_ = bits;
  get_count_ = count;
  Splay<false>(node, top, static_cast<int>(bottom - top));
  return static_cast<int>(node - kInternalNodes);
}

int SplayCompressor::Decompress(const std::string& input_path, const std::string& output_path) {
  failure_ = SplayFailure::kNone;
  UniqueFile in(OpenFileUtf8(input_path, "rb"));
  if (!in) return Fail(SplayFailure::kOpenInput);
  UniqueFile out(OpenFileUtf8(output_path, "wb"));
  if (!out) return Fail(SplayFailure::kCreateOutput);
  in_ = in.get();
  out_ = out.get();

  unsigned char magic[4];
  size_t got = std::fread(magic, 1, 4, in_);
  if (got != 4 || magic[0] != kMagicBytes[0] || magic[1] != kMagicBytes[1] ||
      magic[2] != kMagicBytes[2] || magic[3] != kMagicBytes[3]) {
    failure_ = std::ferror(in_) ? SplayFailure::kRead : SplayFailure::kBadMagic;
  } else {
    ResetTree();
    get_bits_ = 0;
    get_count_ = 0;
    in_pos_ = in_fill_ = 0;
    in_end_ = false;
    out_fill_ = 0;
    for (;;) {
      int symbol = DecodeSymbol();
      if (symbol < 0) {
        if (failure_ == SplayFailure::kNone) failure_ = SplayFailure::kTruncated;
        break;
      }
      if (symbol == kEndSymbol) break;
      out_buf_[out_fill_++] = static_cast<unsigned char>(symbol);
      if (out_fill_ == kBufferSize && !FlushOutput()) break;
    }
    // What was decoded before a failure is kept; callers discard the file.
    if (failure_ != SplayFailure::kWrite) FlushOutput();
  }
  in_ = out_ = nullptr;
  bool closed = CloseOutput(out);
  if (failure_ != SplayFailure::kNone) return -1;
  return closed ? 0 : Fail(SplayFailure::kWrite);
}

}  // namespace korvo
