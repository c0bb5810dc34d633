// Interprets identification and access-mode answers of the device command
// language. Decoders are owned by the download executor; channels only
// borrow them. Stateless, so thread-safe.
//
// `answer` points at `length` answer bytes followed by a zero byte; a decoder
// never reads outside those bytes.
#pragma once

#include <cstddef>
#include <string>

namespace korvo {

class AnswerDecoder {
 public:
  virtual ~AnswerDecoder() = default;
  virtual bool IsAccessGranted(const char* answer, size_t length) const = 0;
  virtual std::string DecodeIdent(const char* answer, size_t length) const = 0;
};

}  // namespace korvo
