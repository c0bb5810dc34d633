#include "config/srec_converter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "config/srec_test_util.h"
#include "platform/system.h"
#include "support/files.h"

namespace korvo {
namespace {

namespace fs = std::filesystem;
using namespace srectest;
using namespace std::string_literals;
using test_support::ReadFile;

const std::string kClosingBlock = "\x01\0\0\0\0BREK\xDC"s;

class SrecConvertTest : public ::testing::Test {
 protected:
  void TearDown() override { fs::remove_all(dir_); }

  // Converts `text`; a failure leaves neither a file nor a range behind.
  int Convert(const std::string& text, const AddressRangeSelection* selection = nullptr) {
    WriteText(source_, text);
    fs::remove(brek_);
    range_ = "unset";
    report_ = SrecReport();
    int rc = ConvertSrecToBrek(converter_, source_, selection, range_, brek_, filtered_, &report_);
    EXPECT_FALSE(fs::exists(filtered_));
    EXPECT_TRUE(rc == 0 || (range_ == "unset" && !fs::exists(brek_))) << range_;
    return rc;
  }

  std::vector<Block> Blocks() {
    std::string error;
    std::vector<Block> blocks = ReadBlocks(ReadFile(brek_), error);
    EXPECT_EQ("", error);
    return blocks;
  }

