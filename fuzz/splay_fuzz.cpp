// The splay decompressor on any input, written through ReplacingOutput as
// the tool writes: a failed run leaves the existing output as it was, a
// successful one decodes to data that round-trips; any input also
// round-trips through compression. No file is left behind.
#include "config/splay_compressor.h"
#include "config/temp_files.h"
#include "fuzz_support.h"

using namespace korvo;
using namespace korvo::fuzz;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnterWorkFolder("splay");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  WriteBytes("in", data, size);
  WriteText("out", "previous output");
  SplayCompressor compressor;
  int rc;
  {
    ReplacingOutput out("out");
    Check(out.ok(), "no file beside the output");
    rc = compressor.Decompress("in", out.path());
    if (rc == 0) Check(out.Commit() == 0, "commit failed");
  }
  if (rc != 0) {
    Check(compressor.last_failure() != SplayFailure::kNone, "failure without a reason");
    Check(ReadBytes("out") == "previous output", "failed decompression changed the output");
  } else {
    const std::string decoded = ReadBytes("out");
    Check(compressor.Compress("out", "again") == 0, "compressing decoded data failed");
    Check(compressor.Decompress("again", "back") == 0, "round trip of decoded data failed");
    Check(ReadBytes("back") == decoded, "decoded data does not round-trip");
  }
  Check(compressor.Compress("in", "packed") == 0, "compression failed");
  Check(compressor.Decompress("packed", "back") == 0, "decompression of own output failed");
  Check(ReadBytes("back") == input, "input does not round-trip");
  CheckOnly({"in", "out", "again", "back", "packed"});
  ClearWorkFolder();
  return 0;
}
