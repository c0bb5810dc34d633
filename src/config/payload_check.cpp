#include "config/payload_check.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "config/config_document.h"
#include "config/crc32.h"

namespace korvo {
namespace {

constexpr uint8_t kMarker = 0x01;
constexpr uint32_t kClosingAddress = uint32_t('B') << 24 | uint32_t('R') << 16 |
                                     uint32_t('E') << 8 | uint32_t('K');
constexpr uint32_t kDataPerCheck = 1024;
// The longest S-record has 2 + 2 + 255 * 2 characters; more is no record.
constexpr size_t kMaxRecordLine = 1024;

uint32_t U32(const uint8_t* b) {
  return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
}

std::string Hex8(uint32_t value) {
  char text[12];
  std::snprintf(text, sizeof text, "%08" PRIX32, value);
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Why one S-record line is not a record; "" when it is one.
const char* RecordFault(const std::string& line, bool& end_record) {
  // S4 is reserved.
  if (line.size() < 4 || line[0] != 'S' || line[1] < '0' || line[1] > '9' || line[1] == '4')
    return "is not an S-record";
  const char type = line[1];
  end_record = type >= '7';
  if (line.size() % 2 != 0) return "has an odd number of hex digits";
  std::vector<uint8_t> bytes;
  for (size_t i = 2; i < line.size(); i += 2) {
    const int high = HexDigit(line[i]), low = HexDigit(line[i + 1]);
    if (high < 0 || low < 0) return "holds a character that is no hex digit";
    bytes.push_back(uint8_t(high << 4 | low));
  }
  const size_t address = type == '2' || type == '6' || type == '8' ? 3
                         : type == '3' || type == '7'              ? 4
                                                                   : 2;
  if (bytes[0] + size_t(1) != bytes.size()) return "has a count that is not its length";
  if (bytes[0] < address + 1) return "has a count too small for its address";
  uint8_t sum = 0;
  for (uint8_t b : bytes) sum = uint8_t(sum + b);
  return sum == 0xFF ? "" : "has a wrong checksum";
}

}  // namespace

PayloadCheck::PayloadCheck(const std::string& data_type, std::vector<BrekBlock>* blocks)
    : kind_(data_type == "BREK" || data_type == "BREKBIN" ? Kind::kBlocks
            : data_type == "FILE"                         ? Kind::kFile
            : data_type == "SREC"                         ? Kind::kRecords
                                                          : Kind::kNone),
      blocks_(blocks) {
  if (blocks_) blocks_->clear();
}

const char* PayloadCheck::Promise() const {
  switch (kind_) {
    case Kind::kBlocks: return "check bytes right";
    case Kind::kFile: return "CRC-32 right";
    case Kind::kRecords: return "record checksums right";
    case Kind::kNone: break;
  }
  return "";
}

void PayloadCheck::Damage(std::string why) {
  if (damage_.empty()) damage_ = std::move(why);
}

bool PayloadCheck::Add(const uint8_t* data, size_t size) {
  if (!damage_.empty()) return false;
  switch (kind_) {
    case Kind::kBlocks: AddBlocks(data, size); break;
    case Kind::kRecords: AddRecords(data, size); break;
    case Kind::kFile:
      for (; size > 0 && offset_ < 4; ++offset_, ++data, --size)
        stored_crc_ = stored_crc_ << 8 | *data;
      crc_ = Crc32(data, size, crc_);
      offset_ += size;
      break;
    case Kind::kNone: break;
  }
  return damage_.empty();
}

void PayloadCheck::AddBlocks(const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size && damage_.empty();) {
    const uint8_t byte = data[i];
    switch (part_) {
      case Part::kMarker:
        if (byte != kMarker) {
          Damage("no block marker at byte " + std::to_string(offset_ + i));
          break;
        }
        block_start_ = offset_ + i;
        header_size_ = 0;
        sum_ = 0;
        part_ = Part::kHeader;
        break;
      case Part::kHeader:
        header_[header_size_++] = byte;
        sum_ = uint8_t(sum_ + byte);
        if (header_size_ < sizeof header_) break;
        block_ = {U32(header_ + 4), U32(header_)};
        if (block_.length == 0) {
          part_ = Part::kClosingCheck;
          if (block_.address != kClosingAddress)
            Damage("a block without data at byte " + std::to_string(block_start_) +
                   " that is not the closing block");
          break;
        }
        data_left_ = block_.length;
        piece_left_ = std::min(data_left_, kDataPerCheck);
        part_ = Part::kData;
        break;
      case Part::kData: {
        // The bulk of the payload: summed a run at a time.
        const size_t run = std::min<size_t>(piece_left_, size - i);
        for (size_t k = 0; k < run; ++k) sum_ = uint8_t(sum_ + data[i + k]);
        piece_left_ -= uint32_t(run);
        data_left_ -= uint32_t(run);
        if (piece_left_ == 0) part_ = Part::kCheck;
        i += run;
        continue;
      }
      case Part::kCheck:
        if (uint8_t(sum_ + byte) != 0) {
          Damage("check byte wrong at byte " + std::to_string(offset_ + i) + " in the block at " +
                 Hex8(block_.address));
          break;
        }
        if (data_left_ > 0) {
          piece_left_ = std::min(data_left_, kDataPerCheck);
          part_ = Part::kData;
        } else {
          if (blocks_) blocks_->push_back(block_);
          part_ = Part::kMarker;
        }
        break;
      case Part::kClosingCheck:
        if (uint8_t(sum_ + byte) != 0) Damage("check byte of the closing block wrong");
        part_ = Part::kClosed;
        break;
      case Part::kClosed:
        Damage("bytes after the closing block");
        break;
    }
    ++i;
  }
  offset_ += size;
}

void PayloadCheck::AddRecords(const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size && damage_.empty(); ++i) {
    const char c = char(data[i]);
    if (c == '\r' || c == '\n') {
      EndRecord();
    } else if (line_.size() >= kMaxRecordLine) {
      Damage("record " + std::to_string(records_ + 1) + " is longer than any S-record");
    } else {
      line_.push_back(c);
    }
  }
  offset_ += size;
}

