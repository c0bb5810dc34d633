// Access rights, download constraints and their comparisons, on the scripted channel.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "config/config_document.h"
#include "config/splay_compressor.h"
#include "download/access_checks.h"
#include "download/compare.h"
#include "download/constraint_check.h"
#include "keys/key_document.h"
#include "platform/system.h"
#include "support/files.h"
#include "support/scripted_channel.h"

namespace korvo {
namespace {

using test_support::Reply;
using test_support::ScriptedChannel;

// "=" is a whole-value pattern match, "!=" compares bytes and lengths.
TEST(CompareValuesTest, Operators) {
  const std::string nul_b("a\0b", 3), nul_c("a\0c", 3);
  const struct { std::string specified, actual; int op; bool holds; } cases[] = {
      {"1\\.[0-9]+", "1.23", kCompareEqual, true}, {"1\\.[0-9]+", "1.x", kCompareEqual, false},
      {"abc", "abcd", kCompareEqual, false},       {"a.b", nul_b, kCompareEqual, true},
      {"abc", "abcd", kCompareNotEqual, true},     {"abc", "abc", kCompareNotEqual, false},
      {nul_b, nul_c, kCompareNotEqual, true},      {"a.c", "abc", kCompareNotEqual, true},
      {"5", "5", 6, false},
  };
  testing::internal::CaptureStdout();
  for (const auto& c : cases)
    EXPECT_EQ(c.holds, CompareValues(c.specified, c.actual, c.op))
        << "'" << c.specified << "' " << c.op << " '" << c.actual << "'";
  EXPECT_FALSE(CompareValues(nullptr, 0, "", 0, kCompareNotEqual));
  // The orderings read both as numbers, the specified one on the left.
  const struct { int op; bool holds[3]; } orders[] = {  // for the actual values 4, 5, 6
      {kCompareGreaterEqual, {true, true, false}}, {kCompareLessEqual, {false, true, true}},
      {kCompareGreater, {true, false, false}}, {kCompareLess, {false, false, true}}};
  for (const auto& o : orders)
    for (int v : {4, 5, 6})
      EXPECT_EQ(o.holds[v - 4], CompareValues(" 5x", std::to_string(v), o.op)) << o.op << " " << v;
  testing::internal::GetCapturedStdout();
}

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

// A DOWNLOAD_CONSTRAINT element; number 1 has no digit.
std::string Constraint(int number, const std::string& type, const std::string& datatype,
                       const std::string& name, const std::string& op,
                       const std::string& comparison, int index = 0, int strlen = 0) {
  const std::string escaped = op[0] == '<' ? "&lt;" + op.substr(1) : op;
  return "<DOWNLOAD_CONSTRAINT" + (number > 1 ? std::to_string(number) : "") +
         " communicationName=\"" + name + "\" comparison=\"" + comparison + "\" operator=\"" +
         escaped + "\" type=\"" + type + "\" datatype=\"" + datatype + "\" index=\"" +
         std::to_string(index) + "\" strlen=\"" + std::to_string(strlen) + "\"/>";
}

class ChecksTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (config_.IsLoaded()) config_.Unload();
    for (const char* f : {"checks.xml", "checks.cfg", "checks_keys.xml"}) RemoveFile(f);
  }

  // Loads a configuration with the System2 entries `system` and two devices,
  // the second holding `device`.
  void Load(const std::string& system, const std::string& device) {
    if (config_.IsLoaded()) config_.Unload();
    test_support::WriteFile("checks.xml", "<download_configuration><Header><System2>" + system +
                                              "</System2><Device/><Device>" + device +
                                              "</Device></Header><Data><Device/><Device/></Data>"
                                              "</download_configuration>");
    ASSERT_EQ(0, SplayCompressor().Compress("checks.xml", "checks.cfg"));
    ASSERT_EQ(0, config_.Load("checks.cfg"));
  }

  // Whether the second device may be loaded when it holds `constraints`.
  bool Go(const std::string& constraints, ScriptedChannel& channel) {
    Load("", constraints);
    testing::internal::CaptureStdout();  // the check's debug trace
    const bool go = CheckDownloadConstraints(config_, channel, 1);
    testing::internal::GetCapturedStdout();
    return go;
  }

