#include "config/srec_converter.h"

#include <gtest/gtest.h>

#include "config/srec_test_util.h"
#include "config/temp_files.h"
#include "platform/system.h"

namespace korvo {
namespace {

namespace fs = std::filesystem;
using srectest::Block;
using srectest::Bytes;
using srectest::ReadAll;
using srectest::ReadBlocks;
using srectest::Record;
using srectest::Region;
using srectest::SrecFile;
using srectest::WriteText;

class SrecConvertTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = srectest::FreshDir("convert");
    source_ = (dir_ / "in.srec").string();
    brek_ = (dir_ / "out.brek").string();
    filtered_ = (dir_ / "filtered.srec").string();
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

  // After a failure nothing may be left behind.
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
  ASSERT_EQ(0, Convert(Record('0', 0, {'h'}) + "\r\n" + Record('3', 0x1000, a) + "\r\n" +
                       Record('3', 0x1010, b) + "\r\n" + Record('7', 0, {}) + "\r\n"));
  EXPECT_EQ("00001000-00001020", range_);

  std::vector<uint8_t> want = {1, 0, 0, 0, 32, 0, 0, 0x10, 0};
  want.insert(want.end(), a.begin(), a.end());
  want.insert(want.end(), b.begin(), b.end());
  uint8_t sum = 0;
  for (size_t i = 1; i < want.size(); ++i) sum = uint8_t(sum + want[i]);
  want.push_back(uint8_t(-sum));
  // Closing block: 01, 0000 0000, "BREK", check.
  std::vector<uint8_t> closing = {1, 0, 0, 0, 0, 'B', 'R', 'E', 'K'};
  closing.push_back(uint8_t(-('B' + 'R' + 'E' + 'K')));
  want.insert(want.end(), closing.begin(), closing.end());
  EXPECT_EQ(want, ReadAll(brek_));
  EXPECT_FALSE(fs::exists(filtered_));
}

TEST_F(SrecConvertTest, EveryDiscontinuityStartsANewBlock) {
  // Gap upwards, a jump back below, an overlap, then contiguous again.
  std::string text = SrecFile('3', {{0x1000, Bytes(16, 1)}, {0x2000, Bytes(8, 2)},
                                    {0x0800, Bytes(4, 3)}, {0x2004, Bytes(12, 4)}});
  ASSERT_EQ(0, Convert(text));
  std::vector<Block> blocks = Blocks();
  ASSERT_EQ(4u, blocks.size());
  EXPECT_EQ(0x1000u, blocks[0].address);
  EXPECT_EQ(Bytes(16, 1), blocks[0].data);
  EXPECT_EQ(0x2000u, blocks[1].address);
  EXPECT_EQ(0x0800u, blocks[2].address);
  EXPECT_EQ(0x2004u, blocks[3].address);
  EXPECT_EQ(Bytes(12, 4), blocks[3].data);
  EXPECT_EQ("00000800-00002010", range_);
}

TEST_F(SrecConvertTest, CheckBytesAt1024Boundaries) {
  // 1024 bytes: one check byte after the last, no final one; 1025: one
  // after byte 1024 and a final one; 2048 + 7 spans the buffer-free path.
  for (size_t length : {1024u, 1025u, 2055u}) {
    SCOPED_TRACE(length);
    ASSERT_EQ(0, Convert(SrecFile('3', {{0x100, Bytes(length, 5)}}, 40)));
    size_t checks = (length + 1023) / 1024;
    std::vector<uint8_t> stream = ReadAll(brek_);
    ASSERT_EQ(9 + length + checks + 10, stream.size());
    std::vector<Block> blocks = Blocks();
    ASSERT_EQ(1u, blocks.size());
    EXPECT_EQ(Bytes(length, 5), blocks[0].data);
  }
}

TEST_F(SrecConvertTest, BlocksLargerThanTheOutputBufferArePatchedInTheFile) {
  // 3 MiB in one block, then a second block: the first block's length and
  // check bytes are corrected after its data has been written out.
  std::vector<Region> regions = {{0x40000000, Bytes(3 << 20, 7)}, {0x10, Bytes(3000, 8)}};
  ASSERT_EQ(0, Convert(SrecFile('3', regions, 250)));
  std::vector<Block> blocks = Blocks();
  ASSERT_EQ(2u, blocks.size());
  EXPECT_EQ(regions[0].data, blocks[0].data);
  EXPECT_EQ(regions[1].data, blocks[1].data);
  EXPECT_EQ("00000010-40300000", range_);
}

TEST_F(SrecConvertTest, ShortAddressRecordTypes) {
  ASSERT_EQ(0, Convert(SrecFile('1', {{0xFF00, Bytes(256, 9)}})));
  EXPECT_EQ("0000ff00-00010000", range_);
  ASSERT_EQ(1u, Blocks().size());
  ASSERT_EQ(0, Convert(SrecFile('2', {{0xABCDE0, Bytes(20, 9)}})));
  EXPECT_EQ("00abcde0-00abcdf4", range_);
  EXPECT_EQ(0xABCDE0u, Blocks().at(0).address);
}

TEST_F(SrecConvertTest, EndRecordAloneGivesOnlyTheClosingBlock) {
  ASSERT_EQ(0, Convert(Record('0', 0, {}) + "\n" + Record('9', 0, {}) + "\n"));
  EXPECT_EQ(10u, ReadAll(brek_).size());
  EXPECT_TRUE(Blocks().empty());
  EXPECT_EQ("ffffffff-00000000", range_);
}

TEST_F(SrecConvertTest, WhateverFollowsTheEndRecordIsIgnored) {
  std::string text = SrecFile('3', {{0x10, Bytes(4, 1)}}) + "garbage S5 lowercase ff\n";
  ASSERT_EQ(0, Convert(text));
  EXPECT_EQ(1u, Blocks().size());
}

TEST_F(SrecConvertTest, RecordEndingAtTheTopOfTheAddressSpace) {
  ASSERT_EQ(0, Convert(SrecFile('3', {{0xFFFFFFF0, Bytes(16, 1)}})));
  EXPECT_EQ("fffffff0-100000000", range_);
  // One byte more would wrap onto address 0.
  EXPECT_EQ(kSrecConversionFailed, Convert(SrecFile('3', {{0xFFFFFFF0, Bytes(17, 1)}})));
  ExpectNoFiles();
}

TEST_F(SrecConvertTest, ContiguityDoesNotWrapAroundAddressZero) {
  ASSERT_EQ(0, Convert(SrecFile('3', {{0xFFFFFFF0, Bytes(16, 1)}, {0, Bytes(16, 2)}})));
  std::vector<Block> blocks = Blocks();
  ASSERT_EQ(2u, blocks.size());
  EXPECT_EQ(0u, blocks[1].address);
}

struct BadInput {
  const char* name;
  std::string text;
  int code;
};

std::string Good() { return Record('3', 0x1000, Bytes(16, 3)); }

std::string WithChecksumOff(std::string record) {
  char& last = record.back();
  last = last == '0' ? '1' : '0';
  return record;
}

std::string Lowered(std::string record) {
  for (size_t i = 2; i < record.size(); ++i) record[i] = char(std::tolower(record[i]));
  return record;
}

std::vector<BadInput> BadInputs() {
  const std::string end = Record('7', 0, {}) + "\n";
  // Eight low nibbles that are lower-case letters shift the sum by 8 * 32,
  // which no checksum can notice.
  std::string sneaky = Record('3', 0x1000, {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x0A});
  for (size_t i = 13; i < sneaky.size(); i += 2) sneaky[i] = char(std::tolower(sneaky[i]));
  return {
      {"WrongChecksum", WithChecksumOff(Good()) + "\n" + end, kSrecConversionFailed},
      {"LowerCase", Lowered(Good()) + "\n" + end, kSrecConversionFailed},
      {"LowerCaseBalancedChecksum", sneaky + "\n" + end, kSrecConversionFailed},
      {"CountRecord", Good() + "\n" + Record('5', 1, {}) + "\n" + end, kSrecConversionFailed},
      {"S4Record", "S4030000FC\n" + end, kSrecConversionFailed},
      {"NoEndRecord", Good() + "\n", kSrecConversionFailed},
      {"Empty", "", kSrecConversionFailed},
      {"TruncatedRecord", Good().substr(0, 20) + "\n" + end, kSrecConversionFailed},
      {"CountBelowThree", "S1020000FD\n" + end, kSrecConversionFailed},
      {"CountShorterThanAddress", "S3030000FC\n" + end, kSrecConversionFailed},
      {"NonHexDigit", "S1050000G0FA\n" + end, kSrecConversionFailed},
      {"LineWithoutS", Good().substr(1) + "\n" + end, kSrecConversionFailed},
      {"LongLine", Good() + std::string(1100, ' ') + "\n" + end, kSrecLineTooLong},
      {"LongHeader", "S0" + std::string(1100, '0') + "\n" + Good() + "\n" + end,
       kSrecLineTooLong},
      {"BadEndChecksum", Good() + "\n" + WithChecksumOff(end.substr(0, end.size() - 1)),
       kSrecConversionFailed},
  };
}

TEST_F(SrecConvertTest, BadInputFailsWithItsCodeAndLeavesNothing) {
  for (const BadInput& bad : BadInputs()) {
    SCOPED_TRACE(bad.name);
    EXPECT_EQ(bad.code, Convert(bad.text));
    ExpectNoFiles();
    EXPECT_EQ("unset", range_);
  }
}

TEST_F(SrecConvertTest, LayoutBetweenRecordsIsAccepted) {
  std::string text = "\r\n\n  " + Record('3', 0x20, Bytes(3, 1)) + " \t\r\n\r\n" +
                     Record('3', 0x23, Bytes(3, 2)) + Record('7', 0, {}) + "\x1A";
  ASSERT_EQ(0, Convert(text));
  std::vector<Block> blocks = Blocks();
  ASSERT_EQ(1u, blocks.size());
  EXPECT_EQ(6u, blocks[0].data.size());
}

TEST_F(SrecConvertTest, MissingFilesGiveFileError) {
  EXPECT_EQ(kSrecFileError,
            ConvertSrecToBrek(converter_, (dir_ / "none.srec").string(), nullptr, range_, brek_,
                              filtered_));
  WriteText(source_, SrecFile('3', {{0, Bytes(4, 1)}}));
  EXPECT_EQ(kSrecFileError, ConvertSrecToBrek(converter_, source_, nullptr, range_,
                                              (dir_ / "no" / "out").string(), filtered_));
}

TEST_F(SrecConvertTest, FailedWritesAreReportedNotSwallowed) {
  WriteText(source_, SrecFile('3', {{0x1000, Bytes(64, 1)}}));
  UniqueFile input(OpenFileUtf8(source_, "rb"));
  UniqueFile full(OpenFileUtf8("/dev/full", "w+b"));
  if (!full) GTEST_SKIP() << "/dev/full not available";
  converter_.SetStreams(input.get(), full.get());
  EXPECT_EQ(-1, converter_.Convert());
  EXPECT_EQ(SrecToBrekConverter::kIoError, converter_.State());

  // A long block must be read back to be corrected: a write-only output fails.
  WriteText(source_, SrecFile('3', {{0x1000, Bytes(3 << 20, 1)}}, 250));
  UniqueFile input2(OpenFileUtf8(source_, "rb"));
  UniqueFile write_only(OpenFileUtf8(brek_, "wb"));
  converter_.SetStreams(input2.get(), write_only.get());
  EXPECT_EQ(-1, converter_.Convert());
  EXPECT_EQ(SrecToBrekConverter::kIoError, converter_.State());
}

TEST_F(SrecConvertTest, DefaultTemporaryFilesAreUsedAndCleanedUp) {
  const TempNames& names = ProcessTempNames();
  WriteText(source_, SrecFile('3', {{0x1000, Bytes(64, 1)}}));
  AddressRangeSelection all{"00001000", ""};
  std::string range;
  ASSERT_EQ(0, ConvertSrecToBrek(converter_, source_, &all, range));
  EXPECT_TRUE(fs::exists(names.brek));
  EXPECT_FALSE(fs::exists(names.srec));
  EXPECT_EQ("00001000-00001040", range);
  RemoveFile(names.brek);
  WriteText(source_, Good());
  EXPECT_EQ(kSrecConversionFailed, ConvertSrecToBrek(converter_, source_, &all, range));
  EXPECT_FALSE(fs::exists(names.brek));
  EXPECT_FALSE(fs::exists(names.srec));
}

TEST_F(SrecConvertTest, RangeSelectionCutsTheS3Records) {
  std::vector<Region> regions;
  for (uint32_t i = 0; i < 8; ++i) regions.push_back({0x1000 + 0x10 * i, Bytes(16, i)});
  std::string text = SrecFile('3', regions, 16);

  AddressRangeSelection middle{"00001020", "00001060"};
  ASSERT_EQ(0, Convert(text, &middle));
  std::vector<Block> blocks = Blocks();
  ASSERT_EQ(1u, blocks.size());
  EXPECT_EQ(0x1020u, blocks[0].address);
  EXPECT_EQ(64u, blocks[0].data.size());
  EXPECT_EQ("00001020-00001060", range_);
  EXPECT_FALSE(fs::exists(filtered_));

  AddressRangeSelection to_end{"00001040", ""};
  ASSERT_EQ(0, Convert(text, &to_end));
  EXPECT_EQ("00001040-00001080", range_);

  // The same address twice: on and off on one line, only S0 and S7 remain.
  AddressRangeSelection same{"00001020", "00001020"};
  ASSERT_EQ(0, Convert(text, &same));
  EXPECT_TRUE(Blocks().empty());
}

TEST_F(SrecConvertTest, RangeSelectionOnS1FileKeepsNoEndRecord) {
  std::string text = SrecFile('1', {{0x1000, Bytes(64, 1)}});
  ASSERT_EQ(0, Convert(text));
  AddressRangeSelection sel{"00001000", ""};
  EXPECT_EQ(kSrecConversionFailed, Convert(text, &sel));
  ExpectNoFiles();
}

TEST_F(SrecConvertTest, RangeFilterFailuresPassThrough) {
  std::string text = SrecFile('3', {{0x1000, Bytes(64, 1)}});
  std::string long_line = "S3" + std::string(1023, '0') + "\n";
  AddressRangeSelection sel{"00001000", ""};
  EXPECT_EQ(kSrecLineTooLong, Convert(text + long_line, &sel));
  ExpectNoFiles();
  // Only S1 lines and an S9 record: nothing at all is kept.
  std::string s1 = Record('1', 0x10, Bytes(8, 1)) + "\n" + Record('9', 0, {}) + "\n";
  EXPECT_EQ(kSrecNothingKept, Convert(s1, &sel));
  ExpectNoFiles();
}

class SrecFilterTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = srectest::FreshDir("filter"); }
  void TearDown() override { fs::remove_all(dir_); }

  int Filter(const std::string& text, const std::string& include, const std::string& exclude) {
    WriteText(dir_ / "in", text);
    int rc = FilterAddressRange((dir_ / "in").string(), include, exclude, (dir_ / "out").string());
    auto bytes = ReadAll(dir_ / "out");
    out_.assign(bytes.begin(), bytes.end());
    return rc;
  }

  fs::path dir_;
  std::string out_;
};

