// Frames of the BrekLoad boot protocol, shared by the library (host side)
// and the boot-mode device. The protocol itself is described in
// brek_download.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace brek {

// Ends every frame on the line; no encoded frame contains it or 0x00.
constexpr uint8_t kFrameEnd = 0xFF;
// Data bytes per DATA frame the host sends at most.
constexpr size_t kMaxData = 4096;
// Longest encoded frame: type, sequence, offset, data, CRC, stuffing, end.
constexpr size_t kMaxEncoded = 2 + 4 + kMaxData + 4 + (kMaxData + 10) / 125 + 2 + 1;

enum FrameType : uint8_t {
  kPing = 'P',   // host: are you in boot mode?
  kBaud = 'B',   // host: u32 baud rate of the download line
  kStart = 'S',  // host: u32 length, u32 CRC-32, u8 n + device type, u8 n + range
  kData = 'D',   // host: u32 offset, data bytes
  kEnd = 'E',    // host: image complete, verify it
  kAck = 'A',    // device: u8 0, u32 value
  kNak = 'N',    // device: u8 reason, u32 value
};

enum NakReason : uint8_t {
  kBadFrame = 1,     // CRC or stuffing wrong; the sequence is not known
  kWrongOffset = 2,  // value: the offset the device expects
  kBadImage = 3,     // END: length or CRC-32 of the image differ
  kRefused = 4,      // baud rate unsupported, or DATA before START
};

struct Frame {
  uint8_t type = 0;
  uint8_t seq = 0;
  std::vector<uint8_t> body;
};

uint32_t Crc32(const uint8_t* bytes, size_t count, uint32_t crc = 0);

void PutU32(std::vector<uint8_t>& out, uint32_t value);
uint32_t GetU32(const uint8_t* bytes);

// The frame stuffed so that it holds neither 0x00 nor kFrameEnd, followed
// by kFrameEnd.
std::vector<uint8_t> EncodeFrame(const Frame& frame);

// Decodes the bytes of one frame (kFrameEnd not included). False when the
// stuffing or the CRC is wrong; `out` is then unspecified.
bool DecodeFrame(const uint8_t* bytes, size_t count, Frame* out);

// Stuffing alone, exposed for tests: the encoded form never holds 0x00 or
// 0xFF and grows by at most one byte per 125.
std::vector<uint8_t> Stuff(const std::vector<uint8_t>& raw);
bool Unstuff(const uint8_t* bytes, size_t count, std::vector<uint8_t>* raw);

}  // namespace brek
