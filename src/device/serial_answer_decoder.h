// The answer decoder of the serial channel. It sees the channel's whole
// answer text, STX included, and reads nothing beyond `length` bytes or the
// first zero byte, whichever comes first. Stateless, so thread-safe.
#pragma once

#include <string>

#include "device/answer_decoder.h"

namespace korvo {

class SerialAnswerDecoder final : public AnswerDecoder {
 public:
  // `answer` is the result text of a SetAccessMode call: granted when it
  // starts with "01", or with "No Program" (a device with boot code only).
  bool IsAccessGranted(const char* answer, size_t length) const override;

  // `answer` is a whole "DeviceIdent" read: STX, "sRA DeviceIdent ", a
  // hexadecimal length, a blank and the identification. A length larger
  // than the bytes present gives the bytes present; no length gives
  // "No Program" for an answer rewritten to that text and "" otherwise.
  std::string DecodeIdent(const char* answer, size_t length) const override;
};

}  // namespace korvo
