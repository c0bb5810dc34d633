#include "download/constraint_check.h"

#include <gtest/gtest.h>

#include <string>

#include "config/config_document.h"
#include "config/splay_compressor.h"
#include "platform/system.h"
#include "support/files.h"
#include "support/scripted_channel.h"

namespace korvo {
namespace {

using test_support::Reply;
using test_support::ScriptedChannel;

const char kPlain[] = "constraint_check_test.xml";
const char kPacked[] = "constraint_check_test.cfg";

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
  return out;
}

// A DOWNLOAD_CONSTRAINT element; number 1 has no digit.
std::string Constraint(int number, const std::string& type, const std::string& datatype,
                       const std::string& name, const std::string& op,
                       const std::string& comparison, int index = 0, int strlen = 0) {
  std::string element = "DOWNLOAD_CONSTRAINT";
  if (number > 1) element += std::to_string(number);
  return "<" + element + " communicationName=\"" + name + "\" comparison=\"" + comparison +
         "\" operator=\"" + Escaped(op) + "\" type=\"" + type + "\" datatype=\"" + datatype +
         "\" index=\"" + std::to_string(index) + "\" strlen=\"" + std::to_string(strlen) +
         "\"/>";
}

class ConstraintCheckTest : public testing::Test {
 protected:
  void TearDown() override {
    if (config_.IsLoaded()) config_.Unload();
    RemoveFile(kPacked);
  }

  // Loads a configuration whose devices carry the given constraint elements.
  void Load(const std::string& device0, const std::string& device1 = "") {
    const std::string xml =
        "<?xml version=\"1.0\"?><download_configuration><Header><System2/>"
        "<Device>" + device0 + "</Device><Device>" + device1 +
        "</Device></Header><Data><Device/><Device/></Data></download_configuration>";
    if (config_.IsLoaded()) config_.Unload();
    test_support::WriteFile(kPlain, xml);
    SplayCompressor compressor;
    ASSERT_EQ(0, compressor.Compress(kPlain, kPacked));
    RemoveFile(kPlain);
    ASSERT_EQ(0, config_.Load(kPacked));
  }

  bool Check(int device = 0) {
    testing::internal::CaptureStdout();  // the check's debug trace
    const bool ok = CheckDownloadConstraints(config_, channel_, device);
    testing::internal::GetCapturedStdout();
    return ok;
  }

  ConfigDocument config_;
  ScriptedChannel channel_;
};

TEST_F(ConstraintCheckTest, NoConstraintsMeansGo) {
  Load("<Name>x</Name>");
  EXPECT_TRUE(Check());
  EXPECT_TRUE(channel_.calls().empty());
}

TEST_F(ConstraintCheckTest, GapsAreSkippedAndEveryPresentConstraintMustHold) {
  Load(Constraint(1, "method", "string", "GetType", "=", "LMS[0-9]+") +
       Constraint(3, "variable", "int", "FwVersion", ">=", "20", 1));
  channel_.Script("GetType", Reply::Texts({"LMS511"}));
  channel_.Script("FwVersion", {Reply::Values({0, 25}), Reply::Values({0, 19})});
  EXPECT_TRUE(Check());

  ASSERT_EQ(1, channel_.CountOf("CallMethod"));
  EXPECT_EQ("GetType", channel_.CallsOf("CallMethod")[0].name);
  const auto strings = channel_.CallsOf("GetResultString");
  ASSERT_EQ(1u, strings.size());
  EXPECT_TRUE(strings[0].flex);
  EXPECT_EQ(0, strings[0].numbers[0]);
  const auto reads = channel_.CallsOf("ReadVariable");
  ASSERT_EQ(1u, reads.size());
  EXPECT_EQ("FwVersion", reads[0].name);
  EXPECT_EQ(2000, reads[0].numbers[0]);
  ASSERT_EQ(1, channel_.CountOf("GetResultValue"));
  EXPECT_EQ(1, channel_.CallsOf("GetResultValue")[0].numbers[0]);

  // One failing constraint stops the download.
  EXPECT_FALSE(Check());
}

TEST_F(ConstraintCheckTest, FailedDeviceCallCountsAsNotMatchedAndCheckGoesOn) {
  Load(Constraint(2, "method", "int", "Broken", "=", "1") +
       Constraint(9, "method", "int", "Fine", "=", "1"));
  channel_.Script("Broken", Reply::Fail());
  channel_.Script("Fine", Reply::Values({1}));
  EXPECT_FALSE(Check());
  EXPECT_EQ(2, channel_.CountOf("CallMethod"));
  EXPECT_EQ(1, channel_.CountOf("GetResultValue"));  // none after the failed call

  // A failed read of the value counts the same way.
  channel_ = ScriptedChannel();
  Reply unreadable = Reply::Values({1});
  unreadable.read_status = -1;
  channel_.Script("Broken", unreadable);
  channel_.Script("Fine", Reply::Values({1}));
  EXPECT_FALSE(Check());
  EXPECT_EQ(2, channel_.CountOf("GetResultValue"));
}

TEST_F(ConstraintCheckTest, IntegerOperatorsPutTheDeviceValueOnTheLeft) {
  struct Case {
    const char* op;
    const char* comparison;
    uint32_t value;
    bool holds;
  };
  const Case cases[] = {
      {"=", "5", 5, true},   {"=", "5", 6, false},  {"!=", "5", 6, true},  {"!=", "5", 5, false},
      {">", "5", 3, false},  {"<", "5", 3, true},   {">=", "5", 5, true},  {"<=", "4", 5, false},
      {"<", "0", 0xFFFFFFFFu, true},  // signed: -1 < 0
      {"==", "5", 5, false}, {"=", " 5 units", 5, true},
  };
  for (const Case& c : cases) {
    Load(Constraint(1, "variable", "int", "Value", c.op, c.comparison));
    channel_ = ScriptedChannel();
    channel_.Script("Value", Reply::Values({c.value}));
    EXPECT_EQ(c.holds, Check()) << c.value << " " << c.op << " " << c.comparison;
  }
}

TEST_F(ConstraintCheckTest, StringsOnlyKnowEquality) {
  Load(Constraint(1, "method", "string", "GetType", "!=", "LMS100"));
  channel_.Script("GetType", Reply::Texts({"TIM310"}));
  EXPECT_FALSE(Check());  // "!=" never holds for strings
  channel_ = ScriptedChannel();

  // A fixed length asks for a non-flex string; the text counts up to its
  // first zero byte.
  Load(Constraint(1, "method", "string", "GetType", "=", "AB", 2, 8));
  channel_.Script("GetType", Reply::Texts({"x", "y", std::string("AB\0CD", 5)}));
  EXPECT_TRUE(Check());
  const auto strings = channel_.CallsOf("GetResultString");
  ASSERT_EQ(1u, strings.size());
  EXPECT_FALSE(strings[0].flex);
  EXPECT_EQ(2, strings[0].numbers[0]);
  EXPECT_EQ(8, strings[0].numbers[1]);
}

TEST_F(ConstraintCheckTest, UnknownTypeWordCountsAsPresentAndFails) {
  Load("", Constraint(1, "Variable", "int", "Value", "=", "1"));
  channel_.Script("Value", Reply::Values({1}));
  EXPECT_FALSE(Check(1));
  EXPECT_EQ(0, channel_.CountOf("ReadVariable"));
  EXPECT_EQ(0, channel_.CountOf("CallMethod"));
}

}  // namespace
}  // namespace korvo
