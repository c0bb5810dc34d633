#include "config/config_document.h"

#include <gtest/gtest.h>
#include <xercesc/util/Base64.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include <cstdio>
#include <string>

#include "config/splay_compressor.h"
#include "config/temp_files.h"
#include "platform/system.h"

namespace korvo {
namespace {

const char kPlain[] = "config_document_test.xml";
const char kPacked[] = "config_document_test.cfg";
const char kOut[] = "config_document_test.out";

void WriteFile(const std::string& path, const std::string& bytes) {
  UniqueFile f(OpenFileUtf8(path, "wb"));
  ASSERT_TRUE(f);
  ASSERT_EQ(bytes.size(), std::fwrite(bytes.data(), 1, bytes.size(), f.get()));
}

bool ReadFile(const std::string& path, std::string& bytes) {
  UniqueFile f(OpenFileUtf8(path, "rb"));
  if (!f) return false;
  bytes.clear();
  char chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, f.get())) > 0) bytes.append(chunk, got);
  return true;
}

bool Exists(const std::string& path) {
  UniqueFile f(OpenFileUtf8(path, "rb"));
  return bool(f);
}

std::string Base64Of(const std::string& bytes) {
  XMLSize_t length = 0;
  XMLByte* encoded = xercesc::Base64::encode(reinterpret_cast<const XMLByte*>(bytes.data()),
                                             bytes.size(), &length,
                                             xercesc::XMLPlatformUtils::fgMemoryManager);
  std::string text(reinterpret_cast<char*>(encoded), length);
  xercesc::XMLPlatformUtils::fgMemoryManager->deallocate(encoded);
  return text;
}

// A configuration file holding `xml`, compressed the way files are shipped.
void WriteConfig(const std::string& xml) {
  WriteFile(kPlain, xml);
  SplayCompressor compressor;
  ASSERT_EQ(0, compressor.Compress(kPlain, kPacked));
  RemoveFile(kPlain);
}

std::string Config(const std::string& header, const std::string& data) {
  return "<?xml version=\"1.0\"?>\n<download_configuration><Header>" + header +
         "</Header><Data>" + data + "</Data></download_configuration>\n";
}

class ConfigDocumentTest : public testing::Test {
 protected:
  void TearDown() override {
    RemoveFile(kPacked);
    RemoveFile(kOut);
    EXPECT_FALSE(Exists(ProcessTempNames().config)) << "temporary file survived";
  }

  void LoadXml(const std::string& xml) {
    WriteConfig(xml);
    ASSERT_EQ(0, doc.Load(kPacked));
    EXPECT_FALSE(Exists(ProcessTempNames().config));
  }

  ConfigDocument doc;
};

TEST_F(ConfigDocumentTest, LifecycleAndUnloadedQueries) {
  std::string value = "stale";
  int count = 0;
  DownloadConstraint constraint;
  EXPECT_EQ(kConfigUnloadNotLoaded, doc.Unload());
  EXPECT_EQ(kConfigNotLoaded, doc.GetDeviceCount(count));
  EXPECT_EQ(kConfigNotLoaded, doc.GetDeviceEntry(0, "Name", value));
  EXPECT_EQ("", value);
  EXPECT_EQ(kConfigNotLoaded, doc.GetTransparentEntry(0, 0, value, value));
  EXPECT_EQ(kConfigUnloadNotLoaded, doc.GetLogText(0, 0, value));
  EXPECT_EQ(kConfigNotLoaded, doc.GetConstraint(0, 1, constraint));
  EXPECT_EQ(kConfigBadConstraintNumber, doc.GetConstraint(0, 0, constraint));
  EXPECT_EQ(kConfigNotLoaded, doc.GetSystemEntry("Key", value));
  EXPECT_EQ(kConfigNotLoaded, doc.ExtractData(0, kOut));
  EXPECT_EQ(kConfigNotLoaded, doc.ExtractText(0, kOut));
  EXPECT_FALSE(Exists(kOut));

  LoadXml(Config("<System2><Key>k</Key></System2><Device/>", "<Device>QUJD</Device>"));
  EXPECT_TRUE(doc.IsLoaded());
  EXPECT_EQ(kConfigAlreadyLoaded, doc.Load(kPacked));
  EXPECT_TRUE(doc.IsLoaded());
  EXPECT_EQ(0, doc.Unload());
  EXPECT_FALSE(doc.IsLoaded());
  EXPECT_EQ(nullptr, doc.Document());
  EXPECT_EQ(kConfigNotLoaded, doc.GetSystemEntry("Key", value));
  // Loadable again after unloading.
  EXPECT_EQ(0, doc.Load(kPacked));
  EXPECT_EQ(0, doc.GetSystemEntry("Key", value));
  EXPECT_EQ("k", value);
}

