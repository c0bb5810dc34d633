#include "config/xml_access.h"

#include <xercesc/sax/InputSource.hpp>
#include <xercesc/util/BinInputStream.hpp>
#include <xercesc/framework/XMLFormatter.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/system.h"
#include "platform/unicode.h"

using namespace xercesc;

namespace korvo {
namespace {

// Thrown out of the scanner when the document declares an entity.
struct EntityDeclarationRefused {};

// Streams a document from an open file, so that a large document is never
// held twice, as bytes and as the tree. Reading stops at the size bound; a
// document cut there or by a read error does not parse.
class FileStream final : public BinInputStream {
 public:
  explicit FileStream(std::FILE* file) : file_(file) {}
  XMLFilePos curPos() const override { return position_; }
  XMLSize_t readBytes(XMLByte* const to, const XMLSize_t max) override {
    if (position_ >= kMaxXmlDocumentBytes) return 0;
    size_t room = size_t(std::min<uint64_t>(max, kMaxXmlDocumentBytes - position_));
    size_t got = std::fread(to, 1, room, file_);
    position_ += got;
    return got;
  }
  const XMLCh* getContentType() const override { return nullptr; }

 private:
  std::FILE* file_;
  XMLFilePos position_ = 0;
};

class FileSource final : public InputSource {
 public:
  FileSource(std::FILE* file, const XMLCh* system_id) : InputSource(system_id), file_(file) {}
  BinInputStream* makeStream() const override { return new FileStream(file_); }

 private:
  std::FILE* file_;
};

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

// Lets a TextSource write the text of its nodes while the serializer passes
// them: the serializer has written everything before the node into the
// target when it asks the filter about it.
class TextSourceFilter final : public DOMLSSerializerFilter {
 public:
  TextSourceFilter(TextSource& source, XMLFormatTarget& target)
      : source_(source), target_(target) {}
  FilterAction acceptNode(const DOMNode* node) const override {
    source_.WriteText(node, target_);
    return FILTER_ACCEPT;
  }
  ShowType getWhatToShow() const override { return DOMNodeFilter::SHOW_TEXT; }

 private:
  TextSource& source_;
  XMLFormatTarget& target_;
};

}  // namespace

void ConfigParser::SetTextDiversion(TextDiversion* diversion) {
  diversion_ = diversion;
  path_.clear();
  diverted_.clear();
  diverted_run_ = false;
}

void ConfigParser::FlushText() {
  if (diverted_run_) {
    // The text went to the diversion; the tree gets an empty node for it.
    static XMLCh empty[1] = {0};
    diverted_run_ = false;
    XercesDOMParser::docCharacters(empty, 0, false);
    DOMNode* node = getCurrentNode();
    DOMText* placeholder = AsText(node);
    if (!placeholder && node) placeholder = AsText(node->getLastChild());
    diversion_->End(placeholder);
    return;
  }
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
  if (InDivertedElement()) {
    if (!diverted_run_) {
      diverted_run_ = true;
      diversion_->Begin();
    }
    diversion_->Append(chars, length);
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
  if (!path_.empty()) {
    path_.pop_back();
    diverted_.pop_back();
  }
  XercesDOMParser::endElement(decl, url_id, is_root, prefix);
}

void ConfigParser::endEntityReference(const XMLEntityDecl& decl) {
  FlushText();
  XercesDOMParser::endEntityReference(decl);
}

void ConfigParser::entityDecl(const DTDEntityDecl&, const bool, const bool) {
  throw EntityDeclarationRefused();
}

void ConfigParser::ignorableWhitespace(const XMLCh* const chars, const XMLSize_t length,
                                       const bool cdata_section) {
  // The tree would merge it into the text around it.
  if (InDivertedElement()) return docCharacters(chars, length, false);
  FlushText();
  XercesDOMParser::ignorableWhitespace(chars, length, cdata_section);
}

void ConfigParser::startElement(const XMLElementDecl& decl, const unsigned int url_id,
                                const XMLCh* const prefix, const RefVectorOf<XMLAttr>& attrs,
                                const XMLSize_t attr_count, const bool is_empty,
                                const bool is_root) {
  FlushText();
  const size_t depth = path_.size();
  if (diversion_) {
    path_.emplace_back(reinterpret_cast<const char16_t*>(decl.getFullName()));
    diverted_.push_back(diversion_->Diverts(path_));
  }
  XercesDOMParser::startElement(decl, url_id, prefix, attrs, attr_count, is_empty, is_root);
  // The base class ends an empty element through endElement; should it not.
  if (is_empty && path_.size() > depth) {
    path_.resize(depth);
    diverted_.resize(depth);
  }
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

static_assert(sizeof(XMLCh) == sizeof(char16_t), "Xerces text is UTF-16");

std::string NarrowText(const XMLCh* text) {
  if (!text) return std::string();
  return Utf16ToUtf8(reinterpret_cast<const char16_t*>(text), XMLString::stringLen(text));
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
                    DOMDocument*& document, TextDiversion* diversion) {
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
        // Never destroyed, like every static an operation reaches.
        static SecurityManager* entity_limit = new SecurityManager;
        p->setSecurityManager(entity_limit);
        // Opened through the UTF-8 path ourselves; Xerces would narrow the
        // path through the locale's code page.
        UniqueFile file(OpenInputFile(path, kMaxXmlDocumentBytes, nullptr));
        if (!file) return kXmlException;
        FileSource source(file.get(), XmlText(path).get());
        p->SetTextDiversion(diversion);
        struct Detach {
          ConfigParser* parser;
          ~Detach() { parser->SetTextDiversion(nullptr); }
        } detach{p.get()};
        try {
          p->parse(source);
        } catch (const EntityDeclarationRefused&) {
          return kXmlException;
        }
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

int WriteXmlDocument(DOMImplementation* impl, DOMNode* document, const std::string& path,
                     TextSource* source) {
  if (!impl || !document) return -1;
  auto* ls = dynamic_cast<DOMImplementationLS*>(impl);
  if (!ls) return -1;
  Utf8FileFormatTarget target(path);
  if (!target.ok()) return -1;
  std::unique_ptr<TextSourceFilter> filter;
  if (source) filter = std::make_unique<TextSourceFilter>(*source, target);
  DOMLSSerializer* writer = ls->createLSSerializer();
  struct Releaser {
    DOMLSSerializer* w;
    ~Releaser() { w->release(); }
  } releaser{writer};
  if (filter) writer->setFilter(filter.get());
  DOMConfiguration* config = writer->getDomConfig();
  if (config->canSetParameter(XMLUni::fgDOMWRTFormatPrettyPrint, true))
    config->setParameter(XMLUni::fgDOMWRTFormatPrettyPrint, true);
  DOMLSOutput* output = ls->createLSOutput();
  struct OutputReleaser {
    DOMLSOutput* o;
    ~OutputReleaser() { o->release(); }
  } output_releaser{output};
  output->setByteStream(&target);
  // Always UTF-8, whatever the document declared when read: in a narrower
  // encoding the writer splits a CDATA section around each character it
  // cannot hold, and the value no longer reads back as it was written.
  output->setEncoding(XmlText("UTF-8"));
  bool written = writer->write(document, output);
  bool closed = target.Close();
  return written && closed ? 0 : -1;
}

}  // namespace korvo
