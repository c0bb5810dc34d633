#include "config/srec_converter.h"

#include <gtest/gtest.h>

#include "config/srec_test_util.h"
#include "config/temp_files.h"
#include "platform/system.h"

namespace korvo {
namespace {

namespace fs = std::filesystem;
using namespace srectest;

class SrecConvertTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = FreshDir("convert");
    source_ = (dir_ / "in.srec").string();
    brek_ = (dir_ / "out").string();
    filtered_ = (dir_ / "filtered").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  int Convert(const std::string& text, const AddressRangeSelection* selection = nullptr) {
    WriteText(source_, text);
    range_ = "unset";
    return ConvertSrecToBrek(converter_, source_, selection, range_, brek_, filtered_);
  }

  std::vector<Block> Blocks() {
    std::string error;
    std::vector<Block> blocks = ReadBlocks(ReadAll(brek_), error);
    EXPECT_EQ("", error);
    return blocks;
  }

  void ExpectNoFiles() {
    EXPECT_FALSE(fs::exists(brek_));
    EXPECT_FALSE(fs::exists(filtered_));
  }

  fs::path dir_;
  std::string source_, brek_, filtered_, range_;
  SrecToBrekConverter converter_;
};

TEST_F(SrecConvertTest, ContiguousRecordsShareOneBlockWithExactBytes) {
  auto a = Bytes(16, 1), b = Bytes(16, 2);
  // Blank lines, blanks and a DOS end-of-file mark are layout.
  ASSERT_EQ(0, Convert(Record('0', 0, {'h'}) + "\r\n\r\n " + Record('3', 0x1000, a) + " \t\n" +
                       Record('3', 0x1010, b) + Record('7', 0, {}) + "\r\n\x1A"));
  EXPECT_EQ("00001000-00001020", range_);
  std::vector<uint8_t> want = {1, 0, 0, 0, 32, 0, 0, 0x10, 0};
  want.insert(want.end(), a.begin(), a.end());
  want.insert(want.end(), b.begin(), b.end());
  uint8_t sum = 0;
  for (size_t i = 1; i < want.size(); ++i) sum = uint8_t(sum + want[i]);
  want.push_back(uint8_t(-sum));
  for (int c : {1, 0, 0, 0, 0, 0x42, 0x52, 0x45, 0x4B}) want.push_back(uint8_t(c));  // "BREK"
  want.push_back(uint8_t(-('B' + 'R' + 'E' + 'K')));
  EXPECT_EQ(want, ReadAll(brek_));
}

TEST_F(SrecConvertTest, EveryDiscontinuityStartsANewBlock) {
  // Gap upwards, back below, overlap, contiguous, top of memory, then 0:
  // contiguity must not wrap round the address space.
  std::vector<Region> regions = {{0x1000, Bytes(16, 1)},     {0x2000, Bytes(8, 2)},
                                 {0x0800, Bytes(4, 3)},      {0x2004, Bytes(12, 4)},
                                 {0xFFFFFFF0, Bytes(16, 5)}, {0, Bytes(3, 6)}};
  ASSERT_EQ(0, Convert(SrecFile('3', regions)));
  std::vector<Block> blocks = Blocks();
  ASSERT_EQ(6u, blocks.size());
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(regions[i].address, blocks[i].address);
    EXPECT_EQ(regions[i].data, blocks[i].data);
  }
  EXPECT_EQ("00000000-100000000", range_);
  // One byte past the top of memory would wrap onto address 0.
  EXPECT_EQ(kSrecConversionFailed, Convert(SrecFile('3', {{0xFFFFFFF0, Bytes(17, 1)}})));
}

TEST_F(SrecConvertTest, CheckBytesAt1024Boundaries) {
  // 1024: one check byte after the last data byte and no final one; 1025:
  // one after byte 1024 and a final one. 3 MiB outgrows the output buffer,
  // so length and check bytes are corrected in the file.
  for (size_t length : {1024u, 1025u, 3u << 20}) {
    SCOPED_TRACE(length);
    ASSERT_EQ(0, Convert(SrecFile('3', {{0x100, Bytes(length, 5)}, {0, Bytes(1, 1)}}, 250)));
    size_t checks = (length + 1023) / 1024;
    EXPECT_EQ(9 + length + checks + 9 + 1 + 1 + 10, ReadAll(brek_).size());
    std::vector<Block> blocks = Blocks();
    ASSERT_EQ(2u, blocks.size());
    EXPECT_EQ(Bytes(length, 5), blocks[0].data);
  }
}

