#include "bootloader/brek_frame.h"

namespace brek {
namespace {

// Stuffing codes: a group is a code byte and up to kMaxRun plain bytes.
// 0x01 + n: n bytes, then 0x00 (dropped after the frame's last group);
// 0x80 + n: n bytes, then 0xFF; kFullRun: kMaxRun bytes and nothing else.
constexpr size_t kMaxRun = 125;
constexpr uint8_t kZeroGroup = 0x01;
constexpr uint8_t kFullRun = 0x7F;
constexpr uint8_t kFfGroup = 0x80;

const uint32_t* CrcTable() {
  static uint32_t table[256];
  static bool built = [] {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[i] = c;
    }
    return true;
  }();
  (void)built;
  return table;
}

}  // namespace

uint32_t Crc32(const uint8_t* bytes, size_t count, uint32_t crc) {
  const uint32_t* table = CrcTable();
  crc = ~crc;
  for (size_t i = 0; i < count; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

void PutU32(std::vector<uint8_t>& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint32_t GetU32(const uint8_t* bytes) {
  return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
         uint32_t{bytes[3]} << 24;
}

std::vector<uint8_t> Stuff(const std::vector<uint8_t>& raw) {
  std::vector<uint8_t> out;
  out.reserve(raw.size() + raw.size() / kMaxRun + 2);
  size_t i = 0;
  const size_t n = raw.size();
  for (;;) {
    size_t run = 0;
    while (i + run < n && run < kMaxRun && raw[i + run] != 0x00 && raw[i + run] != 0xFF) ++run;
    // The last group takes the implied 0x00 that the decoder drops.
    bool last = i + run == n;
    uint8_t code = last || raw[i + run] == 0x00 ? kZeroGroup + run
                   : run == kMaxRun              ? kFullRun
                                                 : kFfGroup + run;
    out.push_back(code);
    out.insert(out.end(), raw.begin() + i, raw.begin() + i + run);
    if (last) return out;
    i += run + (code == kFullRun ? 0 : 1);
  }
}

bool Unstuff(const uint8_t* bytes, size_t count, std::vector<uint8_t>* raw) {
  raw->clear();
  size_t i = 0;
  while (i < count) {
    uint8_t code = bytes[i++];
    size_t run;
    int tail;  // byte after the run: 0x00, 0xFF or none (-1)
    if (code >= kZeroGroup && code < kFullRun) {
      run = code - kZeroGroup;
      tail = 0x00;
    } else if (code == kFullRun) {
      run = kMaxRun;
      tail = -1;
    } else if (code >= kFfGroup && code <= kFfGroup + kMaxRun - 1) {
      run = code - kFfGroup;
      tail = 0xFF;
    } else {
      return false;
    }
    if (run > count - i) return false;
    for (size_t k = 0; k < run; ++k) {
      uint8_t b = bytes[i + k];
      if (b == 0x00 || b == 0xFF) return false;
      raw->push_back(b);
    }
    i += run;
    if (i == count) return tail == 0x00;  // the implied end
    if (tail >= 0) raw->push_back(static_cast<uint8_t>(tail));
  }
  return false;  // empty input
}

std::vector<uint8_t> EncodeFrame(const Frame& frame) {
  std::vector<uint8_t> raw;
  raw.reserve(frame.body.size() + 6);
  raw.push_back(frame.type);
  raw.push_back(frame.seq);
  raw.insert(raw.end(), frame.body.begin(), frame.body.end());
  PutU32(raw, Crc32(raw.data(), raw.size()));
  std::vector<uint8_t> out = Stuff(raw);
  out.push_back(kFrameEnd);
  return out;
}

bool DecodeFrame(const uint8_t* bytes, size_t count, Frame* out) {
  std::vector<uint8_t> raw;
  if (!Unstuff(bytes, count, &raw) || raw.size() < 6) return false;
  size_t payload = raw.size() - 4;
  if (Crc32(raw.data(), payload) != GetU32(raw.data() + payload)) return false;
  out->type = raw[0];
  out->seq = raw[1];
  out->body.assign(raw.begin() + 2, raw.begin() + payload);
  return true;
}

}  // namespace brek