  // Whether a rule holds for the device value at index 1 of the variable "Value".
  bool Holds(int datatype, int op, const std::vector<std::string>& values, uint32_t value,
             const std::string& text = "") {
    ScriptedChannel channel({{"Value", Reply{0, {0, value}, {"", text}, 0}}});
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

struct AccessCase {  // devices: of the key file
  const char* what; std::string devices; test_support::Replies script; int result; bool granted;
  std::string trace, message;
};

const AccessCase kAccessCases[] = {
    {"no signatures", Scanner(""), {}, kAccessNoSignatures, false, "", ""},
    {"device keys are case-sensitive", "<Device Key=\"scanner\"/>", {}, kKeyNoSuchDevice, false,
     "", ""},
    {"the first matching signature ends the search, its rights for the reported level count",
     Scanner(Signature(User(2, "deny") + User(3, "grant")) + kSerial), {}, 0, true, kLevel, ""},
    {"no such level", Scanner(Signature(User(4, "grant"))), {}, kKeyNoSuchUser, false, kLevel, ""},
    {"rule access without rules", Scanner(Signature(User(3, "rule"))), {},
     kAccessRuleWithoutRules, false, kLevel, ""},
    {"unknown rule datatype", Scanner(Signature(User(3, "rule", Rule("float", "=", {"7"}, "H")))),
     {}, kKeyBadDatatype, false, kLevel, ""},
    {"access mode unreadable", Scanner(kGrant), {{"GetAccessMode", Reply::Fail()}},
     kAccessModeFailed, false, "CallMethod GetAccessMode", ""},
    {"signature read fails", Scanner(kSerial), {}, kAccessDeviceCallFailed, false,
     "ReadVariable SerialNumber 20000", "CheckSignature failed:  != 12.*"},
    {"no signature matches", Scanner(kSerial), {{"SerialNumber", Reply::Texts({"1"})}},
     kAccessNoSignatureMatches, false, kSerialRead, ""},
    {"identification is a whole-value pattern; a signature that does not match",
     Scanner(kVersion + Signature(User(3, "deny"), "SerialNumber", "12.*") + kGrant),
     {{"GetVersion", Reply::Texts({"x", "1.23"})}, {"SerialNumber", Reply::Texts({"99887"})}}, 0,
     true, kVersionCall + "|" + kSerialRead + "|" + kLevel, ""},
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

TEST_F(ChecksTest, AccessRights) {
  Load("<Key>SCANNER</Key>", "");
  for (const AccessCase& c : kAccessCases) {
    SCOPED_TRACE(c.what);
    keys_.Close(false);
    test_support::WriteFile("checks_keys.xml", "<download_keys>" + c.devices + "</download_keys>");
    ASSERT_EQ(0, keys_.Open("checks_keys.xml", false));
    ScriptedChannel channel(c.script);
    channel.Script("GetAccessMode", Reply::Values({3}));
    level_ = -7;
    bool granted = true;
    message_.clear();
    EXPECT_EQ(c.result, AccessChecks(config_, keys_, channel, level_)
                            .CheckAccessRights(granted, message_));
    EXPECT_EQ(c.granted, granted);
    EXPECT_EQ(c.trace, channel.trace);
    EXPECT_EQ(c.message, message_);
    EXPECT_TRUE(!c.granted || level_ == 3) << level_;
  }
}

// The key file's value stands on the left, any one may hold; datatypes 1 to 3 are integers
// (automatic base), compared as signed 32-bit values.
TEST_F(ChecksTest, AccessRules) {
  const struct {  // message null: not looked at
    int datatype, op; std::vector<std::string> values; uint32_t value; const char* text; bool holds;
    const char* message;
  } rows[] = {
      {kRuleInt, kCompareGreater, {"0x10"}, 15, "", true, ""},
      {kRuleInt, kCompareGreater, {"0x10"}, 16, "", false, "Rules checking failed: 16 != 0x10"},
      {kRuleInt, 6, {"5"}, 5, "", false, nullptr},
      {1, kCompareEqual, {"010", "3"}, 8, "", true, ""},
      {2, kCompareLess, {"0xFFFFFFFF"}, 0, "", true, nullptr},
      {kRuleInt, kCompareEqual, {"1", "2"}, 0xFFFFFFFEu, "", false,
       "Rules checking failed: -2 != 2"},
      {kRuleString, kCompareEqual, {"a.c", "abcd"}, 0, "abc", true, ""},
      {kRuleString, kCompareNotEqual, {"abc"}, 0, "abc", false,
       "Rules checking failed: abc != abc"},
  };
  for (const auto& r : rows) {
    message_ = "stale";
    EXPECT_EQ(r.holds, Holds(r.datatype, r.op, r.values, r.value, r.text)) << &r - rows;
    EXPECT_EQ(r.message ? r.message : message_, message_) << &r - rows;
  }

  // Codes a key file cannot hold: no device call for an unknown command type.
  ScriptedChannel channel({{"Name", Reply::Values({1})}});
  AccessChecks checks(config_, keys_, channel, level_);
  bool ok = true;
  EXPECT_EQ(kAccessBadCommandType,
            checks.CheckRule({"1"}, "Name", 2, 0, kRuleInt, kCompareEqual, ok, message_));
  EXPECT_EQ("", channel.trace);
  EXPECT_EQ(kAccessBadDatatype,
            checks.CheckRule({"1"}, "Name", kCommandMethod, 0, 4, kCompareEqual, ok, message_));
  EXPECT_FALSE(ok);
}

const std::string kTypeAndVersion =
    Constraint(1, "method", "string", "GetType", "=", "LMS[0-9]+") +
    Constraint(3, "variable", "int", "FwVersion", ">=", "20", 1);
const std::string kTypeAndVersionCalls =
    "CallMethod GetType|GetResultString 0 0 flex|ReadVariable FwVersion 2000|GetResultValue 1";
const std::string kBrokenAndFine = Constraint(2, "method", "int", "Broken", "=", "1") +
                                   Constraint(9, "method", "int", "Fine", "=", "1");
const Reply kUnreadable{0, {1}, {}, -1};

struct ConstraintCase {
  const char* what; std::string constraints; test_support::Replies script; bool go;
  std::string trace;
};

const ConstraintCase kConstraintCases[] = {
    {"no constraints", "<Name>x</Name>", {}, true, ""},
    {"gaps are skipped, every present one holds", kTypeAndVersion,
     {{"GetType", Reply::Texts({"LMS511"})}, {"FwVersion", Reply::Values({0, 25})}}, true,
     kTypeAndVersionCalls},
    {"one fails", kTypeAndVersion,
     {{"GetType", Reply::Texts({"LMS511"})}, {"FwVersion", Reply::Values({0, 19})}}, false,
     kTypeAndVersionCalls},
    {"a failed call does not match and the check goes on", kBrokenAndFine,
     {{"Broken", Reply::Fail()}, {"Fine", Reply::Values({1})}}, false,
     "CallMethod Broken|CallMethod Fine|GetResultValue 0"},
    {"nor does a failed read", kBrokenAndFine,
     {{"Broken", kUnreadable}, {"Fine", Reply::Values({1})}}, false,
     "CallMethod Broken|GetResultValue 0|CallMethod Fine|GetResultValue 0"},
    {"strings only know equality", Constraint(1, "method", "string", "GetType", "!=", "LMS100"),
     {{"GetType", Reply::Texts({"TIM310"})}}, false, "CallMethod GetType|GetResultString 0 0 flex"},
    {"a fixed length asks for a non-flex string, counted up to its first zero byte",
     Constraint(1, "method", "string", "GetType", "=", "AB", 2, 8),
     {{"GetType", Reply::Texts({"x", "y", std::string("AB\0CD", 5)})}}, true,
     "CallMethod GetType|GetResultString 2 8"},
    {"an unknown type word counts as present and fails",
     Constraint(1, "Variable", "int", "Value", "=", "1"), {}, false, ""},
};

TEST_F(ChecksTest, Constraints) {
  for (const ConstraintCase& c : kConstraintCases) {
    SCOPED_TRACE(c.what);
    ScriptedChannel channel(c.script);
    EXPECT_EQ(c.go, Go(c.constraints, channel));
    EXPECT_EQ(c.trace, channel.trace);
  }
}

// The device value stands on the left, "device value op 5", signed.
TEST_F(ChecksTest, ConstraintIntegerOperators) {
  const uint32_t values[] = {4, 5, 6, 0xFFFFFFFFu};
  const struct { const char* op; bool holds[4]; } orders[] = {  // for each of the values
      {"=", {false, true, false, false}},  {"!=", {true, false, true, true}},
      {">=", {false, true, true, false}},  {"<=", {true, true, false, true}},
      {">", {false, false, true, false}},  {"<", {true, false, false, true}},
      {"==", {false, false, false, false}},
  };
  for (const auto& o : orders) {
    for (int i = 0; i < 4; ++i) {
      ScriptedChannel channel;
      channel.Script("Value", Reply::Values({values[i]}));
      EXPECT_EQ(o.holds[i], Go(Constraint(1, "variable", "int", "Value", o.op, " 5 units"),
                               channel)) << int32_t(values[i]) << " " << o.op << " 5";
    }
  }
}

}  // namespace
}  // namespace korvo
