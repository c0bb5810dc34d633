#include "config/project_document.h"

#include "config/temp_files.h"
#include "platform/system.h"

using namespace xercesc;

namespace korvo {
namespace {

constexpr char kRootName[] = "download_project";
constexpr char kFilenameEntry[] = "FirmwarePackageFilename";
constexpr char kSystemSection[] = "System2";
constexpr char kLegacySystemSection[] = "System";
constexpr char kDeviceName[] = "Device";
constexpr char kConfigurationSection[] = "Configuration";
constexpr char kConversionSection[] = "Conversion";
constexpr char kTransparent[] = "transparent";

// Loading shares the XML layer's codes; this band has its own four.
int ToProjectCode(int load_code) {
  switch (load_code) {
    case kXmlParserNotCreated: return kProjectParserNotCreated;
    case kXmlOutOfMemory: return kProjectOutOfMemory;
    case kXmlException: return kProjectXmlException;
    case kXmlDomException: return kProjectDomException;
    default: return kProjectOtherException;
  }
}

void SetTransparent(DOMElement* entry, bool transparent) {
  if (transparent)
    entry->setAttribute(XmlText(kTransparent), XmlText("true"));
  else
    entry->removeAttribute(XmlText(kTransparent));
}

}  // namespace

int SetEntryText(DOMElement* element, const std::string& text) {
  DOMNode* first = element->getFirstChild();
  if (!first) {
    element->appendChild(element->getOwnerDocument()->createTextNode(XmlText(text)));
    return 0;
  }
  if (first->getNextSibling()) return kProjectNotFound;
  DOMText* node = AsText(first);
  if (!node) return kProjectEntryNotText;
  node->setData(XmlText(text));
  return 0;
}

ProjectDocument::ProjectDocument() : implementation_(CoreImplementation()) {}

ProjectDocument::~ProjectDocument() { Release(); }

int ProjectDocument::CheckUsable() const {
  if (!open_) return kProjectNotOpen;
  if (!implementation_) return kProjectNoImplementation;
  return 0;
}

template <typename Body>
int ProjectDocument::Guard(Body&& body) {
  int rc = CheckUsable();
  if (rc != 0) return rc;
  return GuardXml(body, kProjectOutOfMemory, kProjectXmlException, kProjectDomException,
                  kProjectOtherException);
}

void ProjectDocument::Release() {
  if (parser_) {
    parser_.reset();  // takes its document along
  } else if (document_) {
    document_->release();
  }
  document_ = nullptr;
  elements_.Clear();
  open_ = false;
}

int ProjectDocument::OpenProjectDocument(const std::string& path) {
  if (open_) return kProjectAlreadyOpen;
  if (!implementation_) return kProjectNoImplementation;
  diagnostic_ = XmlDiagnostic();
  FileError error = FileError::kNone;
  bool readable = UniqueFile(OpenFileUtf8(path, "rb", &error)) != nullptr;
  // Only a file that is not there starts a new project: one that is there
  // but cannot be read would be replaced by the next save.
  if (!readable && error != FileError::kNotFound) {
    diagnostic_ = {path, 0, 0, "cannot be opened for reading"};
    return kProjectXmlException;
  }
  if (!readable) {
    return GuardXml(
        [&]() -> int {
          DOMDocument* doc = CreateXmlDocument(implementation_, kRootName);
          if (!doc) return kProjectOtherException;
          std::unique_ptr<DOMDocument, void (*)(DOMDocument*)> owned(
              doc, [](DOMDocument* d) { d->release(); });
          DOMElement* root = doc->getDocumentElement();
          root->appendChild(doc->createElement(XmlText(kFilenameEntry)));
          root->appendChild(doc->createElement(XmlText(kSystemSection)));
          document_ = owned.release();
          path_ = path;
          open_ = true;
          return 0;
        },
        kProjectOutOfMemory, kProjectXmlException, kProjectDomException, kProjectOtherException);
  }
  ParserHandle parser;
  DOMDocument* doc = nullptr;
  int rc = LoadXmlDocument(path, parser, doc, nullptr, &diagnostic_);
  return TakeParsed(rc, std::move(parser), doc, path);
}

int ProjectDocument::TakeParsed(int rc, ParserHandle parser, DOMDocument* doc,
                                const std::string& path) {
  if (rc != 0) return ToProjectCode(rc);
  parser_ = std::move(parser);
  document_ = doc;
  path_ = path;
  open_ = true;
  return 0;
}

int ProjectDocument::OpenProjectXml(const std::string& xml) {
  if (open_) return kProjectAlreadyOpen;
  if (!implementation_) return kProjectNoImplementation;
  ParserHandle parser;
  DOMDocument* doc = nullptr;
  int rc = LoadXmlBuffer(xml, parser, doc, nullptr, &diagnostic_);
  return TakeParsed(rc, std::move(parser), doc, std::string());
}

int ProjectDocument::SaveProjectXml(std::string& out) {
  return Guard([&]() -> int {
    std::string text;
    if (WriteXmlText(implementation_, document_, text) != 0) return kProjectXmlException;
    out = std::move(text);
    return 0;
  });
}

int ProjectDocument::CloseProjectDocument(bool save) {
  int rc = Guard([&]() -> int {
    if (!save) return 0;
    // Written beside the project and renamed over it, so a failed save
    // cannot leave a half-written project behind.
    ReplacingOutput output(path_);
    if (!output.ok() || WriteXmlDocument(implementation_, document_, output.path()) != 0 ||
        output.Commit() != 0)
      return kProjectXmlException;
    return 0;
  });
  if (rc != 0) return rc;
  Release();
  return 0;
}

DOMElement* ProjectDocument::Root() const {
  return document_ ? document_->getDocumentElement() : nullptr;
}

DOMElement* ProjectDocument::Device(int device) {
  return elements_.Nth(Root(), kDeviceName, device);
}

int ProjectDocument::FindSection(int device, const std::string& section, DOMElement*& found) {
  found = elements_.Single(Device(device), section);
  return found ? 0 : kProjectNotFound;
}

int ProjectDocument::FindEntry(int device, const std::string& section, const std::string& name,
                               DOMElement*& found) {
  DOMElement* scope = nullptr;
  int rc = FindSection(device, section, scope);
  if (rc != 0) return rc;
  found = elements_.Single(scope, name);
  return found ? 0 : kProjectNotFound;
}

// The one System2 of the document, else the one System; null when the one
// looked at is not unique, or there is neither (`none` then set).
DOMElement* ProjectDocument::SystemSection(bool& none) {
  DOMNode* scope = document_;
  const char* name =
      elements_.Count(scope, kSystemSection) > 0 ? kSystemSection : kLegacySystemSection;
  const int count = elements_.Count(scope, name);
  none = count == 0;
  return count == 1 ? elements_.Nth(scope, name, 0) : nullptr;
}

int ProjectDocument::SetOrCreateEntry(DOMElement* section, const std::string& name,
                                      const std::string& value, bool transparent,
                                      bool with_attribute) {
  const int count = elements_.Count(section, name);
  if (count > 1) return kProjectNotFound;
  if (count == 0) {
    DOMElement* entry = AppendElement(&elements_, section, name, &value);
    if (with_attribute && transparent) SetTransparent(entry, true);
    return 0;
  }
  DOMElement* entry = elements_.Nth(section, name, 0);
  // The mark follows the call even when the text cannot be set.
  int rc = SetEntryText(entry, value);
  if (with_attribute) SetTransparent(entry, transparent);
  return rc;
}

int ProjectDocument::SetProjectConfigFilenameEntry(const std::string& filename) {
  return Guard([&]() -> int {
    const int count = elements_.Count(document_, kFilenameEntry);
    if (count > 1) return kProjectNotFound;
    if (count == 1) return SetEntryText(elements_.Nth(document_, kFilenameEntry, 0), filename);
    DOMElement* root = Root();
    if (!root) return kProjectNotFound;
    AppendElement(&elements_, root, kFilenameEntry, &filename);
    return 0;
  });
}

int ProjectDocument::SetProjectSystemEntry(const std::string& name, const std::string& value,
                                           bool transparent) {
  return Guard([&]() -> int {
    bool none = false;
    DOMElement* section = SystemSection(none);
    if (!section && !none) return kProjectNotFound;
    if (!section) {
      DOMElement* root = Root();
      if (!root) return kProjectNotFound;
      section = AppendElement(&elements_, root, kSystemSection);
    }
    return SetOrCreateEntry(section, name, value, transparent, true);
  });
}

int ProjectDocument::AddProjectDevice() {
  return Guard([&]() -> int {
    DOMElement* root = Root();
    if (!root) return kProjectNotFound;
    AppendElement(&elements_, root, kDeviceName);
    return 0;
  });
}

int ProjectDocument::SetSectionEntry(int device, const char* section_name,
                                     const std::string& name, const std::string& value,
                                     bool transparent, bool with_attribute) {
  return Guard([&]() -> int {
    DOMElement* owner = Device(device);
    if (!owner) return kProjectNotFound;
    DOMElement* section = SingleOrAppended(elements_, owner, section_name);
    if (!section) return kProjectNotFound;
    return SetOrCreateEntry(section, name, value, transparent, with_attribute);
  });
}

int ProjectDocument::SetProjectDeviceConfigurationEntry(int device, const std::string& name,
                                                        const std::string& value,
                                                        bool transparent) {
  return SetSectionEntry(device, kConfigurationSection, name, value, transparent, true);
}

int ProjectDocument::AddProjectDeviceConfigurationEntry(int device, const std::string& name,
                                                        const std::string& value,
                                                        bool transparent) {
  return Guard([&]() -> int {
    DOMElement* section = nullptr;
    int rc = FindSection(device, kConfigurationSection, section);
    if (rc != 0) return rc;
    DOMElement* entry = AppendElement(&elements_, section, name, &value);
    if (transparent) SetTransparent(entry, true);
    return 0;
  });
}

int ProjectDocument::SetProjectDeviceConversionEntry(int device, const std::string& name,
                                                     const std::string& value) {
  return SetSectionEntry(device, kConversionSection, name, value, false, false);
}

int ProjectDocument::SetProjectDeviceConversionEntryAttribute(int device, const std::string& entry,
                                                              const std::string& attribute,
                                                              const std::string& value) {
  return Guard([&]() -> int {
    DOMElement* element = nullptr;
    int rc = FindEntry(device, kConversionSection, entry, element);
    if (rc != 0) return rc;
    element->setAttribute(XmlText(attribute), XmlText(value));
    return 0;
  });
}

int ProjectDocument::GetFirmwarePackageFilename(std::string& text) {
  return Guard([&]() -> int {
    DOMElement* entry = elements_.Single(document_, kFilenameEntry);
    if (!entry) return kProjectNotFound;
    return GetElementText(entry, text);
  });
}

int ProjectDocument::GetSystemSection(DOMElement*& section) {
  section = nullptr;
  return Guard([&]() -> int {
    bool none = false;
    section = SystemSection(none);
    return section ? 0 : kProjectNotFound;
  });
}

int ProjectDocument::GetProjectDeviceCount(int& count) {
  return GuardXml(
      [&]() -> int {
        count = elements_.Count(Root(), kDeviceName);
        return 0;
      },
      kProjectOutOfMemory, kProjectXmlException, kProjectDomException, kProjectOtherException);
}

int ProjectDocument::GetDeviceConversionEntry(int device, const std::string& name,
                                              std::string& text) {
  return Guard([&]() -> int {
    DOMElement* entry = nullptr;
    int rc = FindEntry(device, kConversionSection, name, entry);
    return rc != 0 ? rc : GetElementText(entry, text);
  });
}

int ProjectDocument::GetDeviceConfigurationEntry(int device, const std::string& name,
                                                 std::string& text) {
  return Guard([&]() -> int {
    DOMElement* entry = nullptr;
    int rc = FindEntry(device, kConfigurationSection, name, entry);
    return rc != 0 ? rc : GetElementText(entry, text);
  });
}

int ProjectDocument::GetDeviceConfigurationSection(int device, DOMElement*& section) {
  section = nullptr;
  return Guard([&]() -> int { return FindSection(device, kConfigurationSection, section); });
}

int ProjectDocument::GetDeviceConversionElement(int device, const std::string& name,
                                                DOMElement*& element) {
  element = nullptr;
  return Guard([&]() -> int { return FindEntry(device, kConversionSection, name, element); });
}

const char* ProjectResultText(int code) {
  switch (code) {
    case kProjectParserNotCreated:
      return "the XML parser could not be created, or a project entry holds more than text";
    case kProjectAlreadyOpen: return "the project document is already open";
    case kProjectNoImplementation: return "no XML implementation";
    case kProjectOutOfMemory: return "out of memory while reading the project";
    case kProjectXmlException:
      return "the project file cannot be read or is not well-formed XML, or it could not be saved";
    case kProjectDomException: return "XML DOM error in the project";
    case kProjectOtherException: return "unexpected error in the project";
    case kProjectNotOpen: return "the project document is not open";
    case kProjectNotFound: return "a required project entry is missing or repeated";
    case kProjectBusy: return "refused: a build or a project-document call is running";
    default: return "";
  }
}

}  // namespace korvo
