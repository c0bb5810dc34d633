#include "download/access_checks.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "config/config_document.h"
#include "config/splay_compressor.h"
#include "download/compare.h"
#include "keys/key_document.h"
#include "support/files.h"
#include "support/scripted_channel.h"

namespace korvo {
namespace {

using test_support::Reply;
using test_support::ScriptedChannel;
using test_support::WriteFile;

const char kConfigPlain[] = "access_checks_test.xml";
const char kConfigPacked[] = "access_checks_test.cfg";
const char kKeyFile[] = "access_checks_test_keys.xml";

// A "Rule" element; `values` become one "SpecifiedValue" each.
std::string Rule(const std::string& datatype, const std::string& op,
                 const std::vector<std::string>& values, const std::string& name,
                 const std::string& type = "RN") {
  std::string xml = "<Rule datatype=\"" + datatype + "\" operator=\"" + op + "\">";
  for (const std::string& v : values)
    xml += "<SpecifiedValue><![CDATA[" + v + "]]></SpecifiedValue>";
  return xml + "<CommunicationName index=\"0\" TAVISType=\"" + type + "\"><![CDATA[" + name +
         "]]></CommunicationName></Rule>";
}

std::string Signature(const std::string& name, const std::string& value,
                      const std::string& users) {
  return "<Signature CommunicationName=\"" + name + "\" Value=\"" + value + "\"><Rights>" + users +
         "</Rights></Signature>";
}

std::string User(int level, const std::string& access, const std::string& rules = "") {
  return "<User level=\"" + std::to_string(level) + "\" access=\"" + access + "\">" + rules +
         "</User>";
}

// A signature that needs no device call.
std::string OpenSignature(const std::string& users) { return Signature("", "", users); }

class KeyAccessChecksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(kConfigPlain,
              "<download_configuration><Header><System2><Key>SCANNER</Key></System2>"
              "</Header><Data/></download_configuration>");
    SplayCompressor compressor;
    ASSERT_EQ(0, compressor.Compress(kConfigPlain, kConfigPacked));
    ASSERT_EQ(0, config_.Load(kConfigPacked));
    // The user level the device reports.
    channel_.Script("GetAccessMode", Reply::Values({3}));
  }
  void TearDown() override {
    for (const char* f : {kConfigPlain, kConfigPacked, kKeyFile}) std::remove(f);
  }

  // (Re)opens a key file holding `devices`.
  void KeyFile(const std::string& devices) {
    keys_.Close(false);
    WriteFile(kKeyFile, "<download_keys>" + devices + "</download_keys>");
    ASSERT_EQ(0, keys_.Open(kKeyFile, false));
  }
  // ... whose "SCANNER" device holds `inner`.
  void Keys(const std::string& inner) {
    KeyFile("<Device Key=\"OTHER\"/><Device Key=\"SCANNER\">" + inner + "</Device>");
  }

  int Run() {
    granted_ = true;
    return checks_.CheckAccessRights(granted_, message_);
  }

  ConfigDocument config_;
  KeyDocument keys_;
  ScriptedChannel channel_;
  int32_t user_level_ = -7;
  AccessChecks checks_{config_, keys_, channel_, user_level_};
  bool granted_ = true;
  std::string message_;
};

TEST_F(KeyAccessChecksTest, MissingDeviceEntryOrSignatures) {
  Keys("");
  EXPECT_EQ(kAccessNoSignatures, Run());
  EXPECT_FALSE(granted_);
  KeyFile("<Device Key=\"scanner\"/>");
  EXPECT_EQ(kKeyNoSuchDevice, Run());
  EXPECT_FALSE(granted_);
  EXPECT_TRUE(channel_.calls().empty());
}

