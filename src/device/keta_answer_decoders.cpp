#include "device/keta_answer_decoders.h"

#include <cstring>

#include "device/parameter_text.h"

namespace korvo {

bool KetaAAnswerDecoder::IsAccessGranted(const char* answer, size_t length) const {
  if (!answer || length < 2) return false;
  if (answer[1] == '1') return true;
  // The rest read as text: up to its first zero byte.
  const char* rest = answer + 1;
  size_t rest_length = strnlen(rest, length - 1);
  return rest_length == 2 && rest[0] == '0' && rest[1] == '1';
}

std::string KetaAAnswerDecoder::DecodeIdent(const char* answer, size_t length) const {
  if (!answer || length < 2) return std::string();
  const char* end = answer + length;
  uint32_t count = 0;
  const char* after_count = ScanHex(answer + 1, end, &count);
  const char* blank = FindBlank(after_count, end);
  if (!blank) return std::string();
  const char* text = blank + 1;
  size_t available = static_cast<size_t>(end - text);
  return std::string(text, count < available ? count : available);
}

std::unique_ptr<AnswerDecoder> MakeKetaAnswerDecoder(const std::string& communication_name) {
  if (communication_name == "Keta B") return std::make_unique<KetaBAnswerDecoder>();
  return std::make_unique<KetaAAnswerDecoder>();
}

}  // namespace korvo