TEST_F(SrecFilterTest, KeepsTheMarkedLinesWithTheirTerminators) {
  std::string s0 = "S00600004844521B\r\n";
  std::string a = "S30900001000AABBCCDDB5\r\n\r\n";
  std::string b = "S30900001004AABBCCDDB1\n";
  std::string c = "S30900001008AABBCCDDAD\r";
  std::string s7 = "S70500000000FA";  // last line without terminator
  std::string text = s0 + a + "S1\n" + b + c + s7;
  EXPECT_EQ(0, Filter(text, "00001004", "00001008"));
  EXPECT_EQ(s0 + b + s7, out_);
  EXPECT_EQ(0, Filter(text, "00001000", ""));
  EXPECT_EQ(s0 + a + b + c + s7, out_);
  EXPECT_EQ(0, Filter(text, "", ""));
  EXPECT_EQ(s0 + s7, out_);
  // Lower-case include text never matches an upper-case address.
  EXPECT_EQ(0, Filter("S30900000ABCAABBCCDD00\n" + s7, "00000abc", ""));
  EXPECT_EQ(s7, out_);
}

TEST_F(SrecFilterTest, LineLimitAndEmptyResult) {
  std::string at_limit = "S3" + std::string(1021, '0') + "\r\n";  // 1023 characters
  EXPECT_EQ(0, Filter("S0" + at_limit.substr(2), "", ""));
  std::string over = "S3" + std::string(1022, '0');  // 1024 characters, unterminated
  EXPECT_EQ(kSrecLineTooLong, Filter("S00600004844521B\n" + over, "", ""));
  EXPECT_FALSE(fs::exists(dir_ / "out"));
  EXPECT_EQ(kSrecNothingKept, Filter("S1130000\nS9030000FC\n", "00000000", ""));
  EXPECT_FALSE(fs::exists(dir_ / "out"));
  EXPECT_EQ(kSrecFileError,
            FilterAddressRange((dir_ / "missing").string(), "", "", (dir_ / "out").string()));
}

TEST(Crc32Test, KnownValuesAndPieces) {
  const char* check = "123456789";
  EXPECT_EQ(0xCBF43926u, Crc32(check, 9));
  EXPECT_EQ(0u, Crc32(check, 0));
  EXPECT_EQ(Crc32(check, 9), Crc32(check + 4, 5, Crc32(check, 4)));
  std::vector<uint8_t> zeros(32, 0);
  EXPECT_EQ(0x190A55ADu, Crc32(zeros.data(), zeros.size()));
}

}  // namespace
}  // namespace korvo
