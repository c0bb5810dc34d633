#include "keys/key_document.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config/splay_compressor.h"
#include "config/temp_files.h"

namespace korvo {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

bool Exists(const std::string& path) { return std::ifstream(path).good(); }

class KeyDocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::string("keydoc_") + info->name() + ".xml";
    std::remove(path_.c_str());
  }
  void TearDown() override {
    std::remove(path_.c_str());
    EXPECT_FALSE(Exists(ProcessTempNames().key_file)) << "temporary key file left behind";
    EXPECT_FALSE(Exists(path_ + ".saving"));
  }

  // A document with one device "DEV" holding the given inner XML.
  void OpenWithDevice(const std::string& inner) {
    WriteFile(path_, "<download_keys><Device Key=\"DEV\">" + inner + "</Device></download_keys>");
    ASSERT_EQ(0, keys_.Open(path_, false));
    ASSERT_EQ(0, keys_.SelectDevice("DEV"));
  }

  std::string path_;
  KeyDocument keys_;
};

TEST(TextToUnsignedTest, ReadsWithAutomaticBase) {
  EXPECT_EQ(16u, TextToUnsigned("0x10"));
  EXPECT_EQ(16u, TextToUnsigned("0X10"));
  EXPECT_EQ(8u, TextToUnsigned("010"));
  EXPECT_EQ(10u, TextToUnsigned(" 10abc"));
  EXPECT_EQ(0u, TextToUnsigned("abc"));
  EXPECT_EQ(0u, TextToUnsigned(""));
  EXPECT_EQ(0xFFFFFFFFu, TextToUnsigned("-1"));
  EXPECT_EQ(0xFFFFFFFFu, TextToUnsigned("0x123456789"));
  EXPECT_EQ(0x80000000u, TextToUnsigned("2147483648"));
}

TEST_F(KeyDocumentTest, NewDocumentIsCreatedSavedAndReopened) {
  ASSERT_EQ(0, keys_.Open(path_, false));
  EXPECT_FALSE(Exists(path_));
  EXPECT_EQ(0, keys_.Close(true));
  EXPECT_NE(std::string::npos, ReadFile(path_).find("<download_keys/>"));
  EXPECT_EQ(0, keys_.Open(path_, false));
  EXPECT_EQ(kKeyNoSuchDevice, keys_.SelectDevice(""));
  EXPECT_EQ(0, keys_.Close(false));
}

TEST_F(KeyDocumentTest, SecondOpenIsRefusedAndFirstStaysOpen) {
  ASSERT_EQ(0, keys_.Open(path_, false));
  EXPECT_EQ(kKeyAlreadyOpen, keys_.Open("other.xml", false));
  EXPECT_EQ(0, keys_.AddKeyDevice());
  EXPECT_EQ(0, keys_.Close(true));
  EXPECT_TRUE(Exists(path_));
  EXPECT_FALSE(Exists("other.xml"));
}