TEST_F(KeyAccessChecksTest, AccessOfTheReportedLevel) {
  Keys(OpenSignature(User(2, "deny") + User(3, "grant")));
  EXPECT_EQ(0, Run());
  EXPECT_TRUE(granted_);
  EXPECT_EQ(3, user_level_);
  // Nothing but the access mode is asked for.
  ASSERT_EQ(2u, channel_.calls().size());
  EXPECT_EQ("GetAccessMode", channel_.CallsOf("CallMethod").at(0).name);
  EXPECT_EQ(1, channel_.CountOf("GetResultValue"));

  Keys(OpenSignature(User(3, "deny")));
  EXPECT_EQ(0, Run());
  EXPECT_FALSE(granted_);
  Keys(OpenSignature(User(4, "grant")));
  EXPECT_EQ(kKeyNoSuchUser, Run());
  Keys(OpenSignature(User(3, "rule")));
  EXPECT_EQ(kAccessRuleWithoutRules, Run());
  EXPECT_FALSE(granted_);
  Keys(OpenSignature(User(3, "rule", Rule("float", "=", {"7"}, "Hardware"))));
  EXPECT_EQ(kKeyBadDatatype, Run());
}

TEST_F(KeyAccessChecksTest, SecondSignatureWithEmptyNameMatchesAndItsRightsCount) {
  Keys(Signature("SerialNumber", "12.*", User(3, "deny")) + OpenSignature(User(3, "grant")));
  channel_.Script("SerialNumber", Reply::Texts({"99887"}));
  EXPECT_EQ(0, Run());
  EXPECT_TRUE(granted_);
  auto reads = channel_.CallsOf("ReadVariable");
  ASSERT_EQ(1u, reads.size());
  EXPECT_EQ("SerialNumber", reads[0].name);
  EXPECT_EQ(std::vector<int>{kAccessReadTimeoutMs}, reads[0].numbers);
}

TEST_F(KeyAccessChecksTest, NoSignatureMatchesOrTheReadFails) {
  Keys(Signature("SerialNumber", "12.*", User(3, "grant")));
  EXPECT_EQ(kAccessDeviceCallFailed, Run());
  EXPECT_EQ("CheckSignature failed:  != 12.*", message_);
  message_.clear();
  channel_.Script("SerialNumber", Reply::Texts({"1"}));
  EXPECT_EQ(kAccessNoSignatureMatches, Run());
  EXPECT_FALSE(granted_);
  EXPECT_EQ("", message_);
}

TEST_F(KeyAccessChecksTest, IdentificationIsAWholeValuePattern) {
  Keys("<Identification index=\"1\" TAVISType=\"MN\" CommunicationName=\"GetVersion\" "
       "Value=\"1\\.[0-9]+\"/>" + OpenSignature(User(3, "grant")));
  channel_.Script("GetVersion", {Reply::Texts({"x", "1.23"}), Reply::Texts({"x", "1.x"})});
  EXPECT_EQ(0, Run());
  EXPECT_TRUE(granted_);
  auto strings = channel_.CallsOf("GetResultString");
  ASSERT_FALSE(strings.empty());
  EXPECT_EQ(1, strings[0].numbers[0]);
  EXPECT_TRUE(strings[0].flex);

  EXPECT_EQ(kAccessIdentificationFailed, Run());
  EXPECT_FALSE(granted_);
  EXPECT_EQ("Identification failed: 1.x is not equal to 1\\.[0-9]+", message_);
}

TEST_F(KeyAccessChecksTest, FailingDeviceCalls) {
  Keys("<Identification index=\"0\" TAVISType=\"RN\" CommunicationName=\"Ident\" Value=\"a\"/>" +
       OpenSignature(User(3, "grant")));
  EXPECT_EQ(kAccessDeviceCallFailed, Run());

  Keys(OpenSignature(User(3, "rule", Rule("int", "=", {"7"}, "Hardware", "MN"))));
  EXPECT_EQ(kAccessDeviceCallFailed, Run());
  EXPECT_FALSE(granted_);
  EXPECT_EQ("Hardware", channel_.CallsOf("CallMethod").back().name);

  ScriptedChannel silent;
  AccessChecks checks(config_, keys_, silent, user_level_);
  EXPECT_EQ(kAccessModeFailed, checks.CheckAccessRights(granted_, message_));
  EXPECT_FALSE(granted_);
}

