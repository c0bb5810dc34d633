#include "download/access_checks.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
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

std::string User(int level, const std::string& access, const std::string& rules = "") {
  return "<User level=\"" + std::to_string(level) + "\" access=\"" + access + "\">" + rules +
         "</User>";
}

// An empty name needs no device call.
std::string Signature(const std::string& users, const std::string& name = "",
                      const std::string& value = "") {
  return "<Signature CommunicationName=\"" + name + "\" Value=\"" + value + "\"><Rights>" + users +
         "</Rights></Signature>";
}

// Key file entries with the device "SCANNER" holding `inner`.
std::string Scanner(const std::string& inner) {
  return "<Device Key=\"OTHER\"/><Device Key=\"SCANNER\">" + inner + "</Device>";
}

const std::string kGrant = Signature(User(3, "grant"));
const std::string kVersion = "<Identification index=\"1\" TAVISType=\"MN\" "
                             "CommunicationName=\"GetVersion\" Value=\"1\\.[0-9]+\"/>";
const std::string kSerial = Signature(User(3, "grant"), "SerialNumber", "12.*");
const std::string kRules = Signature(User(
    3, "rule", Rule("int", "=", {"7"}, "Hardware") + Rule("string", "=", {"A", "B"}, "Variant")));
// The device reports user level 3 unless a case scripts GetAccessMode first.
const std::string kLevel = "CallMethod GetAccessMode|GetResultValue 0";
const std::string kSerialRead = "ReadVariable SerialNumber 20000|GetResultString 0 0 flex";
const std::string kVersionCall = "CallMethod GetVersion|GetResultString 1 0 flex";
const std::string kRuleCalls = kLevel + "|ReadVariable Hardware 20000|GetResultValue 0";

struct Case {
  const char* what;
  std::string devices;
  std::vector<std::pair<const char*, Reply>> script;
  int result;
  bool granted;
  std::string trace;
  std::string message;
};

const Case kCases[] = {
    {"no signatures", Scanner(""), {}, kAccessNoSignatures, false, "", ""},
    {"rights of the reported level",
     Scanner(Signature(User(2, "deny") + User(3, "grant"))), {}, 0, true, kLevel, ""},
    {"no such level", Scanner(Signature(User(4, "grant"))), {}, kKeyNoSuchUser, false, kLevel, ""},
    {"rule access without rules", Scanner(Signature(User(3, "rule"))), {},
     kAccessRuleWithoutRules, false, kLevel, ""},
    {"rule of a datatype the key file does not know",
     Scanner(Signature(User(3, "rule", Rule("float", "=", {"7"}, "Hardware")))), {},
     kKeyBadDatatype, false, kLevel, ""},
    {"access mode unreadable", Scanner(kGrant), {{"GetAccessMode", Reply::Fail()}},
     kAccessModeFailed, false, "CallMethod GetAccessMode", ""},
    {"the first matching signature's rights count",
     Scanner(Signature(User(3, "deny"), "SerialNumber", "12.*") + kGrant),
     {{"SerialNumber", Reply::Texts({"99887"})}}, 0, true, kSerialRead + "|" + kLevel, ""},
    {"signature read fails", Scanner(kSerial), {}, kAccessDeviceCallFailed, false,
     "ReadVariable SerialNumber 20000", "CheckSignature failed:  != 12.*"},
    {"no signature matches", Scanner(kSerial), {{"SerialNumber", Reply::Texts({"1"})}},
     kAccessNoSignatureMatches, false, kSerialRead, ""},
    {"identification is a whole-value pattern", Scanner(kVersion + kGrant),
     {{"GetVersion", Reply::Texts({"x", "1.23"})}}, 0, true, kVersionCall + "|" + kLevel, ""},
    {"identification fails", Scanner(kVersion + kGrant),
     {{"GetVersion", Reply::Texts({"x", "1.x"})}}, kAccessIdentificationFailed, false,
     kVersionCall, "Identification failed: 1.x is not equal to 1\\.[0-9]+"},
    {"identification call fails", Scanner(kVersion + kGrant), {}, kAccessDeviceCallFailed, false,
     "CallMethod GetVersion", ""},
    {"rule call fails", Scanner(kRules), {}, kAccessDeviceCallFailed, false,
     kLevel + "|ReadVariable Hardware 20000", ""},
    {"all rules hold", Scanner(kRules),
     {{"Hardware", Reply::Values({7})}, {"Variant", Reply::Texts({"B"})}}, 0, true,
     kRuleCalls + "|ReadVariable Variant 20000|GetResultString 0 0 flex", ""},
    {"the last rule fails", Scanner(kRules),
     {{"Hardware", Reply::Values({7})}, {"Variant", Reply::Texts({"C"})}}, 0, false,
     kRuleCalls + "|ReadVariable Variant 20000|GetResultString 0 0 flex",
     "Rules checking failed: C != B"},
    {"the first rule fails", Scanner(kRules),
     {{"Hardware", Reply::Values({8})}, {"Variant", Reply::Texts({"B"})}}, 0, false, kRuleCalls,
     "Rules checking failed: 8 != 7"},
};

class AccessChecksTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const char* f : {"access.xml", "access.cfg", "access_keys.xml"}) std::remove(f);
  }

  // The device value at index 1 of the variable "Value".
  bool Holds(int datatype, int op, const std::vector<std::string>& values, uint32_t value,
             const std::string& text = "") {
    ScriptedChannel channel;
    channel.Script("Value", Reply{0, {0, value}, {"", text}, 0});
    bool ok = false;
    EXPECT_EQ(0, AccessChecks(config_, keys_, channel, level_)
                     .CheckRule(values, "Value", kCommandVariable, 1, datatype, op, ok, message_));
    return ok;
  }

  ConfigDocument config_;
  KeyDocument keys_;
  int32_t level_ = -7;
  std::string message_;
};

TEST_F(AccessChecksTest, Cases) {
  test_support::WriteFile("access.xml", "<download_configuration><Header><System2><Key>SCANNER"
                                        "</Key></System2></Header><Data/></download_configuration>");
  ASSERT_EQ(0, SplayCompressor().Compress("access.xml", "access.cfg"));
  ASSERT_EQ(0, config_.Load("access.cfg"));
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    keys_.Close(false);
    test_support::WriteFile("access_keys.xml", "<download_keys>" + c.devices + "</download_keys>");
    ASSERT_EQ(0, keys_.Open("access_keys.xml", false));
    ScriptedChannel channel;
    for (const auto& [key, reply] : c.script) channel.Script(key, reply);
    channel.Script("GetAccessMode", Reply::Values({3}));
    level_ = -7;
    bool granted = true;
    message_.clear();
    EXPECT_EQ(c.result, AccessChecks(config_, keys_, channel, level_)
                            .CheckAccessRights(granted, message_));
    EXPECT_EQ(c.granted, granted);
    EXPECT_EQ(c.trace, channel.trace);
    EXPECT_EQ(c.message, message_);
    if (c.result == 0) {
      EXPECT_EQ(3, level_);
    }
  }
}

// The key file's value stands on the left; any one value may hold.
TEST_F(AccessChecksTest, Rules) {
  EXPECT_TRUE(Holds(kRuleInt, kCompareGreater, {"0x10"}, 15));
  EXPECT_FALSE(Holds(kRuleInt, kCompareGreater, {"0x10"}, 16));
  EXPECT_EQ("Rules checking failed: 16 != 0x10", message_);
  EXPECT_FALSE(Holds(kRuleInt, 6, {"5"}, 5));
  // Datatypes 1 to 3 are integers, written with automatic base in the key
  // file and compared as signed 32-bit values.
  EXPECT_TRUE(Holds(1, kCompareEqual, {"010", "3"}, 8));
  EXPECT_EQ("", message_);
  EXPECT_TRUE(Holds(2, kCompareLess, {"0xFFFFFFFF"}, 0));
  EXPECT_FALSE(Holds(kRuleInt, kCompareEqual, {"1", "2"}, 0xFFFFFFFEu));
  EXPECT_EQ("Rules checking failed: -2 != 2", message_);
  EXPECT_TRUE(Holds(kRuleString, kCompareEqual, {"a.c", "abcd"}, 0, "abc"));
  EXPECT_EQ("", message_);
  EXPECT_FALSE(Holds(kRuleString, kCompareNotEqual, {"abc"}, 0, "abc"));
  EXPECT_EQ("Rules checking failed: abc != abc", message_);

  // Codes a key file cannot hold: no device call for an unknown command type.
  ScriptedChannel channel;
  AccessChecks checks(config_, keys_, channel, level_);
  bool ok = true;
  EXPECT_EQ(kAccessBadCommandType,
            checks.CheckRule({"1"}, "Name", 2, 0, kRuleInt, kCompareEqual, ok, message_));
  EXPECT_EQ(kAccessBadCommandType, checks.CheckIdentification("1", "Name", -1, 0, ok, message_));
  EXPECT_EQ("", channel.trace);
  channel.Script("Name", Reply::Values({1}));
  EXPECT_EQ(kAccessBadDatatype,
            checks.CheckRule({"1"}, "Name", kCommandMethod, 0, 4, kCompareEqual, ok, message_));
  EXPECT_FALSE(ok);
}

}  // namespace
}  // namespace korvo
