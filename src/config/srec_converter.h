// Turning Motorola S-records into the BREK block stream, the payload of the
// "BREK" and "BREKBIN" data types, optionally cut to an address range first
// (payload_embedding.h puts payloads into a configuration).
//
// BREK block stream, all numbers most significant byte first:
//   0x01, length L (4), load address (4), L data bytes with a check byte
//   after every 1024th, and a final check byte when L is not a multiple of
//   1024. A check byte is the two's complement of the 8-bit sum of the
//   block's length, address and data bytes before it. After the last block
//   comes 0x01, 00 00 00 00, "BREK", check byte.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace korvo {

// Result codes (configuration builder band).
constexpr int kSrecNothingKept = -41;       // range filter kept no data record
constexpr int kSrecFileError = -42;         // a file cannot be opened, read or written
constexpr int kSrecLineTooLong = -43;       // a line of 1024 or more characters
constexpr int kSrecConversionFailed = -48;  // S-record data malformed or incomplete

// What a conversion code means; "" for a code outside the conversions.
const char* SrecResultText(int code);

// Where and why an S-record file was refused, and what in it looked doubtful.
// It travels beside the unchanged result code, for the user to read.
struct SrecNote {
  int line = 0;  // 1-based; 0 when about the whole file
  std::string text;
};
struct SrecReport {
  std::string file;    // the file concerned; "" when not known
  int line = 0;        // 1-based line of the fault; 0 when about the whole file
  std::string reason;  // "" when nothing failed
  std::vector<SrecNote> warnings;

  // "file: line N: reason", leaving out what is unknown.
  std::string Text() const { return Text(line, reason); }
  std::string Text(const SrecNote& note) const { return Text(note.line, note.text); }
  std::string Text(int at_line, const std::string& what) const;
  void Fail(std::string why, int at_line = 0) {
    reason = std::move(why);
    line = at_line;
  }
};

// Lines of this many characters or more (terminators not counted) are refused
// by the range filter.
constexpr size_t kSrecMaxLineLength = 1024;

// Streams S-records from `input` into the block stream on `output`.
// Records are taken in file order: contiguous records share a block, any
// other address starts a new one; nothing is sorted, merged or padded.
// The block stream is written once, front to back: the records of each
// block are looked at ahead for its length, so the input is read twice in
// parts and must be a file that can be positioned.
class SrecToBrekConverter final {
 public:
  // Conversion states.
  static constexpr int kFinished = 0;
  static constexpr int kFormatError = 1;  // bad record or digit, no end record
  static constexpr int kRunning = 2;
  static constexpr int kChecksumError = 3;
  static constexpr int kIoError = 4;      // reading the input or writing the output failed
  static constexpr int kTooLarge = 5;     // the records hold more data than an image may have

  SrecToBrekConverter();
  virtual ~SrecToBrekConverter();
  SrecToBrekConverter(const SrecToBrekConverter&) = delete;
  SrecToBrekConverter& operator=(const SrecToBrekConverter&) = delete;

  // "llllllll-eeeeeeee": lowest data address and the end of the highest
  // record (lower-case hex). "ffffffff-00000000" when no data was seen.
  virtual std::string GetAddressRangeText() const;
  // The converter reads and writes these from their current positions and
  // neither owns nor closes them.
  virtual void SetStreams(std::FILE* input, std::FILE* output);
  // The most data bytes the records may hold (kMaxImageBytes unless set).
  void SetImageLimit(uint64_t bytes) { max_image_bytes_ = bytes; }
  // 0 when an end record was reached and everything was written, -1
  // otherwise; State() tells why. Reading may run ahead of the end record.
  virtual int Convert();

  int State() const { return state_; }
  // Why the last Convert failed (line, reason) and its warnings about
  // repeated, overlapping or descending records; `file` is left empty.
  const SrecReport& Report() const { return report_; }

 private:
  virtual uint8_t ReadHexByte();
  virtual void FinishBlock();
  virtual void WriteByte(uint8_t byte);
  virtual void WriteU32(uint32_t value);

