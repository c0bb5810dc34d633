#include "config/xml_access.h"

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/XMLFormatter.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>

#include <cstdio>
#include <vector>

#include "platform/system.h"

using namespace xercesc;

namespace korvo {
namespace {

// 8-bit text is UTF-8. A byte that does not start a valid sequence stands
// for itself (Latin-1), so no input is refused or lost.
std::u16string Utf8ToUtf16(const std::string& in) {
  std::u16string out;
  out.reserve(in.size());
  const unsigned char* p = reinterpret_cast<const unsigned char*>(in.data());
  size_t n = in.size(), i = 0;
  while (i < n) {
    unsigned c = p[i];
    if (c < 0x80) {
      out.push_back(char16_t(c));
      ++i;
      continue;
    }
    int extra = c >= 0xF0 && c < 0xF5 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : -1;
    if (c >= 0xF5) extra = -1;
    uint32_t cp = extra == 1 ? c & 0x1F : extra == 2 ? c & 0x0F : c & 0x07;
    bool ok = extra > 0;
    for (int k = 1; ok && k <= extra; ++k) {
      if (i + k >= n || (p[i + k] & 0xC0) != 0x80) ok = false;
      else cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if (ok && ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF))))
      ok = false;
    if (!ok) {
      out.push_back(char16_t(c));
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(char16_t(0xD800 + (cp >> 10)));
      out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(char16_t(cp));
    }
    i += size_t(extra) + 1;
  }
  return out;
}

void AppendUtf8(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out.push_back(char(cp));
  } else if (cp < 0x800) {
    out.push_back(char(0xC0 | (cp >> 6)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(char(0xE0 | (cp >> 12)));
    out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(char(0xF0 | (cp >> 18)));
    out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  }
}

bool ReadWholeFile(const std::string& path, std::string& out) {
  UniqueFile file(OpenFileUtf8(path, "rb"));
  if (!file) return false;
  // Growing the string chunk by chunk costs more than the parse itself for
  // multi-megabyte documents; the size is only a hint.
  if (std::fseek(file.get(), 0, SEEK_END) == 0) {
    long size = std::ftell(file.get());
    if (size > 0) out.reserve(size_t(size));
    if (std::fseek(file.get(), 0, SEEK_SET) != 0) return false;
  }
  char chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) out.append(chunk, got);
  return !std::ferror(file.get());
}

// Writes the serializer's output through a UTF-8 path.
class Utf8FileFormatTarget final : public XMLFormatTarget {
 public:
  explicit Utf8FileFormatTarget(const std::string& path) : file_(OpenFileUtf8(path, "wb")) {}
  bool ok() const { return file_ && !failed_; }
  void writeChars(const XMLByte* const data, const XMLSize_t count, XMLFormatter* const) override {
    if (file_ && std::fwrite(data, 1, count, file_.get()) != count) failed_ = true;
  }
  void flush() override {
    if (file_ && std::fflush(file_.get()) != 0) failed_ = true;
  }
  bool Close() {
    if (!file_) return false;
    bool closed = std::fclose(file_.release()) == 0;
    return closed && !failed_;
  }

 private:
  UniqueFile file_;
  bool failed_ = false;
};

}  // namespace

void ConfigParser::FlushText() {
  if (pending_text_.empty()) return;
  XercesDOMParser::docCharacters(pending_text_.c_str(), pending_text_.size(), false);
  std::basic_string<XMLCh>().swap(pending_text_);
}

void ConfigParser::docCharacters(const XMLCh* const chars, const XMLSize_t length,
                                 const bool cdata_section) {
  if (cdata_section) {
    FlushText();
    XercesDOMParser::docCharacters(chars, length, cdata_section);
    return;
  }
  pending_text_.append(chars, length);
}

void ConfigParser::docComment(const XMLCh* const comment) {
  FlushText();
  XercesDOMParser::docComment(comment);
}

void ConfigParser::docPI(const XMLCh* const target, const XMLCh* const data) {
  FlushText();
  XercesDOMParser::docPI(target, data);
}

void ConfigParser::endDocument() {
  FlushText();
  XercesDOMParser::endDocument();
}

void ConfigParser::endElement(const XMLElementDecl& decl, const unsigned int url_id,
                              const bool is_root, const XMLCh* const prefix) {
  FlushText();
  XercesDOMParser::endElement(decl, url_id, is_root, prefix);
}

void ConfigParser::endEntityReference(const XMLEntityDecl& decl) {
  FlushText();
  XercesDOMParser::endEntityReference(decl);
}

void ConfigParser::ignorableWhitespace(const XMLCh* const chars, const XMLSize_t length,
                                       const bool cdata_section) {
  FlushText();
  XercesDOMParser::ignorableWhitespace(chars, length, cdata_section);
}

void ConfigParser::startElement(const XMLElementDecl& decl, const unsigned int url_id,
                                const XMLCh* const prefix, const RefVectorOf<XMLAttr>& attrs,
                                const XMLSize_t attr_count, const bool is_empty,
                                const bool is_root) {
  FlushText();
  XercesDOMParser::startElement(decl, url_id, prefix, attrs, attr_count, is_empty, is_root);
}

void ConfigParser::startEntityReference(const XMLEntityDecl& decl) {
  FlushText();
  XercesDOMParser::startEntityReference(decl);
}

