#include "device/serial_device_channel.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/even_parity.h"
#include "device/serial_pty.h"

namespace korvo {
namespace {

using testing_pty::PseudoTerminal;
using testing_pty::SimulatedDevice;

std::string Framed(const std::string& text) { return "\x02" + text + "\x03"; }

class SerialChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.ok());
    saved_flag_ = SerialDeviceChannel::NoProgramFlag();
    SerialDeviceChannel::SetNoProgramFlag(false);
    channel_ = std::make_unique<SerialDeviceChannel>(&decoder_, pty_.slave_path());
    // Answers come in one piece here; no need to wait a second after each.
    channel_->SetReadTimeouts(60, 0);
    ASSERT_EQ(0, channel_->Open());
  }
  void TearDown() override {
    channel_.reset();
    SerialDeviceChannel::SetNoProgramFlag(saved_flag_);
  }

  // Sends method "m" (or reads variable "Name") to a device answering `reply`.
  int Ask(const std::string& reply, bool variable = false) {
    SimulatedDevice device(pty_, {reply});
    return variable ? channel_->ReadVariable("Name", 0) : channel_->CallMethod("m");
  }

  PseudoTerminal pty_;
  SerialAnswerDecoder decoder_;
  std::unique_ptr<SerialDeviceChannel> channel_;
  bool saved_flag_ = false;
};

TEST_F(SerialChannelTest, TelegramsAreFramedAndCallsReturnTheAnswerLength) {
  std::string answer = Framed("sAN mSCsoftreset 5 7 ");
  SimulatedDevice device(pty_, {answer, Framed("sRA DeviceIdent 9 LMS511 V1")});
  EXPECT_EQ(static_cast<int>(answer.size()), channel_->CallMethod("mSCsoftreset"));
  EXPECT_EQ("LMS511 V1", channel_->ReadDeviceIdent());
  ASSERT_EQ(2u, device.telegrams().size());
  EXPECT_EQ("\x02sMN mSCsoftreset\x03", device.telegrams()[0]);
  EXPECT_EQ("\x02sRN DeviceIdent\x03", device.telegrams()[1]);
  EXPECT_FALSE(SerialDeviceChannel::NoProgramFlag());
  EXPECT_TRUE(channel_->HasApplication());
}

TEST_F(SerialChannelTest, LoginSendsLevelAndPasswordVerbatimAndLeavesOutWhatWouldOverfill) {
  // STX + "sMN SetAccessMode" is 18 bytes; " 1 " + password may take it to 1600.
  std::string fits(1600 - 18 - 3, 'p');
  SimulatedDevice device(pty_, {Framed("sAN SetAccessMode 01"), Framed("sAN SetAccessMode 00"),
                                Framed("sAN SetAccessMode 01"), Framed("sAN SetAccessMode 01")});
  EXPECT_EQ(0, channel_->SetAccessMode("3", "F4724744"));
  EXPECT_EQ(-1, channel_->SetAccessMode("4", "pass word"));
  EXPECT_EQ(0, channel_->SetAccessMode("1", fits));
  EXPECT_EQ(0, channel_->SetAccessMode("1", fits + "p"));
  ASSERT_EQ(4u, device.telegrams().size());
  EXPECT_EQ("\x02sMN SetAccessMode 3 F4724744\x03", device.telegrams()[0]);
  EXPECT_EQ("\x02sMN SetAccessMode 4 pass word\x03", device.telegrams()[1]);
  EXPECT_EQ(1601u, device.telegrams()[2].size());
  EXPECT_EQ("\x02sMN SetAccessMode 1 " + fits + "\x03", device.telegrams()[2]);
  EXPECT_EQ("\x02sMN SetAccessMode\x03", device.telegrams()[3]);
}

