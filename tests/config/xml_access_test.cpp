#include "config/xml_access.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>

#include "config/temp_files.h"
#include "platform/system.h"
#include "support/files.h"

namespace korvo {
namespace {

using test_support::WriteFile;

struct Loaded {
  std::unique_ptr<ConfigParser> parser;
  xercesc::DOMDocument* doc = nullptr;
  int rc = 0;
};

Loaded LoadText(const std::string& text, const std::string& path = "xml_access_test.xml") {
  WriteFile(path, text);
  Loaded l;
  l.rc = LoadXmlDocument(path, l.parser, l.doc);
  RemoveFile(path);
  return l;
}

TEST(XmlAccessTest, FirstTextChildNotFirstChild) {
  Loaded l = LoadText("<r><a><b/>text<c/>more</a><e/><w> <x/></w></r>");
  ASSERT_EQ(0, l.rc);
  std::string out = "old";
  EXPECT_EQ(0, GetElementText(FindSingleElement(l.doc, "a"), out));
  EXPECT_EQ("text", out);
  out = "old";
  EXPECT_EQ(kNoTextChild, GetElementText(FindSingleElement(l.doc, "e"), out));
  EXPECT_EQ("old", out);
  EXPECT_EQ(0, GetElementText(FindSingleElement(l.doc, "w"), out));
  EXPECT_EQ(" ", out);
}

TEST(XmlAccessTest, SectionPresentTwiceAtAnyDepthCountsAsMissing) {
  Loaded l = LoadText("<r><Header/><x><Header/></x><Data/></r>");
  ASSERT_EQ(0, l.rc);
  EXPECT_EQ(nullptr, FindSingleElement(l.doc, "Header"));
  EXPECT_NE(nullptr, FindSingleElement(l.doc, "Data"));
  EXPECT_EQ(nullptr, FindSingleElement(l.doc, "Missing"));
}

TEST(XmlAccessTest, MalformedAndMissingFilesGiveCodes) {
  EXPECT_NE(0, LoadText("<r><a></r>").rc);
  std::unique_ptr<ConfigParser> parser;
  xercesc::DOMDocument* doc = nullptr;
  EXPECT_EQ(kXmlException, LoadXmlDocument("does-not-exist.xml", parser, doc));
  EXPECT_EQ(nullptr, doc);
  EXPECT_EQ(nullptr, parser);
}

TEST(XmlAccessTest, NonAsciiPathAndTextRoundTrip) {
  const std::string path = "r\xC3\xA9sum\xC3\xA9-\xE6\x97\xA5.xml";
  xercesc::DOMImplementation* impl = CoreImplementation();
  ASSERT_NE(nullptr, impl);
  xercesc::DOMDocument* doc = CreateXmlDocument(impl, "download_project");
  ASSERT_NE(nullptr, doc);
  xercesc::DOMElement* e = doc->createElement(XmlText("Name"));
  e->appendChild(doc->createTextNode(XmlText("Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80")));
  e->setAttribute(XmlText("kind"), XmlText("k\xC3\xA4"));
  doc->getDocumentElement()->appendChild(e);
  ASSERT_EQ(0, WriteXmlDocument(impl, doc, path));
  doc->release();

  Loaded l;
  l.rc = LoadXmlDocument(path, l.parser, l.doc);
  ASSERT_EQ(0, l.rc);
  std::string text, tag, attr = "kind", absent = "none";
  xercesc::DOMElement* name = FindSingleElement(l.doc, "Name");
  ASSERT_NE(nullptr, name);
  EXPECT_EQ(0, GetElementText(name, text));
  EXPECT_EQ("Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80", text);
  GetTagName(name, tag);
  EXPECT_EQ("Name", tag);
  GetAttributeValue(name, attr);
  EXPECT_EQ("k\xC3\xA4", attr);
  GetAttributeValue(name, absent);
  EXPECT_EQ("", absent);
  EXPECT_EQ(0, RemoveFile(path));
}

// Gathered character data must build the same tree as the plain parser.
std::string Shape(xercesc::DOMNode* node) {
  std::string out = std::to_string(node->getNodeType()) + "[" + NarrowText(node->getNodeName()) +
                    "=" + NarrowText(node->getNodeValue()) + "]";
  for (xercesc::DOMNode* c = node->getFirstChild(); c; c = c->getNextSibling()) out += Shape(c);
  return out + "/";
}

TEST(XmlAccessTest, GatheredTextBuildsTheSameTreeAsThePlainParser) {
  std::string big(200000, 'Q');
  const std::string xml = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ELEMENT r ANY>]><r>a&amp;b" +
                          big + "<![CDATA[c<d]]>tail<!--x-->more&#x41;end<?pi data?>" +
                          "<k> <l/>\n </k>" + big + "</r>";
  const std::string path = "xml_access_shape.xml";
  WriteFile(path, xml);
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

TEST(TempFilesTest, NameHasTildeKeyComputerUserThreadAndExtension) {
  std::string user;
  ASSERT_TRUE(UserName(&user));
  std::string name = TempFileName("CONFIG", "TMP");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(name, m, std::regex("~CONFIG(.+)" + user + "([0-9]+)\\.TMP")))
      << name;
  EXPECT_LE(m[1].str().size(), 14u);
  EXPECT_EQ(std::to_string(CurrentThreadId()), m[2].str());
  EXPECT_EQ(std::string::npos, name.find('/'));
  EXPECT_EQ(0u, ProcessTempNames().key_file.rfind("~KEYFILE_TMP", 0));
}

}  // namespace
}  // namespace korvo
