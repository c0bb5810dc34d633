#include "config/srec_converter.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>

#include "config/data_file.h"
#include "config/srec_outline.h"
#include "config/temp_files.h"
#include "platform/system.h"

namespace korvo {
namespace {

// Large enough that stdio is not the cost; small enough that a conversion of
// a short file does not clear megabytes first.
constexpr size_t kInputChunk = size_t(64) << 10;
constexpr size_t kOutputChunk = size_t(64) << 10;
constexpr size_t kLookaheadChunk = size_t(64) << 10;
constexpr int kInitialUntilCheck = 1023;
constexpr int kPhaseBeforeData = 5;
constexpr int kPhaseBlockOpen = 6;
constexpr uint64_t kAddressSpaceEnd = uint64_t(1) << 32;

// Digit values of upper-case hex; -1 for every other character. Lower-case
// digits are refused: read as the devices' tools read them they would give
// values off by 32, and eight of them cancel out in the record checksum.
constexpr std::array<int8_t, 256> BuildHexTable() {
  std::array<int8_t, 256> t{};
  for (int i = 0; i < 256; ++i) t[i] = -1;
  for (int i = 0; i < 10; ++i) t['0' + i] = int8_t(i);
  for (int i = 0; i < 6; ++i) t['A' + i] = int8_t(10 + i);
  return t;
}
constexpr std::array<int8_t, 256> kHexValue = BuildHexTable();

inline bool IsLineEnd(int c) { return c == '\r' || c == '\n'; }

// Between records only layout is accepted: a line that lost its leading 'S'
// must not vanish silently. 0x1A is the end-of-file mark of old DOS editors.
inline bool IsLayout(int c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == 0x1A; }

// A character for a message: itself when printable, else its code.
std::string CharText(int c) {
  char text[16];
  if (c > 0x20 && c < 0x7F)
    std::snprintf(text, sizeof text, "'%c'", c);
  else
    std::snprintf(text, sizeof text, "byte %02X", c);
  return text;
}

// Adds [start, end) to `ranges` (start to end, disjoint, merged).
void AddRange(std::map<uint64_t, uint64_t>& ranges, uint64_t start, uint64_t end) {
  if (start >= end) return;
  auto it = ranges.upper_bound(start);
  if (it != ranges.begin() && std::prev(it)->second >= start) {
    --it;
    start = it->first;
    end = std::max(end, it->second);
    it = ranges.erase(it);
  }
  while (it != ranges.end() && it->first <= end) {
    end = std::max(end, it->second);
    it = ranges.erase(it);
  }
  ranges[start] = end;
}

// 0 when [start, end) meets nothing in `ranges`, 2 when one range holds it
// whole, 1 when it overlaps in part.
int Covering(const std::map<uint64_t, uint64_t>& ranges, uint64_t start, uint64_t end) {
  auto it = ranges.lower_bound(end);
  if (it == ranges.begin()) return 0;
  --it;
  if (it->second <= start) return 0;
  return it->first <= start && it->second >= end ? 2 : 1;
}

// S-record text is 2 to 3 times its image: the conversion bounds the image.
std::FILE* OpenSrecFile(const std::string& path, std::string* why) {
  return OpenDataFile(path, why, nullptr, UINT64_MAX);
}

}  // namespace

SrecToBrekConverter::SrecToBrekConverter() : max_image_bytes_(kMaxImageBytes) {}

SrecToBrekConverter::~SrecToBrekConverter() = default;

std::string SrecToBrekConverter::GetAddressRangeText() const {
  // A last record that ends exactly at 4 GiB gives a nine-digit end.
  char text[40];
  std::snprintf(text, sizeof text, "%08x-%08llx", low_address_,
                static_cast<unsigned long long>(end_address_));
  return text;
}

void SrecToBrekConverter::SetStreams(std::FILE* input, std::FILE* output) {
  input_ = input;
  output_ = output;
}

// ---- input ----

bool SrecToBrekConverter::RefillInput() {
  size_t n = std::fread(in_buf_.get(), 1, kInputChunk, input_);
  in_pos_ = in_buf_.get();
  in_end_ = in_buf_.get() + n;
  if (n == 0 && std::ferror(input_)) read_failed_ = true;
  return n != 0;
}

inline int SrecToBrekConverter::NextChar() {
  if (in_pos_ == in_end_ && !RefillInput()) return -1;
  return static_cast<unsigned char>(*in_pos_++);
}

uint8_t SrecToBrekConverter::ReadHexByte() {
  int hi, lo;
  if (in_end_ - in_pos_ >= 2) {
    hi = static_cast<unsigned char>(in_pos_[0]);
    lo = static_cast<unsigned char>(in_pos_[1]);
    in_pos_ += 2;
  } else {
    hi = NextChar();
    lo = hi < 0 ? -1 : NextChar();
    if (lo < 0) {
      FailDigit(-1);
      return 0;
    }
  }
  int high = kHexValue[hi], low = kHexValue[lo];
  if ((high | low) < 0) {
    FailDigit(high < 0 ? hi : lo);
    return 0;
  }
  uint8_t byte = uint8_t(high * 16 + low);
  record_sum_ = uint8_t(record_sum_ + byte);
  --remaining_;
  return byte;
}

// Positions on the 'S' of the next record; false (state set) otherwise.
bool SrecToBrekConverter::SkipToRecord() {
  for (;;) {
    int c = NextChar();
    if (c < 0) {
      if (!any_record_)
        Fail(kFormatError, last_char_ < 0 ? "the file is empty" : "the file holds no S-record");
      else
        Fail(kFormatError, "no end record (S7, S8 or S9) before the end of the file; srec_cat"
                           " writes none when its input has no execution start address: give"
                           " it one with -execution-start-address ADDRESS");
      report_.line = 0;
      return false;
    }
    // A CR LF pair ends one line.
    if (c == '\n' ? last_char_ != '\r' : c == '\r') ++line_;
    last_char_ = c;
    if (c == 'S') {
      any_record_ = true;
      return true;
    }
    if (!IsLineEnd(c) && !IsLayout(c)) {
      if (c == 0xEF && line_ == 1 && !any_record_)
        Fail(kFormatError, "a UTF-8 byte-order mark precedes the first record; save the file without it");
      else
        Fail(kFormatError, "unexpected " + CharText(c) + " where a record should start" +
                               (any_record_ ? "" : ForeignFormatText(c)));
      return false;
    }
  }
}

// Up to the next 'S' or line end: a record may follow on the same line.
void SrecToBrekConverter::SkipHeaderRecord() {
  for (;;) {
    if (in_pos_ == in_end_ && !RefillInput()) return;  // the scan reports the missing end
    const char* stop = in_pos_;
    while (stop != in_end_ && *stop != 'S' && *stop != '\r' && *stop != '\n') ++stop;
    in_pos_ = stop;
    if (stop != in_end_) return;
  }
}

// ---- diagnostics ----

// ": what the file is and how to convert it", when the character that starts
// the file (and the bytes after it) show a format taken for S-records.
std::string SrecToBrekConverter::ForeignFormatText(int c) const {
  std::string head(1, char(c));
  head.append(in_pos_, size_t(std::min<ptrdiff_t>(in_end_ - in_pos_, 3)));
  const std::string hint = ForeignFormatHint(head);
  return hint.empty() ? hint : ": " + hint;
}

void SrecToBrekConverter::Fail(int state, std::string reason) {
  state_ = state;
  report_.Fail(std::move(reason), line_);
}

void SrecToBrekConverter::FailDigit(int c) {
  if (c < 0)
    Fail(kFormatError, "the file ends inside a record");
  else if (IsLineEnd(c))
    Fail(kFormatError, "the record is shorter than its byte count says");
  else if (c >= 'a' && c <= 'f')
    Fail(kFormatError, "lower-case hex digit '" + std::string(1, char(c)) +
                           "' (S-records are read in upper case only)");
  else
    Fail(kFormatError, CharText(c) + " is not a hex digit");
}

enum WarningKind { kRepeated, kOverlapping, kDescending };

// Called for each data record before it joins the current run of
// contiguous records.
void SrecToBrekConverter::NoteOrder(uint32_t address, uint64_t end) {
  if (phase_ == kPhaseBlockOpen && address != next_address_) {
    AddRange(seen_, run_start_, next_address_);
    run_start_ = address;
    if (address < next_address_ && Covering(seen_, address, end) == 0) Warn(kDescending, address);
  } else if (phase_ != kPhaseBlockOpen) {
    run_start_ = address;
  }
  switch (Covering(seen_, address, end)) {
    case 2: Warn(kRepeated, address); break;
    case 1: Warn(kOverlapping, address); break;
    default: break;
  }
}

void SrecToBrekConverter::Warn(int kind, uint32_t address) {
  if (warning_count_[kind]++ != 0) return;
  static const char* const kWhat[] = {"repeats data given before",
                                      "overlaps data given before",
                                      "goes down from the address before it (a new block starts)"};
  char text[160];
  std::snprintf(text, sizeof text, "record at %08X %s", address, kWhat[kind]);
  first_warning_[kind] = {line_, text};
}

void SrecToBrekConverter::FinishWarnings() {
  for (int k = 0; k < 3; ++k) {
    if (warning_count_[k] == 0) continue;
    SrecNote note = first_warning_[k];
    if (warning_count_[k] > 1)
      note.text += " (" + std::to_string(warning_count_[k]) + " such records)";
    report_.warnings.push_back(note);
  }
}

// ---- output ----

bool SrecToBrekConverter::FlushOutput() {
  if (out_used_ != 0) {
    if (!write_failed_ && std::fwrite(out_buf_.get(), 1, out_used_, output_) != out_used_)
      write_failed_ = true;
    out_used_ = 0;
  }
  if (write_failed_ && state_ == kRunning) state_ = kIoError;
  return !write_failed_;
}

void SrecToBrekConverter::WriteByte(uint8_t byte) {
  if (out_used_ == kOutputChunk) FlushOutput();
  out_buf_[out_used_++] = byte;
}

void SrecToBrekConverter::WriteU32(uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    uint8_t byte = uint8_t(value >> shift);
    block_sum_ = uint8_t(block_sum_ + byte);
    WriteByte(byte);
  }
}