  int Run();
  int NextChar();
  bool RefillInput();
  bool SkipToRecord();
  void SkipHeaderRecord();
  bool ReadRecordHead(int address_bytes, uint32_t& address);
  void ReadDataRecord(int address_bytes);
  void ReadEndRecord(int address_bytes);
  void ReadRecordChecksum();
  void StartBlock(uint32_t address);
  uint64_t MeasureBlock(uint32_t address);
  void WriteCheckByte();
  bool FlushOutput();
  void Fail(int state, std::string reason);
  void FailDigit(int c);
  std::string ForeignFormatText(int c) const;
  void NoteOrder(uint32_t address, uint64_t end);
  void Warn(int kind, uint32_t address);
  void FinishWarnings();

  std::FILE* input_ = nullptr;
  std::FILE* output_ = nullptr;
  int state_ = kRunning;
  int phase_ = 5;  // 5 before the first data record, 6 with a block open
  uint8_t record_sum_ = 0;
  int remaining_ = 0;  // bytes of the record still to read, checksum included
  uint32_t record_address_ = 0;
  uint64_t next_address_ = 0;  // 64 bits: a record may end exactly at 4 GiB
  uint32_t low_address_ = 0xFFFFFFFF;
  uint64_t end_address_ = 0;
  uint32_t block_length_ = 0;
  uint32_t expected_length_ = 0;  // of the open block, found by looking ahead
  uint8_t block_sum_ = 0;
  int until_check_ = 1023;
  bool read_failed_ = false;
  bool write_failed_ = false;
  uint64_t data_bytes_ = 0;
  uint64_t max_image_bytes_;

  // Diagnostics: the line being read, data seen so far (merged, start to
  // end) and, per kind of doubtful order, its count and first occurrence.
  SrecReport report_;
  int line_ = 1;
  int last_char_ = -1;
  bool any_record_ = false;
  uint64_t run_start_ = 0;
  std::map<uint64_t, uint64_t> seen_;
  int warning_count_[3] = {};
  SrecNote first_warning_[3];

  // The buffers are not cleared when made: only bytes read or written into
  // them are ever used.
  std::unique_ptr<char[]> in_buf_;
  const char* in_pos_ = nullptr;
  const char* in_end_ = nullptr;

  std::unique_ptr<char[]> look_buf_;  // input read while looking ahead

  std::unique_ptr<uint8_t[]> out_buf_;
  size_t out_used_ = 0;
};

// IncludeAddr and ExcludeAddr formatted "%08.8X", or empty.
struct AddressRangeSelection {
  std::string include;
  std::string exclude;
};

// Copies from `source_path` into `output_path` the S3 lines from the one whose address text equals
// `include` up to, not including, the one whose address text equals
// `exclude`, plus every S0 and S7 line (any line of 12 or more characters
// between the two marks is kept, whatever its type). 0 when a data record
// was kept; kSrecNothingKept when none was (S0 and S7 lines alone would
// convert to a payload without firmware), kSrecFileError or
// kSrecLineTooLong otherwise, and then `output_path` is removed and
// `report` (may be null) says why.
int FilterAddressRange(const std::string& source_path, const std::string& include,
                       const std::string& exclude, const std::string& output_path,
                       SrecReport* report = nullptr);

// Converts `source_path` (cut to `selection` first when not null) into
// `brek_path`, with `filtered_path` (default: a new "SRECTMP" temporary
// file) as the filter's output. On success (0) range_text is
// the converter's address range. The filtered file is always removed; the
// block stream is removed on failure and left for the caller to embed (and
// remove) on success. Codes: -41, -42, -43 from the filter; kSrecFileError
// when a file cannot be opened, read or written, or the records hold more
// data than an image may have; kSrecConversionFailed for anything wrong in
// the data. The S-record text itself has no size limit. `report` (may be
// null) receives the reason of a failure, with lines of the source file,
// and the warnings.
int ConvertSrecToBrek(SrecToBrekConverter& converter, const std::string& source_path,
                      const AddressRangeSelection* selection, std::string& range_text,
                      const std::string& brek_path, const std::string& filtered_path = "",
                      SrecReport* report = nullptr);

}  // namespace korvo
