// The serial channel's answer parsing, over a pseudo-terminal: a simulated
// device answers each telegram with the input (framed with STX and ETX
// unless the first byte's low bit is set), and the results are read back
// every way the executor reads them.
#include <memory>

#include "device/serial_answer_decoder.h"
#include "device/serial_device_channel.h"
#include "device/serial_pty.h"
#include "fuzz_support.h"

using namespace korvo;
using namespace korvo::fuzz;
using testing_pty::PseudoTerminal;
using testing_pty::SimulatedDevice;

namespace {
PseudoTerminal* g_pty = nullptr;
SerialAnswerDecoder g_decoder;
SerialDeviceChannel* g_channel = nullptr;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_pty = new PseudoTerminal();
  Check(g_pty->ok(), "no pseudo-terminal");
  g_channel = new SerialDeviceChannel(&g_decoder, g_pty->slave_path());
  // An unframed answer ends after 5 ms without a byte.
  g_channel->SetReadTimeouts(5, 50);
  Check(g_channel->Open() == 0, "cannot open the pseudo-terminal");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 4000) return 0;
  std::string body(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string answer = (data[0] & 1) ? body : "\x02" + body + "\x03";
  if (answer.empty()) return 0;  // a silent device: only time-outs
  SerialDeviceChannel::SetNoProgramFlag(false);
  {
    SimulatedDevice device(*g_pty, {answer, answer});
    int got = g_channel->CallMethod("mMethod");
    Check(got <= int(answer.size()), "answer longer than what was sent");
    for (int i = 0; i < 4; ++i) {
      uint32_t value = 0;
      g_channel->GetResultValue(i, &value);
      std::string text;
      g_channel->GetResultString(i, text, true, 0);
      Check(text.size() <= answer.size(), "result string longer than the answer");
    }
    std::string ident = g_channel->ReadDeviceIdent();
    Check(ident.size() <= answer.size() || ident == "No Program", "identification too long");
  }
  g_pty->Drain(0);
  SerialDeviceChannel::SetNoProgramFlag(false);
  return 0;
}