TEST_F(KeyDocumentTest, EverythingNeedsAnOpenDocument) {
  std::vector<std::string> values;
  std::string a, b;
  int i = 0, t = 0, d = 0, o = 0;
  uint32_t u = 0;
  EXPECT_EQ(kKeyNotOpen, keys_.Close(true));
  EXPECT_EQ(kKeyNotOpen, keys_.AddKeyDevice());
  EXPECT_EQ(kKeyNotOpen, keys_.SetDeviceKey(0, "k"));
  EXPECT_EQ(kKeyNotOpen, keys_.AddKeySignature(0));
  EXPECT_EQ(kKeyNotOpen, keys_.SetKeySignatureAttributes(0, 0, "v", "n"));
  EXPECT_EQ(kKeyNotOpen, keys_.AddKeyIdentficationRule(0, 0, "n", "v", 0));
  EXPECT_EQ(kKeyNotOpen, keys_.SetKeyUserAccess(0, 0, 1, 0));
  EXPECT_EQ(kKeyBadAccess, keys_.SetKeyUserAccess(0, 0, 1, 3));  // access is checked first
  EXPECT_EQ(kKeyNotOpen, keys_.AddKeyUserRule(0, 0, 1, 0, 0, "v", "n", 0, 0));
  EXPECT_EQ(kKeyNotOpen, keys_.SelectDevice("k"));
  EXPECT_EQ(kKeyNotOpen, keys_.GetIdentificationCount(i));
  EXPECT_EQ(kKeyNotOpen, keys_.GetSignatureCount(i));
  EXPECT_EQ(kKeyNotOpen, keys_.GetIdentification(0, a, b, t, u));
  EXPECT_EQ(kKeyNotOpen, keys_.GetSignature(0, a, b));
  EXPECT_EQ(kKeyNotOpen, keys_.SelectSignature(0));
  EXPECT_EQ(kKeyNotOpen, keys_.GetUserAccess(1, i));
  EXPECT_EQ(kKeyNotOpen, keys_.GetRuleCount(1, i));
  EXPECT_EQ(kKeyNotOpen, keys_.GetRule(1, 0, values, a, t, u, d, o));
}

TEST_F(KeyDocumentTest, BuiltFileReadsBackThroughTheReaders) {
  ASSERT_EQ(0, keys_.Open(path_, false));
  ASSERT_EQ(0, keys_.AddKeyDevice());
  ASSERT_EQ(0, keys_.AddKeyDevice());
  ASSERT_EQ(0, keys_.SetDeviceKey(0, "LMS100"));
  ASSERT_EQ(0, keys_.SetDeviceKey(1, "TIM3x"));
  ASSERT_EQ(0, keys_.AddKeyIdentficationRule(1, 1, "DeviceIdent", "TIM3.*", 2));
  ASSERT_EQ(0, keys_.AddKeySignature(1));
  ASSERT_EQ(0, keys_.AddKeySignature(1));
  ASSERT_EQ(0, keys_.SetKeySignatureAttributes(1, 1, "SIG<&>\"", "SigVar"));
  ASSERT_EQ(0, keys_.SetKeyUserAccess(1, 1, 3, kAccessRule));
  ASSERT_EQ(0, keys_.SetKeyUserAccess(1, 1, 4, kAccessDeny));
  ASSERT_EQ(0, keys_.AddKeyUserRule(1, 1, 3, kRuleInt, 4, "0x10", "FirmwareVersion", 0, 1));
  ASSERT_EQ(0, keys_.AddKeyUserRule(1, 1, 3, kRuleString, 1, "a]]>b", "Name]]>", 1, 0));
  ASSERT_EQ(0, keys_.Close(true));

  ASSERT_EQ(0, keys_.Open(path_, false));
  ASSERT_EQ(0, keys_.SelectDevice("TIM3x"));
  int count = -1;
  ASSERT_EQ(0, keys_.GetIdentificationCount(count));
  EXPECT_EQ(1, count);
  std::string value, name;
  int type = -1;
  uint32_t index = 0;
  ASSERT_EQ(0, keys_.GetIdentification(0, value, name, type, index));
  EXPECT_EQ("TIM3.*", value);
  EXPECT_EQ("DeviceIdent", name);
  EXPECT_EQ(kCommandVariable, type);
  EXPECT_EQ(2u, index);
  ASSERT_EQ(0, keys_.GetSignatureCount(count));
  EXPECT_EQ(2, count);
  ASSERT_EQ(0, keys_.GetSignature(1, value, name));
  EXPECT_EQ("SIG<&>\"", value);
  EXPECT_EQ("SigVar", name);
  ASSERT_EQ(0, keys_.SelectSignature(1));
  int access = -1;
  ASSERT_EQ(0, keys_.GetUserAccess(4, access));
  EXPECT_EQ(kAccessDeny, access);
  ASSERT_EQ(0, keys_.GetUserAccess(3, access));
  EXPECT_EQ(kAccessRule, access);
  ASSERT_EQ(0, keys_.GetRuleCount(3, count));
  EXPECT_EQ(2, count);
  ASSERT_EQ(0, keys_.GetRuleCount(4, count));
  EXPECT_EQ(0, count);

  std::vector<std::string> values;
  int datatype = -1, op = -1;
  ASSERT_EQ(0, keys_.GetRule(3, 0, values, name, type, index, datatype, op));
  EXPECT_EQ(std::vector<std::string>{"0x10"}, values);
  EXPECT_EQ("FirmwareVersion", name);
  EXPECT_EQ(kCommandMethod, type);
  EXPECT_EQ(1u, index);
  EXPECT_EQ(kRuleInt, datatype);
  EXPECT_EQ(4, op);
  ASSERT_EQ(0, keys_.GetRule(3, 1, values, name, type, index, datatype, op));
  EXPECT_EQ((std::vector<std::string>{"0x10", "a]]>b"}), values);  // appended
  EXPECT_EQ("Name]]>", name);
  EXPECT_EQ(kCommandVariable, type);
  EXPECT_EQ(kRuleString, datatype);
  EXPECT_EQ(1, op);
  EXPECT_EQ(kKeyNotFound, keys_.GetRule(3, 2, values, name, type, index, datatype, op));
  EXPECT_EQ(kKeyNoSuchUser, keys_.GetUserAccess(5, access));
  EXPECT_EQ(0, keys_.Close(false));
}

