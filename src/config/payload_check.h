// Whether a device's payload is still what the builder wrote, before any of
// it goes to a device: every block of a block stream ("BREK", "BREKBIN")
// carries check bytes, a "FILE" payload its CRC-32 in front, every
// S-record ("SREC") its checksum. A payload damaged since (a flipped bit, a
// cut) would otherwise be written, and a device can be left without a
// working application by it.
//
// Not thread-safe; one object per payload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace korvo {

class ConfigDocument;

struct BrekBlock {
  uint32_t address = 0;
  uint32_t length = 0;  // data bytes, check bytes not counted
};

class PayloadCheck final {
 public:
  // `data_type` as the configuration's DATA_TYPE says; a payload of any
  // other type passes unread. `blocks` (may be null) receives the blocks of
  // a block stream in stream order, up to a fault.
  explicit PayloadCheck(const std::string& data_type, std::vector<BrekBlock>* blocks = nullptr);

  // The next bytes of the payload. False once it is known to be damaged:
  // the rest need not be read.
  bool Add(const uint8_t* data, size_t size);
  // "" when the payload is whole; otherwise why it is not.
  std::string Finish();

  // What a whole payload of this type has, for reports: "check bytes
  // right"; "" for a type that is not checked.
  const char* Promise() const;

 private:
  enum class Kind { kNone, kBlocks, kFile, kRecords };
  enum class Part { kMarker, kHeader, kData, kCheck, kClosingCheck, kClosed };

  void Damage(std::string why);
  void AddBlocks(const uint8_t* data, size_t size);
  void AddRecords(const uint8_t* data, size_t size);
  void EndRecord();

  Kind kind_;
  std::vector<BrekBlock>* blocks_;
  std::string damage_;
  uint64_t offset_ = 0;  // of the next byte

  // Block stream.
  Part part_ = Part::kMarker;
  uint8_t header_[8] = {};
  size_t header_size_ = 0;
  uint8_t sum_ = 0;
  BrekBlock block_;
  uint64_t block_start_ = 0;
  uint32_t data_left_ = 0;   // of the block
  uint32_t piece_left_ = 0;  // data bytes before the next check byte

  // "FILE".
  uint32_t stored_crc_ = 0;
  uint32_t crc_ = 0;

  // S-records.
  std::string line_;
  uint64_t records_ = 0;
  char data_type_ = 0;  // of the data records: '1', '2' or '3'
  uint64_t data_records_ = 0;
  bool ended_ = false;  // an end record was read
};

// Decodes the payload of device `device` (from 0) of the loaded
// configuration and checks it as its DATA_TYPE says. `why` is "" when the
// payload is whole, of a type that is not checked, or cannot be read
// (no DATA_TYPE, no single valid Base64 text: the download's own steps
// refuse those); otherwise why it is damaged.
void CheckDevicePayload(ConfigDocument& config, int device, std::string& why);

}  // namespace korvo
