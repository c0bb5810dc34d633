// The answer decoders (serial and Keta A/B) and the token readers answers
// are parsed with. Each sees the answer in a buffer of exactly its length
// plus the zero byte the contract promises, so ASan sees any read beyond.
#include <cstring>
#include <memory>

#include "device/keta_answer_decoders.h"
#include "device/parameter_text.h"
#include "device/serial_answer_decoder.h"
#include "fuzz_support.h"

using namespace korvo;
using namespace korvo::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<char[]> answer(new char[size + 1]);
  std::memcpy(answer.get(), data, size);
  answer[size] = 0;
  SerialAnswerDecoder serial;
  KetaAAnswerDecoder keta_a;
  KetaBAnswerDecoder keta_b;
  for (const AnswerDecoder* decoder : {static_cast<const AnswerDecoder*>(&serial),
                                       static_cast<const AnswerDecoder*>(&keta_a),
                                       static_cast<const AnswerDecoder*>(&keta_b)}) {
    decoder->IsAccessGranted(answer.get(), size);
    std::string ident = decoder->DecodeIdent(answer.get(), size);
    Check(ident.size() <= size || ident == "No Program", "identification longer than the answer");
  }
  // The token readers must stop at the end they are given.
  std::unique_ptr<char[]> exact(new char[size ? size : 1]);
  std::memcpy(exact.get(), data, size);
  const char* end = exact.get() + size;
  for (const char* p = exact.get(); p < end;) {
    uint32_t value = 0;
    const char* after = ScanHex(p, end, &value);
    Check(after >= p && after <= end, "ScanHex left its range");
    const char* blank = FindBlank(after, end);
    Check(!blank || (blank >= after && blank < end), "FindBlank left its range");
    p = blank ? blank + 1 : (after > p ? after : p + 1);
  }
  ContainsText(exact.get(), end, "No Program");
  ParameterBuffer buffer;
  buffer.AppendCounted(data, size);
  Check(buffer.size() <= ParameterBuffer::kCapacity, "parameter buffer overfilled");
  return 0;
}
