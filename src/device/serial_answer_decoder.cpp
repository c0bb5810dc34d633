#include "device/serial_answer_decoder.h"

#include <cstring>

#include "device/parameter_text.h"

namespace korvo {
namespace {

constexpr char kStx = 0x02;
constexpr char kNoProgram[] = "No Program";
// "sRA ", "DeviceIdent" and its blank come between STX and the length.
constexpr size_t kIdentHeaderLength = 16;

bool StartsWith(const char* text, size_t length, const char* prefix) {
  size_t n = std::strlen(prefix);
  return length >= n && std::memcmp(text, prefix, n) == 0;
}

}  // namespace

bool SerialAnswerDecoder::IsAccessGranted(const char* answer, size_t length) const {
  if (!answer) return false;
  length = strnlen(answer, length);
  return StartsWith(answer, length, "01") || StartsWith(answer, length, kNoProgram);
}

std::string SerialAnswerDecoder::DecodeIdent(const char* answer, size_t length) const {
  if (!answer) return std::string();
  const char* end = answer + strnlen(answer, length);
  const char* stx = static_cast<const char*>(std::memchr(answer, kStx, end - answer));

  uint32_t count = 0;
  const char* after = end;
  if (stx && static_cast<size_t>(end - stx) > kIdentHeaderLength + 1) {
    const char* p = stx + 1 + kIdentHeaderLength;
    after = ScanHex(p, end, &count);
  }
  if (count == 0) {
    bool no_program = StartsWith(answer, end - answer, kNoProgram);
    return no_program ? std::string(kNoProgram) : std::string();
  }
  const char* blank = FindBlank(after, end);
  if (!blank) return std::string();
  const char* text = blank + 1;
  size_t present = static_cast<size_t>(end - text);
  return std::string(text, count < present ? count : present);
}

}  // namespace korvo
