// The converter's blocks, laid at their addresses, against the binary image
// SRecord's srec_cat makes of the same file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "config/srec_converter.h"
#include "config/srec_test_util.h"

namespace korvo {
namespace {

namespace fs = std::filesystem;
using srectest::Block;
using srectest::Region;

bool HaveSrecCat() { return std::system("command -v srec_cat >/dev/null 2>&1") == 0; }

std::string Hex(uint64_t v) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(v));
  return text;
}

// Runs a shell command; its messages are shown only when it fails.
int RunShell(const std::string& command, const fs::path& log) {
  int rc = std::system((command + " >'" + log.string() + "' 2>&1").c_str());
  if (rc != 0) {
    std::vector<uint8_t> text = srectest::ReadAll(log);
    ADD_FAILURE() << command << "\n" << std::string(text.begin(), text.end());
  }
  return rc;
}

class SrecReferenceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveSrecCat()) GTEST_SKIP() << "srec_cat not installed (package srecord); skipped";
    dir_ = srectest::FreshDir("reference");
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  // Converts `srec`, has srec_cat make a binary of it starting at the
  // lowest address, and checks every block against that image; returns the
  // total number of data bytes in blocks.
  size_t CompareWithSrecCat(const fs::path& srec) {
    std::string range;
    fs::path brek = dir_ / "out.brek", filtered = dir_ / "filtered";
    EXPECT_EQ(0, ConvertSrecToBrek(converter_, srec.string(), nullptr, range, brek.string(),
                                   filtered.string()));
    std::string error;
    std::vector<Block> blocks = srectest::ReadBlocks(srectest::ReadAll(brek), error);
    EXPECT_EQ("", error);
    EXPECT_FALSE(blocks.empty());
    if (blocks.empty()) return 0;

    uint64_t low = UINT64_MAX, end = 0;
    size_t total = 0;
    for (const Block& b : blocks) {
      low = std::min<uint64_t>(low, b.address);
      end = std::max<uint64_t>(end, b.address + b.data.size());
      total += b.data.size();
    }
    char text[40];
    std::snprintf(text, sizeof text, "%08llx-%08llx", static_cast<unsigned long long>(low),
                  static_cast<unsigned long long>(end));
    EXPECT_EQ(text, range);

    fs::path bin = dir_ / "ref.bin";
    EXPECT_EQ(0, RunShell("srec_cat '" + srec.string() + "' -offset -" + Hex(low) + " -o '" +
                              bin.string() + "' -binary",
                          dir_ / "log"));
    std::vector<uint8_t> image = srectest::ReadAll(bin);
    EXPECT_EQ(end - low, image.size());
    for (const Block& b : blocks) {
      size_t at = size_t(b.address - low);
      if (at + b.data.size() > image.size()) {
        ADD_FAILURE() << "block at " << Hex(b.address) << " outside the reference image";
        continue;
      }
      EXPECT_TRUE(std::equal(b.data.begin(), b.data.end(), image.begin() + long(at)))
          << "block at " << Hex(b.address);
    }
    return total;
  }

  fs::path dir_;
  SrecToBrekConverter converter_;
};

TEST_F(SrecReferenceTest, OwnFilesOfEveryAddressSize) {
  std::mt19937 random(20261206);
  struct Kind {
    char type;
    uint64_t origin;  // of a 64 KiB window; the S3 one ends at the top of memory
  };
  for (Kind kind : {Kind{'1', 0}, Kind{'2', 0xFE0000}, Kind{'3', 0xFFFF0000}}) {
    SCOPED_TRACE(kind.type);
    // Disjoint regions written out of address order, some back to back.
    std::vector<Region> regions;
    size_t total = 0;
    const uint64_t slot = 0x2000;
    for (uint32_t i = 0; i < 8; ++i) {
      size_t length = 1 + random() % 3000;
      uint64_t base = kind.origin + slot * ((i * 5) % 8) + random() % (slot - 3700);
      regions.push_back({uint32_t(base), srectest::Bytes(length, i + 1)});
      if (i % 3 == 0) {  // a neighbour that continues it in a separate run
        uint64_t next = base + length;
        regions.push_back({uint32_t(next), srectest::Bytes(700, i + 100)});
        total += 700;
      }
      total += length;
    }
    std::string text = srectest::SrecFile(kind.type, regions, 1 + random() % 250, "\r\n");
    fs::path srec = dir_ / "own.srec";
    srectest::WriteText(srec, text);
    EXPECT_EQ(total, CompareWithSrecCat(srec));
  }
}

TEST_F(SrecReferenceTest, FilesWrittenBySrecCat) {
  const char* layouts[] = {
      "-generate 0x0 0x2401 -random -generate 0x8000 0x8003 -repeat-string Korvo "
      "-address-length=2",
      "-generate 0x12345 0x1A000 -random -generate 0x20000 0x20401 -constant 0x5A "
      "-address-length=3 -obs=250",
      "-generate 0x7FFFF000 0x80001000 -random -generate 0x80004000 0x80004100 -random "
      "-address-length=4 -obs=17",
  };
  for (const char* layout : layouts) {
    SCOPED_TRACE(layout);
    fs::path srec = dir_ / "cat.srec";
    ASSERT_EQ(0, RunShell(std::string("srec_cat ") + layout +
                              " -execution-start-address=0 -disable=data-count -o '" +
                              srec.string() + "'",
                          dir_ / "log"));
    EXPECT_GT(CompareWithSrecCat(srec), 0u);
  }
}

}  // namespace
}  // namespace korvo
