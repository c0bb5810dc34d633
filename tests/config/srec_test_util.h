// S-records written and block streams read back, independent of the converter's code.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace korvo {
namespace srectest {

// One record, "S" type count address (2, 3 or 4 bytes) data checksum, unterminated.
inline std::string Record(char type, uint32_t address, const std::vector<uint8_t>& data) {
  const int address_bytes = type == '2' || type == '8' ? 3 : type == '3' || type == '7' ? 4 : 2;
  std::vector<uint8_t> bytes{uint8_t(address_bytes + data.size() + 1)};
  for (int i = address_bytes - 1; i >= 0; --i) bytes.push_back(uint8_t(address >> (8 * i)));
  bytes.insert(bytes.end(), data.begin(), data.end());
  uint8_t sum = 0;
  for (uint8_t b : bytes) sum = uint8_t(sum + b);
  bytes.push_back(uint8_t(~sum));
  std::string text = std::string("S") + type;
  for (uint8_t b : bytes) text += {"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15]};
  return text;
}

inline std::vector<uint8_t> Bytes(size_t n, uint32_t seed) {
  std::vector<uint8_t> out(n);
  uint32_t x = seed * 2654435761u + 12345;
  for (auto& b : out) b = uint8_t((x = x * 1103515245u + 12345u) >> 16);
  return out;
}

// A run of data at an address: written as records, or read back as a block.
struct Region { uint32_t address = 0; std::vector<uint8_t> data; };
using Block = Region;
inline bool operator==(const Region& a, const Region& b) {
  return a.address == b.address && a.data == b.data;
}

// Records of `type` ('1' to '3') for the regions, `per_record` bytes each, and an end.
inline std::string SrecFile(char type, const std::vector<Region>& regions, size_t per_record = 32,
                            const char* eol = "\n") {
  std::string text = Record('0', 0, {'t', 'e', 's', 't'}) + eol;
  for (const Region& r : regions) {
    for (size_t off = 0; off < r.data.size(); off += per_record) {
      auto from = r.data.begin() + long(off);
      std::vector<uint8_t> part(from, from + long(std::min(per_record, r.data.size() - off)));
      text += Record(type, uint32_t(r.address + off), part) + eol;
    }
  }
  return text + Record(char('9' - (type - '1')), 0, {}) + eol;
}

// Decodes a block stream (a vector or string of bytes), checking every marker and check
// byte; `error` names the first fault found, or stays empty.
template <typename Stream>
std::vector<Block> ReadBlocks(const Stream& stream, std::string& error) {
  const std::vector<uint8_t> s(stream.begin(), stream.end());
  std::vector<Block> blocks;
  auto u32 = [&](size_t at) {
    return uint32_t(s[at]) << 24 | uint32_t(s[at + 1]) << 16 | uint32_t(s[at + 2]) << 8 | s[at + 3];
  };
  for (size_t p = 0;;) {
    if (p + 9 > s.size() || s[p] != 0x01) return error = "bad block header", blocks;
    const uint32_t length = u32(p + 1);
    Block b{u32(p + 5), {}};
    uint8_t sum = 0;
    for (size_t i = 1; i < 9; ++i) sum = uint8_t(sum + s[p + i]);
    p += 9;
    if (length == 0 && b.address == 0x4252454B) {  // "BREK"
      if (p + 1 != s.size() || uint8_t(sum + s[p]) != 0) error = "bad closing block";
      return blocks;
    }
    for (uint32_t i = 0; i < length; ++i) {
      if (p >= s.size()) return error = "truncated block", blocks;
      b.data.push_back(s[p]);
      sum = uint8_t(sum + s[p++]);
      if ((i + 1) % 1024 != 0 && i + 1 != length) continue;
      if (p >= s.size() || uint8_t(sum + s[p++]) != 0)
        return error = "bad check byte at " + std::to_string(p - 1), blocks;
    }
    blocks.push_back(std::move(b));
  }
}

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
  if (std::FILE* f = std::fopen(path.u8string().c_str(), "wb")) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
}

// A fresh, empty directory for one test.
inline std::filesystem::path FreshDir(const std::string& name) {
  auto dir = std::filesystem::temp_directory_path() /
             ("korvo_srec_" + name + "_" + std::to_string(std::random_device{}()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

}  // namespace srectest
}  // namespace korvo
