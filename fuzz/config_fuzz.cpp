// Configuration documents: any text, loaded from memory as a download loads
// it after decompression, and read through every query and the payload
// check. An extraction that fails leaves an existing output as it was; no
// temporary file is left.
#include "config/config_document.h"
#include "config/payload_check.h"
#include "fuzz_support.h"

using namespace korvo;
using namespace korvo::fuzz;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnterWorkFolder("config");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ConfigDocument doc;
  if (doc.LoadXml(std::string(reinterpret_cast<const char*>(data), size)) == 0) {
    int count = 0;
    std::string value, name;
    if (doc.GetDeviceCount(count) == 0) {
      for (int d = 0; d < std::min(count, 4); ++d) {
        doc.GetDeviceEntry(d, "DATA_TYPE", value);
        for (int n = 0; n < 64 && doc.GetTransparentEntry(d, n, name, value) == 0; ++n) {
        }
        for (int k = 0; k < 64 && doc.GetLogText(d, k, value) == 0; ++k) {
        }
        for (int c = kFirstConstraintNumber; c <= kLastConstraintNumber; ++c) {
          DownloadConstraint constraint;
          doc.GetConstraint(d, c, constraint);
        }
        std::string why;
        CheckDevicePayload(doc, d, why);
        if (d > 0) continue;
        // The files of the extractions cost more than all the rest: the first device only.
        WriteText("out", "previous output");
        if (doc.ExtractData(d, "out") != 0)
          Check(ReadBytes("out") == "previous output", "failed extraction changed the output");
        WriteText("out", "previous output");
        if (doc.ExtractText(d, "out") != 0)
          Check(ReadBytes("out") == "previous output", "failed extraction changed the output");
      }
    }
    bool legacy = false;
    doc.GetSystemEntry("Key", value, &legacy);
    Check(doc.Unload() == 0, "unload failed");
  }
  CheckOnly({"out"});
  ClearWorkFolder();
  return 0;
}