TEST_F(KeyDocumentTest, PositionsThatDoNotExist) {
  ASSERT_EQ(0, keys_.Open(path_, false));
  EXPECT_EQ(kKeyNotFound, keys_.SetDeviceKey(0, "k"));
  EXPECT_EQ(kKeyNotFound, keys_.AddKeySignature(0));
  ASSERT_EQ(0, keys_.AddKeyDevice());
  EXPECT_EQ(kKeyNotFound, keys_.SetDeviceKey(-1, "k"));
  EXPECT_EQ(kKeyNotFound, keys_.SetKeySignatureAttributes(0, 0, "v", "n"));
  EXPECT_EQ(kKeyNotFound, keys_.SetKeyUserAccess(0, 0, 1, 0));
  EXPECT_EQ(kKeyNotFound, keys_.AddKeyUserRule(0, 0, 1, 0, 0, "v", "n", 0, 0));
  EXPECT_EQ(kKeyNotFound, keys_.AddKeyIdentficationRule(1, 0, "n", "v", 0));
  ASSERT_EQ(0, keys_.AddKeySignature(0));
  // A signature without rights has no user to add a rule to.
  EXPECT_EQ(kKeyNotFound, keys_.AddKeyUserRule(0, 0, 1, 0, 0, "v", "n", 0, 0));
  ASSERT_EQ(0, keys_.SetKeyUserAccess(0, 0, 1, kAccessRule));
  EXPECT_EQ(kKeyNoSuchUser, keys_.AddKeyUserRule(0, 0, 2, 0, 0, "v", "n", 0, 0));
  EXPECT_EQ(0, keys_.Close(false));
}

