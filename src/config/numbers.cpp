#include "config/numbers.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <limits>

namespace korvo {
namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

const char* SkipSpace(const char* p) {
  while (IsSpace(*p)) ++p;
  return p;
}

}  // namespace

int32_t TextToInt(const char* text, size_t length) {
  if (text == nullptr) return 0;
  size_t i = 0;
  while (i < length && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < length && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulate the magnitude so that INT32_MIN is reachable; clamp instead
  // of overflowing.
  const int64_t limit = negative ? -static_cast<int64_t>(std::numeric_limits<int32_t>::min())
                                 : std::numeric_limits<int32_t>::max();
  int64_t value = 0;
  for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > limit) value = limit;
  }
  return static_cast<int32_t>(negative ? -value : value);
}

int32_t TextToInt(const std::string& text) { return TextToInt(text.data(), text.size()); }

uint32_t TextToUnsigned(const std::string& text) {
  const char* p = SkipSpace(text.c_str());
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  // strtoull would accept a second sign or blanks after the sign; the
  // 32-bit reading does not.
  if (*p == '+' || *p == '-' || IsSpace(*p)) return 0;
  errno = 0;
  unsigned long long magnitude = std::strtoull(p, nullptr, 0);
  if (errno == ERANGE || magnitude > 0xFFFFFFFFull) return 0xFFFFFFFFu;
  uint32_t value = static_cast<uint32_t>(magnitude);
  return negative ? 0u - value : value;
}

bool ParseUnsigned(const std::string& text, uint32_t& value) {
  const char* p = SkipSpace(text.c_str());
  // A minus would wrap round to a huge size or address.
  if (*p == '-') return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long parsed = std::strtoull(p, &end, 0);
  if (end == p || *end != '\0' || errno == ERANGE || parsed > 0xFFFFFFFFull) return false;
  value = static_cast<uint32_t>(parsed);
  return true;
}

}  // namespace korvo
