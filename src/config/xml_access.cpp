#include "config/xml_access.h"

#include <xercesc/framework/XMLFormatter.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/sax/InputSource.hpp>
#include <xercesc/sax/Locator.hpp>
#include <xercesc/util/BinInputStream.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "config/markup_guard.h"
#include "platform/debug_output.h"
#include "platform/system.h"
#include "platform/unicode.h"

using namespace xercesc;

namespace korvo {
namespace {

// Thrown out of the scanner when the document declares an entity, or
// goes beyond a bound of the parse.
struct EntityDeclarationRefused {
  std::string name;
  uint64_t line, column;
};
struct LimitExceeded {};

// Streams a document from an open file or from memory through the guard,
// so that a large document is never held twice, as bytes and as the tree.
// Reading stops at the size bound and when the guard refuses; a document
// cut there or by a read error does not parse.
class GuardedStream final : public BinInputStream {
 public:
  GuardedStream(std::FILE* file, const std::string* bytes, const XmlLimits& limits,
                const char** refused)
      : file_(file), bytes_(bytes), guard_(limits), refused_(refused) {}
  XMLFilePos curPos() const override { return position_; }
  XMLSize_t readBytes(XMLByte* const to, const XMLSize_t max) override {
    if (position_ >= kMaxXmlDocumentBytes || *refused_) return 0;
    size_t room = size_t(std::min<uint64_t>(max, kMaxXmlDocumentBytes - position_));
    size_t got = 0;
    if (file_) {
      got = std::fread(to, 1, room, file_);
    } else if (position_ < bytes_->size()) {
      got = std::min(room, bytes_->size() - size_t(position_));
      std::memcpy(to, bytes_->data() + position_, got);
    }
    position_ += got;
    if (!guard_.Pass(to, got)) {
      *refused_ = guard_.reason();
      return 0;
    }
    return got;
  }
  const XMLCh* getContentType() const override { return nullptr; }

 private:
  std::FILE* file_;
  const std::string* bytes_;
  MarkupGuard guard_;
  const char** refused_;
  XMLFilePos position_ = 0;
};

class GuardedSource final : public InputSource {
 public:
  GuardedSource(std::FILE* file, const std::string* bytes, const XMLCh* system_id,
                const XmlLimits& limits)
      : InputSource(system_id), file_(file), bytes_(bytes), limits_(limits) {}
  BinInputStream* makeStream() const override {
    return new GuardedStream(file_, bytes_, limits_, &refused_);
  }
  // Why the guard stopped the document; null when it did not.
  const char* refused() const { return refused_; }

 private:
  std::FILE* file_;
  const std::string* bytes_;
  const XmlLimits& limits_;
  mutable const char* refused_ = nullptr;
};

// The serializer's bytes, into a file or, built without a path, a string.
class Utf8FormatTarget final : public XMLFormatTarget {
 public:
  explicit Utf8FormatTarget(const std::string& path) : file_(OpenFileUtf8(path, "wb")) {}
  explicit Utf8FormatTarget(std::string* memory) : memory_(memory) {}
  bool ok() const { return (file_ || memory_) && !failed_; }
  void writeChars(const XMLByte* const data, const XMLSize_t count, XMLFormatter* const) override {
    if (memory_)
      memory_->append(reinterpret_cast<const char*>(data), count);
    else if (file_ && std::fwrite(data, 1, count, file_.get()) != count)
      failed_ = true;
  }
  void flush() override {
    if (file_ && std::fflush(file_.get()) != 0) failed_ = true;
  }
  bool Close() {
    if (memory_) return !failed_;
    if (!file_) return false;
    bool closed = std::fclose(file_.release()) == 0;
    return closed && !failed_;
  }

