#include "config/config_document.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "config/splay_compressor.h"
#include "config/temp_files.h"
#include "platform/system.h"
#include "support/files.h"

namespace korvo {
namespace {

using test_support::ReadFile;
using test_support::WriteFile;
using xercesc::DOMElement;

const char kPacked[] = "config_document_test.cfg";
const char kOut[] = "config_document_test.out";

std::string Config(const std::string& header, const std::string& data = "") {
  return "<?xml version=\"1.0\"?>\n<download_configuration><Header>" + header + "</Header><Data>" +
         data + "</Data></download_configuration>\n";
}

// A lookup's code and the texts it gave (read after the lookup), to compare in one go.
std::string Got(int code, const std::string& text, const std::string& value = "") {
  return std::to_string(code) + " " + text + "=" + value;
}

class ConfigDocumentTest : public testing::Test {
 protected:
  void TearDown() override {
    RemoveFile(kPacked);
    RemoveFile(kOut);
    EXPECT_TRUE(test_support::TempFilesLeft(kTempConfig).empty()) << "temporary file survived";
  }

  // Loads `xml`, compressed the way configurations are shipped.
  int Load(const std::string& xml) {
    if (doc.IsLoaded()) doc.Unload();
    WriteFile(kOut, xml);
    EXPECT_EQ(0, SplayCompressor().Compress(kOut, kPacked));
    RemoveFile(kOut);
    return doc.Load(kPacked);
  }

