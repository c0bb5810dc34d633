// The thin layer every document is written against: parser settings,
// loading and writing files, DOM helpers, and text crossing between the
// library's 8-bit strings (UTF-8 here) and the parser's 16-bit strings.
//
// None of the helpers takes ownership of a node. Xerces must be initialised
// (the download manager does it at load; tests do it in their main).
#pragma once

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/XMLFormatter.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/util/XMLString.hpp>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "config/xml_diagnostic.h"

namespace korvo {

// The largest XML file loaded: room for a configuration that embeds several
// data files of the largest size a build takes.
constexpr uint64_t kMaxXmlDocumentBytes = uint64_t(512) << 20;

// Codes of the loading step; every document band reuses them (config band).
constexpr int kXmlParserNotCreated = -90;
constexpr int kXmlOutOfMemory = -84;
constexpr int kXmlException = -85;
constexpr int kXmlDomException = -86;
constexpr int kXmlOtherException = -87;
constexpr int kNoTextChild = -111;

// ---- What a parse accepts ----
//
// The DOM spends about 200 bytes on every node, keeps every name in one
// string pool whose lookups slow down with each new name, and searches an
// element's attributes one by one; so a file well inside the size bound
// could cost gigabytes or minutes. A document beyond any of these bounds is
// refused while it is read, as not well-formed (-85 and its equivalents).
struct XmlLimits {
  // Elements, attributes, texts, comments and processing instructions:
  // about 400 MB of tree at most. A key file of 10,000 devices with two
  // identifications and three user levels each holds 630,000.
  uint64_t max_nodes = 1500000;
  // The richest element we write (a download constraint) has seven.
  uint64_t max_attributes = 64;
  // Our documents nest seven deep; copying, writing and releasing a tree
  // recurse once per level.
  uint64_t max_depth = 64;
  // Distinct element and attribute names (each document has a few dozen).
  uint64_t max_names = 4096;
  // Characters of text, attribute values, comments and processing
  // instructions kept in the tree (diverted text does not count): 64 MiB
  // as the DOM holds them.
  uint64_t max_text = uint64_t(32) << 20;
  // Bytes (UTF-16 units in UTF-16) of one tag, comment, CDATA section,
  // processing instruction or declaration, which the scanner holds whole
  // before the parser sees any of it.
  uint64_t max_markup = uint64_t(32) << 20;
};

// ---- Texts kept out of the tree (parser and serializer hooks) ----
//
// A loader may take the character data directly inside chosen elements out
// of the tree while the document is parsed, and a writer may write such text
// into the file while the document is serialised. Either way the tree holds
// an empty text node in the text's place, so that its shape stays what it
// would be with the text in it: each run of text between two pieces of
// markup is one text node, and comments, CDATA sections and elements stay
// apart from it.

// Takes text away from the parser.
class TextDiversion {
 public:
  virtual ~TextDiversion() = default;
  // An element starts; `path` holds the names of the open elements, the
  // root first and this one last. True when its direct text is to be taken.
  virtual bool Diverts(const std::vector<std::u16string>& path) = 0;
  // One run of such text: Begin, the characters in pieces, then End with
  // the empty text node that stands for it in the tree.
  virtual void Begin() = 0;
  virtual void Append(const XMLCh* chars, size_t length) = 0;
  virtual void End(xercesc::DOMText* placeholder) = 0;
};

// Gives text to the serializer.
class TextSource {
 public:
  virtual ~TextSource() = default;
  // Called for each text node as it is written. For a node this source
  // stands for, writes its text into `out` (UTF-8 bytes, escaped already
  // where they need to be) and returns true; false for every other node.
  virtual bool WriteText(const xercesc::DOMNode* node, xercesc::XMLFormatTarget& out) = 0;
};

// ---- Parsing ----

// The parser the loaders create; it owns the document it produced.
// Handed back (ParserHandle), it is emptied and kept for the next parse.
//
// It gathers each run of character data before handing it to the DOM, so a
// multi-megabyte text (a configuration's payload) becomes one text node in
// one piece instead of being regrown and copied chunk by chunk. The document
// built is the same.
class ConfigParser final : public xercesc::XercesDOMParser {
 public:
  ConfigParser() : XercesDOMParser(nullptr) {}

