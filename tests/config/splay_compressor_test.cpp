#include "config/splay_compressor.h"

#include <gtest/gtest.h>

#include <filesystem>
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

// An encoder written bit by bit from the format description.
class ReferenceEncoder {
 public:
  Bytes Encode(const Bytes& input) {
    for (int i = 0; i < 256; ++i) left_[i] = 2 * i + 1, right_[i] = 2 * i + 2;
    for (int i = 1; i < 513; ++i) up_[i] = (i - 1) / 2;
    for (unsigned char b : input) EncodeSymbol(b);
    EncodeSymbol(256);
    if (bit_pos_ != 0) out_ += char(byte_);
    return out_;
  }

 private:
  void EncodeSymbol(int s) {
    std::vector<bool> bits;  // leaf first
    for (int a = 256 + s; a != 0; a = up_[a]) bits.push_back(right_[up_[a]] == a);
    for (auto it = bits.rbegin(); it != bits.rend(); ++it) {
      byte_ |= int(*it) << bit_pos_;
      if (++bit_pos_ == 8) out_ += char(byte_), byte_ = 0, bit_pos_ = 0;
    }
    // Semi-splay: a swaps with its parent's sibling, then goes on from its grandparent.
    for (int a = 256 + s; up_[a] != 0;) {
      int c = up_[a], d = up_[c], b = left_[d];
      if (c == b) b = right_[d], right_[d] = a;
      else left_[d] = a;
      if (a == left_[c]) left_[c] = b;
      else right_[c] = b;
      up_[a] = d;
      up_[b] = c;
      a = d;
    }
  }

  int left_[256], right_[256], up_[513] = {};
  int byte_ = 0, bit_pos_ = 0;
  Bytes out_ = "\x55\xAA\x02\xFF";
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
  int Decompress(const Bytes& packed) {
    WriteFile(packed_, packed);
    return compressor_.Decompress(packed_, unpacked_);
  }

  // Non-ASCII names: the files are opened through their UTF-8 paths.
  std::string plain_ = "splay_test_\xC3\xA4\xE6\xB5\x8B.bin", packed_ = "splay_test_\xC3\xB6.kvz",
              unpacked_ = "splay_test_unpacked.bin";
  SplayCompressor compressor_;
};

TEST_F(SplayCompressorTest, ExactCodesOfEmptyAndOneZeroByte) {
  // First tree: the end symbol's code is 0,0,0,0,0,0,0,0,1 (root first, from bit 0 up),
  // byte 0's 0,0,0,0,0,0,0,1; after byte 0's splay the end symbol's is 1,1,1,0,0,1.
  EXPECT_EQ(Bytes("\x55\xAA\x02\xFF\x00\x01", 6), Compress(""));
  EXPECT_EQ(Bytes("\x55\xAA\x02\xFF\x80\x27", 6), Compress(Bytes(1, '\0')));
}

TEST_F(SplayCompressorTest, OutputMatchesReferenceEncoderAndRoundTrips) {
  Bytes all(256, '\0'), sweeps;
  for (int i = 0; i < 256; ++i) all[i] = static_cast<char>(i);
  // Sweeps up and down (the last two up) grow codes longer than the accumulator takes.
  for (int pass = 0; pass < 10; ++pass)
    for (int i = 0; i < 256; ++i) sweeps += static_cast<char>(pass % 2 && pass < 8 ? 255 - i : i);
  std::vector<Bytes> inputs = {Bytes(), all, sweeps, Bytes(50000, ' '),
                               RandomBytes(3 << 20, 8, 70)};
  for (size_t size : {1u, 1023u, 1024u, 1025u, 4099u, 70000u})
    for (unsigned alphabet : {2u, 65u, 256u})
      inputs.push_back(RandomBytes(size, static_cast<unsigned>(size + alphabet), alphabet));
  for (const Bytes& input : inputs) {
    SCOPED_TRACE(input.size());
    const Bytes packed = Compress(input);
    // The reference is too slow for megabytes.
    EXPECT_TRUE(input.size() > 100000 || ReferenceEncoder().Encode(input) == packed);
    ASSERT_EQ(0, compressor_.Decompress(packed_, unpacked_));
    EXPECT_TRUE(ReadFile(unpacked_) == input);
  }
  // Open streams give the same bytes as the files, and are left open.
  for (int decompress = 0; decompress < 2; ++decompress) {
    const Bytes input = decompress ? Compress(sweeps) : sweeps;
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    ASSERT_TRUE(in && out);
    std::fwrite(input.data(), 1, input.size(), in);
    std::rewind(in);
    EXPECT_EQ(0, decompress ? compressor_.Decompress(in, out) : compressor_.Compress(in, out));
    Bytes got(size_t(std::ftell(out)), '\0');
    std::rewind(out);
    EXPECT_EQ(got.size(), std::fread(&got[0], 1, got.size(), out));
    EXPECT_TRUE(got == (decompress ? sweeps : Compress(sweeps)));
    std::fclose(in);
    std::fclose(out);
  }
  EXPECT_EQ(-1, compressor_.Decompress(nullptr, nullptr));
}