  ConfigDocument doc;
};

TEST_F(ConfigDocumentTest, Lifecycle) {
  std::string value = "stale", other;
  int count = 0;
  DownloadConstraint constraint;
  EXPECT_EQ(kConfigUnloadNotLoaded, doc.Unload());
  EXPECT_EQ(kConfigUnloadNotLoaded, doc.GetLogText(0, 0, other));
  const int not_loaded[] = {doc.GetDeviceCount(count), doc.GetTransparentEntry(0, 0, other, other),
                            doc.GetConstraint(0, 1, constraint), doc.GetSystemEntry("Key", other),
                            doc.ExtractData(0, kOut), doc.ExtractText(0, kOut)};
  for (int rc : not_loaded) EXPECT_EQ(kConfigNotLoaded, rc);
  EXPECT_EQ(Got(kConfigNotLoaded, ""), Got(doc.GetDeviceEntry(0, "Name", value), value));
  ASSERT_EQ(0, Load(Config("<System2><Key>k</Key></System2>")));
  EXPECT_EQ(kConfigAlreadyLoaded, doc.Load(kPacked));
  EXPECT_EQ(0, doc.Unload());
  EXPECT_EQ(0, doc.Load(kPacked));
  // From memory, as after decompression.
  EXPECT_EQ(kConfigAlreadyLoaded, doc.LoadXml(Config("")));
  EXPECT_EQ(0, doc.Unload());
  EXPECT_EQ(kConfigXmlException, doc.LoadXml("<download_configuration>"));
  ASSERT_EQ(0, doc.LoadXml(Config("<System2><Key>m</Key></System2>")));
  EXPECT_EQ(Got(0, "m"), Got(doc.GetSystemEntry("Key", value), value));
}

// Entities are refused (hardening_test.cpp); a document type without them is not.
TEST_F(ConfigDocumentTest, DamagedFilesAreRefused) {
  WriteFile(kPacked, Config("<System2/>"));  // plain XML: no magic number
  EXPECT_EQ(kConfigFileError, doc.Load(kPacked));
  EXPECT_EQ(kConfigXmlException, Load("<download_configuration><Header></download_configuration>"));
  EXPECT_EQ(0, Load("<!DOCTYPE download_configuration [<!ELEMENT Key ANY>]><download_configuration>"
                    "<Header><System2><Key>&lt;&#x32;</Key></System2></Header><Data/>"
                    "</download_configuration>"));
}

TEST_F(ConfigDocumentTest, SystemEntriesComeFromSystem2OrElseOneSystem) {
  std::string value;
  bool legacy = true;
  ASSERT_EQ(0, Load(Config("<System><Key>old</Key><Only>x</Only></System>"
                           "<System2><Key>new</Key><Empty/></System2>")));
  EXPECT_EQ(Got(0, "new"), Got(doc.GetSystemEntry("Key", value, &legacy), value));
  EXPECT_FALSE(legacy);
  EXPECT_EQ(kConfigMissing, doc.GetSystemEntry("Only", value));
  EXPECT_EQ(kConfigNoText, doc.GetSystemEntry("Empty", value));
  ASSERT_EQ(0, Load(Config("<System2/><System2/><System><Key>s</Key></System>")));
  EXPECT_EQ(Got(0, "s"), Got(doc.GetSystemEntry("Key", value, &legacy), value));
  EXPECT_TRUE(legacy);
  ASSERT_EQ(0, Load(Config("<System2/><System2/>")));
  EXPECT_EQ(kConfigMissing, doc.GetSystemEntry("Key", value));
  ASSERT_EQ(0, Load("<download_configuration><Data/></download_configuration>"));
  int count = -1;
  EXPECT_EQ(kConfigMissing, doc.GetDeviceCount(count));
  EXPECT_EQ(kConfigMissing, doc.GetSystemEntry("Key", value));
}

TEST_F(ConfigDocumentTest, DeviceEntriesLogsTransparentEntriesAndConstraints) {
  ASSERT_EQ(0, Load(Config(
      "<System2/><Device><Name>first</Name><Blank/><Twice>1</Twice><Twice>2</Twice>"
      "<Mixed><x/>after</Mixed><Log>one</Log><Log>two</Log><Log/></Device>"
      // Transparent entries are the direct children marked exactly "true".
      "<Device>text<R transparent=\"true\">r</R><!-- c --><Name>second</Name><U transparent="
      "\"TRUE\">u</U><T transparent=\"true\">t</T><G><N transparent=\"true\">n</N></G>"
      "<NoText transparent=\"true\"/></Device><Device><DOWNLOAD_CONSTRAINT communicationName="
      "\"V\" operator=\"&gt;=\" type=\"variable\" comparison=\"0x2\" datatype=\"int\" "
      "index=\"2\" strlen=\"12\"/><DOWNLOAD_CONSTRAINT2 type=\"method\" datatype=\"string\"/>"
      "<DOWNLOAD_CONSTRAINT3 operator=\"!=\" type=\"Variable\" comparison=\"7\" datatype="
      "\"INT\" index=\"4294967302\" strlen=\"-4294967296\"/><DOWNLOAD_CONSTRAINT4/><DOWNLOAD_CONSTRAINT4/></Device>")));
  int count = 0;
  EXPECT_EQ(0, doc.GetDeviceCount(count));
  EXPECT_EQ(3, count);
  std::string name, value;
  EXPECT_EQ(Got(0, "second"), Got(doc.GetDeviceEntry(1, "Name", value), value));
  EXPECT_EQ(Got(0, "after"), Got(doc.GetDeviceEntry(0, "Mixed", value), value));
  EXPECT_EQ(Got(kConfigNoText, ""), Got(doc.GetDeviceEntry(0, "Blank", value), value));
  EXPECT_EQ(kConfigMissing, doc.GetDeviceEntry(0, "Twice", value));
  EXPECT_EQ(Got(0, "two"), Got(doc.GetLogText(0, 1, value), value));
  EXPECT_EQ(kConfigNoText, doc.GetLogText(0, 2, value));
  EXPECT_EQ(kConfigIndexPastEnd, doc.GetLogText(0, 3, value));
  EXPECT_EQ(kConfigMissing, doc.GetLogText(3, 0, value));
  EXPECT_EQ(Got(0, "T", "t"), Got(doc.GetTransparentEntry(1, 1, name, value), name, value));
  EXPECT_EQ(Got(kConfigNoText, "NoText"), Got(doc.GetTransparentEntry(1, 2, name, value), name));
  EXPECT_EQ(kConfigIndexPastEnd, doc.GetTransparentEntry(1, 3, name, value));
  EXPECT_EQ(kConfigMissing, doc.GetTransparentEntry(3, 0, name, value));

  // Code, presence, name, operator, comparison, both kinds, index and strlen.
  auto constraint = [&](int device, int number) {
    DownloadConstraint c;
    c.present = true;
    const int rc = doc.GetConstraint(device, number, c);
    return std::to_string(rc) + (c.present ? " present " : " absent ") + c.communicationName +
           " " + c.operatorText + " " + c.comparison + " " + std::to_string(c.methodKind) + " " +
           std::to_string(c.datatypeKind) + " " + std::to_string(c.index) + " " +
           std::to_string(c.strlen);
  };
  EXPECT_EQ("0 present V >= 0x2 1 1 2 12", constraint(2, 1));
  EXPECT_EQ("0 present    0 0 0 0", constraint(2, 2));
  // Other letter case is an unknown word; the rest is still read, and
  // numbers past an int's range stay at its ends rather than wrap.
  EXPECT_EQ("-89 present  != 7 -1 -1 2147483647 -2147483648", constraint(2, 3));
  EXPECT_EQ("0 absent    0 0 0 0", constraint(2, 4));  // repeated, as good as missing
  EXPECT_EQ("-81 absent    0 0 0 0", constraint(2, 0));
  EXPECT_EQ("-81 absent    0 0 0 0", constraint(2, 10));
  EXPECT_EQ("-89 absent    0 0 0 0", constraint(3, 1));
}

// Files of the data texts kept beside the loaded tree.
int DataTextFileCount() {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("."))
    count += entry.path().filename().string().rfind("~CFGDATA", 0) == 0;
  return count;
}

TEST_F(ConfigDocumentTest, ExtractWritesOnlyOneSoundTextNode) {
  // Only a text too large for memory goes to a file: "ABC" 30,000 times.
  std::string large;
  for (int i = 0; i < 30000; ++i) large += "QUJD";
  // Device 1: "Korvo\0\xff" followed by 60 bytes of 'k', in 76-character lines.
  ASSERT_EQ(0, Load(Config("<System2/>",
                           "<Device>QUJD</Device><Device>S29ydm8A/2tra2tra2tra2tra2tra2tra2tra2tr"
                           "a2tra2tra2tra2tra2tra2tra2tra2tra2tr\na2tra2tra2traw==</Device>"
                           "<Device>QU<!-- c -->JD</Device><Device><!-- c --></Device><Device/>"
                           "<Device>QUJD<x/>QUJD</Device><Device>not base64!</Device>"
                           "<Device>QUJ</Device><Device><![CDATA[QUJD]]></Device>"
                           // Only the direct texts of Data/Device are kept in files.
                           "<Device><Device>QUJD</Device></Device><Device>\xC3\xA4\xF0\x9F\x98\x80"
                           // Xerces' decoder took these for "QUJD", reading the low bytes of
                           // U+0144 and U+0120 (a blank).
                           "</Device><Device>QUJ\xC5\x84</Device><Device>QUJD\xC4\xA0</Device>"
                           "<Device>" + large + "</Device>")));
  // The tree holds none of the texts.
  DOMElement* data = FindSingleElement(doc.Document(), "Data");
  EXPECT_EQ(0u, AsText(data->getFirstChild()->getFirstChild())->getLength());
  EXPECT_EQ(0u, AsText(data->getLastChild()->getFirstChild())->getLength());
  EXPECT_EQ(1, DataTextFileCount());
  // The code and what the output then holds.
  auto extract = [&](int rc) { return std::to_string(rc) + " " + ReadFile(kOut); };
  auto data_of = [&](int device) { return extract(doc.ExtractData(device, kOut)); };
  auto text = [&](int device) { return extract(doc.ExtractText(device, kOut)); };
  EXPECT_EQ("0 " + large, text(14));
  EXPECT_EQ("0 " + std::string("Korvo\0\xff", 7) + std::string(60, 'k'), data_of(1));
  EXPECT_EQ("0 ABC", data_of(0));  // replaces the earlier output
  EXPECT_EQ("0 QUJD", text(0));
  // Anything else is no data, and the output stays as it was.
  const std::string missing = std::to_string(kConfigMissing) + " QUJD";
  for (int device = 2; device <= 9; ++device) EXPECT_EQ(missing, data_of(device)) << device;
  for (int device : {2, 8, 9}) EXPECT_EQ(missing, text(device)) << device;
  EXPECT_EQ("0 not base64!", text(6));  // copied, not decoded
  EXPECT_EQ("0 ABC", data_of(10));  // the inner device, read from the tree
  EXPECT_EQ("0 \xC3\xA4\xF0\x9F\x98\x80", text(11));
  for (int device : {12, 13}) EXPECT_EQ(kConfigMissing, doc.ExtractData(device, kOut)) << device;
  RemoveFile(kOut);
  EXPECT_EQ(kConfigMissing, doc.ExtractData(-1, kOut));
  EXPECT_EQ("<missing>", ReadFile(kOut));
  // An output that cannot be opened is reported before missing data.
  for (int device : {0, 6, 8}) {
    EXPECT_EQ(kConfigFileError, doc.ExtractData(device, "no-such-dir/out.bin")) << device;
    EXPECT_EQ(kConfigFileError, doc.ExtractText(device, "no-such-dir/out.bin")) << device;
  }
  ASSERT_EQ(0, Load("<download_configuration><Header><System2/><Device/></Header>"
                    "<Data><Device>QUJD</Device></Data><Data/></download_configuration>"));
  EXPECT_EQ(kConfigMissing, doc.ExtractData(0, kOut));
  EXPECT_EQ(0, DataTextFileCount());
  // Declared element content makes the blanks around the text "ignorable";
  // the tree keeps them in the same text node, and so does the file.
  ASSERT_EQ(0, Load("<!DOCTYPE download_configuration [<!ELEMENT Device (x)*>]>"
                    "<download_configuration><Header/><Data><Device> QU\nJD </Device></Data>"
                    "</download_configuration>"));
  EXPECT_EQ(0, doc.ExtractText(0, kOut));
  EXPECT_EQ(" QU\nJD ", ReadFile(kOut));
  RemoveFile(kOut);
  doc.Unload();
  EXPECT_EQ(0, DataTextFileCount());
  // Nor does a load that fails halfway through a text leave one behind.
  EXPECT_EQ(kConfigXmlException, Load(Config("<System2/>", "<Device>" + large + "</Dev>")));
  EXPECT_EQ(0, DataTextFileCount());
}

// A character the parser hands over in two pieces, as the two halves of a
// surrogate pair, is still one character, in memory as in a file.
TEST(DataTextFilesTest, SurrogatePairSplitBetweenPiecesIsOneCharacter) {
  xercesc::DOMDocument* tree = CreateXmlDocument(CoreImplementation(), "r");
  for (size_t memory : {size_t(0), size_t(1000)}) {
    DataTextFiles texts(memory, memory);
    ASSERT_TRUE(texts.Diverts({u"r", u"Data", u"Device"}));
    texts.Begin();
    const XMLCh first[] = {'A', 0xD83D}, second[] = {0xDE00, 0xD83D};
    texts.Append(first, 2);
    texts.Append(second, 2);  // the last one alone
    xercesc::DOMText* node = tree->createTextNode(XmlText(""));
    texts.End(node);
    ASSERT_TRUE(texts.ok());
    EXPECT_EQ(memory == 0, DataTextFileCount() == 1);
    std::string read;
    EXPECT_TRUE(texts.Read(node, [&](const char* data, size_t size) {
      read.append(data, size);
      return true;
    }));
    EXPECT_EQ("A\xF0\x9F\x98\x80\xED\xA0\xBD", read) << memory;
  }
  tree->release();
}

}  // namespace
}  // namespace korvo
