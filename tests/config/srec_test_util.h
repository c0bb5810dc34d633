// Writing S-records and reading block streams back, for the converter tests
// and benchmark. Independent of the converter's own code.
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

// One record: "S" type, count, address (2, 3 or 4 bytes by type), data,
// checksum, in upper-case hex, without terminator.
inline std::string Record(char type, uint32_t address, const std::vector<uint8_t>& data) {
  int address_bytes = (type == '1' || type == '9') ? 2 : (type == '2' || type == '8') ? 3 : 4;
  if (type == '0' || type == '5') address_bytes = 2;
  std::vector<uint8_t> bytes;
  bytes.push_back(uint8_t(address_bytes + data.size() + 1));
  for (int i = address_bytes - 1; i >= 0; --i) bytes.push_back(uint8_t(address >> (8 * i)));
  bytes.insert(bytes.end(), data.begin(), data.end());
  uint8_t sum = 0;
  for (uint8_t b : bytes) sum = uint8_t(sum + b);
  bytes.push_back(uint8_t(~sum));
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text = "S";
  text += type;
  for (uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

inline std::vector<uint8_t> Bytes(size_t n, uint32_t seed) {
  std::vector<uint8_t> out(n);
  uint32_t x = seed * 2654435761u + 12345;
  for (auto& b : out) {
    x = x * 1103515245u + 12345u;
    b = uint8_t(x >> 16);
  }
  return out;
}

struct Region {
  uint32_t address;
  std::vector<uint8_t> data;
};

// A file of data records of `type` ('1', '2', '3') covering the regions in
// order, `per_record` data bytes per line, closed by the matching end record.
inline std::string SrecFile(char type, const std::vector<Region>& regions, size_t per_record = 32,
                            const char* eol = "\n") {
  std::string text = Record('0', 0, {'t', 'e', 's', 't'}) + eol;
  for (const Region& r : regions) {
    for (size_t off = 0; off < r.data.size(); off += per_record) {
      size_t n = std::min(per_record, r.data.size() - off);
      std::vector<uint8_t> part(r.data.begin() + long(off), r.data.begin() + long(off + n));
      text += Record(type, uint32_t(r.address + off), part) + eol;
    }
  }
  char end = type == '1' ? '9' : type == '2' ? '8' : '7';
  return text + Record(end, 0, {}) + eol;
}

struct Block {
  uint32_t address = 0;
  std::vector<uint8_t> data;
};

// Decodes a block stream, checking markers and every check byte; `error`
// names the first fault found (empty when the stream is sound).
inline std::vector<Block> ReadBlocks(const std::vector<uint8_t>& s, std::string& error) {
  std::vector<Block> blocks;
  size_t p = 0;
  auto u32 = [&](size_t at) {
    return uint32_t(s[at]) << 24 | uint32_t(s[at + 1]) << 16 | uint32_t(s[at + 2]) << 8 | s[at + 3];
  };
  for (;;) {
    if (p + 9 > s.size() || s[p] != 0x01) {
      error = "bad block header at " + std::to_string(p);
      return blocks;
    }
    uint32_t length = u32(p + 1);
    uint32_t address = u32(p + 5);
    uint8_t sum = 0;
    for (size_t i = 1; i < 9; ++i) sum = uint8_t(sum + s[p + i]);
    p += 9;
    if (length == 0 && address == 0x4252454B) {  // "BREK"
      if (p + 1 != s.size() || uint8_t(sum + s[p]) != 0) error = "bad closing block";
      return blocks;
    }
    Block b;
    b.address = address;
    for (uint32_t i = 0; i < length; ++i) {
      if (p >= s.size()) {
        error = "truncated block";
        return blocks;
      }
      b.data.push_back(s[p]);
      sum = uint8_t(sum + s[p++]);
      if ((i + 1) % 1024 == 0 || i + 1 == length) {
        if (p >= s.size() || uint8_t(sum + s[p]) != 0) {
          error = "bad check byte at " + std::to_string(p);
          return blocks;
        }
        ++p;
      }
    }
    blocks.push_back(std::move(b));
  }
}

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::FILE* f = std::fopen(path.u8string().c_str(), "wb");
  if (!f) return;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

inline std::vector<uint8_t> ReadAll(const std::filesystem::path& path) {
  std::vector<uint8_t> out;
  std::FILE* f = std::fopen(path.u8string().c_str(), "rb");
  if (!f) return out;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  std::fclose(f);
  return out;
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
