#include "config/config_document.h"

#include <cstdio>

#include "config/base64_stream.h"
#include "config/numbers.h"
#include "config/temp_files.h"
#include "platform/system.h"

using namespace xercesc;

namespace korvo {
namespace {

const char kHeader[] = "Header";
const char kData[] = "Data";
const char kDevice[] = "Device";

template <typename Body>
int Guarded(Body&& body) {
  return GuardXml(std::forward<Body>(body), kConfigOutOfMemory, kConfigXmlException,
                  kConfigDomException, kConfigOtherException);
}

// The single text node a Data/Device holds; null when it holds anything
// else (nothing, a comment, a second text node, an element, ...).
DOMText* SoleText(DOMElement* device) {
  if (!device) return nullptr;
  DOMNode* first = device->getFirstChild();
  if (!first || first->getNextSibling()) return nullptr;
  return AsText(first);
}

// The code a lookup failure reports: an output that cannot be opened for
// writing outranks missing data, as it would have been opened first. The
// probe neither truncates an existing file nor leaves a new one behind.
int MissingDataResult(const std::string& output_path) {
  bool existed = UniqueFile(OpenFileUtf8(output_path, "rb")) != nullptr;
  {
    UniqueFile probe(OpenFileUtf8(output_path, "ab"));
    if (!probe) return kConfigFileError;
    // A file we may write but not read still counts as existing once it
    // holds something.
    existed = existed || std::fseek(probe.get(), 0, SEEK_END) != 0 ||
              std::ftell(probe.get()) != 0;
  }
  if (!existed) RemoveFile(output_path);
  return kConfigMissing;
}

}  // namespace

std::string ConstraintElementName(int number) {
  std::string name = "DOWNLOAD_CONSTRAINT";
  if (number > 1) name += std::to_string(number);
  return name;
}

ConfigDocument::ConfigDocument() = default;

ConfigDocument::~ConfigDocument() {
  // The parser owns the document; releasing it must not throw out of here.
  Guarded([&] {
    parser_.reset();
    return 0;
  });
  texts_.reset();
}

template <typename Parse>
int ConfigDocument::Adopt(Parse&& load) {
  auto texts = std::make_unique<DataTextFiles>();
  ParserHandle parser;
  DOMDocument* document = nullptr;
  int rc = load(parser, document, texts.get());
  if (rc != 0) return rc;
  if (!texts->ok()) {
    diagnostic_.reason = "cannot write the data texts to temporary files";
    return kConfigFileError;
  }
  elements_.Clear();
  parser_ = std::move(parser);
  texts_ = std::move(texts);
  document_ = document;
  loaded_ = true;
  return 0;
}

int ConfigDocument::Load(const std::string& path) {
  if (loaded_) return kConfigAlreadyLoaded;
  diagnostic_ = XmlDiagnostic();
  TempFileGuard temp;
  if (!temp.Create(kTempConfig)) {
    diagnostic_ = {path, 0, 0, "cannot make a temporary file to decompress it into"};
    return kConfigFileError;
  }
  int rc = Guarded([&]() -> int {
    if (compressor_.Decompress(path, temp.path()) != 0) {
      diagnostic_.reason = DecompressFailureText(compressor_.last_failure());
      return kConfigFileError;
    }
    return Adopt([&](ParserHandle& parser, DOMDocument*& document,
                     DataTextFiles* texts) {
      return LoadXmlDocument(temp.path(), parser, document, texts, &diagnostic_);
    });
  });
  // Places are those of the decompressed text, which korvo inspect --xml shows.
  diagnostic_.file = path;
  if (rc != 0 && !diagnostic_.failed()) diagnostic_.reason = ConfigResultText(rc);
  return rc;
}

int ConfigDocument::LoadXml(const std::string& xml) {
  if (loaded_) return kConfigAlreadyLoaded;
  diagnostic_ = XmlDiagnostic();
  int rc = Guarded([&]() -> int {
    return Adopt([&](ParserHandle& parser, DOMDocument*& document,
                     DataTextFiles* texts) {
      return LoadXmlBuffer(xml, parser, document, texts, &diagnostic_);
    });
  });
  if (rc != 0 && !diagnostic_.failed()) diagnostic_.reason = ConfigResultText(rc);
  return rc;
}

int ConfigDocument::Unload() {
  if (!loaded_) return kConfigUnloadNotLoaded;
  loaded_ = false;
  document_ = nullptr;
  elements_.Clear();
  int rc = Guarded([&] {
    parser_.reset();
    return 0;
  });
  texts_.reset();
  return rc;
}

DOMElement* ConfigDocument::HeaderDevice(int device) {
  return elements_.Nth(elements_.Single(document_, kHeader), kDevice, device);
}

DOMElement* ConfigDocument::DataDevice(int device) {
  return elements_.Nth(elements_.Single(document_, kData), kDevice, device);
}

int ConfigDocument::GetDeviceCount(int& count) {
  if (!loaded_) return kConfigNotLoaded;
  return Guarded([&]() -> int {
    DOMElement* header = elements_.Single(document_, kHeader);
    if (!header) return kConfigMissing;
    count = elements_.Count(header, kDevice);
    return 0;
  });
}

int ConfigDocument::GetDeviceEntry(int device, const std::string& name, std::string& value) {
  value.clear();
  if (!loaded_) return kConfigNotLoaded;
  return Guarded([&]() -> int {
    DOMElement* entry = elements_.Single(HeaderDevice(device), name);
    if (!entry) return kConfigMissing;
    return GetElementText(entry, value);
  });
}

int ConfigDocument::GetTransparentEntry(int device, int n, std::string& name,
                                        std::string& value) {
  if (!loaded_) return kConfigNotLoaded;
  return Guarded([&]() -> int {
    DOMElement* dev = HeaderDevice(device);
    if (!dev) return kConfigMissing;
    int seen = 0;
    for (DOMNode* child = dev->getFirstChild(); child; child = child->getNextSibling()) {
      DOMElement* element = AsElement(child);
      if (!element || Attribute(element, "transparent") != "true") continue;
      if (seen++ != n) continue;
      GetTagName(element, name);
      return GetElementText(element, value);
    }
    return kConfigIndexPastEnd;
  });
}

int ConfigDocument::GetLogText(int device, int k, std::string& value) {
  if (!loaded_) return kConfigUnloadNotLoaded;
  return Guarded([&]() -> int {
    DOMElement* dev = HeaderDevice(device);
    if (!dev) return kConfigMissing;
    DOMElement* log = elements_.Nth(dev, "Log", k);
    if (!log) return kConfigIndexPastEnd;
    return GetElementText(log, value);
  });
}

int ConfigDocument::GetConstraint(int device, int number, DownloadConstraint& constraint) {
  constraint = DownloadConstraint();
  if (number < kFirstConstraintNumber || number > kLastConstraintNumber)
    return kConfigBadConstraintNumber;
  if (!loaded_) return kConfigNotLoaded;
  return Guarded([&]() -> int {
    DOMElement* dev = HeaderDevice(device);
    if (!dev) return kConfigMissing;
    DOMElement* element = elements_.Single(dev, ConstraintElementName(number));
    if (!element) return 0;
    constraint.present = true;
    constraint.communicationName = Attribute(element, "communicationName");
    constraint.operatorText = Attribute(element, "operator");
    constraint.comparison = Attribute(element, "comparison");
    int rc = 0;
    std::string type = Attribute(element, "type");
    if (type == "method") {
      constraint.methodKind = kConstraintMethod;
    } else if (type == "variable") {
      constraint.methodKind = kConstraintVariable;
    } else {
      constraint.methodKind = kConstraintUnknownKind;
      rc = kConfigMissing;
    }
    std::string datatype = Attribute(element, "datatype");
    if (datatype == "string") {
      constraint.datatypeKind = kConstraintString;
    } else if (datatype == "int") {
      constraint.datatypeKind = kConstraintInteger;
    } else {
      constraint.datatypeKind = kConstraintUnknownKind;
      rc = kConfigMissing;
    }
    constraint.index = TextToInt(Attribute(element, "index"));
    constraint.strlen = TextToInt(Attribute(element, "strlen"));
    return rc;
  });
}

int ConfigDocument::GetSystemEntry(const std::string& name, std::string& value, bool* legacy) {
  value.clear();
  if (legacy) *legacy = false;
  if (!loaded_) return kConfigNotLoaded;
  return Guarded([&]() -> int {
    DOMElement* header = elements_.Single(document_, kHeader);
    if (!header) return kConfigMissing;
    DOMElement* section = elements_.Single(header, "System2");
    if (!section) {
      section = elements_.Single(header, "System");
      if (!section) return kConfigMissing;
      if (legacy) *legacy = true;
    }
    DOMElement* entry = elements_.Single(section, name);
    if (!entry) return kConfigMissing;
    return GetElementText(entry, value);
  });
}

// Hands the text of `node` to `take(data, size)`: from where the loader
// kept it, or from the tree.
bool ConfigDocument::ReadText(DOMText* node,
                              const std::function<bool(const char*, size_t)>& take) {
  if (texts_->Holds(node)) return texts_->Read(node, take);
  const std::string narrow = NarrowText(node->getData());
  return take(narrow.data(), narrow.size());
}

int ConfigDocument::Decode(DOMText* text,
                           const std::function<bool(const uint8_t*, size_t)>& take) {
  Base64Decoder decoder;
  std::string bytes;
  bool valid = true, taken = true;
  const bool read = ReadText(text, [&](const char* data, size_t size) {
    valid = decoder.Add(data, size, bytes);
    taken = bytes.empty() || take(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    bytes.clear();
    return valid && taken;
  });
  if (!taken) return kConfigFileError;
  if (!valid) return kConfigMissing;
  if (!read) return kConfigFileError;
  return decoder.Finish() ? 0 : kConfigMissing;
}

int ConfigDocument::DecodeData(int device,
                               const std::function<bool(const uint8_t*, size_t)>& take) {
  if (!loaded_) return kConfigNotLoaded;
  return Guarded([&]() -> int {
    DOMText* text = SoleText(DataDevice(device));
    return text ? Decode(text, take) : kConfigMissing;
  });
}

int ConfigDocument::ExtractData(int device, const std::string& output_path) {
  if (!loaded_) return kConfigNotLoaded;
  return Guarded([&]() -> int {
    DOMText* text = SoleText(DataDevice(device));
    if (!text) return MissingDataResult(output_path);
    // Text that does not decode is as good as no data: writing it would
    // hand the device garbage.
    int rc = WriteOutput(output_path, [&](std::FILE* out) {
      return Decode(text, [&](const uint8_t* data, size_t size) {
        return std::fwrite(data, 1, size, out) == size;
      });
    });
    return rc == kConfigMissing ? MissingDataResult(output_path) : rc;
  });
}

int ConfigDocument::ExtractText(int device, const std::string& output_path) {
  if (!loaded_) return kConfigNotLoaded;
  return Guarded([&]() -> int {
    DOMText* text = SoleText(DataDevice(device));
    if (!text) return MissingDataResult(output_path);
    return WriteOutput(output_path, [&](std::FILE* out) {
      bool copied = ReadText(text, [&](const char* data, size_t size) {
        return std::fwrite(data, 1, size, out) == size;
      });
      return copied ? 0 : kConfigFileError;
    });
  });
}

// The output is only written once there is something sound to write, into
// a file that replaces it only when complete: a failed write leaves an
// existing output as it was.
template <typename Write>
int ConfigDocument::WriteOutput(const std::string& output_path, Write&& write) {
  int rc = kConfigFileError;
  {
    ReplacingOutput output(output_path);
    if (!output.ok()) return kConfigFileError;
    std::FILE* file = OpenFileUtf8(output.path(), "wb");
    if (!file) return kConfigFileError;
    rc = write(file);
    const bool closed = std::fclose(file) == 0;
    if (rc == 0 && (!closed || output.Commit() != 0)) rc = kConfigFileError;
  }
  return rc;
}

const char* ConfigResultText(int code) {
  switch (code) {
    case kConfigNotLoaded: return "the configuration is not loaded";
    case kConfigBadConstraintNumber: return "a constraint number outside 1 to 9";
    case kConfigAlreadyLoaded: return "a configuration is already loaded";
    case kConfigOutOfMemory: return "out of memory while reading the configuration";
    case kConfigXmlException: return "the configuration is not well-formed XML";
    case kConfigDomException: return "XML DOM error in the configuration";
    case kConfigOtherException: return "unexpected error in the configuration";
    case kConfigUnloadNotLoaded: return "the configuration is not loaded";
    case kConfigMissing:
      return "a configuration section, device or entry is missing or repeated, or its data is not "
             "valid Base64";
    case kConfigParserNotCreated: return "the XML parser could not be created";
    case kConfigFileError:
      return "the configuration cannot be decompressed, or an output file cannot be written";
    case kConfigIndexPastEnd: return "no further log or transparent entry";
    case kConfigNoText: return "a configuration entry is empty";
    default: return "";
  }
}

}  // namespace korvo
