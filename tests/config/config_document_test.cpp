#include "config/config_document.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "config/splay_compressor.h"
#include "config/temp_files.h"
#include "platform/system.h"
#include "support/files.h"

namespace korvo {
namespace {

const char kPlain[] = "config_document_test.xml";
const char kPacked[] = "config_document_test.cfg";
const char kOut[] = "config_document_test.out";

using test_support::ReadFile;
using test_support::WriteFile;

// A configuration file holding `xml`, compressed the way files are shipped.
void WriteConfig(const std::string& xml) {
  WriteFile(kPlain, xml);
  ASSERT_EQ(0, SplayCompressor().Compress(kPlain, kPacked));
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
    EXPECT_EQ("<missing>", ReadFile(ProcessTempNames().config)) << "temporary file survived";
  }

  void LoadXml(const std::string& xml) {
    if (doc.IsLoaded()) {
      ASSERT_EQ(0, doc.Unload());
    }
    WriteConfig(xml);
    ASSERT_EQ(0, doc.Load(kPacked));
  }

  ConfigDocument doc;
};

TEST_F(ConfigDocumentTest, Lifecycle) {
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
  EXPECT_EQ(kConfigNotLoaded, doc.GetSystemEntry("Key", value));
  EXPECT_EQ(kConfigNotLoaded, doc.ExtractData(0, kOut));
  EXPECT_EQ(kConfigNotLoaded, doc.ExtractText(0, kOut));

  LoadXml(Config("<System2><Key>k</Key></System2>", ""));
  EXPECT_EQ(kConfigAlreadyLoaded, doc.Load(kPacked));
  EXPECT_EQ(0, doc.Unload());
  EXPECT_FALSE(doc.IsLoaded());
  EXPECT_EQ(kConfigNotLoaded, doc.GetSystemEntry("Key", value));
  EXPECT_EQ(0, doc.Load(kPacked));
  EXPECT_EQ(0, doc.GetSystemEntry("Key", value));
  EXPECT_EQ("k", value);
}

TEST_F(ConfigDocumentTest, FailedLoadsLeaveNoTemporaryFile) {
  EXPECT_EQ(kConfigFileError, doc.Load("config_document_test.missing"));
  EXPECT_EQ("<missing>", ReadFile(ProcessTempNames().config));
  WriteFile(kPacked, Config("<System2/>", ""));  // plain XML: no magic number
  EXPECT_EQ(kConfigFileError, doc.Load(kPacked));
  EXPECT_EQ("<missing>", ReadFile(ProcessTempNames().config));
  WriteConfig("<download_configuration><Header></download_configuration>");
  EXPECT_EQ(kConfigXmlException, doc.Load(kPacked));
  EXPECT_EQ("<missing>", ReadFile(ProcessTempNames().config));
  WriteConfig(Config("<System2/>", std::string(3000, 'A')));
  std::string packed = ReadFile(kPacked);
  WriteFile(kPacked, packed.substr(0, packed.size() / 2));
  EXPECT_EQ(kConfigFileError, doc.Load(kPacked));
  EXPECT_FALSE(doc.IsLoaded());
}

TEST_F(ConfigDocumentTest, EntityDeclarationsAreRefused) {
  // Nested expansion is refused in tests/hardening; even a plain entity is,
  // while a document type without entities and the predefined ones load.
  WriteConfig("<!DOCTYPE download_configuration [<!ENTITY v \"2.1\">]>"
              "<download_configuration><Header><System2><Key>&v;</Key></System2></Header>"
              "<Data/></download_configuration>");
  EXPECT_EQ(kConfigXmlException, doc.Load(kPacked));
  WriteConfig("<!DOCTYPE download_configuration [<!ELEMENT Key ANY>]>"
              "<download_configuration><Header><System2><Key>&lt;&#x32;</Key></System2></Header>"
              "<Data/></download_configuration>");
  EXPECT_EQ(0, doc.Load(kPacked));
}

TEST_F(ConfigDocumentTest, SystemEntriesComeFromSystem2OrElseOneSystem) {
  std::string value;
  bool legacy = true;
  LoadXml(Config("<System><Key>old</Key><Only>x</Only></System>"
                 "<System2><Key>new</Key><Empty/></System2>", ""));
  EXPECT_EQ(0, doc.GetSystemEntry("Key", value, &legacy));
  EXPECT_EQ("new", value);
  EXPECT_FALSE(legacy);
  EXPECT_EQ(kConfigMissing, doc.GetSystemEntry("Only", value));
  EXPECT_EQ(kConfigNoText, doc.GetSystemEntry("Empty", value));

  LoadXml(Config("<System2/><System2/><System><Key>s</Key></System>", ""));
  EXPECT_EQ(0, doc.GetSystemEntry("Key", value, &legacy));
  EXPECT_EQ("s", value);
  EXPECT_TRUE(legacy);

  LoadXml(Config("<System2/><System2/>", ""));
  EXPECT_EQ(kConfigMissing, doc.GetSystemEntry("Key", value, &legacy));
  EXPECT_FALSE(legacy);

  LoadXml("<download_configuration><Data/></download_configuration>");
  int count = -1;
  EXPECT_EQ(kConfigMissing, doc.GetDeviceCount(count));
  EXPECT_EQ(kConfigMissing, doc.GetSystemEntry("Key", value, &legacy));
}

TEST_F(ConfigDocumentTest, DeviceEntriesAndLogs) {
  LoadXml(Config("<System2/>"
                 "<Device><Name>first</Name><Blank/><Twice>1</Twice><Twice>2</Twice>"
                 "<Mixed><x/>after</Mixed><Log>one</Log><Log>two</Log><Log/></Device>"
                 "<Device><Name>second</Name></Device>", ""));
  int count = 0;
  EXPECT_EQ(0, doc.GetDeviceCount(count));
  EXPECT_EQ(2, count);
  std::string value;
  EXPECT_EQ(0, doc.GetDeviceEntry(1, "Name", value));
  EXPECT_EQ("second", value);
  EXPECT_EQ(0, doc.GetDeviceEntry(0, "Mixed", value));
  EXPECT_EQ("after", value);
  EXPECT_EQ(kConfigNoText, doc.GetDeviceEntry(0, "Blank", value));
  EXPECT_EQ("", value);
  EXPECT_EQ(kConfigMissing, doc.GetDeviceEntry(0, "Twice", value));
  EXPECT_EQ(kConfigMissing, doc.GetDeviceEntry(0, "name", value));
  EXPECT_EQ(kConfigMissing, doc.GetDeviceEntry(2, "Name", value));
  EXPECT_EQ(kConfigMissing, doc.GetDeviceEntry(-1, "Name", value));

  EXPECT_EQ(0, doc.GetLogText(0, 1, value));
  EXPECT_EQ("two", value);
  EXPECT_EQ(kConfigNoText, doc.GetLogText(0, 2, value));
  EXPECT_EQ(kConfigIndexPastEnd, doc.GetLogText(0, 3, value));
  EXPECT_EQ(kConfigIndexPastEnd, doc.GetLogText(1, 0, value));
  EXPECT_EQ(kConfigMissing, doc.GetLogText(2, 0, value));
}

TEST_F(ConfigDocumentTest, TransparentEntriesAreDirectChildrenMarkedExactly) {
  LoadXml(Config("<System2/><Device>text"
                 "<ADDRESS_RANGE transparent=\"true\">00000000-0000ffff</ADDRESS_RANGE>"
                 "<!-- c --><Hidden>h</Hidden><Upper transparent=\"TRUE\">u</Upper>"
                 "<DATA_TYPE transparent=\"true\">BREK</DATA_TYPE>"
                 "<Group><Nested transparent=\"true\">n</Nested></Group>"
                 "<NoText transparent=\"true\"/></Device>", ""));
  std::string name, value;
  EXPECT_EQ(0, doc.GetTransparentEntry(0, 1, name, value));
  EXPECT_EQ("DATA_TYPE", name);
  EXPECT_EQ("BREK", value);
  EXPECT_EQ(kConfigNoText, doc.GetTransparentEntry(0, 2, name, value));
  EXPECT_EQ("NoText", name);
  EXPECT_EQ(kConfigIndexPastEnd, doc.GetTransparentEntry(0, 3, name, value));
  EXPECT_EQ(kConfigIndexPastEnd, doc.GetTransparentEntry(0, -1, name, value));
  EXPECT_EQ(kConfigMissing, doc.GetTransparentEntry(1, 0, name, value));
}

TEST_F(ConfigDocumentTest, Constraints) {
  LoadXml(Config(
      "<System2/><Device>"
      "<DOWNLOAD_CONSTRAINT communicationName=\"FirmwareVersion\" operator=\"&gt;=\" "
      "type=\"variable\" comparison=\"0x200\" datatype=\"int\" index=\"2\" strlen=\"12\"/>"
      "<DOWNLOAD_CONSTRAINT2 type=\"method\" datatype=\"string\"/>"
      "<DOWNLOAD_CONSTRAINT3 operator=\"!=\" type=\"Variable\" comparison=\"7\" datatype=\"INT\"/>"
      "<DOWNLOAD_CONSTRAINT4/><DOWNLOAD_CONSTRAINT4/></Device>", ""));
  DownloadConstraint c;
  EXPECT_EQ(0, doc.GetConstraint(0, 1, c));
  EXPECT_TRUE(c.present);
  EXPECT_EQ("FirmwareVersion", c.communicationName);
  EXPECT_EQ(">=", c.operatorText);
  EXPECT_EQ("0x200", c.comparison);
  EXPECT_EQ(kConstraintVariable, c.methodKind);
  EXPECT_EQ(kConstraintInteger, c.datatypeKind);
  EXPECT_EQ(2, c.index);
  EXPECT_EQ(12, c.strlen);

  EXPECT_EQ(0, doc.GetConstraint(0, 2, c));
  EXPECT_EQ(kConstraintMethod, c.methodKind);
  EXPECT_EQ(kConstraintString, c.datatypeKind);
  EXPECT_EQ(0, c.strlen);

  // Other letter case is an unknown word; the rest is still read.
  EXPECT_EQ(kConfigMissing, doc.GetConstraint(0, 3, c));
  EXPECT_TRUE(c.present);
  EXPECT_EQ("!=", c.operatorText);
  EXPECT_EQ(kConstraintUnknownKind, c.methodKind);
  EXPECT_EQ(kConstraintUnknownKind, c.datatypeKind);

  for (int number : {4, 9}) {  // repeated, missing
    c.present = true;
    EXPECT_EQ(0, doc.GetConstraint(0, number, c));
    EXPECT_FALSE(c.present);
  }
  EXPECT_EQ(kConfigBadConstraintNumber, doc.GetConstraint(0, 0, c));
  EXPECT_EQ(kConfigBadConstraintNumber, doc.GetConstraint(0, 10, c));
  EXPECT_EQ(kConfigMissing, doc.GetConstraint(1, 1, c));
}

TEST_F(ConfigDocumentTest, ExtractDataDecodesWrappedBase64) {
  // "Korvo\0\xff" followed by 60 bytes of 'k', in 76-character lines.
  LoadXml(Config("<System2/>",
                 "<Device>QUJD</Device><Device>S29ydm8A/2tra2tra2tra2tra2tra2tra2tra2tr"
                 "a2tra2tra2tra2tra2tra2tra2tra2tra2tr\na2tra2tra2traw==</Device>"));
  EXPECT_EQ(0, doc.ExtractData(1, kOut));
  EXPECT_EQ(std::string("Korvo\0\xff", 7) + std::string(60, 'k'), ReadFile(kOut));
  EXPECT_EQ(0, doc.ExtractData(0, kOut));  // replaces the earlier output
  EXPECT_EQ("ABC", ReadFile(kOut));
  EXPECT_EQ(0, doc.ExtractText(0, kOut));
  EXPECT_EQ("QUJD", ReadFile(kOut));
  RemoveFile(kOut);
  EXPECT_EQ(kConfigMissing, doc.ExtractData(2, kOut));
  EXPECT_EQ(kConfigMissing, doc.ExtractText(-1, kOut));
  EXPECT_EQ("<missing>", ReadFile(kOut));
  // An output that cannot be opened is reported before missing data.
  for (int device : {0, 2}) {
    EXPECT_EQ(kConfigFileError, doc.ExtractData(device, "no-such-dir/out.bin")) << device;
    EXPECT_EQ(kConfigFileError, doc.ExtractText(device, "no-such-dir/out.bin")) << device;
  }
}

TEST_F(ConfigDocumentTest, ExtractRefusesAnythingButOneSoundTextNode) {
  LoadXml(Config("<System2/>", "<Device>QU<!-- c -->JD</Device><Device><!-- c --></Device>"
                               "<Device/><Device>QUJD<x/></Device><Device>not base64!</Device>"
                               "<Device>QUJ</Device>"));
  WriteFile(kOut, "keep me");
  for (int device = 0; device < 6; ++device) {
    EXPECT_EQ(kConfigMissing, doc.ExtractData(device, kOut)) << device;
    EXPECT_EQ("keep me", ReadFile(kOut)) << device;
  }
  EXPECT_EQ(kConfigMissing, doc.ExtractText(0, kOut));
  EXPECT_EQ(kConfigFileError, doc.ExtractData(4, "no-such-dir/out.bin"));
  EXPECT_EQ(0, doc.ExtractText(4, kOut));  // copied, not decoded
  EXPECT_EQ("not base64!", ReadFile(kOut));

  LoadXml("<download_configuration><Header><System2/><Device/></Header>"
          "<Data><Device>QUJD</Device></Data><Data/></download_configuration>");
  EXPECT_EQ(kConfigMissing, doc.ExtractData(0, kOut));
}

}  // namespace
}  // namespace korvo
