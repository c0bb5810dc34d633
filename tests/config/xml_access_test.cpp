#include "config/xml_access.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/system.h"
#include "support/files.h"

namespace korvo {
namespace {

// Gathered character data must build the same tree as the plain parser.
std::string Shape(xercesc::DOMNode* node) {
  std::string out = std::to_string(node->getNodeType()) + "[" + NarrowText(node->getNodeName()) +
                    "=" + NarrowText(node->getNodeValue()) + "]";
  for (xercesc::DOMNode* c = node->getFirstChild(); c; c = c->getNextSibling()) out += Shape(c);
  return out + "/";
}

TEST(XmlAccessTest, GatheredTextBuildsTheSameTreeAsThePlainParser) {
  const std::string big(200000, 'Q'), path = "xml_access_shape.xml";
  test_support::WriteFile(path, "<?xml version=\"1.0\"?><!DOCTYPE r [<!ELEMENT r ANY>]><r>a&amp;b" +
                                    big + "<![CDATA[c<d]]>tail<!--x-->more&#x41;end<?pi data?>" +
                                    "<k> <l/>\n </k>" + big + "</r>");
  ParserHandle parser;
  xercesc::DOMDocument* doc = nullptr;
  ASSERT_EQ(0, LoadXmlDocument(path, parser, doc));
  xercesc::XercesDOMParser plain;
  plain.setLoadExternalDTD(false);
  plain.parse(XmlText(path).get());
  RemoveFile(path);
  ASSERT_NE(nullptr, plain.getDocument());
  EXPECT_EQ(Shape(plain.getDocument()->getDocumentElement()), Shape(doc->getDocumentElement()));
  std::string text;
  ASSERT_EQ(0, GetElementText(doc->getDocumentElement(), text));
  EXPECT_EQ("a&b" + big, text);
}

// Takes the texts directly inside every element named t.
struct TakeT final : TextDiversion {
  std::vector<std::string> texts;
  std::vector<xercesc::DOMText*> placeholders;
  std::u16string run;
  bool Diverts(const std::vector<std::u16string>& path) override { return path.back() == u"t"; }
  void Begin() override { run.clear(); }
  void Append(const XMLCh* chars, size_t length) override {
    run.append(reinterpret_cast<const char16_t*>(chars), length);
  }
  void End(xercesc::DOMText* placeholder) override {
    texts.push_back(NarrowText(reinterpret_cast<const XMLCh*>(run.c_str())));
    placeholders.push_back(placeholder);
  }
};

// Empties the texts of the elements named t, keeping them in `texts`.
void EmptyTexts(xercesc::DOMNode* node, std::vector<std::string>& texts) {
  for (xercesc::DOMNode* c = node->getFirstChild(); c; c = c->getNextSibling()) {
    if (AsText(c) && NarrowText(node->getNodeName()) == "t") {
      texts.push_back(NarrowText(c->getNodeValue()));
      AsText(c)->setData(XmlText(""));
    }
    EmptyTexts(c, texts);
  }
}

TEST(XmlAccessTest, DivertedTextLeavesTheTreeItsShape) {
  const std::string big(100000, 'Q'), path = "xml_access_diverted.xml";
  test_support::WriteFile(path, "<r>r1<t>a&amp;b" + big +
                                    "<!--x-->c<![CDATA[d]]>e<k>in k</k>f&#x1F600;</t><t/><t></t>"
                                    "<k><t>" + big + "</t>k2</k><t>\xC3\xA4</t></r>");
  ParserHandle plain_parser, parser;
  xercesc::DOMDocument *plain = nullptr, *doc = nullptr;
  ASSERT_EQ(0, LoadXmlDocument(path, plain_parser, plain));
  TakeT take;
  ASSERT_EQ(0, LoadXmlDocument(path, parser, doc, &take));
  RemoveFile(path);
  std::vector<std::string> texts;
  EmptyTexts(plain->getDocumentElement(), texts);
  EXPECT_EQ(Shape(plain->getDocumentElement()), Shape(doc->getDocumentElement()));
  EXPECT_EQ(texts, take.texts);
  ASSERT_EQ(6u, take.placeholders.size());  // four runs in the first t, one in each of two
  EXPECT_EQ("k", NarrowText(take.placeholders[4]->getParentNode()->getParentNode()->getNodeName()));
  EXPECT_EQ(take.placeholders[5], doc->getDocumentElement()->getLastChild()->getFirstChild());
}

// The index against the parser's live lists through the edits the documents make: appends
// at the end, inside, and of copied subtrees holding names already looked up.
TEST(XmlAccessTest, IndexAnswersAsTheLiveListsDoThroughEdits) {
  std::string xml = "<r>";
  for (int i = 0; i < 60; ++i) xml += "<d><a/><b><a/></b>\n</d>";
  ParserHandle parser;
  xercesc::DOMDocument* doc = nullptr;
  ASSERT_EQ(0, LoadXmlBuffer(xml + "</r>", parser, doc));
  ElementIndex index;
  std::vector<xercesc::DOMNode*> scopes = {doc, doc->getDocumentElement()};
  const char* const names[] = {"a", "b", "d"};
  uint32_t random = 12345;
  auto next = [&](uint32_t n) { return (random = random * 1103515245u + 12345u) / 65536 % n; };
  for (int step = 0; step < 400; ++step) {
    xercesc::DOMNode* scope = scopes[next(uint32_t(scopes.size()))];
    const std::string name = names[next(3)];
    xercesc::DOMNodeList* live = scope->getNodeType() == xercesc::DOMNode::DOCUMENT_NODE
                                     ? doc->getElementsByTagName(XmlText(name))
                                     : AsElement(scope)->getElementsByTagName(XmlText(name));
    const std::vector<xercesc::DOMElement*>& found = index.Named(scope, name);
    ASSERT_EQ(live->getLength(), found.size()) << "step " << step << " " << name;
    for (size_t i = 0; i < found.size(); ++i) ASSERT_EQ(live->item(i), found[i]) << step;
    // An edit somewhere: a new element, or a copy of a whole subtree.
    xercesc::DOMElement* parent = AsElement(scope) ? AsElement(scope) : doc->getDocumentElement();
    if (!found.empty() && next(2)) parent = found[next(uint32_t(found.size()))];
    if (next(3) == 0) {
      xercesc::DOMNode* copy = doc->getDocumentElement()->getFirstChild()->cloneNode(true);
      AppendNode(&index, parent, copy);
    } else {
      scopes.push_back(AppendElement(&index, parent, names[next(3)]));
    }
  }
}

// Every bound refuses one more than it allows, wherever the excess lies.
TEST(XmlAccessTest, BoundsRefuseWhatTheyDoNotAllow) {
  struct Row {
    const char* what; uint64_t XmlLimits::*bound; uint64_t allowed; std::string within, beyond;
  };
  const Row rows[] = {
      {"nodes", &XmlLimits::max_nodes, 6, "<r><a/>t<!--c--><?p?><b/></r>",
       "<r><a/>t<!--c--><?p?><b x='1'/></r>"},
      // Only the equals signs of tags count, whatever comes around them.
      {"attributes", &XmlLimits::max_attributes, 2,
       "<!-- f=1 g=2 h=3 --><!DOCTYPE r [<!-- ' ] --><!ATTLIST c d CDATA 'x=y=z'>]>"
       "<r a='1' b='2'><c d='>=' e=''/>"
       "<!-- f=1 g=2 h=3 --><![CDATA[ f=1 g=2 h=3 ]]><?p f=1 g=2 h=3?></r>",
       "<r><c d='' e='' f=''/></r>"},
      {"depth", &XmlLimits::max_depth, 3, "<r><a><b/></a><a><b></b></a></r>",
       "<r><a><b><c/></b></a></r>"},
      {"names", &XmlLimits::max_names, 3, "<r><a b='1'/><a/><r b='2'/></r>",
       "<r><a b='1'><c/></a></r>"},
      {"text", &XmlLimits::max_text, 7, "<r a='12'>34<!--5--><?p 6?></r>",
       "<r>1234<![CDATA[5678]]></r>"},
      {"markup", &XmlLimits::max_markup, 12, "<r a='1234'>x<!--56-->y</r>", "<r a='12345'/>"},
      {"markup", &XmlLimits::max_markup, 12, "<r a='1234'>x<!--56-->y</r>", "<rrrr     a=''/>"},
      // A quoted "]" or ">" does not end a declaration early.
      {"markup", &XmlLimits::max_markup, 50, "<!DOCTYPE r [<!ATTLIST r a CDATA 'x'>]><r/>",
       "<!DOCTYPE r [<!ATTLIST r a CDATA ']>xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx'>]><r/>"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    XmlLimits limits;
    limits.*row.bound = row.allowed;
    ParserHandle parser;
    xercesc::DOMDocument* doc = nullptr;
    EXPECT_EQ(0, LoadXmlBuffer(row.within, parser, doc, nullptr, nullptr, limits));
    EXPECT_EQ(kXmlException, LoadXmlBuffer(row.beyond, parser, doc, nullptr, nullptr, limits));
    EXPECT_EQ(nullptr, doc);
  }
  // The bounds every document is read with.
  std::string deep, attributes = "<r";
  for (int i = 0; i < 64; ++i) deep = "<e>" + deep + "</e>";
  for (int i = 0; i < 64; ++i) attributes += " a" + std::to_string(i) + "=''";
  ParserHandle parser;
  xercesc::DOMDocument* doc = nullptr;
  EXPECT_EQ(0, LoadXmlBuffer(deep, parser, doc));
  EXPECT_EQ(kXmlException, LoadXmlBuffer("<r>" + deep + "</r>", parser, doc));
  EXPECT_EQ(0, LoadXmlBuffer(attributes + "/>", parser, doc));
  EXPECT_EQ(kXmlException, LoadXmlBuffer(attributes + " z=''/>", parser, doc));
}

// Parsers are handed back and used again: each document starts afresh, whatever
// the one before left half done, and a parser still holding its document is
// never handed out.
TEST(XmlAccessTest, AParserUsedAgainStartsEachDocumentAfresh) {
  ParserHandle held;
  xercesc::DOMDocument* held_doc = nullptr;
  ASSERT_EQ(0, LoadXmlBuffer("<h>held</h>", held, held_doc));
  TakeT take;
  XmlLimits little_text;
  little_text.max_text = 3;
  const struct {
    std::string xml; TextDiversion* diversion; XmlLimits limits; int rc; std::string shape;
  } steps[] = {
      {"<a>text still gathered</b>", nullptr, {}, kXmlException, ""},
      {"<b>x</b>", nullptr, {}, 0, "1[b=]3[#text=x]//"},
      {"<t>taken</t>", &take, {}, 0, "1[t=]3[#text=]//"},
      {"<t>kept</t>", nullptr, {}, 0, "1[t=]3[#text=kept]//"},
      {"<r a='bc'>d", nullptr, little_text, kXmlException, ""},
      {"<r a='bcdef'>g</r>", nullptr, {}, 0, "1[r=]3[#text=g]//"},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.xml);
    ParserHandle parser;
    xercesc::DOMDocument* doc = nullptr;
    ASSERT_EQ(step.rc, LoadXmlBuffer(step.xml, parser, doc, step.diversion, nullptr, step.limits));
    if (step.rc == 0) {
      EXPECT_EQ(step.shape, Shape(doc->getDocumentElement()));
    }
  }
  EXPECT_EQ(std::vector<std::string>{"taken"}, take.texts);
  EXPECT_EQ("1[h=]3[#text=held]//", Shape(held_doc->getDocumentElement()));
}

// A document that does not load says where and why; one that loads clears that.
TEST(XmlAccessTest, FailedLoadNamesTheFileThePlaceAndTheReason) {
  const std::string path = "xml_access_diagnostic.xml";
  // The file ("-": a folder in its place), the diagnostic after the file name.
  const struct { std::string text, expected; } cases[] = {
      {"<r>\n  <a>x</b>\n</r>", "line 2, column 9: expected end of tag 'a'"},
      {"<r><a>", "line 1, column 7: input ended before all started tags were ended; last tag"
                 " started is 'a'"},
      {"<r a='1' a='2'/>", "line 1, column 12: attribute 'a' is already specified for element 'r'"},
      {"<r/>\n<s/>", "line 2, column 1: comment or processing instruction expected"},
      {"\n\n<!DOCTYPE r [\n <!ENTITY e 'x'>]><r/>",
       "line 4, column 17: the document type declares the entity 'e', and entity declarations"
       " are refused"},
      {"", "the file is empty"},
      {"-", "not a regular file (a folder, a device or a pipe)"},
      {"<r>fine</r>", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::filesystem::remove_all(path);
    if (c.text == "-") std::filesystem::create_directory(path);
    else test_support::WriteFile(path, c.text);
    ParserHandle parser;
    xercesc::DOMDocument* doc = nullptr;
    XmlDiagnostic why{"stale", 9, 9, "stale"};
    EXPECT_EQ(c.expected.empty() ? 0 : kXmlException,
              LoadXmlDocument(path, parser, doc, nullptr, &why));
    EXPECT_EQ(c.expected.empty() ? path : path + ": " + c.expected, why.Text());
    EXPECT_EQ(c.expected.empty(), !why.failed());
  }
  std::filesystem::remove_all(path);
}

TEST(XmlAccessTest, GuardMapsExceptionsToBandCodes) {
  EXPECT_EQ(-1, GuardXml([]() -> int { throw xercesc::OutOfMemoryException(); }, -1, -2, -3, -4));
  EXPECT_EQ(-3, GuardXml([]() -> int { throw xercesc::DOMException(); }, -1, -2, -3, -4));
  EXPECT_EQ(-4, GuardXml([]() -> int { throw 5; }, -1, -2, -3, -4));
  EXPECT_EQ(7, GuardXml([] { return 7; }, -1, -2, -3, -4));
}

// Nothing to write creates no file, in memory leaves nothing behind.
TEST(XmlAccessTest, NoDocumentWritesNothing) {
  const std::string path = "xml_access_test_nothing.xml";
  std::string text = "old";
  EXPECT_EQ(-1, WriteXmlDocument(CoreImplementation(), nullptr, path));
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(-1, WriteXmlText(CoreImplementation(), nullptr, text));
  EXPECT_EQ("", text);
}

}  // namespace
}  // namespace korvo