TEST_F(SplayCompressorTest, DamagedInputAndMissingFilesFail) {
  // The last byte always holds part of the end code.
  const Bytes packed = Compress(RandomBytes(300, 3));
  for (size_t cut = 0; cut < packed.size(); ++cut) {
    EXPECT_EQ(-1, Decompress(packed.substr(0, cut))) << cut;
    EXPECT_EQ(cut < 4 ? SplayFailure::kBadMagic : SplayFailure::kTruncated,
              compressor_.last_failure());
  }
  // Eight zero bits walk left from the root, but the leftmost leaf is nine deep.
  EXPECT_EQ(-1, Decompress(Bytes("\x55\xAA\x02\xFF\x00", 5)));
  for (unsigned seed = 1; seed <= 20; ++seed) {
    const Bytes garbage = "\x55\xAA\x02\xFF" + RandomBytes(2000, seed);
    EXPECT_TRUE(Decompress(garbage) == 0 || compressor_.last_failure() == SplayFailure::kTruncated);
    // Every symbol costs at least one bit.
    EXPECT_LE(ReadFile(unpacked_).size(), 8 * garbage.size());
  }
  // A wrong magic number leaves an empty output.
  EXPECT_EQ(-1, Decompress(Bytes("\x55\xAA\x02\xFE\x00\x01", 6)));
  EXPECT_EQ(SplayFailure::kBadMagic, compressor_.last_failure());
  EXPECT_EQ("", ReadFile(unpacked_));
  RemoveFile(packed_);
  EXPECT_EQ(-1, compressor_.Compress("splay_test_missing.bin", packed_));
  EXPECT_EQ(SplayFailure::kOpenInput, compressor_.last_failure());
  EXPECT_EQ("<missing>", ReadFile(packed_));
  EXPECT_EQ(-1, compressor_.Compress(plain_, "no_such_dir/out.bin"));
  EXPECT_EQ(SplayFailure::kCreateOutput, compressor_.last_failure());
  // Inputs are regular files of bounded size, so that none can run for ever.
  std::vector<std::pair<std::string, SplayFailure>> inputs = {{".", SplayFailure::kInputNotFile}};
#ifndef _WIN32
  inputs.push_back({"/dev/zero", SplayFailure::kInputNotFile});
  test_support::WriteFile("splay_test_huge.bin", "");
  std::filesystem::resize_file("splay_test_huge.bin", kMaxSplayInputBytes + 1);  // sparse
  inputs.push_back({"splay_test_huge.bin", SplayFailure::kInputTooLarge});
#endif
  for (const auto& [input, why] : inputs) {
    EXPECT_EQ(-1, compressor_.Compress(input, packed_)) << input;
    EXPECT_EQ(why, compressor_.last_failure()) << input;
    EXPECT_EQ(-1, compressor_.Decompress(input, unpacked_)) << input;
    EXPECT_EQ(why, compressor_.last_failure()) << input;
  }
  RemoveFile("splay_test_huge.bin");
}

}  // namespace
}  // namespace korvo