TEST_F(SerialChannelTest, NoProgramErrorAnswerBecomesResultText) {
  SimulatedDevice device(pty_, {Framed("sFA FF79"), Framed("sFA FF79")});
  EXPECT_GT(channel_->CallMethod("mFDexedwnld"), 0);
  uint32_t value = 1;
  EXPECT_EQ(0, channel_->GetResultValue(0, &value));
  EXPECT_EQ(0u, value);
  std::string text;
  EXPECT_EQ(0, channel_->GetResultString(0, text, true, 0));
  EXPECT_EQ("No Program", text);

  EXPECT_EQ("No Program", channel_->ReadDeviceIdent());
  EXPECT_TRUE(SerialDeviceChannel::NoProgramFlag());
  EXPECT_FALSE(channel_->HasApplication());
}

TEST_F(SerialChannelTest, NoProgramErrorAtTheEndOfAFullAnswerStaysInTheBuffer) {
  EXPECT_EQ(1600, Ask(std::string(1590, 'x') + "\x02sFA FF79\x03"));  // 1600 bytes
  std::string text;
  EXPECT_EQ(0, channel_->GetResultString(0, text, true, 0));
  EXPECT_EQ("No Program", text);
}

TEST_F(SerialChannelTest, NoProgramWithoutStxInBothForms) {
  std::string parity_form = "boot: " + AddEvenParity(std::string("No\xA0Program")) + "\r\n";
  SimulatedDevice device(pty_, {"boot: No Program\r\n", parity_form, "Program No\r\n"});
  EXPECT_EQ("No Program", channel_->ReadDeviceIdent());
  EXPECT_TRUE(SerialDeviceChannel::NoProgramFlag());
  uint32_t value = 1;
  EXPECT_GT(channel_->CallMethod("m"), 0);
  EXPECT_EQ(0, channel_->GetResultValue(0, &value));
  EXPECT_EQ(0u, value);
  EXPECT_EQ(-1, channel_->CallMethod("m"));
}

TEST_F(SerialChannelTest, MismatchedAnswersFailAndLeaveNoResults) {
  const std::vector<std::pair<std::string, bool>> rows = {
      {Framed("sFA 0005"), false},       {Framed("sAN other 1 "), false},
      {Framed("sAN mX 1 "), false},      {Framed("sRA m 1 "), false},
      {Framed("junk sRA Name 1 A"), true}, {Framed("sAN Name 1 A"), true},
      {"sAN m 1 \x03", false}};  // no STX
  for (const auto& [reply, variable] : rows) EXPECT_EQ(-1, Ask(reply, variable)) << reply;
  uint32_t value = 1;
  EXPECT_EQ(-1, channel_->GetResultValue(0, &value));
  EXPECT_EQ(0u, value);
  std::string text = "old";
  EXPECT_EQ(-1, channel_->GetResultString(0, text, true, 0));
  EXPECT_EQ("", text);
}

TEST_F(SerialChannelTest, ResultValues) {
  struct Row {
    const char* answer;
    int index, status;
    std::optional<uint32_t> value;
  };
  for (const Row& row : std::vector<Row>{
           {"sAN m 5 7 ", 0, 0, 5}, {"sAN m 5 7 ", 1, 0, 7}, {"sAN m 5 7 ", 2, -1, std::nullopt},
           {"12 sAN m 2A ", 0, 0, 0x2A},  // text before the kind
           {"sAN m 5 7", 1, -1, 7},       // 7 ends the text
           {"sAN m 0 ", 0, -1, 0},        // 0 reads as nothing
           {"sAN m zz ", 0, -1, std::nullopt}, {"sAN m", 0, -1, std::nullopt},
           {"sAN m 3", 0, -1, 3}}) {  // no blank after it
    SCOPED_TRACE(std::string(row.answer) + " #" + std::to_string(row.index));
    ASSERT_GT(Ask(Framed(row.answer)), 0);
    uint32_t value = 99;
    EXPECT_EQ(row.status, channel_->GetResultValue(row.index, &value));
    if (row.value) {
      EXPECT_EQ(*row.value, value);
    }
  }
  EXPECT_EQ(-1, channel_->GetResultValue(0, nullptr));
}

