#include "download/constraint_check.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "config/config_document.h"
#include "config/splay_compressor.h"
#include "platform/system.h"
#include "support/files.h"
#include "support/scripted_channel.h"

namespace korvo {
namespace {

using test_support::Reply;
using test_support::ScriptedChannel;

// A DOWNLOAD_CONSTRAINT element; number 1 has no digit.
std::string Constraint(int number, const std::string& type, const std::string& datatype,
                       const std::string& name, const std::string& op,
                       const std::string& comparison, int index = 0, int strlen = 0) {
  std::string escaped;
  for (char c : op) escaped += c == '<' ? "&lt;" : std::string(1, c);
  return "<DOWNLOAD_CONSTRAINT" + (number > 1 ? std::to_string(number) : "") +
         " communicationName=\"" + name + "\" comparison=\"" + comparison + "\" operator=\"" +
         escaped + "\" type=\"" + type + "\" datatype=\"" + datatype + "\" index=\"" +
         std::to_string(index) + "\" strlen=\"" + std::to_string(strlen) + "\"/>";
}

// Whether the second device of a configuration may be loaded when it holds
// `constraints`.
bool Check(const std::string& constraints, ScriptedChannel& channel) {
  test_support::WriteFile("constraint.xml", "<download_configuration><Header><System2/><Device/>"
                                            "<Device>" + constraints + "</Device></Header><Data>"
                                            "<Device/><Device/></Data></download_configuration>");
  ConfigDocument config;
  EXPECT_EQ(0, SplayCompressor().Compress("constraint.xml", "constraint.cfg"));
  EXPECT_EQ(0, config.Load("constraint.cfg"));
  testing::internal::CaptureStdout();  // the check's debug trace
  const bool go = CheckDownloadConstraints(config, channel, 1);
  testing::internal::GetCapturedStdout();
  config.Unload();
  for (const char* f : {"constraint.xml", "constraint.cfg"}) RemoveFile(f);
  return go;
}

const std::string kTypeAndVersion =
    Constraint(1, "method", "string", "GetType", "=", "LMS[0-9]+") +
    Constraint(3, "variable", "int", "FwVersion", ">=", "20", 1);
const std::string kTypeAndVersionCalls =
    "CallMethod GetType|GetResultString 0 0 flex|ReadVariable FwVersion 2000|GetResultValue 1";
const std::string kBrokenAndFine = Constraint(2, "method", "int", "Broken", "=", "1") +
                                   Constraint(9, "method", "int", "Fine", "=", "1");
const Reply kUnreadable{0, {1}, {}, -1};

struct Case {
  const char* what;
  std::string constraints;
  std::vector<std::pair<const char*, Reply>> script;
  bool go;
  std::string trace;
};

const Case kCases[] = {
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
     Constraint(1, "Variable", "int", "Value", "=", "1"), {{"Value", Reply::Values({1})}}, false,
     ""},
};

TEST(ConstraintCheckTest, Cases) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    ScriptedChannel channel;
    for (const auto& [key, reply] : c.script) channel.Script(key, reply);
    EXPECT_EQ(c.go, Check(c.constraints, channel));
    EXPECT_EQ(c.trace, channel.trace);
  }
}

// The device value stands on the left: "device value op 5".
TEST(ConstraintCheckTest, IntegerOperators) {
  const struct {
    const char* op;
    bool holds[3];  // for the device values 4, 5, 6
  } orders[] = {
      {"=", {false, true, false}}, {"!=", {true, false, true}},   {">=", {false, true, true}},
      {"<=", {true, true, false}}, {">", {false, false, true}},    {"<", {true, false, false}},
      {"==", {false, false, false}},
  };
  for (const auto& o : orders) {
    for (uint32_t v : {4u, 5u, 6u}) {
      ScriptedChannel channel;
      channel.Script("Value", Reply::Values({v}));
      EXPECT_EQ(o.holds[v - 4], Check(Constraint(1, "variable", "int", "Value", o.op, " 5 units"),
                                      channel)) << v << " " << o.op << " 5";
    }
  }
  ScriptedChannel channel;  // signed: -1 < 0
  channel.Script("Value", Reply::Values({0xFFFFFFFFu}));
  EXPECT_TRUE(Check(Constraint(1, "variable", "int", "Value", "<", "0"), channel));
}

}  // namespace
}  // namespace korvo
