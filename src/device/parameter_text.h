// Parameter text of device commands, and the token readers that answers in
// the same form need.
//
// A number is a blank and upper-case hexadecimal (" %X"); a counted byte
// string is a blank, its length in hexadecimal, a blank and the raw bytes
// (" %X " + bytes, any byte value allowed). Pieces follow one another without
// further separator, so a whole parameter text starts with a blank.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace korvo {

// Holds at most kCapacity bytes plus a terminating zero. A piece that would
// make the text longer than kCapacity is dropped whole and the text stays as
// it was. Not thread-safe.
class ParameterBuffer final {
 public:
  static constexpr size_t kCapacity = 1600;

  ParameterBuffer() { Reset(); }

  void Reset();
  // Each returns false when the piece did not fit and was dropped.
  bool AppendNumber(uint32_t value);
  bool AppendCounted(const void* bytes, size_t count);
  bool AppendCounted(const std::string& text) { return AppendCounted(text.data(), text.size()); }
  // Bytes exactly as given, no length prefix.
  bool AppendRaw(const void* bytes, size_t count);

  const uint8_t* data() const { return bytes_; }
  size_t size() const { return size_; }
  std::string ToString() const { return std::string(reinterpret_cast<const char*>(bytes_), size_); }

 private:
  uint8_t bytes_[kCapacity + 1];
  size_t size_ = 0;
};

// Reads a hexadecimal number as strtoul(..., 16) would, but never beyond
// `end`: leading white space is skipped, then hexadecimal digits are taken.
// Without digits the value is 0 and `p` is returned; a value beyond 32 bits
// saturates. Returns the position after the number.
const char* ScanHex(const char* p, const char* end, uint32_t* value);

// The first blank in [p, end), or null.
const char* FindBlank(const char* p, const char* end);

// True when [p, end) contains `needle`.
bool ContainsText(const char* p, const char* end, const char* needle);

}  // namespace korvo