inline void SrecToBrekConverter::WriteCheckByte() { WriteByte(uint8_t(0u - block_sum_)); }

// The length comes first and is in every check byte's sum, so it is looked
// up before the block is written: the block stream is written once, front
// to back.
void SrecToBrekConverter::StartBlock(uint32_t address) {
  const uint64_t length = MeasureBlock(address);
  if (state_ != kRunning) return;
  WriteByte(0x01);
  block_sum_ = 0;
  block_length_ = 0;
  expected_length_ = uint32_t(length);
  until_check_ = kInitialUntilCheck;
  WriteU32(expected_length_);
  WriteU32(address);
  phase_ = kPhaseBlockOpen;
}

void SrecToBrekConverter::FinishBlock() {
  // Only a file changed between the look ahead and the reading gets here.
  if (block_length_ != expected_length_) {
    Fail(kIoError, "the file changed while it was being converted");
    return;
  }
  if (until_check_ != kInitialUntilCheck) WriteCheckByte();
}

// ---- looking ahead ----

namespace {

// Reads on from where the conversion is, first the rest of its buffer, then
// the file; the file's position is the caller's to restore.
class Lookahead {
 public:
  Lookahead(const char* pos, const char* end, std::FILE* file, std::unique_ptr<char[]>& buffer)
      : pos_(pos), end_(end), file_(file), buffer_(buffer) {}

