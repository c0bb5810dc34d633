#include "config/configuration_builder.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "config/data_file.h"
#include "config/numbers.h"
#include "config/srec_outline.h"
#include "config/temp_files.h"
#include "platform/system.h"

using namespace xercesc;

namespace korvo {
namespace {

constexpr char kRootName[] = "download_configuration";
constexpr char kHeader[] = "Header";
constexpr char kSystemSection[] = "System2";
constexpr char kData[] = "Data";
constexpr char kDevice[] = "Device";

constexpr char kBrekConversion[] = "SRECToBrekXML";
constexpr char kBrekBinConversion[] = "SRECToBrekBinXML";
constexpr char kSrecConversion[] = "SRECXML";
constexpr char kFileConversion[] = "File";

constexpr char kBlockStreamPrefix[] = "~BREKTMP";

struct DocumentReleaser {
  void operator()(DOMDocument* d) const { d->release(); }
};

// Size of a file, or 0 when it cannot be read.
uint64_t FileSize(const std::string& path) {
  UniqueFile file(OpenFileUtf8(path, "rb"));
  if (!file || std::fseek(file.get(), 0, SEEK_END) != 0) return 0;
  long size = std::ftell(file.get());
  return size > 0 ? uint64_t(size) : 0;
}

// Indentation between entries of a parsed project; the writer indents anew.
bool IsFormattingText(DOMNode* node) {
  DOMText* text = AsText(node);
  if (!text) return false;
  for (const XMLCh* c = text->getData(); c && *c; ++c) {
    if (*c != ' ' && *c != '\t' && *c != '\r' && *c != '\n') return false;
  }
  return true;
}

// Appends deep copies of the child nodes of `section` to `target`. -50 when
// there is no entry element among them.
int CopyEntries(ElementIndex& index, DOMDocument* document, DOMElement* section,
                DOMElement* target) {
  bool any_entry = false;
  for (DOMNode* node = section->getFirstChild(); node; node = node->getNextSibling()) {
    if (IsFormattingText(node)) continue;
    if (AsElement(node)) any_entry = true;
    AppendNode(&index, target, document->importNode(node, true));
  }
  return any_entry ? 0 : kBuildNoEntries;
}

}  // namespace

std::string ProjectPath(const std::string& directory, const std::string& name) {
  auto separator = [&name](size_t i) {
    return i < name.size() && (name[i] == '/' || name[i] == '\\');
  };
  // A name that starts with one separator stays below the project's folder,
  // as the format has it; only a drive or a network share leaves the folder.
  const bool drive = name.size() >= 3 && name[1] == ':' && separator(2);
  const bool share = separator(0) && separator(1);
  return drive || share ? name : directory + name;
}

std::string DirectoryPart(const std::string& path) {
  size_t last = path.find_last_of("/\\");
  if (last != std::string::npos) return path.substr(0, last + 1);
  if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
  return std::string();
}

ConfigurationBuilder::ConfigurationBuilder() : implementation_(CoreImplementation()) {}

ConfigurationBuilder::~ConfigurationBuilder() = default;

int ConfigurationBuilder::Build(const std::string& project_path) {
  built_.clear();
  output_path_.clear();
  failed_device_ = -1;
  detail_.clear();
  place_ = FailurePlace();
  warnings_.clear();
  int rc = BuildProject(project_path);
  if (rc != 0 && place_.file.empty()) place_.file = project_path;
  return rc;
}

int ConfigurationBuilder::BuildProject(const std::string& project_path) {
  int rc = project_.OpenProjectDocument(project_path);
  if (rc != 0) {
    const XmlDiagnostic& why = project_.LoadDiagnostic();
    if (why.failed()) Note(rc, why.Text(), {why.file, why.line, why.column});
    return rc;
  }
  // Whatever happens from here, the project is not left open: the front end
  // could not open it again, nor could a later build.
  struct ProjectCloser {
    ProjectDocument& project;
    ~ProjectCloser() {
      if (project.IsOpen()) project.CloseProjectDocument(false);
    }
  } closer{project_};

  std::string firmware_name;
  rc = Note(project_.GetFirmwarePackageFilename(firmware_name), "entry FirmwarePackageFilename");
  if (rc != 0) return rc;
  project_directory_ = DirectoryPart(project_path);
  std::string output_path = ProjectPath(project_directory_, firmware_name);
  // The output replaces its file: never the project's own (nor, below, a
  // device's data file).
  if (SameFile(output_path, project_path)) {
    detail_ = "the FirmwarePackageFilename " + output_path + " is the project file";
    return kBuildOutputFailed;
  }
  pending_output_ = output_path;
  if (!implementation_) return kBuildNoImplementation;

  // The payloads' files (and the block streams converted for them) stay
  // open until the document is written, and go with the build.
  payloads_ = std::make_unique<EmbeddedPayloads>();
  TempFileGuard xml;
  rc = GuardXml(
      [&]() -> int {
        std::unique_ptr<DOMDocument, DocumentReleaser> document(
            CreateXmlDocument(implementation_, kRootName));
        if (!document) return kBuildOtherException;
        int result = BuildDocument(document.get());
        if (result != 0) return result;
        // A configuration the download would refuse must not be built.
        if (payloads_->TextBytes() > kMaxXmlDocumentBytes)
          return Note(kSrecFileError,
                      "the devices' images are too large together: their Base64 text alone would"
                      " be " + std::to_string(payloads_->TextBytes()) + " bytes, and a download"
                      " reads at most " + std::to_string(kMaxXmlDocumentBytes >> 20) +
                      " MiB of configuration");
        if (xml.Create(kTempBuilderXml) &&
            WriteXmlDocument(implementation_, document.get(), xml.path(), payloads_.get()) == 0)
          return payloads_->ok() ? 0 : Note(kSrecFileError, payloads_->failure());
        if (!payloads_->ok()) return Note(kSrecFileError, payloads_->failure());
        return Note(kBuildOtherException, "cannot write the temporary file " +
                                              TempFileName(kTempBuilderXml, "TMP") +
                                              " (is the current folder writable?)");
      },
      kBuildOutOfMemory, kBuildOtherException, kBuildDomException, kBuildOtherException);
  project_.CloseProjectDocument(false);
  payloads_.reset();
  if (rc == 0)
    rc = Note(CompressReplacing(compressor_, xml.path(), output_path), output_path, {output_path});
  if (rc != 0) {
    built_.clear();
    return rc;
  }
  output_path_ = output_path;
  return 0;
}

int ConfigurationBuilder::BuildDocument(DOMDocument* document) {
  // Copied entries may bring more elements of these names: a section the
  // document holds twice is not found.
  struct Forget {
    ElementIndex& index;
    ~Forget() { index.Clear(); }
  } forget{built_elements_};
  DOMElement* root = document->getDocumentElement();
  DOMElement* header = AppendElement(&built_elements_, root, kHeader);
  AppendElement(&built_elements_, header, kSystemSection);
  AppendElement(&built_elements_, root, kData);

  int rc = CopySystemEntries(document);
  if (rc != 0) return rc;
  int count = 0;
  rc = Note(project_.GetProjectDeviceCount(count), "the project's devices");
  if (rc != 0) return rc;
  for (int device = 0; device < count; ++device) {
    rc = BuildDevice(document, device);
    if (rc != 0) {
      failed_device_ = device;
      return rc;
    }
  }
  return 0;
}

int ConfigurationBuilder::CopySystemEntries(DOMDocument* document) {
  DOMElement* entries = nullptr;
  if (project_.GetSystemSection(entries) != 0)
    return Note(kBuildNoSystemEntries, "section System2 (or System)");
  if (!entries->hasChildNodes()) return Note(kBuildNoEntries, "section System2 (or System)");
  DOMElement* system = built_elements_.Single(document, kSystemSection);
  if (!system) return kBuildSectionMissing;
  return Note(CopyEntries(built_elements_, document, entries, system),
              "section System2 (or System)");
}

int ConfigurationBuilder::BuildDevice(DOMDocument* document, int device) {
  DOMElement* header = built_elements_.Single(document, kHeader);
  if (!header) return kBuildSectionMissing;
  DOMElement* header_device = AppendElement(&built_elements_, header, kDevice);
  DOMElement* data = built_elements_.Single(document, kData);
  if (!data) return kBuildSectionMissing;
  DOMElement* data_device = AppendElement(&built_elements_, data, kDevice);

  BuiltDevice built;
  int rc = ReadEntry(device, "ConversionType", built.conversion);
  if (rc != 0) return rc;
  unsigned long partial_size = 0;
  rc = ReadPartialSize(device, built.partial, partial_size);
  if (rc != 0) return rc;
  rc = Convert(document, device, partial_size, header_device, data_device, built);
  if (rc != 0) return rc;

  DOMElement* section = nullptr;
  rc = project_.GetDeviceConfigurationSection(device, section);
  if (rc == 0) rc = CopyEntries(built_elements_, document, section, header_device);
  if (rc != 0) return Note(rc, "section Configuration");
  built_.push_back(built);
  return 0;
}

int ConfigurationBuilder::ReadPartialSize(int device, bool& partial,
                                          unsigned long& partial_size) {
  partial = false;
  partial_size = 0;
  std::string flag;
  int rc = project_.GetDeviceConfigurationEntry(device, "PARTIAL_DOWNLOAD", flag);
  if (rc == kProjectNotFound) {
    flag.clear();
  } else if (rc != 0) {
    return Note(rc, "entry PARTIAL_DOWNLOAD");
  }
  partial = flag == "true";
  if (!partial) return 0;
  std::string text;
  rc = ReadEntry(device, "PartialMemorySize", text);
  if (rc != 0) return rc;
  uint32_t size = 0;
  if (ParseUnsigned(text, size)) {
    partial_size = size;
    return 0;
  }
  return Note(kBuildBadPartialSize, "PartialMemorySize \"" + text + "\"");
}

int ConfigurationBuilder::ReadRangeSelection(int device, bool& selected,
                                             AddressRangeSelection& selection) {
  selected = false;
  DOMElement* element = nullptr;
  int rc = project_.GetDeviceConversionElement(device, "AddressRangeSelection", element);
  if (rc == kProjectNotFound) return 0;
  if (rc != 0) return Note(rc, "entry AddressRangeSelection");
  std::string* targets[] = {&selection.include, &selection.exclude};
  const char* names[] = {"IncludeAddr", "ExcludeAddr"};
  for (int i = 0; i < 2; ++i) {
    std::string value = names[i];
    GetAttributeValue(element, value);
    targets[i]->clear();
    if (value.empty()) continue;
    uint32_t address = 0;
    if (!ParseUnsigned(value, address))
      return Note(kBuildBadAddress, std::string(names[i]) + " \"" + value + "\"");
    char text[16];
    std::snprintf(text, sizeof text, "%08lX", static_cast<unsigned long>(address));
    *targets[i] = text;
  }
  selected = true;
  return 0;
}

int ConfigurationBuilder::Convert(DOMDocument* document, int device, unsigned long partial_size,
                                  DOMElement* header_device, DOMElement* data_device,
                                  BuiltDevice& built) {
  const std::string& conversion = built.conversion;
  const bool brek = conversion == kBrekConversion;
  const bool brek_bin = conversion == kBrekBinConversion;
  const bool srec = conversion == kSrecConversion;
  const bool file = conversion == kFileConversion;
  if (!brek && !brek_bin && !srec && !file)
    return Note(kBuildUnknownConversion,
                "ConversionType \"" + conversion + "\" is none of " + kBrekConversion + ", " +
                    kBrekBinConversion + ", " + kSrecConversion + " and " + kFileConversion);

  bool selected = false;
  AddressRangeSelection selection;
  if (brek || brek_bin) {
    int rc = ReadRangeSelection(device, selected, selection);
    if (rc != 0) return rc;
  }
  std::string data_name;
  int rc = ReadEntry(device, "DataFilename", data_name);
  if (rc != 0) return rc;
  const std::string data_path = ProjectPath(project_directory_, data_name);
  std::string why;
  // S-record text is 2 to 3 times its image: the conversion bounds that.
  const uint64_t bound = brek || brek_bin ? UINT64_MAX : kMaxImageBytes;
  if (!UniqueFile(OpenDataFile(data_path, &why, nullptr, bound)))
    return Note(kSrecFileError, data_path + ": " + why, {data_path});
  if (SameFile(data_path, pending_output_)) {
    detail_ = "the FirmwarePackageFilename " + pending_output_ + " is the DataFilename";
    return kBuildOutputFailed;
  }

  if (file || srec) {
    rc = file ? EmbedRawFile(document, header_device, data_device, data_path, *payloads_, &why)
              : EmbedDataFile(document, header_device, data_device, data_path, "SREC", "",
                              partial_size, *payloads_, &why);
    if (rc != 0) return Note(rc, data_path + ": " + why, {data_path});
    if (srec) WarnAboutSrecText(data_path, built.partial);
    built.data_type = file ? "FILE" : "SREC";
    built.payload_bytes = FileSize(data_path) + (file ? 4 : 0);  // the CRC-32 in front
    return 0;
  }
  // Each device's block stream is a file of its own until the document is written.
  auto brek_file = std::make_unique<TempFileGuard>();
  if (!brek_file->CreateUnique(kBlockStreamPrefix))
    return Note(kSrecFileError, "cannot create a temporary file for the block stream (is the"
                                " current folder writable?)");
  const std::string brek_path = brek_file->path();
  payloads_->KeepUntilWritten(std::move(brek_file));
  std::string range_text;
  SrecReport report;
  rc = ConvertSrecToBrek(converter_, data_path, selected ? &selection : nullptr, range_text,
                         brek_path, "", &report);
  for (const SrecNote& note : report.warnings) warnings_.push_back(report.Text(note));
  if (rc != 0) return Note(rc, report.Text(), {report.file, uint64_t(report.line)});
  built.data_type = brek ? "BREK" : "BREKBIN";
  rc = EmbedDataFile(document, header_device, data_device, brek_path, built.data_type, range_text,
                     partial_size, *payloads_, &why);
  if (rc != 0) return Note(rc, brek_path + ": cannot read the converted data back");
  built.payload_bytes = FileSize(brek_path);
  return 0;
}

// SRECXML data travels as it is: what a download would stumble on is told now.
void ConfigurationBuilder::WarnAboutSrecText(const std::string& data_path, bool partial) {
  const std::string head = FileHead(data_path, 64);
  if (!StartsWithRecord(head)) {
    const std::string foreign = ForeignFormatHint(head);
    warnings_.push_back(data_path + ": does not look like S-record text, yet is embedded as"
                        " SRECXML" + (foreign.empty() ? "" : "; " + foreign));
    return;
  }
  SrecLineTypes types;
  if (!partial || !ScanSrecLineTypes(data_path, types) || types.s7) return;
  std::string end = types.first_end ? std::string("S") + types.first_end : "none";
  warnings_.push_back(
      data_path + ": PARTIAL_DOWNLOAD is true, and the part-by-part download sends S3 records"
      " up to an S7 end record, which this file lacks (its end record: " + end + "): the"
      " download would erase the device and then fail; write the file with S3 records and an"
      " S7 end (srec_cat: -address-length=4; objcopy: --srec-forceS3)");
}

int ConfigurationBuilder::ReadEntry(int device, const char* name, std::string& value) {
  return Note(project_.GetDeviceConversionEntry(device, name, value),
              std::string("entry ") + name + " of section Conversion");
}

int ConfigurationBuilder::Note(int rc, std::string detail, FailurePlace place) {
  if (rc != 0 && detail_.empty()) {
    detail_ = std::move(detail);
    place_ = std::move(place);
  }
  return rc;
}

int CompressReplacing(SplayCompressor& compressor, const std::string& input_path,
                      const std::string& output_path) {
  ReplacingOutput output(output_path);
  if (!output.ok() || compressor.Compress(input_path, output.path()) != 0) return kBuildOutputFailed;
  return output.Commit() == 0 ? 0 : kBuildOutputFailed;
}

const char* BuildResultText(int code) {
  switch (code) {
    case kBuildNoBuilder: return "no configuration builder";
    case kBuildNoImplementation: return "no XML implementation";
    case kBuildOtherException: return "the configuration XML could not be built or written";
    case kBuildDomException: return "XML DOM error while building";
    case kBuildOutOfMemory: return "out of memory while building";
    case kBuildSectionMissing: return "a section of the configuration is not unique";
    case kBuildNoEntries: return "no system entries, or a device without configuration entries";
    case kBuildBadPartialSize: return "PartialMemorySize is not a number";
    case kBuildUnknownConversion: return "unknown ConversionType";
    case kBuildBadAddress: return "IncludeAddr or ExcludeAddr is not a number";
    case kBuildBusy: return "refused: a build or a project-document call is running";
    case kBuildOutputFailed: return "the output file could not be written";
    case kNoTextChild: return "a required project entry is empty";
  }
  if (*SrecResultText(code)) return SrecResultText(code);
  if (*ProjectResultText(code)) return ProjectResultText(code);
  return "build failed";
}

}  // namespace korvo
