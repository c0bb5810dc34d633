// Payloads as the builder writes them pass whole; every flipped bit and every cut is seen.
#include "config/payload_check.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "config/crc32.h"
#include "config/srec_converter.h"
#include "srec_test_util.h"

namespace korvo {
namespace {

using srectest::Bytes;

// What the check says of `payload` fed in pieces of `piece` bytes.
std::string Verdict(const std::string& type, const std::string& payload, size_t piece,
                    std::vector<BrekBlock>* blocks = nullptr) {
  PayloadCheck check(type, blocks);
  for (size_t at = 0; at < payload.size(); at += piece) {
    const size_t n = std::min(piece, payload.size() - at);
    if (!check.Add(reinterpret_cast<const uint8_t*>(payload.data()) + at, n)) break;
  }
  return check.Finish();
}

struct Sound { const char* type; std::string payload; };

// A block stream of three blocks (1025 bytes: a check byte inside and a final one; 1024:
// none final; 30), a "FILE" and S-records, each as the builder makes them.
std::vector<Sound> SoundPayloads() {
  const auto dir = srectest::FreshDir("payload");
  const std::string srec = srectest::SrecFile(
      '3', {{0x1000, Bytes(1025, 1)}, {0x8000, Bytes(1024, 2)}, {0x100, Bytes(30, 3)}});
  srectest::WriteText(dir / "in.s19", srec);
  SrecToBrekConverter converter;
  std::string range;
  const std::string brek = (dir / "out.brek").string();
  EXPECT_EQ(0, ConvertSrecToBrek(converter, (dir / "in.s19").string(), nullptr, range, brek,
                                 (dir / "f.s19").string()));
  std::string stream;
  {
    std::ifstream in(brek, std::ios::binary);
    stream.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }  // closed first: Windows removes no open file
  std::filesystem::remove_all(dir);

  const std::vector<uint8_t> data = Bytes(700, 4);
  const uint32_t crc = Crc32(data.data(), data.size());
  std::string file = {char(crc >> 24), char(crc >> 16), char(crc >> 8), char(crc)};
  file.append(data.begin(), data.end());
  // Two records are enough for the flips; CR LF ends their lines.
  const std::string records = srectest::SrecFile('1', {{0x20, Bytes(40, 5)}}, 20, "\r\n");
  return {{"BREK", stream}, {"BREKBIN", stream}, {"FILE", file}, {"SREC", records}};
}

TEST(PayloadCheckTest, WholePayloadsPassInAnyPieces) {
  for (const Sound& s : SoundPayloads()) {
    SCOPED_TRACE(s.type);
    for (size_t piece : {size_t(1), size_t(7), size_t(1024), s.payload.size()})
      EXPECT_EQ("", Verdict(s.type, s.payload, piece)) << piece;
  }
  std::vector<BrekBlock> blocks;
  EXPECT_EQ("", Verdict("BREK", SoundPayloads()[0].payload, 100, &blocks));
  ASSERT_EQ(3u, blocks.size());
  EXPECT_EQ(0x8000u, blocks[1].address);
  EXPECT_EQ(1024u, blocks[1].length);
  // Other types are not read.
  EXPECT_EQ("", Verdict("BIN", "anything", 3));
  EXPECT_STREQ("", PayloadCheck("BIN").Promise());
}

// Flips that change no record: a hex letter's case, a line-end blank, the header's S1/S2.
bool SameRecords(const std::string& s, size_t at, char b) {
  const char a = s[at];
  return (std::isxdigit(uint8_t(a)) && std::isalpha(uint8_t(a)) &&
          std::tolower(a) == std::tolower(b)) ||
         (a == '\r' && b == '\t') || (at == 1 && (b == '1' || b == '2'));
}

TEST(PayloadCheckTest, EveryFlippedBitAndEveryCutIsDamage) {
  for (const Sound& s : SoundPayloads()) {
    SCOPED_TRACE(s.type);
    size_t missed = 0;
    for (size_t at = 0; at < s.payload.size(); ++at) {
      for (int bit = 0; bit < 8; ++bit) {
        std::string damaged = s.payload;
        damaged[at] = char(damaged[at] ^ (1 << bit));
        if (s.type == std::string("SREC") && SameRecords(s.payload, at, damaged[at])) continue;
        if (Verdict(s.type, damaged, 512).empty()) ++missed, ADD_FAILURE() << at << " bit " << bit;
        if (missed > 3) return;
      }
    }
    for (size_t size = 0; size < s.payload.size(); ++size) {
      // The last line of S-records needs no line end.
      if (s.type == std::string("SREC") && size >= s.payload.size() - 2) continue;
      EXPECT_NE("", Verdict(s.type, s.payload.substr(0, size), 300)) << "cut at " << size;
    }
    EXPECT_NE("", Verdict(s.type, s.payload + '\x01', 300)) << "a byte more";
  }
}

TEST(PayloadCheckTest, SaysWhatIsWrong) {
  const std::string closing = {1, 0, 0, 0, 0, 'B', 'R', 'E', 'K', char(-('B' + 'R' + 'E' + 'K'))};
  const std::string empty_block = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  const std::string ok = srectest::Record('1', 0, {1, 2}), end = srectest::Record('9', 0, {});
  const struct { const char* type; std::string payload, verdict; } rows[] = {
      {"BREK", "", "no data"},
      {"BREK", closing + closing, "bytes after the closing block"},
      {"BREK", empty_block + closing, "a block without data at byte 0 that is not the closing block"},
      {"BREK", std::string("\x01\0\0\0\x02\0\0\0\0\x07\x07\0", 12), "check byte wrong at byte 11 in the block at 00000000"},
      {"BREK", std::string("\x01\0\0\0\x02\0\0\0\0\x07\x07\xF0", 12), "ends without its closing block"},
      {"BREK", std::string("\x01\0\0\0\x02\0\0", 7), "cut short in the block at byte 0"},
      {"FILE", "abc", "shorter than its CRC-32"},
      {"FILE", std::string("\0\0\0\0", 4), ""},  // no data: CRC-32 0
      {"FILE", std::string("\0\0\0\0x", 5), "CRC-32 wrong: the payload says 00000000, its data give 8CDC1683"},
      // Lower-case digits, blank lines and blanks at a line's end are fine.
      {"SREC", "\n" + ok + " \t\n\n" + "s" + end.substr(1), "record 2 is not an S-record"},
      {"SREC", ok + "\n" + end + "\n" + ok, "record 3 follows the end record"},
      {"SREC", "S102FFFF\n" + end, "record 1 has a count too small for its address"},
      {"SREC", "S1040000FC\n" + end, "record 1 has a count that is not its length"},
      {"SREC", "S10400000\n" + end, "record 1 has an odd number of hex digits"},
      {"SREC", "S1 4000000\n" + end, "record 1 holds a character that is no hex digit"},
      {"SREC", "S10500000102F6\n" + end, "record 1 has a wrong checksum"},
      {"SREC", "S10500000102f7\n" + end + "\n\n", ""},
      {"SREC", ok + "\n", "ends without an end record (S7, S8 or S9)"},
      {"SREC", "S4030000FC\n" + end, "record 1 is not an S-record"},
      {"SREC", ok + "\n" + srectest::Record('5', 1, {}) + "\n" + end, ""},
      {"SREC", ok + "\n" + srectest::Record('5', 2, {}) + "\n" + end,
       "record 2 counts 2 data records, not 1"},
      {"SREC", ok + "\nS0030000FC\n" + end, "record 2 is a header record after the first"},
      {"SREC", ok + "\n" + srectest::Record('2', 0, {1}) + "\n" + end,
       "record 2 is an S2 record among S1 records"},
      {"SREC", "S1" + std::string(1100, '0'), "record 1 is longer than any S-record"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.verdict);
    EXPECT_EQ(row.verdict, Verdict(row.type, row.payload, 5));
  }
}

}  // namespace
}  // namespace korvo