XmlText::XmlText(const std::string& text) {
  std::u16string wide = Utf8ToUtf16(text);
  text_ = static_cast<XMLCh*>(
      XMLPlatformUtils::fgMemoryManager->allocate((wide.size() + 1) * sizeof(XMLCh)));
  std::copy(wide.begin(), wide.end(), text_);
  text_[wide.size()] = 0;
}

XmlText::~XmlText() { XMLString::release(&text_); }

std::string NarrowText(const XMLCh* text) {
  std::string out;
  if (!text) return out;
  XMLSize_t n = XMLString::stringLen(text);
  out.reserve(n);
  for (XMLSize_t i = 0; i < n; ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    AppendUtf8(c, out);
  }
  return out;
}

DOMElement* AsElement(DOMNode* node) {
  return node && node->getNodeType() == DOMNode::ELEMENT_NODE ? static_cast<DOMElement*>(node)
                                                                : nullptr;
}

DOMText* AsText(DOMNode* node) {
  return node && node->getNodeType() == DOMNode::TEXT_NODE ? static_cast<DOMText*>(node)
                                                             : nullptr;
}

int GetElementText(DOMNode* node, std::string& out) {
  if (!node) return kNoTextChild;
  for (DOMNode* child = node->getFirstChild(); child; child = child->getNextSibling()) {
    if (DOMText* text = AsText(child)) {
      out = NarrowText(text->getData());
      return 0;
    }
  }
  return kNoTextChild;
}

void GetTagName(DOMElement* element, std::string& out) {
  out = element ? NarrowText(element->getTagName()) : std::string();
}

void GetAttributeValue(DOMElement* element, std::string& name_in_value_out) {
  if (!element) {
    name_in_value_out.clear();
    return;
  }
  XmlText name(name_in_value_out);
  name_in_value_out = NarrowText(element->getAttribute(name));
}

DOMElement* FindSingleElement(DOMDocument* doc, const std::string& name) {
  if (!doc) return nullptr;
  DOMNodeList* list = doc->getElementsByTagName(XmlText(name));
  return list && list->getLength() == 1 ? AsElement(list->item(0)) : nullptr;
}

DOMElement* FindSingleElement(DOMElement* scope, const std::string& name) {
  if (!scope) return nullptr;
  DOMNodeList* list = scope->getElementsByTagName(XmlText(name));
  return list && list->getLength() == 1 ? AsElement(list->item(0)) : nullptr;
}

int LoadXmlDocument(const std::string& path, std::unique_ptr<ConfigParser>& parser,
                    DOMDocument*& document) {
  parser.reset();
  document = nullptr;
  int rc = GuardXml(
      [&]() -> int {
        std::unique_ptr<ConfigParser> p(new ConfigParser());
        if (!p) return kXmlParserNotCreated;
        p->setValidationScheme(XercesDOMParser::Val_Never);
        p->setDoNamespaces(false);
        p->setDoSchema(false);
        p->setLoadExternalDTD(false);
        // Nested entity definitions would otherwise let a small file expand
        // into gigabytes; the default limit is far above any real document.
        static SecurityManager entity_limit;
        p->setSecurityManager(&entity_limit);
        // Read through the UTF-8 path ourselves; Xerces would narrow the path
        // through the locale's code page.
        std::string bytes;
        if (!ReadWholeFile(path, bytes)) return kXmlException;
        MemBufInputSource source(reinterpret_cast<const XMLByte*>(bytes.data()), bytes.size(),
                                 XmlText(path).get());
        p->parse(source);
        DOMDocument* doc = p->getDocument();
        if (!doc || p->getErrorCount() != 0) return kXmlException;
        parser = std::move(p);
        document = doc;
        return 0;
      },
      kXmlOutOfMemory, kXmlException, kXmlDomException, kXmlOtherException);
  if (rc != 0) {
    parser.reset();
    document = nullptr;
  }
  return rc;
}

DOMImplementation* CoreImplementation() {
  return DOMImplementationRegistry::getDOMImplementation(XmlText("Core"));
}

DOMDocument* CreateXmlDocument(DOMImplementation* impl, const std::string& root_name) {
  if (!impl) return nullptr;
  return impl->createDocument(nullptr, XmlText(root_name), nullptr);
}

int WriteXmlDocument(DOMImplementation* impl, DOMNode* document, const std::string& path) {
  if (!impl || !document) return -1;
  auto* ls = dynamic_cast<DOMImplementationLS*>(impl);
  if (!ls) return -1;
  Utf8FileFormatTarget target(path);
  if (!target.ok()) return -1;
  DOMLSSerializer* writer = ls->createLSSerializer();
  struct Releaser {
    DOMLSSerializer* w;
    ~Releaser() { w->release(); }
  } releaser{writer};
  DOMConfiguration* config = writer->getDomConfig();
  if (config->canSetParameter(XMLUni::fgDOMWRTFormatPrettyPrint, true))
    config->setParameter(XMLUni::fgDOMWRTFormatPrettyPrint, true);
  DOMLSOutput* output = ls->createLSOutput();
  struct OutputReleaser {
    DOMLSOutput* o;
    ~OutputReleaser() { o->release(); }
  } output_releaser{output};
  output->setByteStream(&target);
  bool written = writer->write(document, output);
  bool closed = target.Close();
  return written && closed ? 0 : -1;
}

}  // namespace korvo