  void docCharacters(const XMLCh* const chars, const XMLSize_t length,
                     const bool cdata_section) override;
  void docComment(const XMLCh* const comment) override;
  void docPI(const XMLCh* const target, const XMLCh* const data) override;
  void endDocument() override;
  void endElement(const xercesc::XMLElementDecl& decl, const unsigned int url_id,
                  const bool is_root, const XMLCh* const prefix) override;
  void endEntityReference(const xercesc::XMLEntityDecl& decl) override;
  // Refuses every entity declaration (see LoadXmlDocument).
  void entityDecl(const xercesc::DTDEntityDecl& decl, const bool is_parameter_entity,
                  const bool is_ignored) override;
  void ignorableWhitespace(const XMLCh* const chars, const XMLSize_t length,
                           const bool cdata_section) override;
  void startElement(const xercesc::XMLElementDecl& decl, const unsigned int url_id,
                    const XMLCh* const prefix, const xercesc::RefVectorOf<xercesc::XMLAttr>& attrs,
                    const XMLSize_t attr_count, const bool is_empty,
                    const bool is_root) override;
  void startEntityReference(const xercesc::XMLEntityDecl& decl) override;

  // Text the diversion takes goes to it (null: none); for one parse.
  void SetTextDiversion(TextDiversion* diversion);
  // The bounds of the next parse; counting starts afresh.
  void SetLimits(const XmlLimits& limits);
  // Which bound the parse went beyond; null when none.
  const char* limit_exceeded() const { return limit_exceeded_; }

  // After a parse that ended without an exception; Xerces leaves its
  // scanner unusable after running out of memory, and we trust no other
  // exception to have left it whole either.
  // Cleared by Empty, so a parser taken again starts out not reusable.
  void MarkReusable() { reusable_ = true; }
  bool reusable() const { return reusable_; }
  // Releases every document the parser built and what the last parse
  // left behind, so that a kept parser holds no document's memory.
  void Empty();

 private:
  void FlushText();
  // Counts what the tree is about to hold; throws when it is too much.
  void Admit(uint64_t nodes, uint64_t text);
  void AdmitName(const XMLCh* name);
  void Refuse(const char* bound);
  bool InDivertedElement() const { return diversion_ && !diverted_.empty() && diverted_.back(); }
  std::basic_string<XMLCh> pending_text_;

  TextDiversion* diversion_ = nullptr;
  std::vector<std::u16string> path_;  // open elements, kept while a diversion is set
  std::vector<bool> diverted_;        // for each of them, whether its text is taken
  bool diverted_run_ = false;         // a run of taken text is open

  XmlLimits limits_;
  uint64_t nodes_ = 0, text_ = 0, depth_ = 0;
  // Looked up without a copy for every element and attribute; the views
  // point into the store, whose strings never move.
  std::unordered_set<std::u16string_view> names_;
  std::deque<std::u16string> name_store_;
  const char* limit_exceeded_ = nullptr;
  bool reusable_ = false;
};

// Building a parser (scanner, validators, pools) costs more than parsing a
// small document, so the one a document lets go is kept, emptied, for the
// next parse: at most one for the whole process, whichever thread.
struct ParserReturn {
  void operator()(ConfigParser* parser) const;
};
using ParserHandle = std::unique_ptr<ConfigParser, ParserReturn>;

// Deletes the kept parser. Before Xerces' last termination when it may be
// initialised again in this process: the kept parser belongs to the old one.
void DropKeptParser();

// A transcoded copy of an 8-bit string for the duration of a DOM call.
class XmlText final {
 public:
  explicit XmlText(const std::string& text);
  ~XmlText();
  XmlText(const XmlText&) = delete;
  XmlText& operator=(const XmlText&) = delete;
  const XMLCh* get() const { return text_; }
  operator const XMLCh*() const { return text_; }

 private:
  XMLCh* text_;
};

// 16-bit DOM text to an 8-bit string; null gives "".
std::string NarrowText(const XMLCh* text);

xercesc::DOMElement* AsElement(xercesc::DOMNode* node);
xercesc::DOMText* AsText(xercesc::DOMNode* node);

// First text child's data into out; -111 (out untouched) when there is none.
int GetElementText(xercesc::DOMNode* node, std::string& out);
void GetTagName(xercesc::DOMElement* element, std::string& out);
// in: attribute name; out: its value ("" when absent).
void GetAttributeValue(xercesc::DOMElement* element, std::string& name_in_value_out);

// The value of attribute `name` ("" when absent or without element).
std::string Attribute(const xercesc::DOMElement* element, const std::string& name);

// The one descendant element named `name`; null when there are none or
// several ("appears exactly once" lookups). One walk of the scope; lookups
// that repeat belong in an ElementIndex.
xercesc::DOMElement* FindSingleElement(xercesc::DOMNode* scope, const std::string& name);

// The descendant elements of `scope` named `name`, in document order: one
// walk of the scope.
std::vector<xercesc::DOMElement*> ElementsNamed(xercesc::DOMNode* scope, const std::string& name);

// ---- Finding and adding elements ----
//
// Sections and entries are found by name among all descendants of a scope,
// in document order. An index answers each lookup with one walk of the
// scope, and keeps the answer for a scope of any size, so that reading a
// document entry by entry stays linear in the document. Whoever changes
// the tree tells the index (the Append helpers below do); not thread-safe.
class ElementIndex final {
 public:
  // The elements named `name` below `scope` (none for a null scope). The
  // reference is good until the next call.
  const std::vector<xercesc::DOMElement*>& Named(xercesc::DOMNode* scope, const std::string& name);
  int Count(xercesc::DOMNode* scope, const std::string& name);
  // Element `n` (from 0); null when there is no such element.
  xercesc::DOMElement* Nth(xercesc::DOMNode* scope, const std::string& name, int n);
  // The one element named `name`; null when there are none or several.
  xercesc::DOMElement* Single(xercesc::DOMNode* scope, const std::string& name);