  fs::path dir_ = FreshDir("convert");
  std::string source_ = (dir_ / "in.srec").string(), brek_ = (dir_ / "out").string(),
              filtered_ = (dir_ / "filtered").string(), range_;
  SrecReport report_;
  SrecToBrekConverter converter_;
};

TEST_F(SrecConvertTest, BlocksFollowTheRecordsExactly) {
  const std::string a = "0123456789ABCDEF", b = "fedcba9876543210";
  // Blank lines, blanks and a DOS end-of-file mark are layout; no line break is needed.
  ASSERT_EQ(0, Convert(Record('0', 0, {'h'}) + "\r\n\r\n " +
                       Record('3', 0x1000, {a.begin(), a.end()}) + " \t\n" +
                       Record('3', 0x1010, {b.begin(), b.end()}) + Record('7', 0, {}) +
                       "\r\n\x1A"));
  EXPECT_EQ("00001000-00001020", range_);
  EXPECT_EQ("\x01\0\0\0\x20\0\0\x10\0"s + a + b + "\xCC" + kClosingBlock, ReadFile(brek_));
  ASSERT_EQ(0, Convert(Record('9', 0, {})));
  EXPECT_EQ(kClosingBlock, ReadFile(brek_));
  EXPECT_EQ("ffffffff-00000000", range_);
  ASSERT_EQ(1u, report_.warnings.size());  // built, and said
  EXPECT_EQ("holds no data record: the block stream is the closing block alone (0 blocks, address"
            " range ffffffff-00000000)", report_.warnings[0].text);
  // Nor after the header record; what follows the end record is not read.
  ASSERT_EQ(0, Convert(SrecFile('1', {{0x2000, Bytes(1200, 7)}}, 32, "") + "S" +
                       std::string(1100, ' ')));
  EXPECT_EQ("00002000-000024b0", range_);
  EXPECT_EQ((std::vector<Block>{{0x2000, Bytes(1200, 7)}}), Blocks());
  // Gap up, back below, overlap, contiguous, top of memory, then 0: no wrapping round.
  const std::vector<Region> regions = {{0x1000, Bytes(16, 1)}, {0x2000, Bytes(8, 2)},
                                       {0x0800, Bytes(4, 3)},  {0x2004, Bytes(12, 4)},
                                       {0xFFFFFFF0, Bytes(16, 5)}, {0, Bytes(3, 6)}};
  ASSERT_EQ(0, Convert(SrecFile('3', regions)));
  EXPECT_EQ(regions, Blocks());
  EXPECT_EQ("00000000-100000000", range_);
}

TEST_F(SrecConvertTest, CheckBytesAt1024BoundariesLimitsAndFailedWrites) {
  // 1024 bytes: a check byte after the last, no final one; 1025: one after byte 1024
  // and a final one; 3 MiB outgrow every buffer, looked at ahead and written.
  for (size_t length : {1024u, 1025u, 3u << 20}) {
    SCOPED_TRACE(length);
    ASSERT_EQ(0, Convert(SrecFile('3', {{0, Bytes(1, 1)}, {0x100, Bytes(length, 5)}}, 250)));
    EXPECT_EQ(9 + 1 + 1 + 9 + length + (length + 1023) / 1024 + 10, fs::file_size(brek_));
    EXPECT_EQ(Bytes(length, 5), Blocks().at(1).data);
  }
  // The output is written front to back; a write that fails fails the conversion.
  for (const char* out : {"/dev/full", brek_.c_str()}) {
    UniqueFile input(OpenFileUtf8(source_, "rb"));
    UniqueFile output(OpenFileUtf8(out, "wb"));
    if (!output) continue;
    converter_.SetStreams(input.get(), output.get());
    const bool full = out != brek_;
    EXPECT_EQ(full ? -1 : 0, converter_.Convert()) << out;
    EXPECT_EQ(full ? SrecToBrekConverter::kIoError : SrecToBrekConverter::kFinished,
              converter_.State()) << out;
  }
  EXPECT_EQ(Bytes(3u << 20, 5), Blocks().at(1).data);
  // The image is bounded, not the text: one byte more than it may hold is refused.
  converter_.SetImageLimit(3u << 20);
  EXPECT_EQ(kSrecFileError,
            Convert(SrecFile('3', {{0, Bytes(1, 1)}, {0x100, Bytes(3u << 20, 5)}})));
  EXPECT_EQ(0u, report_.reason.find("too large (its records hold more than 3145728 bytes of data;"))
      << report_.reason;
  EXPECT_EQ(0, Convert(SrecFile('3', {{0x100, Bytes(3u << 20, 5)}})));
}

std::string Good() { return Record('3', 0x1000, Bytes(16, 3)); }

std::string FlipLast(std::string record) {
  record.back() = record.back() == '0' ? '1' : '0';
  return record;
}

TEST_F(SrecConvertTest, BadInputOrSelectionFailsWithItsCodeAndLeavesNothing) {
  const std::string end = Record('7', 0, {}) + "\n", head = Record('0', 0, {'h'}) + "\r\n";
  // Eight lower-case low nibbles shift the sum by 8 * 32: the checksum still matches.
  std::string balanced = Record('3', 0x1000, {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x0A});
  for (size_t i = 13; i < balanced.size(); i += 2) balanced[i] = char(std::tolower(balanced[i]));
  std::vector<Region> regions;
  for (uint32_t i = 0; i < 8; ++i) regions.push_back({0x1000 + 0x10 * i, Bytes(16, i)});
  const std::string text = SrecFile('3', regions, 16), fifth = Record('3', 0x1050, Bytes(16, 5));
  std::string damaged = text;
  damaged.replace(damaged.find(fifth), fifth.size(), FlipLast(fifth));
  const AddressRangeSelection all{"00001000", ""}, same{"00001020", "00001020"},
      unaligned{"0000100A", ""}, empty{"", ""}, from_1020{"00001020", ""};
  const struct {  // line 0: about the whole file
    std::string text; int line; const char* reason; int code = kSrecConversionFailed;
    const AddressRangeSelection* selection = nullptr;
  } cases[] = {
      {head + Good() + "\r" + FlipLast(Good()) + "\n" + end, 3, "checksum mismatch (found A0, "},
      {balanced + "\n" + end, 1, "lower-case hex digit 'a'"},
      {Good() + "\n" + Record('5', 1, {}) + "\n" + end, 2, "S5 count records are not supported"},
      {head + Good() + "\n", 0, "no end record (S7, S8 or S9)"},
      {"", 0, "the file is empty"},
      {"\n \n", 0, "the file holds no S-record"},
      {"\xEF\xBB\xBF" + Good() + "\n" + end, 1, "a UTF-8 byte-order mark"},
      {Good().substr(0, 20) + "\n" + end, 1, "the record is shorter than its byte count"},
      {Good().substr(0, 21), 1, "the file ends inside a record"},
      {"S1020000FD\n" + end, 1, "byte count 02 is too small"},
      {"S3030000FC\n" + end, 1, "byte count 03 is too small"},
      {Good() + "\r\n" + Good().substr(1) + "\n" + end, 2, "unexpected '3' where a record"},
      {"S1G3", 1, "'G' is not a hex digit"},
      {"S4", 1, "'S4' is not a supported record type"},
      // One byte past the top of memory would wrap onto address 0.
      {Record('3', 0xFFFFFFF8, Bytes(9, 1)) + "\n" + end, 1, "the record's data runs past"},
      {Good() + "\n" + FlipLast(Record('7', 0, {})), 2, "checksum mismatch"},
      // The byte after the end record's address is its checksum, whatever the count says.
      {Good() + "\nS904000000FB\n", 2, "checksum mismatch"},
      // A selection that keeps no data record fails, and says why.
      {SrecFile('1', {{0x1000, Bytes(64, 1)}}), 0,
       "the address range selection keeps only S3 data records", kSrecNothingKept, &all},
      {text, 0, "no S3 record lies from IncludeAddr", kSrecNothingKept, &same},
      {text, 0, "IncludeAddr 0000100A is the address of no", kSrecNothingKept, &unaligned},
      {text, 0, "IncludeAddr is empty", kSrecNothingKept, &empty},
      {"\r\n\n" + text + "S3" + std::string(1022, '0'), 13, "the line has 1024 or more",
       kSrecLineTooLong, &all},
      // Lines of the source, not of the filtered file.
      {"\r\n\n" + damaged, 9, "checksum mismatch", kSrecConversionFailed, &from_1020},
  };
  for (const auto& bad : cases) {
    SCOPED_TRACE(bad.reason);
    EXPECT_EQ(bad.code, Convert(bad.text, bad.selection));
    EXPECT_EQ(bad.line, report_.line);
    EXPECT_EQ(0u, report_.reason.find(bad.reason)) << report_.reason;
    EXPECT_EQ(source_, report_.file);
  }
}

// The filter keeps the marked lines with their terminators; 1023 characters are a line.
TEST_F(SrecConvertTest, FilterKeepsTheMarkedLinesWithTheirTerminators) {
  const std::string s0 = "S00600004844521B\r\n", a = "S30900001000AABBCCDDB5\r\n\r\n",
                    b = "S30900001004AABBCCDDB1\n", c = "S30900001008AABBCCDDAD\r",
                    long_line = "S3" + std::string(1021, '0') + "\n", s7 = "S70500000000FA";
  WriteText(source_, s0 + a + "S1\n" + b + c + long_line + s7);
  EXPECT_EQ(0, FilterAddressRange(source_, "00001004", "00001008", filtered_));
  EXPECT_EQ(s0 + b + s7, ReadFile(filtered_));
  EXPECT_EQ(0, FilterAddressRange(source_, "00001000", "", filtered_));
  EXPECT_EQ(s0 + a + b + c + long_line + s7, ReadFile(filtered_));
}

// The blocks, laid at their addresses, against the image srec_cat makes.
TEST_F(SrecConvertTest, BlocksMatchTheImagesOfSrecCat) {
  if (std::system("command -v srec_cat >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "srec_cat not installed (package srecord)";
  // Runs srec_cat (SRecord); its messages are shown only when it fails.
  auto srec_cat = [&](const std::string& args) {
    const int rc = std::system(("srec_cat " + args + " >'" + brek_ + ".log' 2>&1").c_str());
    EXPECT_EQ(0, rc) << args << "\n" << ReadFile(brek_ + ".log");
    return rc;
  };
  std::vector<std::pair<std::string, size_t>> files;  // with their number of data bytes
  // 64 KiB windows (S3's at the top of memory), regions out of order, some back to back.
  std::mt19937 random(20261206);
  for (auto [type, origin] :
       {std::pair<char, uint64_t>{'1', 0}, {'2', 0xFE0000}, {'3', 0xFFFF0000}}) {
    std::vector<Region> regions;
    size_t total = 0;
    for (uint32_t i = 0; i < 8; ++i) {
      const size_t length = 1 + random() % 3000;
      const uint64_t base = origin + 0x2000 * ((i * 5) % 8) + random() % (0x2000 - 3700);
      regions.push_back({uint32_t(base), Bytes(length, i + 1)});
      if (i % 3 == 0) regions.push_back({uint32_t(base + length), Bytes(700, i + 100)});
      total += length + (i % 3 == 0 ? 700 : 0);
    }
    files.push_back({SrecFile(type, regions, 1 + random() % 250, "\r\n"), total});
  }
  const std::pair<const char*, size_t> written_by_srec_cat[] = {
      {"-generate 0x0 0x2401 -random -generate 0x8000 0x8003 -repeat-string Korvo "
       "-address-length=2", 0x2401 + 3},
      {"-generate 0x12345 0x1A000 -random -generate 0x20000 0x20401 -constant 0x5A "
       "-address-length=3 -obs=250", 0x1A000 - 0x12345 + 0x401},
      {"-generate 0x7FFFF000 0x80001000 -random -generate 0x80004000 0x80004100 -random "
       "-address-length=4 -obs=17", 0x2000 + 0x100}};
  for (auto [layout, total] : written_by_srec_cat) {
    ASSERT_EQ(0, srec_cat(layout + " -execution-start-address=0 -disable=data-count -o '"s +
                          source_ + "'"));
    files.push_back({ReadFile(source_), total});
  }
  for (const auto& [text, total] : files) {
    SCOPED_TRACE(text.substr(0, 60));
    ASSERT_EQ(0, Convert(text));
    uint64_t low = UINT64_MAX, end = 0;
    size_t bytes = 0;
    for (const Block& b : Blocks()) {
      low = std::min<uint64_t>(low, b.address);
      end = std::max<uint64_t>(end, b.address + b.data.size());
      bytes += b.data.size();
    }
    EXPECT_EQ(total, bytes);
    char range[40];
    std::snprintf(range, sizeof range, "%08llx-%08llx", static_cast<unsigned long long>(low),
                  static_cast<unsigned long long>(end));
    EXPECT_EQ(range, range_);
    const std::string image = (dir_ / "image").string();
    srec_cat("'" + source_ + "' -offset -" + std::to_string(low) + " -o '" + image + "' -binary");
    std::string laid(end - low, '\0');
    for (const Block& b : Blocks())
      std::copy(b.data.begin(), b.data.end(), laid.begin() + long(b.address - low));
    EXPECT_TRUE(laid == ReadFile(image));
  }
}

}  // namespace
}  // namespace korvo
