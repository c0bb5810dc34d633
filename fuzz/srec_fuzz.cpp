// The S-record converter, from memory; and for a sample of inputs from a
// file, with or without the address-range filter first (the first byte
// chooses the filter; the rest is the file). On success the block stream
// decodes, has no empty block before the closing one, and its range is that
// of the blocks; on failure no file is left. The converter is one object
// for all inputs, as the builder keeps it.
#include <algorithm>

#include "config/srec_converter.h"
#include "config/srec_test_util.h"
#include "fuzz_support.h"

using namespace korvo;
using namespace korvo::fuzz;

namespace {

// The address text of the first (or last) S3 line, as a selection names it.
std::string S3Address(const std::string& text, bool last) {
  size_t at = last ? text.rfind("S3") : text.find("S3");
  if (at == std::string::npos || at + 12 > text.size()) return "00000000";
  return text.substr(at + 4, 8);
}

// The block stream decodes, has no empty block before the closing one, and
// `range` is that of its blocks.
void CheckBlocks(const std::string& bytes, const std::string& range) {
  std::string error;
  std::vector<srectest::Block> blocks =
      srectest::ReadBlocks(std::vector<uint8_t>(bytes.begin(), bytes.end()), error);
  Check(error.empty(), "block stream does not decode: " + error);
  uint64_t low = 0xFFFFFFFF, end = 0;
  for (const srectest::Block& b : blocks) {
    Check(!b.data.empty(), "empty block before the closing one");
    low = std::min<uint64_t>(low, b.address);
    end = std::max<uint64_t>(end, b.address + b.data.size());
  }
  char expected[40];
  std::snprintf(expected, sizeof expected, "%08llx-%08llx", (unsigned long long)low,
                (unsigned long long)end);
  Check(range == expected, "range " + range + " is not the blocks' " + expected);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnterWorkFolder("srec");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  static SrecToBrekConverter converter;
  {
    // A record's text is longer than its bytes in the block stream.
    static MemoryInput memory;
    static MemoryOutput output;
    std::FILE* in = memory.Open(text);
    converter.SetStreams(in, output.Open(2 * text.size() + 64));
    int rc = converter.Convert();
    std::fclose(in);
    const std::string written = output.Close();
    if (rc == 0) CheckBlocks(written, converter.GetAddressRangeText());
  }
  // Files cost more than the conversion: one input in eight goes through
  // them, with the selection.
  if (!OneIn(8, data, size)) return 0;

  WriteText("in.s19", text);
  AddressRangeSelection selection{S3Address(text, false),
                                  (mode & 2) ? S3Address(text, true) : std::string()};
  std::string range = "unset";
  int rc = ConvertSrecToBrek(converter, "in.s19", (mode & 1) ? &selection : nullptr, range,
                             "out.brek", "cut.s19");
  if (rc == 0) {
    CheckBlocks(ReadBytes("out.brek"), range);
    CheckOnlyAndClear({"in.s19", "out.brek"});
  } else {
    Check(rc == kSrecNothingKept || rc == kSrecFileError || rc == kSrecLineTooLong ||
              rc == kSrecConversionFailed,
          "unknown code " + std::to_string(rc));
    CheckOnlyAndClear({"in.s19"});
  }
  return 0;
}