TEST_F(SerialChannelTest, ResultStrings) {
  struct Row {
    const char* answer;
    int index;
    bool flex;
    int fixed, status;
    const char* text;  // null: not looked at
  };
  for (const Row& row : std::vector<Row>{
           {"sRA Name 3 abc", 0, true, 0, 0, "abc"}, {"sRA Name 3 abc", 0, false, 3, -1, ""},
           {"sRA Name 3 abc", 1, true, 0, -1, nullptr},
           {"sRA Name 3 a c 2 xy", 1, true, 0, 0, "xy"},  // first string holds a blank
           {"sRA Name 3 a c 2 xy", 0, true, 0, 0, "a c"},
           {"sRA Name 9 abc", 0, true, 0, -1, nullptr},  // longer than the answer
           {"sRA Name 0 ", 0, true, 0, -1, nullptr}}) {
    SCOPED_TRACE(std::string(row.answer) + " #" + std::to_string(row.index));
    ASSERT_GT(Ask(Framed(row.answer), true), 0);
    std::string text = "old";
    EXPECT_EQ(row.status, channel_->GetResultString(row.index, text, row.flex, row.fixed));
    if (row.text) {
      EXPECT_EQ(row.text, text);
    }
  }
}

TEST_F(SerialChannelTest, FullAnswerEndsTheReadAt1600Bytes) {
  EXPECT_EQ(1600, Ask(Framed("sAN m 5 ") + std::string(1700, 'z')));
  uint32_t value = 0;
  EXPECT_EQ(0, channel_->GetResultValue(0, &value));
  EXPECT_EQ(5u, value);
}

TEST_F(SerialChannelTest, OverlongNameIsRefusedWithoutSending) {
  EXPECT_EQ(-1, channel_->CallMethod(std::string(SerialDeviceChannel::kMaxNameLength + 1, 'n')));
  EXPECT_EQ("", pty_.Drain(50));
}

TEST_F(SerialChannelTest, ByteThenSilenceEndsAfterTheIntervalAndSilenceAfterTheTotal) {
  channel_.reset();
  channel_ = std::make_unique<SerialDeviceChannel>(&decoder_, pty_.slave_path());  // the line's own time-outs
  ASSERT_EQ(0, channel_->Open());
  SimulatedDevice device(pty_, {"s", ""});
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(-1, channel_->CallMethod("m"));
  auto one_byte = std::chrono::steady_clock::now() - start;
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(-1, channel_->CallMethod("m"));
  auto silent = std::chrono::steady_clock::now() - start;
  using std::chrono::milliseconds;
  EXPECT_GE(one_byte, milliseconds(900));
  EXPECT_LT(one_byte, milliseconds(1800));
  EXPECT_GE(silent, milliseconds(1900));
  EXPECT_LT(silent, milliseconds(3500));
}

TEST_F(SerialChannelTest, ABusyPortIsRefusedAndCloseAllowsReopening) {
  EXPECT_EQ(-1, channel_->Open());  // open already
  SerialDeviceChannel other(&decoder_, pty_.slave_path());
  EXPECT_EQ(-1, other.Open());
  EXPECT_NE(0, channel_->Close());
  EXPECT_FALSE(channel_->is_open());
  EXPECT_EQ(0, channel_->Close());
  EXPECT_EQ(-1, channel_->CallMethod("m"));
  EXPECT_EQ(-1, channel_->ReadVariable("v", 0));
  EXPECT_EQ(-1, channel_->SetAccessMode("1", "x"));
  EXPECT_EQ("", channel_->ReadDeviceIdent());
  EXPECT_EQ("", pty_.Drain(20));
  EXPECT_EQ(0, other.Open());
  other.Close();
  ASSERT_EQ(0, channel_->Open());
  EXPECT_GT(Ask(Framed("sAN m 1 ")), 0);
}

TEST(SerialChannelPortTest, OpenOnMissingOrEmptyPortFails) {
  for (const char* name : {"/dev/korvo-no-such-port", ""}) {
    SerialDeviceChannel missing(nullptr, name);
    EXPECT_EQ(-1, missing.Open()) << name;
    EXPECT_EQ(-1, missing.CallMethod("m"));
    EXPECT_EQ(0, missing.Close());
  }
}

}  // namespace
}  // namespace korvo