TEST_F(ConfigDocumentTest, FailedLoadsLeaveNothingBehind) {
  // Missing file.
  EXPECT_EQ(kConfigFileError, doc.Load("config_document_test.missing"));
  EXPECT_FALSE(Exists(ProcessTempNames().config));
  // Plain XML without the magic number.
  WriteFile(kPacked, Config("<System2/>", ""));
  EXPECT_EQ(kConfigFileError, doc.Load(kPacked));
  EXPECT_FALSE(Exists(ProcessTempNames().config));
  // Compressed but not well-formed.
  WriteConfig("<download_configuration><Header></download_configuration>");
  EXPECT_EQ(kConfigXmlException, doc.Load(kPacked));
  EXPECT_FALSE(Exists(ProcessTempNames().config));
  // Compressed but cut short.
  WriteConfig(Config("<System2/>", std::string(3000, 'A')));
  std::string packed;
  ASSERT_TRUE(ReadFile(kPacked, packed));
  WriteFile(kPacked, packed.substr(0, packed.size() / 2));
  EXPECT_EQ(kConfigFileError, doc.Load(kPacked));
  EXPECT_FALSE(Exists(ProcessTempNames().config));
  EXPECT_FALSE(doc.IsLoaded());
  // A stale temporary file from an earlier crash does not disturb a load.
  WriteFile(ProcessTempNames().config, "junk that is longer than the document itself......");
  WriteConfig(Config("<System><Key>v</Key></System>", ""));
  EXPECT_EQ(0, doc.Load(kPacked));
  std::string value;
  bool legacy = false;
  EXPECT_EQ(0, doc.GetSystemEntry("Key", value, &legacy));
  EXPECT_EQ("v", value);
  EXPECT_TRUE(legacy);
}

TEST_F(ConfigDocumentTest, NestedEntityExpansionIsRefused) {
  // Each level multiplies by ten; expanded, the entry would be a megabyte
  // reached through over a hundred thousand entity references.
  std::string entities = "<!ENTITY a0 \"xxxxxxxxxx\">";
  for (int i = 1; i <= 5; ++i) {
    std::string refs;
    for (int k = 0; k < 10; ++k) refs += "&a" + std::to_string(i - 1) + ";";
    entities += "<!ENTITY a" + std::to_string(i) + " \"" + refs + "\">";
  }
  WriteConfig("<?xml version=\"1.0\"?><!DOCTYPE download_configuration [" + entities +
              "]><download_configuration><Header><System2><Key>&a5;</Key></System2>"
              "</Header><Data/></download_configuration>");
  EXPECT_EQ(kConfigXmlException, doc.Load(kPacked));
  EXPECT_FALSE(doc.IsLoaded());
  EXPECT_FALSE(Exists(ProcessTempNames().config));

  // A plain entity still loads.
  WriteConfig("<?xml version=\"1.0\"?><!DOCTYPE download_configuration [<!ENTITY v \"2.1\">]>"
              "<download_configuration><Header><System2><Key>&v;</Key></System2></Header>"
              "<Data/></download_configuration>");
  EXPECT_EQ(0, doc.Load(kPacked));
}

TEST_F(ConfigDocumentTest, SystemEntriesPreferSystem2) {
  LoadXml(Config("<System><Key>old</Key><Only>x</Only></System>"
                 "<System2><Key>new</Key><Empty/></System2>",
                 ""));
  std::string value;
  bool legacy = true;
  EXPECT_EQ(0, doc.GetSystemEntry("Key", value, &legacy));
  EXPECT_EQ("new", value);
  EXPECT_FALSE(legacy);
  // Only System2 is consulted when it exists.
  EXPECT_EQ(kConfigMissing, doc.GetSystemEntry("Only", value, &legacy));
  EXPECT_EQ("", value);
  EXPECT_EQ(kConfigNoText, doc.GetSystemEntry("Empty", value));
  EXPECT_EQ(kConfigMissing, doc.GetSystemEntry("key", value));
}

