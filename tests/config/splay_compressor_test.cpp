#include "config/splay_compressor.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/system.h"
#include "support/files.h"

namespace korvo {
namespace {

// Bytes as the shared file helpers read and write them.
using Bytes = std::string;
using test_support::ReadFile;
using test_support::WriteFile;

Bytes RandomBytes(size_t size, unsigned seed, unsigned alphabet = 256) {
  std::mt19937 gen(seed);
  Bytes data(size, '\0');
  // A skewed choice now and then builds deep, lopsided trees.
  for (auto& b : data) b = static_cast<char>(gen() % 4 ? gen() % alphabet : gen() % 3);
  return data;
}

// Encoder written bit by bit from the format description, with 1024-byte
// buffers, to hold the optimised one to the same bytes.
class ReferenceEncoder {
 public:
  Bytes Encode(const Bytes& input) {
    for (int i = 0; i < 256; ++i) left_[i] = 2 * i + 1, right_[i] = 2 * i + 2;
    for (int i = 1; i < 513; ++i) up_[i] = static_cast<unsigned char>((i - 1) / 2);
    for (unsigned char b : {0x55, 0xAA, 0x02, 0xFF}) Append(b);
    for (size_t pos = 0; pos < input.size(); pos += 1024) {
      size_t n = std::min<size_t>(1024, input.size() - pos);
      std::copy(input.begin() + pos, input.begin() + pos + n, in_buf_);
      for (size_t i = 0; i < n; ++i) EncodeSymbol(in_buf_[i]);
    }
    EncodeSymbol(256);
    if (bit_pos_ != 0) Append(byte_);
    result_.insert(result_.end(), out_buf_, out_buf_ + out_fill_);
    return result_;
  }

 private:
  void Append(unsigned char b) {
    if (out_fill_ == 1024) result_.insert(result_.end(), out_buf_, out_buf_ + 1024), out_fill_ = 0;
    out_buf_[out_fill_++] = b;
  }
  void EmitBit(bool one) {
    if (one) byte_ |= static_cast<unsigned char>(1u << bit_pos_);
    if (bit_pos_ == 7) Append(byte_), byte_ = 0, bit_pos_ = 0;
    else ++bit_pos_;
  }
  void EncodeSymbol(int s) {
    std::vector<bool> bits;
    for (int a = 256 + s; a != 0; a = up_[a]) bits.push_back(right_[up_[a]] == a);
    for (auto it = bits.rbegin(); it != bits.rend(); ++it) EmitBit(*it);
    int a = 256 + s;
    do {
      int c = up_[a];
      if (c == 0) break;
      int d = up_[c];
      int b = left_[d];
      if (c == b) b = right_[d], right_[d] = a;
      else left_[d] = a;
      if (a == left_[c]) left_[c] = b;
      else right_[c] = b;
      up_[a] = static_cast<unsigned char>(d);
      up_[b] = static_cast<unsigned char>(c);
      a = d;
    } while (a != 0);
  }

  int left_[256], right_[256];
  unsigned char up_[513] = {};
  unsigned char in_buf_[1024], out_buf_[1024], byte_ = 0;
  int bit_pos_ = 0;
  size_t out_fill_ = 0;
  Bytes result_;
};

class SplayCompressorTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const auto& p : {plain_, packed_, unpacked_}) RemoveFile(p);
  }
  Bytes Compress(const Bytes& input) {
    WriteFile(plain_, input);
    EXPECT_EQ(0, compressor_.Compress(plain_, packed_));
    return ReadFile(packed_);
  }
  // Decompresses `packed` and returns the result code.
  int Decompress(const Bytes& packed) {
    WriteFile(packed_, packed);
    return compressor_.Decompress(packed_, unpacked_);
  }
  void ExpectRoundTrip(const Bytes& input) {
    Bytes packed = Compress(input);
    ASSERT_EQ(0, Decompress(packed));
    EXPECT_TRUE(ReadFile(unpacked_) == input) << "size " << input.size();
  }

  std::string plain_ = "splay_test_plain.bin", packed_ = "splay_test_packed.bin",
              unpacked_ = "splay_test_unpacked.bin";
  SplayCompressor compressor_;
};

