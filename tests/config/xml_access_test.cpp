#include "config/xml_access.h"

#include <gtest/gtest.h>

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

TEST(XmlAccessTest, GuardMapsExceptionsToBandCodes) {
  EXPECT_EQ(-1, GuardXml([]() -> int { throw xercesc::OutOfMemoryException(); }, -1, -2, -3, -4));
  EXPECT_EQ(-3, GuardXml([]() -> int { throw xercesc::DOMException(); }, -1, -2, -3, -4));
  EXPECT_EQ(-4, GuardXml([]() -> int { throw 5; }, -1, -2, -3, -4));
  EXPECT_EQ(7, GuardXml([] { return 7; }, -1, -2, -3, -4));
}

}  // namespace
}  // namespace korvo