TEST_F(ConfigDocumentTest, SystemSectionMissingOrRepeated) {
  std::string value = "stale";
  bool legacy = true;
  LoadXml(Config("<System2><Key>a</Key></System2><System2><Key>b</Key></System2>", ""));
  EXPECT_EQ(kConfigMissing, doc.GetSystemEntry("Key", value, &legacy));
  EXPECT_FALSE(legacy);
  EXPECT_EQ("", value);
  ASSERT_EQ(0, doc.Unload());

  // Repeated System2 falls back to a single System.
  LoadXml(Config("<System2/><System2/><System><Key>s</Key></System>", ""));
  EXPECT_EQ(0, doc.GetSystemEntry("Key", value, &legacy));
  EXPECT_EQ("s", value);
  EXPECT_TRUE(legacy);
  EXPECT_EQ(0, doc.GetSystemEntry("Key", value));  // the flag is optional
  ASSERT_EQ(0, doc.Unload());

  LoadXml("<download_configuration><Data/></download_configuration>");
  EXPECT_EQ(kConfigMissing, doc.GetSystemEntry("Key", value, &legacy));
  EXPECT_FALSE(legacy);
  int count = -1;
  EXPECT_EQ(kConfigMissing, doc.GetDeviceCount(count));
}

TEST_F(ConfigDocumentTest, DeviceEntries) {
  LoadXml(Config("<System2/>"
                 "<Device><Name>first</Name><DEVICE_TYPE>LMS</DEVICE_TYPE><Blank/>"
                 "<Twice>1</Twice><Twice>2</Twice><Mixed><x/>after</Mixed></Device>"
                 "<Device><Name>second</Name></Device>",
                 "<Device>QQ==</Device><Device>Qg==</Device>"));
  int count = 0;
  EXPECT_EQ(0, doc.GetDeviceCount(count));
  EXPECT_EQ(2, count);
  std::string value;
  EXPECT_EQ(0, doc.GetDeviceEntry(0, "DEVICE_TYPE", value));
  EXPECT_EQ("LMS", value);
  EXPECT_EQ(0, doc.GetDeviceEntry(1, "Name", value));
  EXPECT_EQ("second", value);
  EXPECT_EQ(0, doc.GetDeviceEntry(0, "Mixed", value));
  EXPECT_EQ("after", value);
  value = "stale";
  EXPECT_EQ(kConfigNoText, doc.GetDeviceEntry(0, "Blank", value));
  EXPECT_EQ("", value);
  EXPECT_EQ(kConfigMissing, doc.GetDeviceEntry(0, "Twice", value));
  EXPECT_EQ(kConfigMissing, doc.GetDeviceEntry(0, "name", value));
  EXPECT_EQ(kConfigMissing, doc.GetDeviceEntry(1, "DEVICE_TYPE", value));
  EXPECT_EQ(kConfigMissing, doc.GetDeviceEntry(2, "Name", value));
  EXPECT_EQ(kConfigMissing, doc.GetDeviceEntry(-1, "Name", value));
}

TEST_F(ConfigDocumentTest, TransparentEntriesInOrder) {
  LoadXml(Config("<System2/><Device>text"
                 "<ADDRESS_RANGE transparent=\"true\">00000000-0000ffff</ADDRESS_RANGE>"
                 "<!-- comment --><Hidden>h</Hidden>"
                 "<Upper transparent=\"TRUE\">u</Upper><Other transparent=\"false\">o</Other>"
                 "<DATA_TYPE transparent=\"true\">BREK</DATA_TYPE>"
                 "<Group><Nested transparent=\"true\">n</Nested></Group>"
                 "<NoText transparent=\"true\"/></Device>",
                 "<Device>QQ==</Device>"));
  std::string name, value;
  EXPECT_EQ(0, doc.GetTransparentEntry(0, 0, name, value));
  EXPECT_EQ("ADDRESS_RANGE", name);
  EXPECT_EQ("00000000-0000ffff", value);
  EXPECT_EQ(0, doc.GetTransparentEntry(0, 1, name, value));
  EXPECT_EQ("DATA_TYPE", name);
  EXPECT_EQ("BREK", value);
  // Only direct children count.
  EXPECT_EQ(kConfigNoText, doc.GetTransparentEntry(0, 2, name, value));
  EXPECT_EQ("NoText", name);
  EXPECT_EQ(kConfigIndexPastEnd, doc.GetTransparentEntry(0, 3, name, value));
  EXPECT_EQ(kConfigIndexPastEnd, doc.GetTransparentEntry(0, -1, name, value));
  EXPECT_EQ(kConfigMissing, doc.GetTransparentEntry(1, 0, name, value));
}

