// Answer decoders for the Java channel, chosen by the communication name:
// exactly "Keta B" selects KetaBAnswerDecoder, every other name the Keta A
// one. Both read only the `length` answer bytes they are given.
#pragma once

#include <memory>
#include <string>

#include "device/answer_decoder.h"

namespace korvo {

// Answers arrive as a blank and the values, e.g. " 1" for a granted login or
// " 5 HELLO" for an identification.
class KetaAAnswerDecoder final : public AnswerDecoder {
 public:
  // True when the second byte is '1', or the text from the second byte on is "01".
  bool IsAccessGranted(const char* answer, size_t length) const override;
  // The counted string that starts at the second byte; when the count is
  // larger than the bytes present, the bytes present.
  std::string DecodeIdent(const char* answer, size_t length) const override;
};

// The binary Keta B identification has no defined decoding, and a login over
// it is never reported as granted.
class KetaBAnswerDecoder final : public AnswerDecoder {
 public:
  bool IsAccessGranted(const char*, size_t) const override { return false; }
  std::string DecodeIdent(const char*, size_t) const override { return std::string(); }
};

// The decoder that a communication name selects (comparison byte-exact).
std::unique_ptr<AnswerDecoder> MakeKetaAnswerDecoder(const std::string& communication_name);

}  // namespace korvo
