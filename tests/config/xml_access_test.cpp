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
  std::unique_ptr<ConfigParser> parser;
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
  std::unique_ptr<ConfigParser> plain_parser, parser;
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

// A document that does not load says where and why; one that loads clears that.
TEST(XmlAccessTest, FailedLoadNamesTheFileThePlaceAndTheReason) {
  const std::string path = "xml_access_diagnostic.xml";
  const struct {
    std::string text;  // of the file; "-" for a folder in its place
    std::string expected;  // the diagnostic's text after the file name
  } cases[] = {
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
    std::unique_ptr<ConfigParser> parser;
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

}  // namespace
}  // namespace korvo