 private:
  UniqueFile file_;
  std::string* memory_ = nullptr;
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

void ConfigParser::Empty() {
  // The diversion and the error handler were detached by the parse itself.
  resetDocumentPool();
  SetLimits(limits_);
  std::basic_string<XMLCh>().swap(pending_text_);
  std::unordered_set<std::u16string_view>().swap(names_);
  reusable_ = false;
}

namespace {

std::mutex kept_mutex;
ConfigParser* kept_parser = nullptr;  // never destroyed, like every static an operation reaches

ConfigParser* TakeKeptParser() {
  std::lock_guard<std::mutex> hold(kept_mutex);
  ConfigParser* parser = kept_parser;
  kept_parser = nullptr;
  return parser;
}

}  // namespace

void ParserReturn::operator()(ConfigParser* parser) const {
  if (!parser) return;
  if (parser->reusable()) {
    try {
      parser->Empty();
      std::lock_guard<std::mutex> hold(kept_mutex);
      if (!kept_parser) {
        kept_parser = parser;
        return;
      }
    } catch (...) {
      // Not kept; deleted below like any other.
    }
  }
  delete parser;
}

void DropKeptParser() { delete TakeKeptParser(); }

void ConfigParser::SetTextDiversion(TextDiversion* diversion) {
  diversion_ = diversion;
  path_.clear();
  diverted_.clear();
  diverted_run_ = false;
}

void ConfigParser::SetLimits(const XmlLimits& limits) {
  limits_ = limits;
  nodes_ = text_ = depth_ = 0;
  names_.clear();
  name_store_.clear();
  limit_exceeded_ = nullptr;
}

void ConfigParser::Refuse(const char* bound) {
  limit_exceeded_ = bound;
  throw LimitExceeded();
}

void ConfigParser::Admit(uint64_t nodes, uint64_t text) {
  nodes_ += nodes;
  text_ += text;
  if (nodes_ > limits_.max_nodes) Refuse("more nodes than a document may hold");
  if (text_ > limits_.max_text) Refuse("more text than a document may hold");
}

void ConfigParser::AdmitName(const XMLCh* name) {
  const std::u16string_view key(reinterpret_cast<const char16_t*>(name));
  if (names_.count(key)) return;
  if (names_.size() >= limits_.max_names) Refuse("more distinct names than a document may use");
  names_.insert(name_store_.emplace_back(key));
}

void ConfigParser::FlushText() {
  if (diverted_run_) {
    // The text went to the diversion; the tree gets an empty node for it.
    static XMLCh empty[1] = {0};
    diverted_run_ = false;
    Admit(1, 0);
    XercesDOMParser::docCharacters(empty, 0, false);
    DOMNode* node = getCurrentNode();
    DOMText* placeholder = AsText(node);
    if (!placeholder && node) placeholder = AsText(node->getLastChild());
    diversion_->End(placeholder);
    return;
  }
  if (pending_text_.empty()) return;
  Admit(1, 0);
  XercesDOMParser::docCharacters(pending_text_.c_str(), pending_text_.size(), false);
  std::basic_string<XMLCh>().swap(pending_text_);
}

void ConfigParser::docCharacters(const XMLCh* const chars, const XMLSize_t length,
                                 const bool cdata_section) {
  if (cdata_section) {
    FlushText();
    Admit(1, length);
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
  Admit(0, length);
  pending_text_.append(chars, length);
}

void ConfigParser::docComment(const XMLCh* const comment) {
  FlushText();
  Admit(1, XMLString::stringLen(comment));
  XercesDOMParser::docComment(comment);
}

void ConfigParser::docPI(const XMLCh* const target, const XMLCh* const data) {
  FlushText();
  Admit(1, XMLString::stringLen(target) + XMLString::stringLen(data));
  XercesDOMParser::docPI(target, data);
}

void ConfigParser::endDocument() {
  FlushText();
  XercesDOMParser::endDocument();
}

void ConfigParser::endElement(const XMLElementDecl& decl, const unsigned int url_id,
                              const bool is_root, const XMLCh* const prefix) {
  FlushText();
  if (depth_ > 0) --depth_;
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

void ConfigParser::entityDecl(const DTDEntityDecl& decl, const bool, const bool) {
  const Locator* at = getScanner() ? getScanner()->getLocator() : nullptr;
  throw EntityDeclarationRefused{NarrowText(decl.getName()),
                                 at ? uint64_t(at->getLineNumber()) : 0,
                                 at ? uint64_t(at->getColumnNumber()) : 0};
}

void ConfigParser::ignorableWhitespace(const XMLCh* const chars, const XMLSize_t length,
                                       const bool cdata_section) {
  // The tree would merge it into the text around it.
  if (InDivertedElement()) return docCharacters(chars, length, false);
  FlushText();
  Admit(1, length);
  XercesDOMParser::ignorableWhitespace(chars, length, cdata_section);
}

void ConfigParser::startElement(const XMLElementDecl& decl, const unsigned int url_id,
                                const XMLCh* const prefix, const RefVectorOf<XMLAttr>& attrs,
                                const XMLSize_t attr_count, const bool is_empty,
                                const bool is_root) {
  FlushText();
  // Counted before the tree grows: what is refused never reaches it.
  if (attr_count > limits_.max_attributes) Refuse("more attributes on one element than allowed");
  if (depth_ >= limits_.max_depth) Refuse("elements nested deeper than allowed");
  AdmitName(decl.getFullName());
  uint64_t text = 0;
  for (XMLSize_t i = 0; i < attr_count; ++i) {
    AdmitName(attrs.elementAt(i)->getQName());
    text += XMLString::stringLen(attrs.elementAt(i)->getValue());
  }
  Admit(1 + attr_count, text);
  const uint64_t open_depth = depth_++;
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
  if (is_empty) depth_ = open_depth;
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

std::string Attribute(const DOMElement* element, const std::string& name) {
  return element ? NarrowText(element->getAttribute(XmlText(name))) : std::string();
}

namespace {

// Calls `visit` for every element below `scope`, in document order, until
// it returns false. The way down is remembered, since Xerces answers
// getParentNode with a dynamic_cast that cost more than the rest of the
// walk; on a stack of the thread's, which walks inside walks share, so a
// walk allocates nothing once the thread has gone as deep before.
template <typename Visit>
void WalkElements(DOMNode* scope, Visit&& visit) {
  thread_local std::vector<DOMNode*> stack;
  const size_t base = stack.size();
  struct Unwind {
    size_t base;
    ~Unwind() { stack.resize(base); }
  } unwind{base};
  DOMNode* node = scope ? scope->getFirstChild() : nullptr;
  while (node) {
    if (node->getNodeType() == DOMNode::ELEMENT_NODE && !visit(static_cast<DOMElement*>(node)))
      return;
    if (DOMNode* child = node->getFirstChild()) {
      stack.push_back(node);
      node = child;
      continue;
    }
    while (!node->getNextSibling()) {
      if (stack.size() == base) return;
      node = stack.back();
      stack.pop_back();
    }
    node = node->getNextSibling();
  }
}

bool NameIs(const DOMElement* element, const std::u16string& name) {
  return name == reinterpret_cast<const char16_t*>(element->getTagName());
}

std::u16string WideName(const std::string& name) { return Utf8ToUtf16(name); }

// Answers from walks over fewer nodes than this cost no more than looking
// them up, and are not kept.
constexpr size_t kKeepFrom = 64;

}  // namespace

DOMElement* FindSingleElement(DOMNode* scope, const std::string& name) {
  const std::u16string wide = WideName(name);
  DOMElement* found = nullptr;
  int count = 0;
  WalkElements(scope, [&](DOMElement* element) {
    if (NameIs(element, wide) && ++count == 1) found = element;
    return count < 2;
  });
  return count == 1 ? found : nullptr;
}

std::vector<DOMElement*> ElementsNamed(DOMNode* scope, const std::string& name) {
  const std::u16string wide = WideName(name);
  std::vector<DOMElement*> found;
  WalkElements(scope, [&](DOMElement* element) {
    if (NameIs(element, wide)) found.push_back(element);
    return true;
  });
  return found;
}

size_t ElementIndex::KeyHash::operator()(const Key& key) const {
  return std::hash<const void*>()(key.scope) ^ (std::hash<std::u16string>()(key.name) << 1);
}

const std::vector<DOMElement*>& ElementIndex::Named(DOMNode* scope, const std::string& name) {
  Key key{scope, WideName(name)};
  auto kept = kept_.find(key);
  if (kept != kept_.end()) return kept->second;
  scratch_.clear();
  size_t walked = 0;
  WalkElements(scope, [&](DOMElement* element) {
    ++walked;
    if (NameIs(element, key.name)) scratch_.push_back(element);
    return true;
  });
  if (walked < kKeepFrom) return scratch_;
  return kept_.emplace(std::move(key), std::move(scratch_)).first->second;
}

int ElementIndex::Count(DOMNode* scope, const std::string& name) {
  return int(Named(scope, name).size());
}

DOMElement* ElementIndex::Nth(DOMNode* scope, const std::string& name, int n) {
  const std::vector<DOMElement*>& list = Named(scope, name);
  return n >= 0 && size_t(n) < list.size() ? list[size_t(n)] : nullptr;
}

DOMElement* ElementIndex::Single(DOMNode* scope, const std::string& name) {
  const std::vector<DOMElement*>& list = Named(scope, name);
  return list.size() == 1 ? list[0] : nullptr;
}

void ElementIndex::Added(DOMNode* node) {
  if (kept_.empty() || !node) return;
  std::vector<std::u16string> names;
  auto note = [&](DOMElement* element) {
    std::u16string name(reinterpret_cast<const char16_t*>(element->getTagName()));
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    return true;
  };
  if (DOMElement* element = AsElement(node)) note(element);
  WalkElements(node, note);
  // Below each scope the new elements come last when nothing follows them
  // there: then they extend its lists, otherwise those are found anew.
  bool last = true;
  DOMNode* below = node;
  for (DOMNode* scope = node->getParentNode(); scope; below = scope, scope = scope->getParentNode()) {
    last = last && !below->getNextSibling();
    for (const std::u16string& name : names) {
      auto kept = kept_.find(Key{scope, name});
      if (kept == kept_.end()) continue;
      if (!last) {
        kept_.erase(kept);
        continue;
      }
      DOMElement* element = AsElement(node);
      if (element && NameIs(element, name)) kept->second.push_back(element);
      WalkElements(node, [&](DOMElement* inner) {
        if (NameIs(inner, name)) kept->second.push_back(inner);
        return true;
      });
    }
  }
}

void ElementIndex::Clear() {
  kept_.clear();
  scratch_.clear();
}

DOMElement* AppendElement(ElementIndex* index, DOMElement* parent, const std::string& name,
                          const std::string* text) {
  DOMDocument* document = parent->getOwnerDocument();
  DOMElement* element = document->createElement(XmlText(name));
  if (text) element->appendChild(document->createTextNode(XmlText(*text)));
  AppendNode(index, parent, element);
  return element;
}

void AppendNode(ElementIndex* index, DOMNode* parent, DOMNode* node) {
  parent->appendChild(node);
  if (index) index->Added(node);
}

DOMElement* SingleOrAppended(ElementIndex& index, DOMElement* parent, const std::string& name) {
  const std::vector<DOMElement*>& found = index.Named(parent, name);
  if (found.size() > 1) return nullptr;
  return found.empty() ? AppendElement(&index, parent, name) : found[0];
}

namespace {

int Parse(GuardedSource& source, ParserHandle& parser, DOMDocument*& document,
          TextDiversion* diversion, const XmlLimits& limits, XmlErrorRecorder& errors,
          uint64_t size) {
  ParserHandle p(TakeKeptParser());
  if (!p) p.reset(new ConfigParser());
  p->setValidationScheme(XercesDOMParser::Val_Never);
  p->setDoNamespaces(false);
  p->setDoSchema(false);
  p->setLoadExternalDTD(false);
  // Nested entity definitions would otherwise let a small file expand
  // into gigabytes; the default limit is far above any real document.
  // Never destroyed, like every static an operation reaches.
  static SecurityManager* entity_limit = new SecurityManager;
  p->setSecurityManager(entity_limit);
  p->SetLimits(limits);
  p->setErrorHandler(&errors);
  p->SetTextDiversion(diversion);
  struct Detach {
    ConfigParser* parser;
    ~Detach() {
      parser->SetTextDiversion(nullptr);
      parser->setErrorHandler(nullptr);  // the recorder lives only as long as the load
    }
  } detach{p.get()};
  try {
    p->parse(source);
    p->MarkReusable();
  } catch (const EntityDeclarationRefused& refused) {
    errors.EntityRefused(refused.name, refused.line, refused.column);
    return kXmlException;
  } catch (const LimitExceeded&) {
    DebugPrint("%s: not read: %s\n", NarrowText(source.getSystemId()).c_str(),
               p->limit_exceeded());
    return kXmlException;
  }
  if (source.refused()) {
    DebugPrint("%s: not read: %s\n", NarrowText(source.getSystemId()).c_str(), source.refused());
    return kXmlException;
  }
  DOMDocument* doc = p->getDocument();
  if (!doc || p->getErrorCount() != 0) {
    errors.ParseFailed(size);
    return kXmlException;
  }
  parser = std::move(p);
  document = doc;
  return 0;
}

template <typename Body>
int GuardLoad(ParserHandle& parser, DOMDocument*& document,
              XmlErrorRecorder& errors, Body&& body) {
  parser.reset();
  document = nullptr;
  int rc = GuardXml(body, kXmlOutOfMemory, kXmlException, kXmlDomException, kXmlOtherException);
  if (rc != 0) {
    parser.reset();
    document = nullptr;
    errors.LibraryFailed(rc);
  }
  return rc;
}

}  // namespace

int LoadXmlDocument(const std::string& path, ParserHandle& parser,
                    DOMDocument*& document, TextDiversion* diversion, XmlDiagnostic* diagnostic,
                    const XmlLimits& limits) {
  XmlDiagnostic ignored;
  XmlErrorRecorder errors(diagnostic ? *diagnostic : ignored, path);
  return GuardLoad(parser, document, errors, [&]() -> int {
    // Opened through the UTF-8 path ourselves; Xerces would narrow the
    // path through the locale's code page.
    InputFileError open_error = InputFileError::kNone;
    uint64_t size = 0;
    UniqueFile file(OpenInputFile(path, kMaxXmlDocumentBytes, &open_error, &size));
    if (!file) {
      errors.FileNotRead(open_error);
      return kXmlException;
    }
    GuardedSource source(file.get(), nullptr, XmlText(path).get(), limits);
    return Parse(source, parser, document, diversion, limits, errors, size);
  });
}

int LoadXmlBuffer(const std::string& bytes, ParserHandle& parser,
                  DOMDocument*& document, TextDiversion* diversion, XmlDiagnostic* diagnostic,
                  const XmlLimits& limits) {
  XmlDiagnostic ignored;
  XmlErrorRecorder errors(diagnostic ? *diagnostic : ignored, "memory");
  return GuardLoad(parser, document, errors, [&]() -> int {
    if (bytes.size() > kMaxXmlDocumentBytes) return kXmlException;
    GuardedSource source(nullptr, &bytes, XmlText("memory").get(), limits);
    return Parse(source, parser, document, diversion, limits, errors, bytes.size());
  });
}

DOMImplementation* CoreImplementation() {
  return DOMImplementationRegistry::getDOMImplementation(XmlText("Core"));
}

DOMDocument* CreateXmlDocument(DOMImplementation* impl, const std::string& root_name) {
  if (!impl) return nullptr;
  return impl->createDocument(nullptr, XmlText(root_name), nullptr);
}

namespace {

int Serialize(DOMImplementation* impl, DOMNode* document, Utf8FormatTarget& target,
              TextSource* source) {
  if (!impl || !document) return -1;
  auto* ls = dynamic_cast<DOMImplementationLS*>(impl);
  if (!ls || !target.ok()) return -1;
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

}  // namespace

int WriteXmlDocument(DOMImplementation* impl, DOMNode* document, const std::string& path,
                     TextSource* source) {
  if (!impl || !document) return -1;
  Utf8FormatTarget target(path);
  return Serialize(impl, document, target, source);
}

int WriteXmlText(DOMImplementation* impl, DOMNode* document, std::string& out,
                 TextSource* source) {
  out.clear();
  Utf8FormatTarget target(&out);
  return Serialize(impl, document, target, source);
}

}  // namespace korvo
