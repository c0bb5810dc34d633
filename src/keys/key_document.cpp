#include "keys/key_document.h"

#include "config/numbers.h"
#include "config/temp_files.h"
#include "config/xml_access.h"
#include "platform/system.h"

using namespace xercesc;

namespace korvo {
namespace {

constexpr const char* kRoot = "download_keys";
constexpr const char* kAccessTexts[] = {"grant", "deny", "rule"};
constexpr const char* kOperatorTexts[] = {"=", "!=", ">=", "<=", ">", "<"};
constexpr const char* kTypeTexts[] = {"MN", "RN"};

// Code of `text` in `texts`, or -1.
template <size_t N>
int CodeOf(const std::string& text, const char* const (&texts)[N]) {
  for (size_t i = 0; i < N; ++i)
    if (text == texts[i]) return static_cast<int>(i);
  return -1;
}

template <size_t N>
const char* TextOf(int code, const char* const (&texts)[N]) {
  return code >= 0 && static_cast<size_t>(code) < N ? texts[code] : nullptr;
}

const char* DatatypeText(int datatype) {
  return datatype == kRuleString ? "string" : datatype == kRuleInt ? "int" : nullptr;
}

int DatatypeCode(const std::string& text) {
  return text == "string" ? kRuleString : text == "int" ? kRuleInt : -1;
}

void SetAttribute(DOMElement* element, const char* name, const std::string& value) {
  element->setAttribute(XmlText(name), XmlText(value));
}

// A CDATA section cannot hold "]]>", and the writer would drop it, so such a
// value is stored as adjacent sections split between "]]" and ">".
DOMElement* AppendCdataElement(ElementIndex& index, DOMElement* parent, const char* name,
                               const std::string& content) {
  DOMElement* child = AppendElement(&index, parent, name);
  DOMDocument* document = parent->getOwnerDocument();
  size_t start = 0;
  for (size_t end; (end = content.find("]]>", start)) != std::string::npos; start = end + 2)
    child->appendChild(document->createCDATASection(XmlText(content.substr(start, end + 2 - start))));
  child->appendChild(document->createCDATASection(XmlText(content.substr(start))));
  return child;
}

FileError ProbeFile(const std::string& path) {
  FileError error = FileError::kNone;
  UniqueFile file(OpenFileUtf8(path, "rb", &error));
  return error;
}

}  // namespace

const char* KeyResultText(int code) {
  switch (code) {
    case kKeyNotFound: return "the key file lacks an entry, a Rights section or a CDATA value";
    case kKeyAlreadyOpen: return "a key file is already open";
    case kKeyParserNotCreated: return "the XML parser could not be created";
    case kKeyOutOfMemory: return "out of memory while reading the key file";
    case kKeyXmlException: return "the key file cannot be read or saved";
    case kKeyDomException: return "XML DOM error in the key file";
    case kKeyOtherException: return "unexpected error in the key file";
    case kKeyNotOpen: return "no key file is open";
    case kKeyBadAccess: return "an access other than grant, deny or rule";
    case kKeyNoSuchUser: return "the key file has no User entry for the level";
    case kKeyBadDatatype: return "a rule datatype other than string or int";
    case kKeyBadOperator: return "an unknown rule operator";
    case kKeyBadType: return "a TAVISType other than MN or RN";
    case kKeyNoSuchDevice: return "the key file has no entry for the configuration's key";
    case kKeyNoCurrentDevice: return "no key file device selected";
    case kKeyNoImplementation: return "no XML implementation";
    case kKeyNoCurrentSignature: return "no signature selected";
    case kKeyDecompressFailed: return "the key file is missing or cannot be decompressed";
    case kKeyBusy: return "refused: a key-file or compression call is running, or SetupJNI";
    default: return "";
  }
}

int GetCdataContent(DOMElement* element, std::string& out) {
  DOMNode* node = element ? element->getFirstChild() : nullptr;
  while (node && node->getNodeType() != DOMNode::CDATA_SECTION_NODE) node = node->getNextSibling();
  if (!node) return kKeyNotFound;
  std::string content;
  for (; node && node->getNodeType() == DOMNode::CDATA_SECTION_NODE; node = node->getNextSibling())
    content += NarrowText(static_cast<DOMCDATASection*>(node)->getData());
  out = std::move(content);
  return 0;
}

KeyDocument::KeyDocument() {
  try {
    implementation_ = CoreImplementation();
  } catch (...) {
    implementation_ = nullptr;
  }
}

KeyDocument::~KeyDocument() {
  try {
    Release();
  } catch (...) {
  }
}

template <typename Body>
int KeyDocument::Guard(Body&& body) {
  return GuardXml(std::forward<Body>(body), kKeyOutOfMemory, kKeyXmlException, kKeyDomException,
                  kKeyOtherException);
}

int KeyDocument::Release() {
  elements_.Clear();
  user_memo_ = UserMemo();
  current_device_ = nullptr;
  current_signature_ = nullptr;
  open_ = false;
  if (owns_document_ && document_) document_->release();
  owns_document_ = false;
  document_ = nullptr;
  parser_.reset();
  return 0;
}

int KeyDocument::Open(const std::string& path, bool decompress) {
  return Guard([&]() -> int {
    // Deletes the decompressed copy on every way out.
    TempFileGuard temp;
    diagnostic_ = {path, 0, 0, ""};
    if (decompress && !temp.Create(kTempKeyFile)) {
      diagnostic_.reason = "cannot make a temporary file to decompress it into";
      return kKeyDecompressFailed;
    }
    if (decompress && compressor_.Decompress(path, temp.path()) != 0) {
      diagnostic_.reason = DecompressFailureText(compressor_.last_failure());
      return kKeyDecompressFailed;
    }
    if (open_) return kKeyAlreadyOpen;
    if (!implementation_) return kKeyNoImplementation;
    FileError probe = decompress ? FileError::kNone : ProbeFile(path);
    // A file that is there but cannot be read must not open as a new, empty
    // document that a save would then write over it.
    if (probe == FileError::kIoError) {
      diagnostic_.reason = "cannot be opened for reading";
      return kKeyXmlException;
    }
    if (probe == FileError::kNotFound) {
      DOMDocument* created = CreateXmlDocument(implementation_, kRoot);
      if (!created) return kKeyNoImplementation;
      document_ = created;
      owns_document_ = true;
    } else {
      ParserHandle parser;
      DOMDocument* parsed = nullptr;
      int rc = LoadXmlDocument(decompress ? temp.path() : path, parser, parsed, nullptr,
                               &diagnostic_);
      diagnostic_.file = path;
      if (int failed = TakeParsed(rc, std::move(parser), parsed)) return failed;
    }
    path_ = path;
    open_ = true;
    return 0;
  });
}

int KeyDocument::OpenXml(const std::string& xml) {
  return Guard([&]() -> int {
    diagnostic_ = {"memory", 0, 0, ""};
    if (open_) return kKeyAlreadyOpen;
    if (!implementation_) return kKeyNoImplementation;
    ParserHandle parser;
    DOMDocument* parsed = nullptr;
    int rc = LoadXmlBuffer(xml, parser, parsed, nullptr, &diagnostic_);
    if (int failed = TakeParsed(rc, std::move(parser), parsed)) return failed;
    path_.clear();
    open_ = true;
    return 0;
  });
}

int KeyDocument::TakeParsed(int rc, ParserHandle parser, DOMDocument* parsed) {
  switch (rc) {
    case 0:
      parser_ = std::move(parser);
      document_ = parsed;
      return 0;
    case kXmlParserNotCreated:
      return kKeyParserNotCreated;
    case kXmlOutOfMemory:
      return kKeyOutOfMemory;
    case kXmlDomException:
      return kKeyDomException;
    default:
      // Not well-formed or unreadable: opens without content, so nothing
      // partial can be saved over the file.
      return 0;
  }
}

int KeyDocument::SaveXml(std::string& out) {
  if (!open_) return kKeyNotOpen;
  return Guard([&]() -> int {
    if (!document_) return kKeyNotFound;
    if (!implementation_) return kKeyNoImplementation;
    std::string text;
    if (WriteXmlText(implementation_, document_, text) != 0) return kKeyXmlException;
    out = std::move(text);
    return 0;
  });
}

int KeyDocument::Close(bool save) {
  if (!open_) return kKeyNotOpen;
  return Guard([&]() -> int {
    if (save) {
      if (!document_) {
        // Nothing was read: leave the file as it is.
        Release();
        return kKeyNotFound;
      }
      if (!implementation_) return kKeyNoImplementation;
      // Written beside the file and moved over it, so a failed write never
      // destroys the previous contents.
      ReplacingOutput output(path_);
      if (!output.ok() || WriteXmlDocument(implementation_, document_, output.path()) != 0 ||
          output.Commit() != 0)
        return kKeyXmlException;
    }
    return Release();
  });
}

namespace {

// Runs a file-to-file step into a file beside `output_path` and moves it into
// place only when the step succeeded, so that a rejected input (say, a plain
// file handed to Decompress) never empties an existing output file.
template <typename Step>
int IntoPlace(const std::string& output_path, Step&& step) {
  try {
    ReplacingOutput output(output_path);
    if (!output.ok() || step(output.path()) != 0) return -1;
    return output.Commit();
  } catch (...) {
    return -1;
  }
}

}  // namespace

int KeyDocument::Compress(const std::string& input_path, const std::string& output_path) {
  return IntoPlace(output_path, [&](const std::string& partial) {
    return compressor_.Compress(input_path, partial);
  });
}

int KeyDocument::Decompress(const std::string& input_path, const std::string& output_path) {
  return IntoPlace(output_path, [&](const std::string& partial) {
    return compressor_.Decompress(input_path, partial);
  });
}

// --- Editing -------------------------------------------------------------

int KeyDocument::CheckEditable() {
  // An edit may add the user a remembered lookup did not find.
  user_memo_ = UserMemo();
  if (!open_) return kKeyNotOpen;
  if (!implementation_) return kKeyNoImplementation;
  return 0;
}

int KeyDocument::FindDevice(int device, DOMElement*& out) {
  DOMElement* root = document_ ? document_->getDocumentElement() : nullptr;
  out = elements_.Nth(root, "Device", device);
  return out ? 0 : kKeyNotFound;
}

int KeyDocument::FindSignature(int device, int signature, DOMElement*& out) {
  DOMElement* device_element = nullptr;
  if (int rc = FindDevice(device, device_element)) return rc;
  out = elements_.Nth(device_element, "Signature", signature);
  return out ? 0 : kKeyNotFound;
}

// The first User under `rights` with the level; remembered, since the rules
// of one level are read one by one.
DOMElement* KeyDocument::FirstUserWithLevel(DOMElement* rights, int level) {
  if (user_memo_.rights == rights && user_memo_.level == level) return user_memo_.user;
  const std::string wanted = std::to_string(level);
  DOMElement* found = nullptr;
  for (DOMElement* user : elements_.Named(rights, "User")) {
    if (Attribute(user, "level") == wanted) {
      found = user;
      break;
    }
  }
  user_memo_ = UserMemo{rights, level, found};
  return found;
}

int KeyDocument::AddKeyDevice() {
  if (int rc = CheckEditable()) return rc;
  return Guard([&]() -> int {
    DOMElement* root = document_ ? document_->getDocumentElement() : nullptr;
    if (!root) return kKeyNotFound;
    AppendElement(&elements_, root, "Device");
    return 0;
  });
}

int KeyDocument::SetDeviceKey(int device, const std::string& key) {
  if (int rc = CheckEditable()) return rc;
  return Guard([&]() -> int {
    DOMElement* element = nullptr;
    if (int rc = FindDevice(device, element)) return rc;
    SetAttribute(element, "Key", key);
    return 0;
  });
}

int KeyDocument::AddKeySignature(int device) {
  if (int rc = CheckEditable()) return rc;
  return Guard([&]() -> int {
    DOMElement* element = nullptr;
    if (int rc = FindDevice(device, element)) return rc;
    AppendElement(&elements_, element, "Signature");
    return 0;
  });
}

int KeyDocument::SetKeySignatureAttributes(int device, int signature, const std::string& value,
                                           const std::string& communication_name) {
  if (int rc = CheckEditable()) return rc;
  return Guard([&]() -> int {
    DOMElement* element = nullptr;
    if (int rc = FindSignature(device, signature, element)) return rc;
    SetAttribute(element, "CommunicationName", communication_name);
    SetAttribute(element, "Value", value);
    return 0;
  });
}

int KeyDocument::AddKeyIdentficationRule(int device, int type,
                                         const std::string& communication_name,
                                         const std::string& value, int index) {
  if (int rc = CheckEditable()) return rc;
  return Guard([&]() -> int {
    DOMElement* element = nullptr;
    if (int rc = FindDevice(device, element)) return rc;
    DOMElement* rule = AppendElement(&elements_, element, "Identification");
    const char* type_text = TextOf(type, kTypeTexts);
    if (!type_text) return kKeyBadType;
    SetAttribute(rule, "index", std::to_string(index));
    SetAttribute(rule, "TAVISType", type_text);
    SetAttribute(rule, "CommunicationName", communication_name);
    SetAttribute(rule, "Value", value);
    return 0;
  });
}

int KeyDocument::SetKeyUserAccess(int device, int signature, int level, int access) {
  const char* access_text = TextOf(access, kAccessTexts);
  if (!access_text) return kKeyBadAccess;
  if (int rc = CheckEditable()) return rc;
  return Guard([&]() -> int {
    DOMElement* element = nullptr;
    if (int rc = FindSignature(device, signature, element)) return rc;
    DOMElement* rights = SingleOrAppended(elements_, element, "Rights");
    if (!rights) return kKeyNotFound;
    DOMElement* user = AppendElement(&elements_, rights, "User");
    SetAttribute(user, "level", std::to_string(level));
    SetAttribute(user, "access", access_text);
    return 0;
  });
}

int KeyDocument::AddKeyUserRule(int device, int signature, int level, int datatype, int op,
                                const std::string& specified_value,
                                const std::string& communication_name, int type, int index) {
  if (int rc = CheckEditable()) return rc;
  return Guard([&]() -> int {
    DOMElement* element = nullptr;
    if (int rc = FindSignature(device, signature, element)) return rc;
    DOMElement* rights = elements_.Single(element, "Rights");
    if (!rights) return kKeyNotFound;
    DOMElement* user = FirstUserWithLevel(rights, level);
    if (!user) return kKeyNoSuchUser;
    DOMElement* rule = AppendElement(&elements_, user, "Rule");
    const char* datatype_text = DatatypeText(datatype);
    if (!datatype_text) return kKeyBadDatatype;
    const char* op_text = TextOf(op, kOperatorTexts);
    const char* type_text = TextOf(type, kTypeTexts);
    if (!type_text) return kKeyBadType;
    if (!op_text) return kKeyBadOperator;
    SetAttribute(rule, "datatype", datatype_text);
    SetAttribute(rule, "operator", op_text);
    AppendCdataElement(elements_, rule, "SpecifiedValue", specified_value);
    DOMElement* name =
        AppendCdataElement(elements_, rule, "CommunicationName", communication_name);
    SetAttribute(name, "index", std::to_string(index));
    SetAttribute(name, "TAVISType", type_text);
    return 0;
  });
}

// --- Readers ---------------------------------------------------------------

int KeyDocument::SelectDevice(const std::string& key) {
  if (!open_) return kKeyNotOpen;
  return Guard([&]() -> int {
    DOMElement* root = document_ ? document_->getDocumentElement() : nullptr;
    if (!root) return kKeyNotFound;
    for (DOMElement* device : elements_.Named(root, "Device")) {
      if (Attribute(device, "Key") == key) {
        current_device_ = device;
        return 0;
      }
    }
    return kKeyNoSuchDevice;
  });
}

int KeyDocument::GetIdentificationCount(int& count) {
  if (!open_) return kKeyNotOpen;
  if (!current_device_) return kKeyNoCurrentDevice;
  return Guard([&]() -> int {
    count = elements_.Count(current_device_, "Identification");
    return 0;
  });
}

int KeyDocument::GetSignatureCount(int& count) {
  if (!open_) return kKeyNotOpen;
  if (!current_device_) return kKeyNoCurrentDevice;
  return Guard([&]() -> int {
    count = elements_.Count(current_device_, "Signature");
    return 0;
  });
}

int KeyDocument::GetIdentification(int n, std::string& value, std::string& communication_name,
                                   int& type, uint32_t& index) {
  if (!open_) return kKeyNotOpen;
  if (!current_device_) return kKeyNoCurrentDevice;
  return Guard([&]() -> int {
    DOMElement* rule = elements_.Nth(current_device_, "Identification", n);
    if (!rule) return kKeyNotFound;
    int type_code = CodeOf(Attribute(rule, "TAVISType"), kTypeTexts);
    if (type_code < 0) return kKeyBadType;
    value = Attribute(rule, "Value");
    communication_name = Attribute(rule, "CommunicationName");
    type = type_code;
    index = TextToUnsigned(Attribute(rule, "index"));
    return 0;
  });
}

int KeyDocument::GetSignature(int n, std::string& value, std::string& communication_name) {
  if (!open_) return kKeyNotOpen;
  if (!current_device_) return kKeyNoCurrentDevice;
  return Guard([&]() -> int {
    DOMElement* signature = elements_.Nth(current_device_, "Signature", n);
    if (!signature) return kKeyNotFound;
    value = Attribute(signature, "Value");
    communication_name = Attribute(signature, "CommunicationName");
    return 0;
  });
}

int KeyDocument::SelectSignature(int n) {
  if (!open_) return kKeyNotOpen;
  if (!current_device_) return kKeyNoCurrentDevice;
  return Guard([&]() -> int {
    current_signature_ = elements_.Nth(current_device_, "Signature", n);
    return current_signature_ ? 0 : kKeyNotFound;
  });
}

int KeyDocument::FindUser(int level, DOMElement*& out) {
  if (!open_) return kKeyNotOpen;
  if (!current_device_) return kKeyNoCurrentDevice;
  if (!current_signature_) return kKeyNoCurrentSignature;
  DOMElement* rights = elements_.Single(current_signature_, "Rights");
  if (!rights) return kKeyNotFound;
  out = FirstUserWithLevel(rights, level);
  return out ? 0 : kKeyNoSuchUser;
}

int KeyDocument::GetUserAccess(int level, int& access) {
  return Guard([&]() -> int {
    DOMElement* user = nullptr;
    if (int rc = FindUser(level, user)) return rc;
    int code = CodeOf(Attribute(user, "access"), kAccessTexts);
    if (code < 0) return kKeyBadAccess;
    access = code;
    return 0;
  });
}

int KeyDocument::GetRuleCount(int level, int& count) {
  return Guard([&]() -> int {
    DOMElement* user = nullptr;
    if (int rc = FindUser(level, user)) return rc;
    count = elements_.Count(user, "Rule");
    return 0;
  });
}

int KeyDocument::GetRule(int level, int n, std::vector<std::string>& specified_values,
                         std::string& communication_name, int& type, uint32_t& index,
                         int& datatype, int& op) {
  return Guard([&]() -> int {
    DOMElement* user = nullptr;
    if (int rc = FindUser(level, user)) return rc;
    DOMElement* rule = elements_.Nth(user, "Rule", n);
    if (!rule) return kKeyNotFound;
    int datatype_code = DatatypeCode(Attribute(rule, "datatype"));
    if (datatype_code < 0) return kKeyBadDatatype;
    int op_code = CodeOf(Attribute(rule, "operator"), kOperatorTexts);
    if (op_code < 0) return kKeyBadOperator;

    std::vector<std::string> values;
    const std::vector<DOMElement*>& specified = elements_.Named(rule, "SpecifiedValue");
    if (specified.empty()) return kKeyNotFound;
    for (DOMElement* element : specified) {
      std::string content;
      if (GetCdataContent(element, content) != 0) return kKeyNotFound;
      values.push_back(std::move(content));
    }

    DOMElement* name_element = elements_.Nth(rule, "CommunicationName", 0);
    std::string name;
    if (GetCdataContent(name_element, name) != 0) return kKeyNotFound;
    int type_code = CodeOf(Attribute(name_element, "TAVISType"), kTypeTexts);
    if (type_code < 0) return kKeyBadType;

    specified_values.insert(specified_values.end(), values.begin(), values.end());
    communication_name = std::move(name);
    type = type_code;
    index = TextToUnsigned(Attribute(name_element, "index"));
    datatype = datatype_code;
    op = op_code;
    return 0;
  });
}

}  // namespace korvo