  int Next() {
    if (pos_ == end_ && !Refill()) return -1;
    return static_cast<unsigned char>(*pos_++);
  }
  void Skip(uint64_t n) {
    while (n != 0 && (pos_ != end_ || Refill())) {
      const size_t step = size_t(std::min<uint64_t>(n, uint64_t(end_ - pos_)));
      pos_ += step;
      n -= step;
    }
  }
  // A byte of two upper-case hex digits; -1 for anything else.
  int HexByte() {
    const int high = Next(), low = Next();
    if (high < 0 || low < 0 || (kHexValue[high] | kHexValue[low]) < 0) return -1;
    return kHexValue[high] * 16 + kHexValue[low];
  }
  bool read_file() const { return read_file_; }

 private:
  bool Refill() {
    if (!buffer_) buffer_.reset(new char[kLookaheadChunk]);
    const size_t n = std::fread(buffer_.get(), 1, kLookaheadChunk, file_);
    read_file_ = true;
    pos_ = buffer_.get();
    end_ = pos_ + n;
    return n != 0;
  }

  const char* pos_;
  const char* end_;
  std::FILE* file_;
  std::unique_ptr<char[]>& buffer_;
  bool read_file_ = false;
};

}  // namespace

// The data length of the block that starts with the current record, at
// `address`: its own data and that of the contiguous records after it, up to
// the first record at another address, an end record or anything the
// conversion will fail on (records without data do not count, as the
// conversion skips them).
uint64_t SrecToBrekConverter::MeasureBlock(uint32_t address) {
  const long resume = std::ftell(input_);
  uint64_t length = uint64_t(remaining_ - 1);
  uint64_t next = uint64_t(address) + length;
  Lookahead ahead(in_pos_, in_end_, input_, look_buf_);
  ahead.Skip(2 * uint64_t(remaining_));
  for (;;) {
    int c;
    while ((c = ahead.Next()) >= 0 && c != 'S') {
    }
    const int type = ahead.Next();
    if (type == '0') continue;  // skipped up to the next 'S', as the conversion does
    if (type < '1' || type > '3') break;
    const int address_bytes = type - '1' + 2;
    const int count = ahead.HexByte();
    if (count < address_bytes + 1 || count < 3) break;
    uint64_t at = 0;
    int byte = 0;
    for (int i = 0; i < address_bytes && byte >= 0; ++i) {
      byte = ahead.HexByte();
      at = at << 8 | uint64_t(byte);
    }
    const uint64_t data = uint64_t(count - address_bytes - 1);
    if (byte < 0 || (data != 0 && at != next) || next + data > kAddressSpaceEnd) break;
    length += data;
    next += data;
    ahead.Skip(2 * data + 2);
  }
  if (ahead.read_file() && (resume < 0 || std::fseek(input_, resume, SEEK_SET) != 0)) {
    state_ = kIoError;
    report_.Fail("read error");
  }
  // More than a block can hold: the image limit ends the conversion first.
  return std::min<uint64_t>(length, UINT32_MAX);
}