TEST_F(SrecConvertTest, ShortAddressTypesAndEmptyFile) {
  ASSERT_EQ(0, Convert(SrecFile('1', {{0xFF00, Bytes(256, 9)}})));
  EXPECT_EQ("0000ff00-00010000", range_);
  ASSERT_EQ(0, Convert(SrecFile('2', {{0xABCDE0, Bytes(20, 9)}}) + "trailing junk is not read"));
  EXPECT_EQ("00abcde0-00abcdf4", range_);
  EXPECT_EQ(0xABCDE0u, Blocks().at(0).address);
  ASSERT_EQ(0, Convert(Record('9', 0, {})));
  EXPECT_EQ(10u, ReadAll(brek_).size());
  EXPECT_EQ("ffffffff-00000000", range_);
  // Records need no line breaks, even after the header record, and a
  // long line is no reason to refuse them.
  ASSERT_EQ(0, Convert(SrecFile('3', {{0x2000, Bytes(1200, 7)}}, 32, "") +
                       std::string(1100, ' ')));
  EXPECT_EQ("00002000-000024b0", range_);
  EXPECT_EQ(Bytes(1200, 7), Blocks().at(0).data);
}

std::string Good() { return Record('3', 0x1000, Bytes(16, 3)); }

std::string FlipLast(std::string record) {
  record.back() = record.back() == '0' ? '1' : '0';
  return record;
}

TEST_F(SrecConvertTest, BadInputFailsWithItsCodeAndLeavesNothing) {
  const std::string end = Record('7', 0, {}) + "\n";
  std::string lower = Good();
  for (char& c : lower) c = char(std::tolower(c));
  lower[0] = 'S';
  // Eight lower-case low nibbles shift the sum by 8 * 32: the checksum
  // alone would let the wrong values through.
  std::string balanced = Record('3', 0x1000, {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x0A});
  for (size_t i = 13; i < balanced.size(); i += 2) balanced[i] = char(std::tolower(balanced[i]));
  const std::string head = Record('0', 0, {'h'}) + "\r\n";
  struct {
    const char* name;
    std::string text;
    int line;  // 0: about the whole file
    const char* reason;
  } cases[] = {
      {"WrongChecksum", head + Good() + "\n" + FlipLast(Good()) + "\n" + end, 3,
       "checksum mismatch (found A0, expected AC)"},
      {"LowerCase", head + "\r" + lower + "\n" + end, 3, "lower-case hex digit '"},
      {"LowerCaseBalanced", balanced + "\n" + end, 1, "lower-case hex digit 'a'"},
      {"CountRecord", Good() + "\n" + Record('5', 1, {}) + "\n" + end, 2,
       "S5 count records are not supported; write the file without them (srec_cat: "
       "-disable=data-count)"},
      {"NoEndRecord", head + Good() + "\n", 0, "no end record (S7, S8 or S9)"},
      {"Empty", "", 0, "the file is empty"},
      {"Blank", "\n \n", 0, "the file holds no S-record"},
      {"ByteOrderMark", "\xEF\xBB\xBF" + Good() + "\n" + end, 1, "a UTF-8 byte-order mark"},
      {"Truncated", Good().substr(0, 20) + "\n" + end, 1, "shorter than its byte count"},
      {"CutOff", Good().substr(0, 21), 1, "the file ends inside a record"},
      {"CountBelowThree", "S1020000FD\n" + end, 1, "byte count 02 is too small"},
      {"CountShorterThanAddress", "S3030000FC\n" + end, 1, "byte count 03 is too small"},
      {"LineWithoutS", Good() + "\r\n" + Good().substr(1) + "\n" + end, 2,
       "unexpected '3' where a record should start"},
      {"NotHex", "S1G3", 1, "'G' is not a hex digit"},
      {"UnknownType", "S4", 1, "'S4' is not a supported record type"},
      {"PastTop", Record('3', 0xFFFFFFF8, Bytes(9, 1)) + "\n" + end, 1, "runs past address FFFFFFFF"},
      {"BadEndChecksum", Good() + "\n" + FlipLast(Record('7', 0, {})), 2, "checksum mismatch"},
      // The byte after the end record's address is its checksum, whatever the count says.
      {"LongEndRecord", Good() + "\nS904000000FB\n", 2, "checksum mismatch"},
  };
  for (const auto& bad : cases) {
    SCOPED_TRACE(bad.name);
    SrecReport report;
    WriteText(source_, bad.text);
    range_ = "unset";
    EXPECT_EQ(kSrecConversionFailed,
              ConvertSrecToBrek(converter_, source_, nullptr, range_, brek_, filtered_, &report));
    EXPECT_EQ(bad.line, report.line);
    EXPECT_NE(std::string::npos, report.reason.find(bad.reason)) << report.reason;
    EXPECT_EQ(source_, report.file);
    ExpectNoFiles();
    EXPECT_EQ("unset", range_);
  }
  EXPECT_EQ(kSrecFileError, ConvertSrecToBrek(converter_, (dir_ / "none").string(), nullptr, range_,
                                              brek_, filtered_));
}