TEST_F(ConfigDocumentTest, LogTexts) {
  LoadXml(Config("<System2/><Device><Log>one</Log><Name>n</Name><Log>two</Log><Log/></Device>"
                 "<Device/>",
                 ""));
  std::string value;
  EXPECT_EQ(0, doc.GetLogText(0, 0, value));
  EXPECT_EQ("one", value);
  EXPECT_EQ(0, doc.GetLogText(0, 1, value));
  EXPECT_EQ("two", value);
  EXPECT_EQ(kConfigNoText, doc.GetLogText(0, 2, value));
  EXPECT_EQ(kConfigIndexPastEnd, doc.GetLogText(0, 3, value));
  EXPECT_EQ(kConfigIndexPastEnd, doc.GetLogText(1, 0, value));
  EXPECT_EQ(kConfigMissing, doc.GetLogText(2, 0, value));
}

TEST_F(ConfigDocumentTest, Constraints) {
  LoadXml(Config(
      "<System2/><Device>"
      "<DOWNLOAD_CONSTRAINT communicationName=\"FirmwareVersion\" operator=\"&gt;=\" "
      "type=\"variable\" comparison=\"0x200\" datatype=\"int\" index=\"2\" strlen=\"12\"/>"
      "<DOWNLOAD_CONSTRAINT2 communicationName=\"GetName\" operator=\"=\" type=\"method\" "
      "comparison=\"LMS.*\" datatype=\"string\"/>"
      "<DOWNLOAD_CONSTRAINT3 communicationName=\"V\" operator=\"!=\" type=\"Variable\" "
      "comparison=\"7\" datatype=\"INT\"/>"
      "<DOWNLOAD_CONSTRAINT4/><DOWNLOAD_CONSTRAINT4/>"
      "</Device>",
      ""));
  DownloadConstraint c;
  EXPECT_EQ(0, doc.GetConstraint(0, 1, c));
  EXPECT_TRUE(c.present);
  EXPECT_EQ("FirmwareVersion", c.communicationName);
  EXPECT_EQ(">=", c.operatorText);
  EXPECT_EQ(kConstraintVariable, c.methodKind);
  EXPECT_EQ("0x200", c.comparison);
  EXPECT_EQ(kConstraintInteger, c.datatypeKind);
  EXPECT_EQ(2, c.index);
  EXPECT_EQ(12, c.strlen);

  EXPECT_EQ(0, doc.GetConstraint(0, 2, c));
  EXPECT_TRUE(c.present);
  EXPECT_EQ("GetName", c.communicationName);
  EXPECT_EQ(kConstraintMethod, c.methodKind);
  EXPECT_EQ(kConstraintString, c.datatypeKind);
  EXPECT_EQ(0, c.index);
  EXPECT_EQ(0, c.strlen);

  // Words in other letter case are unknown, but the rest is still read.
  EXPECT_EQ(kConfigMissing, doc.GetConstraint(0, 3, c));
  EXPECT_TRUE(c.present);
  EXPECT_EQ("!=", c.operatorText);
  EXPECT_EQ("7", c.comparison);
  EXPECT_EQ(kConstraintUnknownKind, c.methodKind);
  EXPECT_EQ(kConstraintUnknownKind, c.datatypeKind);

  // Repeated or missing: not present, no error.
  c.present = true;
  EXPECT_EQ(0, doc.GetConstraint(0, 4, c));
  EXPECT_FALSE(c.present);
  c.present = true;
  EXPECT_EQ(0, doc.GetConstraint(0, 9, c));
  EXPECT_FALSE(c.present);
  c.present = true;
  EXPECT_EQ(kConfigBadConstraintNumber, doc.GetConstraint(0, 0, c));
  EXPECT_FALSE(c.present);
  EXPECT_EQ(kConfigBadConstraintNumber, doc.GetConstraint(0, 10, c));
  EXPECT_EQ(kConfigMissing, doc.GetConstraint(1, 1, c));
  EXPECT_EQ("DOWNLOAD_CONSTRAINT", ConstraintElementName(1));
  EXPECT_EQ("DOWNLOAD_CONSTRAINT9", ConstraintElementName(9));
}