// ---- records ----

void SrecToBrekConverter::ReadRecordChecksum() {
  uint8_t expected = uint8_t(~record_sum_);
  uint8_t sum = ReadHexByte();
  if (state_ != kRunning) return;
  if (sum != expected) {
    char text[64];
    std::snprintf(text, sizeof text, "checksum mismatch (found %02X, expected %02X)", sum,
                  expected);
    Fail(kChecksumError, text);
  }
}

// Reads a record's count and address; false (state set) when they are not
// there or the count does not cover the address and the checksum.
bool SrecToBrekConverter::ReadRecordHead(int address_bytes, uint32_t& address) {
  record_sum_ = 0;
  remaining_ = 1;
  remaining_ = ReadHexByte();
  if (state_ != kRunning) return false;
  if (remaining_ < address_bytes + 1 || remaining_ < 3) {
    char text[80];
    std::snprintf(text, sizeof text, "byte count %02X is too small for a record with a %d-byte address",
                  remaining_, address_bytes);
    Fail(kFormatError, text);
    return false;
  }
  address = 0;
  for (int i = 0; i < address_bytes; ++i) address = (address << 8) | ReadHexByte();
  return state_ == kRunning;
}

void SrecToBrekConverter::ReadDataRecord(int address_bytes) {
  uint32_t address = 0;
  if (!ReadRecordHead(address_bytes, address)) return;
  record_address_ = address;
  const uint32_t length = uint32_t(remaining_ - 1);
  // A record without data adds no block (an empty one would read as the
  // closing block) and does not widen the range.
  if (length == 0) {
    ReadRecordChecksum();
    return;
  }
  const uint64_t end = uint64_t(address) + length;
  // Data past the top of the address space would wrap onto address 0.
  if (end > kAddressSpaceEnd) {
    Fail(kFormatError, "the record's data runs past address FFFFFFFF");
    return;
  }
  data_bytes_ += length;
  if (data_bytes_ > max_image_bytes_) {
    Fail(kTooLarge, TooLargeText("its records hold more than " + std::to_string(max_image_bytes_) +
                                 " bytes of data"));
    return;
  }
  NoteOrder(address, end);
  low_address_ = std::min(low_address_, address);
  end_address_ = std::max(end_address_, end);
  if (phase_ == kPhaseBeforeData) {
    StartBlock(address);
  } else if (address != next_address_) {
    FinishBlock();
    if (state_ == kRunning) StartBlock(address);
  }
  next_address_ = end;
  while (remaining_ > 1 && state_ == kRunning) {
    uint8_t byte = ReadHexByte();
    if (state_ != kRunning) break;
    WriteByte(byte);
    block_sum_ = uint8_t(block_sum_ + byte);
    ++block_length_;
    if (until_check_ == 0) {
      WriteCheckByte();
      until_check_ = kInitialUntilCheck;
    } else {
      --until_check_;
    }
  }
  if (state_ == kRunning) ReadRecordChecksum();
}