TEST_F(SplayCompressorTest, ExactCodesOfEmptyAndOneZeroByte) {
  // End symbol 256 is leaf 512: 512 is the right child of 255, which is the
  // left child of 127, ... of 1, the left child of the root: root-first bits
  // 0,0,0,0,0,0,0,0,1, packed from bit 0 up: 00 01.
  EXPECT_EQ(Bytes("\x55\xAA\x02\xFF\x00\x01", 6), Compress(""));
  // Byte 0 is leaf 256, right child of 127, left below 63, 31, ..., 1: bits
  // 0000000 1 = 0x80. Splaying moves 256 under 63, 63 under 15, 15 under 3,
  // 3 under the root (all right), so leaf 512 now sits at root-right-right-
  // right-left(127)-left(255)-right: bits 1,1,1,0,0,1 = 0x27.
  EXPECT_EQ(Bytes("\x55\xAA\x02\xFF\x80\x27", 6), Compress(Bytes(1, '\0')));
}

TEST_F(SplayCompressorTest, RoundTrips) {
  Bytes all(256, '\0');
  for (int i = 0; i < 256; ++i) all[i] = static_cast<char>(i);
  for (const Bytes& input : {Bytes(), all, Bytes(50000, ' '), RandomBytes(3 << 20, 8, 70)})
    ExpectRoundTrip(input);
  TearDown();
  plain_ = "splay_test_\xC3\xA4\xE6\xB5\x8B.bin";  // non-ASCII file names
  packed_ = "splay_test_\xC3\xB6.kvz";
  ExpectRoundTrip(RandomBytes(5000, 11));
}

TEST_F(SplayCompressorTest, OutputMatchesReferenceEncoder) {
  for (size_t size : {1u, 1023u, 1024u, 1025u, 4099u, 70000u}) {
    for (unsigned alphabet : {2u, 65u, 256u}) {
      Bytes input = RandomBytes(size, static_cast<unsigned>(size + alphabet), alphabet);
      ASSERT_EQ(ReferenceEncoder().Encode(input), Compress(input)) << size << " " << alphabet;
    }
  }
  // Sweeps up and down the byte values (the last two up) grow codes of 60
  // bits, longer than the encoder's accumulator takes at once.
  Bytes sweeps;
  for (int pass = 0; pass < 10; ++pass)
    for (int i = 0; i < 256; ++i)
      sweeps.push_back(static_cast<char>(pass % 2 && pass < 8 ? 255 - i : i));
  EXPECT_EQ(ReferenceEncoder().Encode(sweeps), Compress(sweeps));
  ExpectRoundTrip(sweeps);
}

TEST_F(SplayCompressorTest, TruncatedInputFailsAtEveryLength) {
  Bytes packed = Compress(RandomBytes(300, 3));
  // The last byte always holds part of the end code.
  for (size_t cut = 0; cut < packed.size(); ++cut) {
    EXPECT_EQ(-1, Decompress(packed.substr(0, cut))) << cut;
    EXPECT_EQ(cut < 4 ? SplayFailure::kBadMagic : SplayFailure::kTruncated,
              compressor_.last_failure());
  }
}

TEST_F(SplayCompressorTest, GarbageAfterMagicStopsAtEndOfInput) {
  // Eight zero bits walk left from the root, but the leftmost leaf is nine deep.
  EXPECT_EQ(-1, Decompress(Bytes("\x55\xAA\x02\xFF\x00", 5)));
  for (unsigned seed = 1; seed <= 20; ++seed) {
    Bytes packed = "\x55\xAA\x02\xFF" + RandomBytes(2000, seed);
    int rc = Decompress(packed);
    EXPECT_TRUE(rc == 0 || compressor_.last_failure() == SplayFailure::kTruncated);
    // Every symbol costs at least one bit.
    EXPECT_LE(ReadFile(unpacked_).size(), 8 * packed.size());
  }
  // A wrong magic number leaves an empty output.
  WriteFile(unpacked_, "123");
  EXPECT_EQ(-1, Decompress(Bytes("\x55\xAA\x02\xFE\x00\x01", 6)));
  EXPECT_EQ(SplayFailure::kBadMagic, compressor_.last_failure());
  EXPECT_EQ("", ReadFile(unpacked_));
}

TEST_F(SplayCompressorTest, OpenFailuresAreReported) {
  EXPECT_EQ(-1, compressor_.Compress("splay_test_missing.bin", packed_));
  EXPECT_EQ(SplayFailure::kOpenInput, compressor_.last_failure());
  EXPECT_EQ("<missing>", ReadFile(packed_));
  WriteFile(plain_, "1");
  EXPECT_EQ(-1, compressor_.Compress(plain_, "no_such_dir/out.bin"));
  EXPECT_EQ(SplayFailure::kCreateOutput, compressor_.last_failure());
  // Unreadable input and full output: the tool's fault table in tests/hardening.
}

}  // namespace
}  // namespace korvo