TEST_F(ConfigDocumentTest, ExtractDataDecodesBinaryPayload) {
  std::string payload;
  for (int i = 0; i < 1000; ++i) payload.push_back(char(i * 7 % 256));
  std::string encoded = Base64Of(payload);  // wrapped into 76-character lines
  ASSERT_NE(std::string::npos, encoded.find('\n'));
  LoadXml(Config("<System2/><Device/><Device/>",
                 "<Device>QUJD</Device><Device>" + encoded + "</Device>"));
  std::string written;
  EXPECT_EQ(0, doc.ExtractData(1, kOut));
  ASSERT_TRUE(ReadFile(kOut, written));
  EXPECT_EQ(payload, written);
  EXPECT_EQ(0, doc.ExtractData(0, kOut));  // replaces the earlier output
  ASSERT_TRUE(ReadFile(kOut, written));
  EXPECT_EQ("ABC", written);
  EXPECT_EQ(0, doc.ExtractText(0, kOut));
  ASSERT_TRUE(ReadFile(kOut, written));
  EXPECT_EQ("QUJD", written);
  RemoveFile(kOut);
  EXPECT_EQ(kConfigMissing, doc.ExtractData(2, kOut));
  EXPECT_EQ(kConfigMissing, doc.ExtractText(-1, kOut));
  EXPECT_FALSE(Exists(kOut));
  EXPECT_EQ(kConfigFileError, doc.ExtractData(0, "no-such-dir/out.bin"));
  EXPECT_EQ(kConfigFileError, doc.ExtractText(0, "no-such-dir/out.bin"));
}

TEST_F(ConfigDocumentTest, ExtractRefusesAnythingButOneSoundTextNode) {
  LoadXml(Config("<System2/>",
                 "<Device>QU<!-- c -->JD</Device>"  // two text nodes
                 "<Device><!-- c --></Device>"
                 "<Device></Device>"
                 "<Device>QUJD<x/></Device>"
                 "<Device>not base64!</Device>"
                 "<Device>QUJ</Device>"));
  WriteFile(kOut, "keep me");
  for (int device = 0; device < 6; ++device) {
    SCOPED_TRACE(device);
    EXPECT_EQ(kConfigMissing, doc.ExtractData(device, kOut));
    std::string kept;
    ASSERT_TRUE(ReadFile(kOut, kept));
    EXPECT_EQ("keep me", kept);
  }
  RemoveFile(kOut);
  EXPECT_EQ(kConfigMissing, doc.ExtractData(4, kOut));
  EXPECT_FALSE(Exists(kOut));
  // Undecoded copies are fine for a text that only has to be one text node.
  EXPECT_EQ(0, doc.ExtractText(4, kOut));
  std::string raw;
  ASSERT_TRUE(ReadFile(kOut, raw));
  EXPECT_EQ("not base64!", raw);
  EXPECT_EQ(kConfigMissing, doc.ExtractText(0, kOut));
}

TEST_F(ConfigDocumentTest, DataSectionMissingOrRepeated) {
  LoadXml("<download_configuration><Header><System2/><Device/></Header>"
          "<Data><Device>QUJD</Device></Data><Data/></download_configuration>");
  EXPECT_EQ(kConfigMissing, doc.ExtractData(0, kOut));
  EXPECT_FALSE(Exists(kOut));
  ASSERT_EQ(0, doc.Unload());
  LoadXml("<download_configuration><Header><System2/><Device/></Header>"
          "</download_configuration>");
  EXPECT_EQ(kConfigMissing, doc.ExtractText(0, kOut));
  int count = 0;
  EXPECT_EQ(0, doc.GetDeviceCount(count));
  EXPECT_EQ(1, count);
}

TEST_F(ConfigDocumentTest, NonAsciiTextSurvives) {
  LoadXml(Config("<System2><Owner>J\xC3\xBCrgen \xE2\x82\xAC</Owner></System2>", ""));
  std::string value;
  EXPECT_EQ(0, doc.GetSystemEntry("Owner", value));
  EXPECT_EQ("J\xC3\xBCrgen \xE2\x82\xAC", value);
}

}  // namespace
}  // namespace korvo