void SrecToBrekConverter::ReadEndRecord(int address_bytes) {
  // The start address only enters the sum; the byte after it is the checksum.
  uint32_t start_address = 0;
  if (!ReadRecordHead(address_bytes, start_address)) return;
  if (phase_ == kPhaseBlockOpen) {
    FinishBlock();
    phase_ = kPhaseBeforeData;
    if (state_ != kRunning) return;
  }
  ReadRecordChecksum();
  if (state_ == kRunning) state_ = kFinished;
}

int SrecToBrekConverter::Convert() {
  // The buffers live only as long as a conversion: the builder keeps its
  // converter for the life of the process.
  in_buf_.reset(new char[kInputChunk]);
  out_buf_.reset(new uint8_t[kOutputChunk]);
  int rc = Run();
  in_buf_.reset();
  out_buf_.reset();
  look_buf_.reset();
  in_pos_ = in_end_ = nullptr;
  return rc;
}

int SrecToBrekConverter::Run() {
  state_ = kRunning;
  phase_ = kPhaseBeforeData;
  low_address_ = 0xFFFFFFFF;
  end_address_ = 0;
  next_address_ = 0;
  block_length_ = 0;
  block_sum_ = 0;
  until_check_ = kInitialUntilCheck;
  read_failed_ = write_failed_ = false;
  report_ = SrecReport();
  line_ = 1;
  last_char_ = -1;
  any_record_ = false;
  seen_.clear();
  for (int k = 0; k < 3; ++k) {
    warning_count_[k] = 0;
    first_warning_[k] = SrecNote();
  }
  in_pos_ = in_end_ = in_buf_.get();
  out_used_ = 0;
  data_bytes_ = 0;
  expected_length_ = 0;
  if (!input_ || !output_) return -1;

  while (state_ == kRunning) {
    if (!SkipToRecord()) break;
    int type = NextChar();
    switch (type) {
      case '1': ReadDataRecord(2); break;
      case '2': ReadDataRecord(3); break;
      case '3': ReadDataRecord(4); break;
      case '7': ReadEndRecord(4); break;
      case '8': ReadEndRecord(3); break;
      case '9': ReadEndRecord(2); break;
      case '0': SkipHeaderRecord(); break;
      case '5':
      case '6':
        Fail(kFormatError, std::string("S") + char(type) +
                               " count records are not supported; write the file without them"
                               " (srec_cat: -disable=data-count)");
        break;
      case -1: Fail(kFormatError, "the file ends inside a record"); break;
      default: Fail(kFormatError, "'S" + std::string(1, char(type)) + "' is not a supported record type"); break;
    }
  }
  FinishWarnings();
  if (read_failed_ && state_ != kFinished) {
    state_ = kIoError;
    report_.Fail("read error");
  }
  if (state_ != kFinished) {
    FlushOutput();
    return -1;
  }
  if (data_bytes_ == 0)
    report_.warnings.push_back({0, "holds no data record: the block stream is the closing block"
                                   " alone (0 blocks, address range " + GetAddressRangeText() + ")"});

  WriteByte(0x01);
  block_sum_ = 0;
  WriteU32(0);
  WriteU32(uint32_t('B') << 24 | uint32_t('R') << 16 | uint32_t('E') << 8 | uint32_t('K'));
  WriteCheckByte();
  state_ = kRunning;  // lets FlushOutput report a failed write
  if (!FlushOutput() || std::fflush(output_) != 0) {
    state_ = kIoError;
    return -1;
  }
  state_ = kFinished;
  return 0;
}

// ---- address-range filter ----

namespace {

// Why a temporary file could not be made: most often a current folder the
// user may not write to.
void TempFileFailure(SrecReport& report, const std::string& path) {
  report.file = path;
  report.Fail("cannot create this temporary file (is the current folder writable?)");
}

// Collects output in large pieces; remembers a failed write.
class BufferedWriter {
 public:
  explicit BufferedWriter(std::FILE* file) : file_(file) { buffer_.reserve(kOutputChunk); }
  void Write(const std::string& text) {
    buffer_ += text;
    if (buffer_.size() >= kOutputChunk) Flush();
  }
  bool Flush() {
    if (!buffer_.empty() && std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size())
      failed_ = true;
    buffer_.clear();
    return !failed_;
  }
  bool Finish() { return Flush() && std::fflush(file_) == 0; }

