// The boot-loader frame decoder on any bytes: a frame it accepts encodes
// back to bytes that decode to the same frame and hold neither 0x00 nor the
// end byte; stuffing round-trips whatever it is given.
#include <cstring>

#include "bootloader/brek_frame.h"
#include "fuzz_support.h"

using namespace korvo::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  brek::Frame frame;
  if (brek::DecodeFrame(data, size, &frame)) {
    const std::vector<uint8_t> encoded = brek::EncodeFrame(frame);
    Check(!encoded.empty() && encoded.back() == brek::kFrameEnd, "no end byte");
    for (size_t i = 0; i + 1 < encoded.size(); ++i)
      Check(encoded[i] != 0 && encoded[i] != brek::kFrameEnd, "a reserved byte in a frame");
    brek::Frame again;
    Check(brek::DecodeFrame(encoded.data(), encoded.size() - 1, &again), "own frame refused");
    Check(again.type == frame.type && again.seq == frame.seq && again.body == frame.body,
          "frame does not round-trip");
  }
  const std::vector<uint8_t> raw(data, data + size);
  const std::vector<uint8_t> stuffed = brek::Stuff(raw);
  Check(stuffed.size() <= raw.size() + raw.size() / 125 + 2, "stuffing grew too much");
  std::vector<uint8_t> back;
  Check(brek::Unstuff(stuffed.data(), stuffed.size(), &back) && back == raw,
        "stuffing does not round-trip");
  return 0;
}