void PayloadCheck::EndRecord() {
  // Blanks at the end of a line are no data.
  while (!line_.empty() && (line_.back() == ' ' || line_.back() == '\t')) line_.pop_back();
  if (line_.empty()) return;
  ++records_;
  const std::string where = "record " + std::to_string(records_);
  if (ended_) {
    Damage(where + " follows the end record");
    return;
  }
  bool end_record = false;
  const char* fault = RecordFault(line_, end_record);
  // The type is outside the checksum: a flipped bit there would still
  // read as a record, with its address and data taken apart differently.
  const char type = line_.size() > 1 ? line_[1] : 0;
  if (*fault) {
    Damage(where + " " + fault);
  } else if (type == '0' && records_ > 1) {
    Damage(where + " is a header record after the first");
  } else if (type >= '1' && type <= '3') {
    if (data_type_ && type != data_type_)
      Damage(where + " is an S" + type + " record among S" + data_type_ + " records");
    data_type_ = type;
    ++data_records_;
  } else if (type == '5' || type == '6') {
    // A count record's address is the number of data records before it.
    const bool wide = type == '6';
    const uint64_t said = std::stoull(line_.substr(4, wide ? 6 : 4), nullptr, 16);
    if (said != (data_records_ & (wide ? 0xFFFFFF : 0xFFFF)))
      Damage(where + " counts " + std::to_string(said) + " data records, not " +
             std::to_string(data_records_));
  }
  ended_ = end_record;
  line_.clear();
}

std::string PayloadCheck::Finish() {
  if (!damage_.empty()) return damage_;
  switch (kind_) {
    case Kind::kBlocks:
      if (part_ == Part::kMarker)
        return offset_ == 0 ? "no data" : "ends without its closing block";
      if (part_ != Part::kClosed)
        return "cut short in the block at byte " + std::to_string(block_start_);
      break;
    case Kind::kFile:
      if (offset_ < 4) return "shorter than its CRC-32";
      if (crc_ != stored_crc_)
        return "CRC-32 wrong: the payload says " + Hex8(stored_crc_) + ", its data give " +
               Hex8(crc_);
      break;
    case Kind::kRecords:
      EndRecord();
      if (!damage_.empty()) return damage_;
      if (!ended_) return "ends without an end record (S7, S8 or S9)";
      break;
    case Kind::kNone: break;
  }
  return "";
}

void CheckDevicePayload(ConfigDocument& config, int device, std::string& why) {
  why.clear();
  std::string type;
  if (config.GetDeviceEntry(device, "DATA_TYPE", type) != 0) return;
  PayloadCheck check(type);
  if (!*check.Promise()) return;
  bool damaged = false;
  int rc = config.DecodeData(device, [&](const uint8_t* data, size_t size) {
    damaged = !check.Add(data, size);
    return !damaged;
  });
  // Text that cannot be read or decoded is the extraction's to report.
  if (rc == 0 || damaged) why = check.Finish();
}

}  // namespace korvo