TEST_F(KeyDocumentTest, RepeatedLevelAddsASecondUserAndTheFirstIsRead) {
  ASSERT_EQ(0, keys_.Open(path_, false));
  ASSERT_EQ(0, keys_.AddKeyDevice());
  ASSERT_EQ(0, keys_.SetDeviceKey(0, "DEV"));
  ASSERT_EQ(0, keys_.AddKeySignature(0));
  ASSERT_EQ(0, keys_.SetKeyUserAccess(0, 0, 3, kAccessGrant));
  ASSERT_EQ(0, keys_.SetKeyUserAccess(0, 0, 3, kAccessDeny));
  ASSERT_EQ(0, keys_.Close(true));
  std::string xml = ReadFile(path_);
  size_t first = xml.find("level=\"3\"");
  ASSERT_NE(std::string::npos, first);
  EXPECT_NE(std::string::npos, xml.find("level=\"3\"", first + 1));
  EXPECT_EQ(xml.find("<Rights>"), xml.rfind("<Rights>"));

  ASSERT_EQ(0, keys_.Open(path_, false));
  ASSERT_EQ(0, keys_.SelectDevice("DEV"));
  ASSERT_EQ(0, keys_.SelectSignature(0));
  int access = -1;
  ASSERT_EQ(0, keys_.GetUserAccess(3, access));
  EXPECT_EQ(kAccessGrant, access);
  EXPECT_EQ(0, keys_.Close(false));
}

TEST_F(KeyDocumentTest, RejectedCodesLeaveTheirEmptyElementBehind) {
  ASSERT_EQ(0, keys_.Open(path_, false));
  ASSERT_EQ(0, keys_.AddKeyDevice());
  ASSERT_EQ(0, keys_.SetDeviceKey(0, "DEV"));
  ASSERT_EQ(0, keys_.AddKeySignature(0));
  ASSERT_EQ(0, keys_.SetKeyUserAccess(0, 0, 1, kAccessRule));
  EXPECT_EQ(kKeyBadDatatype, keys_.AddKeyUserRule(0, 0, 1, 1, 0, "v", "n", 0, 0));
  EXPECT_EQ(kKeyBadOperator, keys_.AddKeyUserRule(0, 0, 1, 0, 6, "v", "n", 0, 0));
  // With both operator and type wrong, the type is reported.
  EXPECT_EQ(kKeyBadType, keys_.AddKeyUserRule(0, 0, 1, 0, -1, "v", "n", 2, 0));
  EXPECT_EQ(kKeyBadType, keys_.AddKeyIdentficationRule(0, 2, "n", "v", 0));

  ASSERT_EQ(0, keys_.SelectDevice("DEV"));
  ASSERT_EQ(0, keys_.SelectSignature(0));
  int count = 0;
  ASSERT_EQ(0, keys_.GetRuleCount(1, count));
  EXPECT_EQ(3, count);
  std::vector<std::string> values;
  std::string name;
  int type = -1, datatype = -1, op = -1;
  uint32_t index = 0;
  EXPECT_EQ(kKeyBadDatatype, keys_.GetRule(1, 0, values, name, type, index, datatype, op));
  EXPECT_TRUE(values.empty());
  ASSERT_EQ(0, keys_.GetIdentificationCount(count));
  EXPECT_EQ(1, count);
  std::string value;
  EXPECT_EQ(kKeyBadType, keys_.GetIdentification(0, value, name, type, index));
  EXPECT_EQ(0, keys_.Close(false));
}

TEST_F(KeyDocumentTest, CursorNeedsDeviceAndSignatureAndIsClearedOnClose) {
  OpenWithDevice("<Signature CommunicationName=\"\" Value=\"\"/>");
  int count = 0, access = 0;
  EXPECT_EQ(kKeyNoCurrentSignature, keys_.GetUserAccess(1, access));
  EXPECT_EQ(kKeyNotFound, keys_.SelectSignature(1));
  EXPECT_EQ(kKeyNoCurrentSignature, keys_.GetRuleCount(1, count));
  EXPECT_EQ(kKeyNoSuchDevice, keys_.SelectDevice("dev"));
  ASSERT_EQ(0, keys_.Close(false));

  ASSERT_EQ(0, keys_.Open(path_, false));
  EXPECT_EQ(kKeyNoCurrentDevice, keys_.GetSignatureCount(count));
  EXPECT_EQ(kKeyNoCurrentDevice, keys_.SelectSignature(0));
  EXPECT_EQ(kKeyNoCurrentDevice, keys_.GetUserAccess(1, access));
  EXPECT_EQ(0, keys_.Close(false));
}