 private:
  std::FILE* file_;
  std::string buffer_;
  bool failed_ = false;
};

class RangeFilter {
 public:
  RangeFilter(const std::string& include, const std::string& exclude, BufferedWriter& out)
      : include_(include), exclude_(exclude), out_(out) {}

  // A line is its characters up to the first CR or LF plus all CR and LF
  // characters that follow.
  int Feed(const char* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      char c = p[i];
      bool line_end = c == '\r' || c == '\n';
      if (in_terminators_ && !line_end) {
        TakeLine();
        in_terminators_ = false;
      }
      if (line_end) {
        in_terminators_ = true;
        // A CR LF pair ends one line.
        if (c == '\r' || line_.empty() || line_.back() != '\r') ++breaks_;
      } else if (++content_length_ >= kSrecMaxLineLength) {
        return kSrecLineTooLong;
      }
      line_.push_back(c);
    }
    return 0;
  }

  // Source line of the line being read (of the offending one after -43).
  int line_number() const { return line_number_; }
  // For each line of the output, the source line it came from.
  const std::vector<int>& source_lines() const { return source_lines_; }
  bool data_kept() const { return data_kept_; }
  bool include_seen() const { return include_seen_; }
  bool short_records_seen() const { return short_records_seen_; }

  // The last line may lack its terminator.
  void Finish() {
    if (!line_.empty()) TakeLine();
  }

  int written() const { return written_; }

 private:
  void TakeLine() {
    if (line_.size() >= 12) {
      bool s3 = line_.compare(0, 2, "S3") == 0;
      if (s3 && line_.compare(4, 8, include_) == 0) keeping_ = include_seen_ = true;
      if (s3 && line_.compare(4, 8, exclude_) == 0) keeping_ = false;
      if (line_.compare(0, 2, "S1") == 0 || line_.compare(0, 2, "S2") == 0)
        short_records_seen_ = true;
      if (keeping_ || line_.compare(0, 2, "S0") == 0 || line_.compare(0, 2, "S7") == 0) {
        out_.Write(line_);
        ++written_;
        data_kept_ = data_kept_ || keeping_;
        for (int k = 0; k < std::max(breaks_, 1); ++k) source_lines_.push_back(line_number_ + k);
      }
    }
    line_number_ += breaks_;
    breaks_ = 0;
    line_.clear();
    content_length_ = 0;
  }

  const std::string& include_;
  const std::string& exclude_;
  BufferedWriter& out_;
  std::string line_;
  size_t content_length_ = 0;
  bool in_terminators_ = false;
  bool keeping_ = false;
  int written_ = 0;
  int line_number_ = 1;
  int breaks_ = 0;  // line breaks among the current line's terminators
  std::vector<int> source_lines_;
  bool data_kept_ = false;
  bool include_seen_ = false;
  bool short_records_seen_ = false;
};

// Why a selection kept no data record.
std::string NothingKeptReason(const RangeFilter& filter, const std::string& include,
                              const std::string& exclude) {
  if (filter.include_seen())
    return "no S3 record lies from IncludeAddr " + include + " up to ExcludeAddr " + exclude;
  if (filter.short_records_seen())
    return "the address range selection keeps only S3 data records, and this file has S1 or S2"
           " records; remove the selection or write the file with S3 records";
  if (include.empty()) return "IncludeAddr is empty, so the address range selection keeps nothing";
  return "IncludeAddr " + include + " is the address of no S3 record";
}

int RunFilter(const std::string& source_path, const std::string& include,
              const std::string& exclude, const std::string& output_path, SrecReport& report,
              std::vector<int>* source_lines) {
  report.file = source_path;
  std::string why;
  UniqueFile source(OpenSrecFile(source_path, &why));
  if (!source) return report.Fail(why), kSrecFileError;
  UniqueFile output(OpenFileUtf8(output_path, "w+b"));
  if (!output) return TempFileFailure(report, output_path), kSrecFileError;
  BufferedWriter writer(output.get());
  RangeFilter filter(include, exclude, writer);
  std::unique_ptr<char[]> chunk(new char[kInputChunk]);
  for (;;) {
    size_t n = std::fread(chunk.get(), 1, kInputChunk, source.get());
    if (n == 0) break;
    int rc = filter.Feed(chunk.get(), n);
    if (rc != 0) {
      report.Fail("the line has 1024 or more characters", filter.line_number());
      return rc;
    }
  }
  if (std::ferror(source.get())) return report.Fail("read error"), kSrecFileError;
  filter.Finish();
  if (!writer.Finish() || std::fclose(output.release()) != 0)
    return report.Fail("cannot write the temporary file " + output_path), kSrecFileError;
  if (!filter.data_kept()) {
    report.Fail(NothingKeptReason(filter, include, exclude));
    return kSrecNothingKept;
  }
  if (source_lines) *source_lines = filter.source_lines();
  return 0;
}

}  // namespace