  // `node` (and what it holds) was just put into the tree: forgets or
  // extends every kept answer it changes.
  void Added(xercesc::DOMNode* node);
  // Forgets everything; for a tree that changed otherwise or went away.
  void Clear();

 private:
  struct Key {
    const xercesc::DOMNode* scope;
    std::u16string name;
    bool operator==(const Key& other) const {
      return scope == other.scope && name == other.name;
    }
  };
  struct KeyHash {
    size_t operator()(const Key& key) const;
  };
  std::unordered_map<Key, std::vector<xercesc::DOMElement*>, KeyHash> kept_;
  std::vector<xercesc::DOMElement*> scratch_;  // an answer too cheap to keep
};

// Appends a new element `name` to `parent` (with a text child holding
// `text`, when given) and tells `index` (may be null). Returns the element.
xercesc::DOMElement* AppendElement(ElementIndex* index, xercesc::DOMElement* parent,
                                   const std::string& name, const std::string* text = nullptr);

// Appends `node` (of the parent's document) to `parent` and tells `index`.
void AppendNode(ElementIndex* index, xercesc::DOMNode* parent, xercesc::DOMNode* node);

// The one descendant of `parent` named `name`, or a new child of that name
// when there is none; null when there are several.
xercesc::DOMElement* SingleOrAppended(ElementIndex& index, xercesc::DOMElement* parent,
                                      const std::string& name);

// Parses the file at `path` with the fixed settings. On success (0) `parser`
// owns the document and `document` points to it. Failure codes: -90, -84 to
// -87; then parser and document are null.
//
// No configuration, key or project file needs entities, and a few nested
// declarations expand into gigabytes: a document type declaration that
// declares any entity is refused (-85); the predefined entities and
// character references are read as always. The file must be a regular
// file of at most kMaxXmlDocumentBytes (-85 otherwise).
//
// `diversion` (may be null) takes the text it chooses out of the tree.
// `diagnostic` (may be null) is cleared, and after a failure says why and,
// for text that does not parse, at which line and column. A document beyond
// `limits` is refused (-85).
int LoadXmlDocument(const std::string& path, ParserHandle& parser,
                    xercesc::DOMDocument*& document, TextDiversion* diversion = nullptr,
                    XmlDiagnostic* diagnostic = nullptr, const XmlLimits& limits = XmlLimits());

// The same for a document held in memory (at most kMaxXmlDocumentBytes);
// `bytes` must outlive the call only.
int LoadXmlBuffer(const std::string& bytes, ParserHandle& parser,
                  xercesc::DOMDocument*& document, TextDiversion* diversion = nullptr,
                  XmlDiagnostic* diagnostic = nullptr, const XmlLimits& limits = XmlLimits());

// The "Core" implementation, or null.
xercesc::DOMImplementation* CoreImplementation();

// A new document whose root element is `root_name`; the caller releases it.
xercesc::DOMDocument* CreateXmlDocument(xercesc::DOMImplementation* impl,
                                        const std::string& root_name);

// Serialises `document` pretty-printed into the file at `path`, with the
// text of the nodes `source` (may be null) stands for written in their place.
// 0 on success; -1 when the file cannot be written (the file may be partial).
// Xerces exceptions pass through to the caller's mapping.
int WriteXmlDocument(xercesc::DOMImplementation* impl, xercesc::DOMNode* document,
                     const std::string& path, TextSource* source = nullptr);

// The same into `out` (emptied first).
int WriteXmlText(xercesc::DOMImplementation* impl, xercesc::DOMNode* document, std::string& out,
                 TextSource* source = nullptr);

// Runs `body`, mapping escaping exceptions onto a document band's four codes.
template <typename Body>
int GuardXml(Body&& body, int out_of_memory, int xml_exception, int dom_exception,
             int other_exception);

}  // namespace korvo

#include "config/xml_access_inl.h"