TEST_F(KeyAccessChecksTest, AllRulesOfTheLevelMustHold) {
  Keys(OpenSignature(User(3, "rule", Rule("int", "=", {"7"}, "Hardware") +
                                         Rule("string", "=", {"A", "B"}, "Variant"))));
  channel_.Script("Hardware", Reply::Values({7}));
  channel_.Script("Variant", {Reply::Texts({"B"}), Reply::Texts({"C"})});
  EXPECT_EQ(0, Run());
  EXPECT_TRUE(granted_);
  EXPECT_EQ("", message_);

  EXPECT_EQ(0, Run());
  EXPECT_FALSE(granted_);
  EXPECT_EQ("Rules checking failed: C != B", message_);
}

class KeyRuleCheckTest : public KeyAccessChecksTest {
 protected:
  // Device value `device` at index 1 of the answer to the variable "Value".
  bool Holds(int datatype, int op, const std::vector<std::string>& values, uint32_t device) {
    ScriptedChannel channel;
    channel.Script("Value", Reply::Values({0, device}));
    AccessChecks checks(config_, keys_, channel, user_level_);
    bool ok = false;
    EXPECT_EQ(0, checks.CheckRule(values, "Value", kCommandVariable, 1, datatype, op, ok,
                                  message_));
    return ok;
  }
};

TEST_F(KeyRuleCheckTest, IntegerRulesPutTheKeyFileValueOnTheLeft) {
  EXPECT_TRUE(Holds(kRuleInt, kCompareGreater, {"0x10"}, 15));
  EXPECT_EQ("", message_);
  EXPECT_FALSE(Holds(kRuleInt, kCompareGreater, {"0x10"}, 16));
  EXPECT_EQ("Rules checking failed: 16 != 0x10", message_);
  EXPECT_TRUE(Holds(kRuleInt, kCompareGreaterEqual, {"5"}, 5));
  EXPECT_FALSE(Holds(kRuleInt, kCompareGreaterEqual, {"5"}, 7));
  EXPECT_TRUE(Holds(1, kCompareEqual, {"3", "010"}, 8));
  // Compared as signed 32-bit values.
  EXPECT_TRUE(Holds(2, kCompareLess, {"0xFFFFFFFF"}, 0));
  EXPECT_FALSE(Holds(kRuleInt, kCompareEqual, {"1", "2"}, 0xFFFFFFFEu));
  EXPECT_EQ("Rules checking failed: -2 != 2", message_);
}

TEST_F(KeyRuleCheckTest, StringRulesAndUnknownCodes) {
  channel_.Script("Name", Reply::Texts({"abc"}));
  bool ok = false;
  ASSERT_EQ(0, checks_.CheckRule({"abcd", "a.c"}, "Name", kCommandMethod, 0, kRuleString,
                                 kCompareEqual, ok, message_));
  EXPECT_TRUE(ok);
  ASSERT_EQ(0, checks_.CheckRule({"abc"}, "Name", kCommandMethod, 0, kRuleString,
                                 kCompareNotEqual, ok, message_));
  EXPECT_FALSE(ok);
  EXPECT_EQ("Rules checking failed: abc != abc", message_);

  const size_t calls = channel_.calls().size();
  EXPECT_EQ(kAccessBadCommandType,
            checks_.CheckRule({"1"}, "Name", 2, 0, kRuleInt, kCompareEqual, ok, message_));
  EXPECT_EQ(kAccessBadCommandType, checks_.CheckIdentification("1", "Name", -1, 0, ok, message_));
  EXPECT_EQ(calls, channel_.calls().size());
  EXPECT_EQ(kAccessBadDatatype,
            checks_.CheckRule({"1"}, "Name", kCommandMethod, 0, 4, kCompareEqual, ok, message_));
}

}  // namespace
}  // namespace korvo
