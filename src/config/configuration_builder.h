// Builds a compressed download configuration file from a project document:
// per device the data file is converted and embedded Base64-encoded with the
// device's entries, and the XML is compressed next to the project under the
// name the project gives.
//
// The builder owns the one ProjectDocument the Configurator natives edit, so
// a build fails with -62 while the front end keeps a project open there.
// Not thread-safe: one build or edit at a time.
#pragma once

#include <xercesc/dom/DOM.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config/payload_embedding.h"
#include "config/project_document.h"
#include "config/splay_compressor.h"
#include "config/srec_converter.h"

namespace korvo {

// Result codes of the builder band (the conversions add -41 to -43 and -48;
// project document and file codes pass through unchanged).
constexpr int kBuildNoBuilder = -1;
constexpr int kBuildNoSystemEntries = -41;  // the project's system section cannot be read
constexpr int kBuildNoImplementation = -44;
constexpr int kBuildOtherException = -45;  // also: the XML could not be written
constexpr int kBuildDomException = -46;
constexpr int kBuildOutOfMemory = -47;
constexpr int kBuildSectionMissing = -49;  // Header, Data or System2 not exactly once
constexpr int kBuildNoEntries = -50;       // no system or device configuration entries
constexpr int kBuildBadPartialSize = -51;
constexpr int kBuildUnknownConversion = -52;
constexpr int kBuildBadAddress = -53;
constexpr int kBuildBusy = -54;  // a build or a project-document call runs (or SetupJNI)
constexpr int kBuildOutputFailed = -91;

// What a code of a build means, the conversion and project codes that pass
// through included; a generic text for an unknown code.
const char* BuildResultText(int code);

// The file a failed build is about, and the place in it.
struct FailurePlace {
  std::string file;     // the project file when no other file is at fault
  uint64_t line = 0;    // 1-based; 0 when the fault is not about a line
  uint64_t column = 0;  // 1-based; 0 when unknown
};

// What the last build put into the configuration for one device.
struct BuiltDevice {
  std::string conversion;   // ConversionType
  std::string data_type;    // DATA_TYPE written
  uint64_t payload_bytes = 0;  // bytes embedded (before Base64)
  bool partial = false;        // PARTIAL_DOWNLOAD is "true": the part-by-part download
};

class ConfigurationBuilder final {
 public:
  ConfigurationBuilder();
  ~ConfigurationBuilder();
  ConfigurationBuilder(const ConfigurationBuilder&) = delete;
  ConfigurationBuilder& operator=(const ConfigurationBuilder&) = delete;

  // Builds the configuration for the project at `project_path` (UTF-8).
  // 0 or a negative code. On failure no output is written, an existing
  // output file is left as it was, and no temporary file remains.
  int Build(const std::string& project_path);
  // The library's configuration-file creation: the same as Build.
  int CreateConfigFile(const std::string& file_name) { return Build(file_name); }

  ProjectDocument& Project() { return project_; }

  // Drive and directory of the last project path given to Build, with the
  // trailing separator ("" for a bare file name).
  const std::string& ProjectDirectory() const { return project_directory_; }
  // The output path of the last successful build ("" after a failure).
  const std::string& OutputPath() const { return output_path_; }
  // The devices of the last successful build, in project order.
  const std::vector<BuiltDevice>& BuiltDevices() const { return built_; }
  // The device (from 0) the last build failed on; -1 when it failed
  // elsewhere or succeeded.
  int FailedDevice() const { return failed_device_; }
  // Where and why the last build failed, beside its code ("" when unknown):
  // the entry that is missing, the file that cannot be opened, the line of
  // an S-record file and what is wrong with it.
  const std::string& FailureDetail() const { return detail_; }
  // The file (and line) FailureDetail is about; empty after a success.
  const FailurePlace& FailedAt() const { return place_; }
  // What the last build found doubtful but built anyway, each naming its
  // file (and line).
  const std::vector<std::string>& Warnings() const { return warnings_; }

 private:
  int BuildProject(const std::string& project_path);
  int BuildDocument(xercesc::DOMDocument* document);
  int CopySystemEntries(xercesc::DOMDocument* document);
  int BuildDevice(xercesc::DOMDocument* document, int device);
  int ReadPartialSize(int device, bool& partial, unsigned long& partial_size);
  int ReadRangeSelection(int device, bool& selected, AddressRangeSelection& selection);
  int Convert(xercesc::DOMDocument* document, int device, unsigned long partial_size,
              xercesc::DOMElement* header_device, xercesc::DOMElement* data_device,
              BuiltDevice& built);
  void WarnAboutSrecText(const std::string& data_path, bool partial);
  int ReadEntry(int device, const char* name, std::string& value);
  int Note(int rc, std::string detail, FailurePlace place = {});

  SrecToBrekConverter converter_;
  ProjectDocument project_;
  SplayCompressor compressor_;
  xercesc::DOMImplementation* implementation_;
  std::string project_directory_;
  std::string output_path_;
  std::vector<BuiltDevice> built_;
  int failed_device_ = -1;
  std::string detail_;
  FailurePlace place_;
  std::vector<std::string> warnings_;
  std::string pending_output_;  // the output of the build under way
  std::unique_ptr<EmbeddedPayloads> payloads_;  // of the build under way
  ElementIndex built_elements_;                  // of the document being built
};

// Compresses `input_path` into a temporary file beside `output_path` and
// renames it over the output only when complete (see ReplacingOutput), so
// that a failure at any point leaves an existing output file as it was. 0,
// or -91 (the temporary file is then removed).
int CompressReplacing(SplayCompressor& compressor, const std::string& input_path,
                      const std::string& output_path);

// Drive and directory part of `path` with its trailing separator; both '/'
// and '\' separate, and a leading "X:" is a drive.
std::string DirectoryPart(const std::string& path);

// `name` taken relative to `directory`, unless it names a drive ("X:\..." or
// "X:/...") or a network share ("\\host\..." or "//host/..."): a name that
// starts with one separator is joined to the folder too ("/p/" and "/a.cfg"
// give "/p//a.cfg").
std::string ProjectPath(const std::string& directory, const std::string& name);

}  // namespace korvo
