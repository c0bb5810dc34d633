#include "config/config_document.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "config/base64_stream.h"
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

// Element number `index` among the descendants of `scope` named `name`.
DOMElement* NthElement(DOMElement* scope, const char* name, int index) {
  if (!scope || index < 0) return nullptr;
  DOMNodeList* list = scope->getElementsByTagName(XmlText(name));
  if (!list || XMLSize_t(index) >= list->getLength()) return nullptr;
  return AsElement(list->item(XMLSize_t(index)));
}

// Decimal text as atoi reads it, but without its overflow behaviour.
int ToInt(const std::string& text) {
  long value = std::strtol(text.c_str(), nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return int(value);
}

std::string Attribute(DOMElement* element, const char* name) {
  std::string value(name);
  GetAttributeValue(element, value);
  return value;
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

constexpr size_t kCopyChunk = 64 * 1024;

// Hands the file to `take(data, size)` piece by piece; false when it cannot
// be read or `take` refuses a piece.
template <typename Take>
bool ReadPieces(const std::string& path, Take&& take) {
  UniqueFile in(OpenFileUtf8(path, "rb"));
  if (!in) return false;
  std::vector<char> piece(kCopyChunk);
  for (size_t got; (got = std::fread(piece.data(), 1, piece.size(), in.get())) > 0;) {
    if (!take(piece.data(), got)) return false;
  }
  return !std::ferror(in.get());
}

bool WriteAll(std::FILE* out, const std::string& bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
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

int ConfigDocument::Load(const std::string& path) {
  if (loaded_) return kConfigAlreadyLoaded;
  TempFileGuard temp;
  if (!temp.Create(kTempConfig)) return kConfigFileError;
  return Guarded([&]() -> int {
    if (compressor_.Decompress(path, temp.path()) != 0) return kConfigFileError;
    auto texts = std::make_unique<DataTextFiles>();
    std::unique_ptr<ConfigParser> parser;
    DOMDocument* document = nullptr;
    int rc = LoadXmlDocument(temp.path(), parser, document, texts.get());
    if (rc != 0) return rc;
    if (!texts->ok()) return kConfigFileError;
    parser_ = std::move(parser);
    texts_ = std::move(texts);
    document_ = document;
    loaded_ = true;
    return 0;
  });
}

int ConfigDocument::Unload() {
  if (!loaded_) return kConfigUnloadNotLoaded;
  loaded_ = false;
  document_ = nullptr;
  int rc = Guarded([&] {
    parser_.reset();
    return 0;
  });
  texts_.reset();
  return rc;
}

DOMElement* ConfigDocument::HeaderDevice(int device) const {
  return NthElement(FindSingleElement(document_, kHeader), kDevice, device);
}

DOMElement* ConfigDocument::DataDevice(int device) const {
  return NthElement(FindSingleElement(document_, kData), kDevice, device);
}

int ConfigDocument::GetDeviceCount(int& count) {
  if (!loaded_) return kConfigNotLoaded;
  return Guarded([&]() -> int {
    DOMElement* header = FindSingleElement(document_, kHeader);
    if (!header) return kConfigMissing;
    count = int(header->getElementsByTagName(XmlText(kDevice))->getLength());
    return 0;
  });
}

int ConfigDocument::GetDeviceEntry(int device, const std::string& name, std::string& value) {
  value.clear();
  if (!loaded_) return kConfigNotLoaded;
  return Guarded([&]() -> int {
    DOMElement* entry = FindSingleElement(HeaderDevice(device), name);
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
    DOMElement* log = NthElement(dev, "Log", k);
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
    DOMElement* element = FindSingleElement(dev, ConstraintElementName(number));
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
    constraint.index = ToInt(Attribute(element, "index"));
    constraint.strlen = ToInt(Attribute(element, "strlen"));
    return rc;
  });
}

int ConfigDocument::GetSystemEntry(const std::string& name, std::string& value, bool* legacy) {
  value.clear();
  if (legacy) *legacy = false;
  if (!loaded_) return kConfigNotLoaded;
  return Guarded([&]() -> int {
    DOMElement* header = FindSingleElement(document_, kHeader);
    if (!header) return kConfigMissing;
    DOMElement* section = FindSingleElement(header, "System2");
    if (!section) {
      section = FindSingleElement(header, "System");
      if (!section) return kConfigMissing;
      if (legacy) *legacy = true;
    }
    DOMElement* entry = FindSingleElement(section, name);
    if (!entry) return kConfigMissing;
    return GetElementText(entry, value);
  });
}

int ConfigDocument::ExtractData(int device, const std::string& output_path) {
  if (!loaded_) return kConfigNotLoaded;
  return Guarded([&]() -> int {
    DOMText* text = SoleText(DataDevice(device));
    if (!text) return MissingDataResult(output_path);
    const std::string* file = texts_->FileOf(text);
    // Text that does not decode is as good as no data: writing it would
    // hand the device garbage.
    int rc = WriteOutput(output_path, [&](std::FILE* out) {
      Base64Decoder decoder;
      std::string bytes;
      bool valid = true, written = true;
      auto decode = [&](const char* data, size_t size) {
        valid = decoder.Add(data, size, bytes);
        written = WriteAll(out, bytes);
        bytes.clear();
        return valid && written;
      };
      bool read = true;
      if (file) {
        read = ReadPieces(*file, decode);
      } else {
        const std::string narrow = NarrowText(text->getData());
        decode(narrow.data(), narrow.size());
      }
      if (!written) return kConfigFileError;
      if (!valid) return kConfigMissing;
      if (!read) return kConfigFileError;
      return decoder.Finish() ? 0 : kConfigMissing;
    });
    return rc == kConfigMissing ? MissingDataResult(output_path) : rc;
  });
}

int ConfigDocument::ExtractText(int device, const std::string& output_path) {
  if (!loaded_) return kConfigNotLoaded;
  return Guarded([&]() -> int {
    DOMText* text = SoleText(DataDevice(device));
    if (!text) return MissingDataResult(output_path);
    const std::string* file = texts_->FileOf(text);
    return WriteOutput(output_path, [&](std::FILE* out) {
      if (!file) return WriteAll(out, NarrowText(text->getData())) ? 0 : kConfigFileError;
      bool copied = ReadPieces(*file, [&](const char* data, size_t size) {
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