TEST_F(KeyDocumentTest, IndexTextsUseAutomaticBase) {
  OpenWithDevice(
      "<Identification index=\"0x10\" TAVISType=\"MN\" CommunicationName=\"a\" Value=\"b\"/>"
      "<Identification index=\"010\" TAVISType=\"RN\"/>");
  std::string value = "x", name = "x";
  int type = -1;
  uint32_t index = 0;
  ASSERT_EQ(0, keys_.GetIdentification(0, value, name, type, index));
  EXPECT_EQ(16u, index);
  ASSERT_EQ(0, keys_.GetIdentification(1, value, name, type, index));
  EXPECT_EQ(8u, index);
  EXPECT_EQ("", value);  // a missing attribute reads as empty text
  EXPECT_EQ(kCommandVariable, type);
  EXPECT_EQ(0, keys_.Close(false));
}

TEST_F(KeyDocumentTest, BadTextsInTheFileGiveTheirCodes) {
  const std::string rule_tail =
      "<SpecifiedValue><![CDATA[1]]></SpecifiedValue>"
      "<CommunicationName index=\"0\" TAVISType=\"MN\"><![CDATA[m]]></CommunicationName>";
  OpenWithDevice(
      "<Identification TAVISType=\"EN\"/>"
      "<Signature><Rights><User level=\"1\" access=\"allow\"/>"
      "<User level=\"2\" access=\"rule\">"
      "<Rule datatype=\"float\" operator=\"=\">" + rule_tail + "</Rule>"
      "<Rule datatype=\"int\" operator=\"==\">" + rule_tail + "</Rule>"
      "<Rule datatype=\"int\" operator=\"=\"><SpecifiedValue>1</SpecifiedValue>"
      "<CommunicationName TAVISType=\"MN\"><![CDATA[m]]></CommunicationName></Rule>"
      "<Rule datatype=\"int\" operator=\"=\"><SpecifiedValue><![CDATA[1]]></SpecifiedValue>"
      "<CommunicationName TAVISType=\"MN\">m</CommunicationName></Rule>"
      "<Rule datatype=\"int\" operator=\"=\"><SpecifiedValue><![CDATA[1]]></SpecifiedValue>"
      "<CommunicationName TAVISType=\"XN\"><![CDATA[m]]></CommunicationName></Rule>"
      "<Rule datatype=\"int\" operator=\"=\">"
      "<CommunicationName TAVISType=\"MN\"><![CDATA[m]]></CommunicationName></Rule>"
      "</User><User level=\"03\" access=\"grant\"/></Rights></Signature>"
      "<Signature><Rights/><Rights/></Signature>");
  std::string value, name;
  int type = -1, access = -1, datatype = -1, op = -1;
  uint32_t index = 0;
  std::vector<std::string> values;
  EXPECT_EQ(kKeyBadType, keys_.GetIdentification(0, value, name, type, index));
  ASSERT_EQ(0, keys_.SelectSignature(0));
  EXPECT_EQ(kKeyBadAccess, keys_.GetUserAccess(1, access));
  EXPECT_EQ(kKeyNoSuchUser, keys_.GetUserAccess(3, access));  // "03" is not level 3
  EXPECT_EQ(kKeyBadDatatype, keys_.GetRule(2, 0, values, name, type, index, datatype, op));
  EXPECT_EQ(kKeyBadOperator, keys_.GetRule(2, 1, values, name, type, index, datatype, op));
  EXPECT_EQ(kKeyNotFound, keys_.GetRule(2, 2, values, name, type, index, datatype, op));
  EXPECT_EQ(kKeyNotFound, keys_.GetRule(2, 3, values, name, type, index, datatype, op));
  EXPECT_EQ(kKeyBadType, keys_.GetRule(2, 4, values, name, type, index, datatype, op));
  EXPECT_EQ(kKeyNotFound, keys_.GetRule(2, 5, values, name, type, index, datatype, op));
  EXPECT_TRUE(values.empty());
  ASSERT_EQ(0, keys_.SelectSignature(1));
  EXPECT_EQ(kKeyNotFound, keys_.GetUserAccess(1, access));  // "Rights" repeated
  int count = 0;
  EXPECT_EQ(kKeyNotFound, keys_.GetRuleCount(1, count));
  EXPECT_EQ(0, keys_.Close(false));
}

