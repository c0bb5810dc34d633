// The Java channel's answer handling: every command is answered at once
// with the input's bytes (the first byte picks the answer kind and whether
// the name matches), and the results are read back every way the executor
// reads them. An answer is read only within its bytes.
#include <cstring>

#include "device/java_device_channel.h"
#include "device/keta_answer_decoders.h"
#include "device/serial_answer_decoder.h"
#include "fuzz_support.h"
#include "host_interfaces_fake.h"

using namespace korvo;
using namespace korvo::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An empty answer makes the channel wait for the real one: not fuzzed.
  if (size < 2) return 0;
  static const char* const kKinds[] = {"AN", "RA", "EA", "FA", "XX"};
  const std::string kind = kKinds[data[0] % 5];
  const bool wrong_name = data[0] & 0x80;
  const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  KetaAAnswerDecoder keta;
  SerialAnswerDecoder serial;
  AnsweringSender sender;
  JavaDeviceChannel channel((data[0] & 0x40) ? static_cast<const AnswerDecoder*>(&serial) : &keta,
                            &sender);
  sender.answer = [&](const std::string& name) {
    auto* copy = new uint8_t[bytes.size()];
    std::memcpy(copy, bytes.data(), bytes.size());
    channel.ReceiveAnswer(kind, wrong_name ? name + "x" : name, copy, int(bytes.size()));
  };
  JavaDeviceChannel::SetNoProgramFlag(false);
  channel.Open();
  int result = 0;
  channel.GetDownloadStatus(1, 2, &result);
  channel.ReadVariable("DeviceIdent", 1000);
  for (int i = 0; i < 4; ++i) {
    uint32_t value = 0;
    channel.GetResultValue(i, &value);
    std::string text;
    channel.GetResultString(i, text, true, 0);
    Check(text.size() <= bytes.size(), "result string longer than the answer");
    channel.GetResultString(i, text, false, data[0] & 0x1F);
  }
  channel.ReadDeviceIdent();
  channel.SetAccessMode("3", "password");
  channel.CallMethod("mMethod");
  channel.Close();
  JavaDeviceChannel::SetNoProgramFlag(false);
  return 0;
}