int FilterAddressRange(const std::string& source_path, const std::string& include,
                       const std::string& exclude, const std::string& output_path,
                       SrecReport* report) {
  SrecReport local;
  int rc = RunFilter(source_path, include, exclude, output_path, report ? *report : local, nullptr);
  if (rc != 0) RemoveFile(output_path);
  return rc;
}

int ConvertSrecToBrek(SrecToBrekConverter& converter, const std::string& source_path,
                      const AddressRangeSelection* selection, std::string& range_text,
                      const std::string& brek_path, const std::string& filtered_path,
                      SrecReport* report) {
  SrecReport local;
  SrecReport& out = report ? *report : local;
  out = SrecReport();
  out.file = source_path;
  // The filtered lines go on every way out: into a temporary file of ours,
  // or into the caller's file, which is removed as well.
  TempFileGuard filtered_guard;
  struct RemoveGiven {
    std::string path;
    ~RemoveGiven() {
      if (!path.empty()) RemoveFile(path);
    }
  } remove_given{selection ? filtered_path : std::string()};
  if (selection && filtered_path.empty() && !filtered_guard.Create(kTempSrec))
    return TempFileFailure(out, TempFileName(kTempSrec, "TMP")), kSrecFileError;
  const std::string& filtered = filtered_path.empty() ? filtered_guard.path() : filtered_path;
  std::string input_path = source_path;
  std::vector<int> source_lines;
  if (selection) {
    int rc = RunFilter(source_path, selection->include, selection->exclude, filtered, out,
                       &source_lines);
    if (rc != 0) return rc;
    input_path = filtered;
  }
  std::string why = "cannot open the data file";
  UniqueFile input(selection ? OpenFileUtf8(input_path, "rb") : OpenSrecFile(input_path, &why));
  if (!input) return out.Fail(why), kSrecFileError;
  UniqueFile output(OpenFileUtf8(brek_path, "wb"));
  if (!output) return TempFileFailure(out, brek_path), kSrecFileError;

  converter.SetStreams(input.get(), output.get());
  int rc = converter.Convert();
  converter.SetStreams(nullptr, nullptr);
  bool closed = std::fclose(output.release()) == 0;
  const SrecReport& found = converter.Report();
  out.warnings = found.warnings;
  out.Fail(found.reason, found.line);
  // Lines of the filtered file are told as lines of the source.
  if (selection) {
    auto source_line = [&](int line) {
      return line > 0 && size_t(line) <= source_lines.size() ? source_lines[size_t(line) - 1]
                                                              : line;
    };
    out.line = source_line(out.line);
    for (SrecNote& note : out.warnings) note.line = source_line(note.line);
  }
  if (rc == 0 && closed) {
    range_text = converter.GetAddressRangeText();
    return 0;
  }
  RemoveFile(brek_path);
  if (converter.State() == SrecToBrekConverter::kTooLarge) return kSrecFileError;
  if (rc != 0 && converter.State() != SrecToBrekConverter::kIoError) return kSrecConversionFailed;
  if (out.reason.empty() || rc == 0) {
    out.file = brek_path;
    out.Fail("cannot write this temporary file");
  }
  return kSrecFileError;
}

std::string SrecReport::Text(int at_line, const std::string& what) const {
  std::string text = file;
  if (at_line > 0) text += (text.empty() ? "" : ": ") + std::string("line ") + std::to_string(at_line);
  if (!what.empty()) text += (text.empty() ? "" : ": ") + what;
  return text;
}

const char* SrecResultText(int code) {
  switch (code) {
    case kSrecNothingKept:
      return "no system entries could be read, or the address range selection kept no data record";
    case kSrecFileError: return "a data file cannot be opened, read or written, or is too large";
    case kSrecLineTooLong: return "an S-record line has 1024 or more characters";
    case kSrecConversionFailed:
      return "the S-record data is malformed (bad record or digit, checksum error, or no end record)";
    default: return "";
  }
}

}  // namespace korvo