TEST_F(KeyDocumentTest, RepeatedRightsRefusesNewUsers) {
  OpenWithDevice("<Signature><Rights/><Rights/></Signature>");
  EXPECT_EQ(kKeyNotFound, keys_.SetKeyUserAccess(0, 0, 1, kAccessGrant));
  EXPECT_EQ(0, keys_.Close(false));
}

TEST_F(KeyDocumentTest, FileThatIsNotWellFormedOpensEmptyAndIsNeverOverwritten) {
  const std::string broken = "<download_keys><Device Key=\"A\"></download_keys";
  WriteFile(path_, broken);
  ASSERT_EQ(0, keys_.Open(path_, false));
  EXPECT_EQ(kKeyNotFound, keys_.SelectDevice("A"));
  EXPECT_EQ(kKeyNotFound, keys_.AddKeyDevice());
  EXPECT_EQ(kKeyNotFound, keys_.Close(true));
  EXPECT_FALSE(keys_.IsOpen());
  EXPECT_EQ(broken, ReadFile(path_));
}

TEST_F(KeyDocumentTest, FailedSaveKeepsTheDocumentOpen) {
  const std::string path = "no_such_dir_for_keys/keys.xml";
  ASSERT_EQ(0, keys_.Open(path, false));
  ASSERT_EQ(0, keys_.AddKeyDevice());
  EXPECT_EQ(kKeyXmlException, keys_.Close(true));
  EXPECT_TRUE(keys_.IsOpen());
  EXPECT_EQ(0, keys_.AddKeyDevice());
  EXPECT_EQ(0, keys_.Close(false));
  EXPECT_FALSE(Exists(path));
}

TEST_F(KeyDocumentTest, OpenWithDecompression) {
  const std::string packed = path_ + ".kz";
  const std::string& temp = ProcessTempNames().key_file;
  // No file: decompression fails before anything else, even when open.
  EXPECT_EQ(kKeyDecompressFailed, keys_.Open("no_such_key_file.kz", true));
  EXPECT_FALSE(Exists(temp));
  // Plain XML lacks the magic number.
  WriteFile(path_, "<download_keys><Device Key=\"K\"/></download_keys>");
  EXPECT_EQ(kKeyDecompressFailed, keys_.Open(path_, true));
  EXPECT_FALSE(Exists(temp));

  ASSERT_EQ(0, keys_.Compress(path_, packed));
  ASSERT_EQ(0, keys_.Open(packed, true));
  EXPECT_FALSE(Exists(temp));
  EXPECT_EQ(0, keys_.SelectDevice("K"));
  EXPECT_EQ(kKeyAlreadyOpen, keys_.Open(packed, true));
  EXPECT_FALSE(Exists(temp));
  EXPECT_EQ(kKeyDecompressFailed, keys_.Open("no_such_key_file.kz", true));
  EXPECT_EQ(0, keys_.Close(false));

  ASSERT_EQ(0, keys_.Decompress(packed, path_ + ".out"));
  EXPECT_EQ(ReadFile(path_), ReadFile(path_ + ".out"));
  EXPECT_EQ(-1, keys_.Decompress(path_, path_ + ".out"));
  EXPECT_EQ(-1, keys_.Compress("no_such_key_file.xml", path_ + ".out"));
  std::remove(packed.c_str());
  std::remove((path_ + ".out").c_str());
}

}  // namespace
}  // namespace korvo
