#include "device/parameter_text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace korvo {
namespace {

bool IsWhite(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

void ParameterBuffer::Reset() {
  size_ = 0;
  bytes_[0] = 0;
}

bool ParameterBuffer::AppendRaw(const void* bytes, size_t count) {
  if (count > kCapacity - size_) return false;
  if (count > 0) std::memcpy(bytes_ + size_, bytes, count);
  size_ += count;
  bytes_[size_] = 0;
  return true;
}

bool ParameterBuffer::AppendNumber(uint32_t value) {
  char text[16];
  int n = std::snprintf(text, sizeof text, " %X", static_cast<unsigned>(value));
  return AppendRaw(text, static_cast<size_t>(n));
}

bool ParameterBuffer::AppendCounted(const void* bytes, size_t count) {
  char head[32];
  int n = std::snprintf(head, sizeof head, " %zX ", count);
  size_t head_size = static_cast<size_t>(n);
  if (count > kCapacity || head_size + count > kCapacity - size_) return false;
  AppendRaw(head, head_size);
  return AppendRaw(bytes, count);
}

const char* ScanHex(const char* p, const char* end, uint32_t* value) {
  const char* q = p;
  while (q < end && IsWhite(*q)) ++q;
  uint64_t v = 0;
  const char* digits = q;
  for (int d; q < end && (d = HexDigit(*q)) >= 0; ++q) {
    v = std::min<uint64_t>(v * 16 + static_cast<uint64_t>(d), 0xFFFFFFFFu);
  }
  *value = static_cast<uint32_t>(v);
  return q == digits ? p : q;
}

const char* FindBlank(const char* p, const char* end) {
  if (p >= end) return nullptr;
  return static_cast<const char*>(std::memchr(p, ' ', static_cast<size_t>(end - p)));
}

bool ContainsText(const char* p, const char* end, const char* needle) {
  size_t n = std::strlen(needle);
  return std::search(p, end, needle, needle + n) != end || n == 0;
}

}  // namespace korvo
