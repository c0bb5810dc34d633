// The splay coder in memory, through the same code as the files: any input
// round-trips through compression; the decoder, given the input behind the
// magic number (so that it decodes rather than refuses), either fails with
// a reason or gives data that round-trip in their turn (when no longer
// than the input).
#include <cstdio>

#include "config/splay_compressor.h"
#include "fuzz_support.h"

using namespace korvo;
using namespace korvo::fuzz;

namespace {

// Runs `code` from `input` into a buffer; the buffer's bytes, rc set. No
// symbol codes to more than 33 bytes, and none decodes from less than a bit.
template <typename Code>
std::string InMemory(const std::string& input, Code code, int& rc) {
  static MemoryInput memory;
  static MemoryOutput output;
  std::FILE* in = memory.Open(input);
  std::FILE* out = output.Open(64 * input.size() + 64);
  rc = code(in, out);
  std::fclose(in);
  return output.Close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static SplayCompressor compressor;
  const std::string input(reinterpret_cast<const char*>(data), size);
  auto compress = [](std::FILE* in, std::FILE* out) { return compressor.Compress(in, out); };
  auto decompress = [](std::FILE* in, std::FILE* out) { return compressor.Decompress(in, out); };
  int rc = 0;
  const std::string packed = InMemory(input, compress, rc);
  Check(rc == 0, "compression failed");
  Check(InMemory(packed, decompress, rc) == input && rc == 0, "input does not round-trip");

  const std::string stream = std::string("\x55\xAA\x02\xFF", 4) + input;
  const std::string decoded = InMemory(stream, decompress, rc);
  if (rc != 0) {
    Check(compressor.last_failure() == SplayFailure::kTruncated, "failure without its reason");
  } else if (decoded.size() <= size && OneIn(4, data, size)) {
    // Decoded bytes are arbitrary bytes, as the input is: the first round
    // trip covers most of this one. Larger output is mostly runs.
    const std::string again = InMemory(decoded, compress, rc);
    Check(rc == 0 && InMemory(again, decompress, rc) == decoded && rc == 0,
          "decoded data does not round-trip");
  }
  return 0;
}
