// Configuration documents: any text, loaded from memory as a download loads
// it after decompression, and read through every query and the payload
// check. Data that decodes in memory extracts to the same bytes in a file;
// a text extraction that fails leaves an existing output as it was; no
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
  bool wrote = false;
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
        // Files cost more than all the rest: only data that decodes in memory
        // goes to one, and the file must hold what the decoding gave.
        std::string decoded;
        if (doc.DecodeData(d, [&decoded](const uint8_t* bytes, size_t n) {
              decoded.append(reinterpret_cast<const char*>(bytes), n);
              return true;
            }) != 0)
          continue;
        wrote = true;
        WriteText("out", "previous output");
        Check(doc.ExtractData(d, "out") == 0, "data that decodes does not extract");
        Check(ReadBytes("out") == decoded, "the extracted file differs from the decoded data");
        WriteText("out", "previous output");
        if (doc.ExtractText(d, "out") != 0)
          Check(ReadBytes("out") == "previous output", "failed extraction changed the output");
      }
    }
    bool legacy = false;
    doc.GetSystemEntry("Key", value, &legacy);
    Check(doc.Unload() == 0, "unload failed");
  }
  if (wrote) CheckOnlyAndClear({"out"});
  return 0;
}