TEST_F(SrecConvertTest, FailedWritesAreReported) {
  // A block longer than the buffer must be read back: "wb" cannot be.
  WriteText(source_, SrecFile('3', {{0x1000, Bytes(3 << 20, 1)}}, 250));
  for (const char* out : {"/dev/full", brek_.c_str()}) {
    UniqueFile input(OpenFileUtf8(source_, "rb"));
    UniqueFile output(OpenFileUtf8(out, "wb"));
    if (!output) continue;
    converter_.SetStreams(input.get(), output.get());
    EXPECT_EQ(-1, converter_.Convert()) << out;
    EXPECT_EQ(SrecToBrekConverter::kIoError, converter_.State()) << out;
  }
}

TEST_F(SrecConvertTest, RangeSelectionCutsTheS3RecordsOrFails) {
  std::vector<Region> regions;
  for (uint32_t i = 0; i < 8; ++i) regions.push_back({0x1000 + 0x10 * i, Bytes(16, i)});
  std::string text = SrecFile('3', regions, 16);
  struct {
    AddressRangeSelection selection;
    const char* range;
  } cases[] = {{{"00001020", "00001060"}, "00001020-00001060"},
               {{"00001040", ""}, "00001040-00001080"}};
  for (const auto& c : cases) {
    ASSERT_EQ(0, Convert(text, &c.selection));
    EXPECT_EQ(c.range, range_);
    EXPECT_FALSE(fs::exists(filtered_));
  }
  AddressRangeSelection all{"00001000", ""};
  std::string damaged = text;
  const std::string fifth = Record('3', 0x1050, Bytes(16, 5));
  damaged.replace(damaged.find(fifth), fifth.size(), FlipLast(fifth));
  // A selection that keeps no data record fails, and says why.
  const struct {
    AddressRangeSelection selection;
    std::string text;
    int code;
    int line;
    const char* reason;
  } failures[] = {
      {all, SrecFile('1', {{0x1000, Bytes(64, 1)}}), kSrecNothingKept, 0,
       "the address range selection keeps only S3 data records"},
      {{"00001020", "00001020"}, text, kSrecNothingKept, 0, "no S3 record lies from IncludeAddr"},
      {{"0000100A", ""}, text, kSrecNothingKept, 0, "IncludeAddr 0000100A is the address of no"},
      {{"", ""}, text, kSrecNothingKept, 0, "IncludeAddr is empty"},
      {all, "\r\n\n" + text + "S3" + std::string(1022, '0'), kSrecLineTooLong, 13,
       "the line has 1024 or more characters"},
      // Lines of the source, not of the filtered file.
      {{"00001020", ""}, "\r\n\n" + damaged, kSrecConversionFailed, 9, "checksum mismatch"},
  };
  fs::remove(brek_);
  for (const auto& f : failures) {
    SCOPED_TRACE(f.reason);
    WriteText(source_, f.text);
    SrecReport report;
    EXPECT_EQ(f.code, ConvertSrecToBrek(converter_, source_, &f.selection, range_, brek_,
                                        filtered_, &report));
    EXPECT_EQ(f.line, report.line);
    EXPECT_EQ(0u, report.reason.find(f.reason)) << report.reason;
    ExpectNoFiles();
  }
  // The default temporary files: the filtered file goes, the stream stays.
  WriteText(source_, text);
  ASSERT_EQ(0, ConvertSrecToBrek(converter_, source_, &all, range_));
  EXPECT_EQ("00001000-00001080", range_);
  brek_ = ProcessTempNames().brek;
  EXPECT_EQ(8u * 16, Blocks().at(0).data.size());
  EXPECT_FALSE(fs::exists(ProcessTempNames().srec));
  EXPECT_EQ(0, RemoveFile(ProcessTempNames().brek));
}

TEST(SrecFilterTest, KeepsTheMarkedLinesWithTheirTerminators) {
  fs::path dir = FreshDir("filter");
  std::string s0 = "S00600004844521B\r\n", s7 = "S70500000000FA";  // last line unterminated
  std::string a = "S30900001000AABBCCDDB5\r\n\r\n", b = "S30900001004AABBCCDDB1\n",
              c = "S30900001008AABBCCDDAD\r";
  std::string at_limit = "S3" + std::string(1021, '0') + "\n";  // 1023 characters
  WriteText(dir / "in", s0 + a + "S1\n" + b + c + at_limit + s7);
  auto filter = [&](const char* include, const char* exclude) {
    EXPECT_EQ(0,
              FilterAddressRange((dir / "in").string(), include, exclude, (dir / "out").string()));
    auto bytes = ReadAll(dir / "out");
    return std::string(bytes.begin(), bytes.end());
  };
  EXPECT_EQ(s0 + b + s7, filter("00001004", "00001008"));
  EXPECT_EQ(s0 + a + b + c + at_limit + s7, filter("00001000", ""));
  fs::remove_all(dir);
}

TEST(Crc32Test, KnownValueAndPieces) {
  const char* check = "123456789";
  EXPECT_EQ(0xCBF43926u, Crc32(check, 9));
  EXPECT_EQ(Crc32(check, 9), Crc32(check + 4, 5, Crc32(check, 4)));
}

}  // namespace
}  // namespace korvo
