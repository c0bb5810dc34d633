// The serial channel's answer parsing, fed from memory the way a command
// feeds it what the port read: the input (framed with STX and ETX unless
// the first byte's low bit is set) answers a method call and then a
// variable read, and the results are read back every way the executor
// reads them.
#include "device/serial_answer_decoder.h"
#include "device/serial_device_channel.h"
#include "fuzz_support.h"

using namespace korvo;
using namespace korvo::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static SerialAnswerDecoder decoder;
  static SerialDeviceChannel channel(&decoder, "COM1");
  if (size == 0 || size > 4000) return 0;
  std::string body(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string answer = (data[0] & 1) ? body : "\x02" + body + "\x03";
  const int taken = std::min<int>(int(answer.size()), SerialDeviceChannel::kBufferSize);
  SerialDeviceChannel::SetNoProgramFlag(false);
  for (const char* kind : {"sMN", "sRN"}) {
    int got = channel.TakeAnswer(kind, kind[1] == 'M' ? "mMethod" : "DeviceIdent", answer.data(),
                                 answer.size());
    Check(got <= taken, "more answer than was taken");
    for (int i = 0; i < 4; ++i) {
      uint32_t value = 0;
      channel.GetResultValue(i, &value);
      std::string text;
      channel.GetResultString(i, text, true, 0);
      // A device without a program answers with an error code that reads as "No Program".
      Check(text.size() <= answer.size() || text == "No Program",
            "result string longer than the answer");
    }
  }
  std::string ident = decoder.DecodeIdent(answer.data(), answer.size());
  Check(ident.size() <= answer.size(), "identification too long");
  return 0;
}
