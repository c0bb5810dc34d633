// Project documents and the builder. The input is a project, opened from
// memory, read, edited and saved again (which must reopen). Then, for a
// sample of inputs, it is built from a file, beside an S-record file
// (fw.s19) and a raw file (raw.bin) it may name: a failed build leaves the
// existing output as it was, a successful one writes a configuration that
// loads; nothing else is left behind. Projects whose
// FirmwarePackageFilename leaves the work folder are not built.
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

  std::string output;
  {
    ProjectDocument project;
    if (project.OpenProjectXml(text) == 0) {
      project.GetFirmwarePackageFilename(output);
      int count = 0;
      std::string value;
      if (project.GetProjectDeviceCount(count) == 0) {
        for (int d = 0; d < std::min(count, 4); ++d) {
          project.GetDeviceConversionEntry(d, "ConversionType", value);
          project.GetDeviceConfigurationEntry(d, "PARTIAL_DOWNLOAD", value);
        }
      }
      // Edited and saved, the project must open again (one input in three:
      // a parse costs far more than reading a small project).
      project.SetProjectSystemEntry("FuzzEntry", "a\xE4\xB8\xAD" "b", true);
      std::string saved;
      Check(project.SaveProjectXml(saved) == 0, "project not saved");
      project.CloseProjectDocument(false);
      if (OneIn(3, data, size)) {
        Check(project.OpenProjectXml(saved) == 0, "saved project does not open");
        project.CloseProjectDocument(false);
      }
    }
  }
  // The build reads and writes files, as it must: one input in eight.
  if (!StaysHere(output) || !OneIn(8, data, size)) return 0;
  WriteText("p.xml", text);
  WriteText("fw.s19", kSrec);
  WriteText("raw.bin", "123456789");
  WriteText(output, "previous output");
  int rc = builder.Build("p.xml");
  if (rc != 0) {
    Check(ReadBytes(output) == "previous output", "failed build changed the output");
  } else {
    ConfigDocument config;
    Check(config.Load(output) == 0, "built configuration does not load");
  }
  Check(!builder.Project().IsOpen(), "project left open");
  CheckOnlyAndClear({"p.xml", "fw.s19", "raw.bin", output});
  return 0;
}
