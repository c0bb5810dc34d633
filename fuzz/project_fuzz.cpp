// Project documents and the builder. The input is a project; beside it lie
// an S-record file (fw.s19) and a raw file (raw.bin) it may name. The
// project is opened, read, and saved again (which must reopen); then built:
// a failed build leaves the existing output as it was, a successful one
// writes a configuration that loads; nothing else is left behind. Projects
// whose FirmwarePackageFilename leaves the work folder are not built.
#include "config/config_document.h"
#include "config/configuration_builder.h"
#include "config/project_document.h"
#include "fuzz_support.h"

using namespace korvo;
using namespace korvo::fuzz;

namespace {

const char kSrec[] =
    "S00600004844521B\n"
    "S3090000100044415441CC\n"
    "S70500000000FA\n";

// Names the file system refuses (too long, or cut by a NUL) cannot be
// written by anyone: no finding.
bool StaysHere(const std::string& name) {
  return !name.empty() && name.size() <= 200 && name.find('\0') == std::string::npos &&
         name.find_first_of("/\\:") == std::string::npos && name[0] != '.' &&
         name != "fw.s19" && name != "raw.bin" && name != "p.xml";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnterWorkFolder("project");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ConfigurationBuilder builder;
  const std::string text(reinterpret_cast<const char*>(data), size);
  WriteText("p.xml", text);
  WriteText("fw.s19", kSrec);
  WriteText("raw.bin", "123456789");

  std::string output;
  {
    ProjectDocument& project = builder.Project();
    if (project.OpenProjectDocument("p.xml") == 0) {
      project.GetFirmwarePackageFilename(output);
      int count = 0;
      std::string value;
      if (project.GetProjectDeviceCount(count) == 0) {
        for (int d = 0; d < std::min(count, 4); ++d) {
          project.GetDeviceConversionEntry(d, "ConversionType", value);
          project.GetDeviceConfigurationEntry(d, "PARTIAL_DOWNLOAD", value);
        }
      }
      project.CloseProjectDocument(false);
      // Edited and saved, the project must open again; then it is put back.
      ProjectDocument copy;
      if (copy.OpenProjectDocument("p.xml") == 0) {
        copy.SetProjectSystemEntry("FuzzEntry", "a\xE4\xB8\xAD" "b", true);
        if (copy.CloseProjectDocument(true) == 0) {
          Check(copy.OpenProjectDocument("p.xml") == 0, "saved project does not open");
          copy.CloseProjectDocument(false);
        }
        WriteText("p.xml", text);
      }
    }
  }
  if (StaysHere(output)) {
    WriteText(output, "previous output");
    int rc = builder.Build("p.xml");
    if (rc != 0) {
      Check(ReadBytes(output) == "previous output", "failed build changed the output");
    } else {
      ConfigDocument config;
      Check(config.Load(output) == 0, "built configuration does not load");
    }
    Check(!builder.Project().IsOpen(), "project left open");
    CheckOnly({"p.xml", "fw.s19", "raw.bin", output});
  } else {
    CheckOnly({"p.xml", "fw.s19", "raw.bin"});
  }
  ClearWorkFolder();
  return 0;
}
