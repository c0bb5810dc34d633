#include "keys/key_document.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "config/temp_files.h"
#include "support/files.h"

namespace korvo {
namespace {

using test_support::WriteFile;

bool Exists(const std::string& path) { return std::ifstream(path).good(); }

struct RuleRead {
  std::vector<std::string> values; std::string name; int type = -1, datatype = -1, op = -1;
  uint32_t index = 0;
};

class KeyDocumentTest : public ::testing::Test {
 protected:
  void TearDown() override {
    std::remove(path_.c_str());
    EXPECT_TRUE(test_support::TempFilesLeft(kTempKeyFile).empty()) << "temporary key file left";
  }

  // Opens a file whose device "DEV" holds `inner` and selects that device.
  void OpenWithDevice(const std::string& inner) {
    WriteFile(path_, "<download_keys><Device Key=\"DEV\">" + inner + "</Device></download_keys>");
    ASSERT_EQ(0, keys_.Open(path_, false));
    ASSERT_EQ(0, keys_.SelectDevice("DEV"));
  }

  int GetRule(int level, int n, RuleRead& r) {
    return keys_.GetRule(level, n, r.values, r.name, r.type, r.index, r.datatype, r.op);
  }

  const std::string path_ = "key_document_test.xml";  // in the process's own folder
  KeyDocument keys_;
};

// Beside KeyFileTest.java: texts that need escaping or the declared encoding cannot hold.
TEST_F(KeyDocumentTest, BuiltFileReadsBackThroughTheReaders) {
  const std::string han = "\xE4\xB8\xAD", value = "a" + han + "b]]>\xC3\xA9";
  WriteFile(path_, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<download_keys/>\n");
  // The second user is never read; "]]>" cannot stand inside one CDATA section.
  ASSERT_EQ(0, keys_.Open(path_, false) | keys_.AddKeyDevice() | keys_.SetDeviceKey(0, "DEV" + han) |
                   keys_.AddKeySignature(0) |
                   keys_.SetKeySignatureAttributes(0, 0, "SIG<&>\"", "SigVar") |
                   keys_.SetKeyUserAccess(0, 0, 3, kAccessRule) |
                   keys_.SetKeyUserAccess(0, 0, 3, kAccessDeny) |
                   keys_.AddKeyUserRule(0, 0, 3, kRuleInt, 4, "0x10", "FirmwareVersion", 0, 1) |
                   keys_.AddKeyUserRule(0, 0, 3, kRuleString, 1, value, "Name]]>" + han, 1, 0) |
                   keys_.Close(true));
  ASSERT_EQ(0, keys_.Open(path_, false) | keys_.SelectDevice("DEV" + han));
  std::string text, name;
  ASSERT_EQ(0, keys_.GetSignature(0, text, name));
  EXPECT_EQ("SIG<&>\"|SigVar", text + "|" + name);
  RuleRead r;
  ASSERT_EQ(0, keys_.SelectSignature(0) | GetRule(3, 0, r) | GetRule(3, 1, r));
  EXPECT_EQ((std::vector<std::string>{"0x10", value}), r.values);  // appended to
  EXPECT_EQ("Name]]>" + han, r.name);
  EXPECT_EQ(kRuleString, r.datatype);
  EXPECT_EQ(kKeyNotFound, GetRule(3, 2, r));
  EXPECT_EQ(0, keys_.Close(false));
}

// Text from memory reads as the same text from a file, and saves to what
// the file would hold; it has no path to be written to.
TEST_F(KeyDocumentTest, TextInMemoryOpensAndSavesAsAFileDoes) {
  const std::string text =
      "<download_keys><Device Key=\"DEV\"><Signature Value=\"S\" CommunicationName=\"V\"/>"
      "</Device></download_keys>";
  WriteFile(path_, text);
  ASSERT_EQ(0, keys_.Open(path_, false) | keys_.Close(true));
  const std::string from_file = test_support::ReadFile(path_);

  std::string saved, value, name;
  ASSERT_EQ(0, keys_.OpenXml(text));
  EXPECT_EQ(kKeyAlreadyOpen, keys_.OpenXml(text));
  ASSERT_EQ(0, keys_.SelectDevice("DEV") | keys_.GetSignature(0, value, name));
  EXPECT_EQ("S|V", value + "|" + name);
  ASSERT_EQ(0, keys_.SaveXml(saved));
  EXPECT_EQ(from_file, saved);
  EXPECT_EQ(kKeyXmlException, keys_.Close(true));
  EXPECT_TRUE(keys_.IsOpen());
  EXPECT_EQ(0, keys_.Close(false));
  EXPECT_EQ(kKeyNotOpen, keys_.SaveXml(saved));

  // Not well-formed: open without content, nothing to save.
  ASSERT_EQ(0, keys_.OpenXml("<download_keys>"));
  EXPECT_TRUE(keys_.LoadDiagnostic().failed());
  EXPECT_EQ(kKeyNotFound, keys_.SaveXml(saved));
  EXPECT_EQ(from_file, saved);
  EXPECT_EQ(0, keys_.Close(false));
}

TEST_F(KeyDocumentTest, RejectedCodesLeaveTheirEmptyElementBehind) {
  // The access code is judged before the open state.
  EXPECT_EQ(kKeyBadAccess, keys_.SetKeyUserAccess(0, 0, 1, 3));
  EXPECT_EQ(kKeyNotOpen, keys_.SetKeyUserAccess(0, 0, 1, kAccessGrant));
  ASSERT_EQ(0, keys_.Open(path_, false) | keys_.AddKeyDevice() | keys_.SetDeviceKey(0, "DEV") |
                   keys_.AddKeySignature(0));
  EXPECT_EQ(kKeyNotFound, keys_.AddKeyUserRule(0, 0, 1, 0, 0, "v", "n", 0, 0));  // no rights
  ASSERT_EQ(0, keys_.SetKeyUserAccess(0, 0, 1, kAccessRule));
  EXPECT_EQ(kKeyBadDatatype, keys_.AddKeyUserRule(0, 0, 1, 1, 0, "v", "n", 0, 0));
  EXPECT_EQ(kKeyBadDatatype, keys_.AddKeyUserRule(0, 0, 1, 2, 6, "v", "n", 2, 0));  // stops first
  EXPECT_EQ(kKeyBadOperator, keys_.AddKeyUserRule(0, 0, 1, 0, 6, "v", "n", 0, 0));
  EXPECT_EQ(kKeyBadType, keys_.AddKeyUserRule(0, 0, 1, 0, -1, "v", "n", 2, 0));  // type wins
  EXPECT_EQ(kKeyBadType, keys_.AddKeyIdentficationRule(0, 2, "n", "v", 0));

  int count = 0;
  ASSERT_EQ(0, keys_.SelectDevice("DEV") | keys_.SelectSignature(0) | keys_.GetRuleCount(1, count));
  EXPECT_EQ(4, count);
  RuleRead r;
  EXPECT_EQ(kKeyBadDatatype, GetRule(1, 0, r));
  EXPECT_TRUE(r.values.empty());
  EXPECT_EQ(0, keys_.GetIdentificationCount(count));
  EXPECT_EQ(1, count);
  std::string value, name;
  EXPECT_EQ(kKeyBadType, keys_.GetIdentification(0, value, name, r.type, r.index));
  EXPECT_EQ(0, keys_.Close(false));
}

TEST_F(KeyDocumentTest, CursorNeedsDeviceAndSignatureAndIsClearedOnCloseButNotOnAFailedSave) {
  OpenWithDevice("<Signature><Rights/></Signature>");
  int count = 0, access = 0;
  EXPECT_EQ(kKeyNoCurrentSignature, keys_.GetUserAccess(1, access));
  EXPECT_EQ(kKeyNotFound, keys_.SelectSignature(1));
  EXPECT_EQ(kKeyNoSuchDevice, keys_.SelectDevice("dev"));
  // The elements of the closed document must not be reached again.
  ASSERT_EQ(0, keys_.SelectSignature(0) | keys_.Close(false) | keys_.Open(path_, false));
  EXPECT_EQ(kKeyNoCurrentDevice, keys_.GetSignatureCount(count));
  EXPECT_EQ(kKeyNoCurrentDevice, keys_.GetUserAccess(1, access));
  EXPECT_EQ(0, keys_.Close(false));
  // A failed save keeps the document open.
  ASSERT_EQ(0, keys_.Open("no_such_dir_for_keys/keys.xml", false));
  EXPECT_EQ(kKeyXmlException, keys_.Close(true));
  EXPECT_TRUE(keys_.IsOpen());
  EXPECT_EQ(0, keys_.Close(false));
  EXPECT_FALSE(Exists("no_such_dir_for_keys/keys.xml"));
}

TEST_F(KeyDocumentTest, TextsInTheFileAreCheckedWhenRead) {
  const std::string name = "<CommunicationName index=\"0\" TAVISType=\"MN\"><![CDATA[m]]>"
                           "</CommunicationName>";
  const std::string value = "<SpecifiedValue><![CDATA[1]]></SpecifiedValue>";
  OpenWithDevice(
      "<Identification index=\"0x10\" TAVISType=\"MN\"/><Identification index=\"010\" "
      "TAVISType=\"EN\"/>"
      "<Signature><Rights><User level=\"1\" access=\"allow\"/><User level=\"2\" access=\"rule\">"
      "<Rule datatype=\"float\" operator=\"=\">" + value + name + "</Rule>"
      "<Rule datatype=\"int\" operator=\"==\">" + value + name + "</Rule>"
      "<Rule datatype=\"int\" operator=\"=\"><SpecifiedValue>1</SpecifiedValue>" + name +
      "</Rule><Rule datatype=\"int\" operator=\"=\">" + value +
      "<CommunicationName TAVISType=\"MN\">m</CommunicationName></Rule>"
      "<Rule datatype=\"int\" operator=\"=\">" + value +
      "<CommunicationName TAVISType=\"XN\"><![CDATA[m]]></CommunicationName></Rule>"
      "</User><User level=\"03\" access=\"grant\"/></Rights></Signature>"
      "<Signature><Rights/><Rights/></Signature>");
  std::string text = "x", comm;
  int access = -1;
  RuleRead r;
  ASSERT_EQ(0, keys_.GetIdentification(0, text, comm, r.type, r.index));
  EXPECT_EQ(16u, r.index);
  EXPECT_EQ("", text);  // a missing attribute reads as empty text
  EXPECT_EQ(kKeyBadType, keys_.GetIdentification(1, text, comm, r.type, r.index));
  ASSERT_EQ(0, keys_.SelectSignature(0));
  EXPECT_EQ(kKeyBadAccess, keys_.GetUserAccess(1, access));
  EXPECT_EQ(kKeyNoSuchUser, keys_.GetUserAccess(3, access));  // "03" is not level 3
  EXPECT_EQ(kKeyBadDatatype, GetRule(2, 0, r));
  EXPECT_EQ(kKeyBadOperator, GetRule(2, 1, r));
  EXPECT_EQ(kKeyNotFound, GetRule(2, 2, r));  // value as plain text
  EXPECT_EQ(kKeyNotFound, GetRule(2, 3, r));  // name as plain text
  EXPECT_EQ(kKeyBadType, GetRule(2, 4, r));
  EXPECT_TRUE(r.values.empty());
  ASSERT_EQ(0, keys_.SelectSignature(1));
  EXPECT_EQ(kKeyNotFound, keys_.GetUserAccess(1, access));  // "Rights" repeated
  EXPECT_EQ(0, keys_.Close(false));
}

TEST_F(KeyDocumentTest, OpenWithDecompressionDeletesTheTemporaryFile) {
  const std::string packed = path_ + ".kz";
  EXPECT_EQ(kKeyDecompressFailed, keys_.Open("no_such_key_file.kz", true));
  EXPECT_TRUE(test_support::TempFilesLeft(kTempKeyFile).empty());
  WriteFile(path_, "<download_keys><Device Key=\"K\"/></download_keys>");
  EXPECT_EQ(kKeyDecompressFailed, keys_.Open(path_, true));  // no magic number

  ASSERT_EQ(0, keys_.Compress(path_, packed));
  {
    test_support::PlantedLinks planted({kTempKeyFile});
    ASSERT_EQ(0, keys_.Open(packed, true));
    EXPECT_EQ("", planted.Damage());
  }
  EXPECT_EQ(0, keys_.SelectDevice("K"));
  EXPECT_EQ(kKeyAlreadyOpen, keys_.Open(packed, true));
  EXPECT_EQ(0, keys_.Close(false));
  // A rejected input leaves an existing output as it was.
  EXPECT_EQ(-1, keys_.Decompress(path_, packed));
  EXPECT_EQ(-1, keys_.Compress("no_such_key_file.xml", packed));
  EXPECT_EQ(0, keys_.Open(packed, true) | keys_.SelectDevice("K") | keys_.Close(false));
  std::remove(packed.c_str());
}

}  // namespace
}  // namespace korvo
