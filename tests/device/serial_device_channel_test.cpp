#include "device/serial_device_channel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/channel_result.h"
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
    SerialDeviceChannel::SetNoProgramFlag(false);
    // Answers come in one piece here; no need to wait a second after each.
    channel_.SetReadTimeouts(60, 0);
    ASSERT_EQ(0, channel_.Open());
  }
  void TearDown() override { SerialDeviceChannel::SetNoProgramFlag(false); }

  // Sends method "m" (or reads variable "Name") to a device answering `reply`.
  int Ask(const std::string& reply, bool variable = false) {
    SimulatedDevice device(pty_, {reply});
    return variable ? channel_.ReadVariable("Name", 0) : channel_.CallMethod("m");
  }

  std::string Result(int index) { return testing_channel::ResultAt(channel_, index); }

  PseudoTerminal pty_;
  SerialAnswerDecoder decoder_;
  SerialDeviceChannel channel_{&decoder_, pty_.slave_path()};
};

// Identification and a granted login are pinned through the JVM.
TEST_F(SerialChannelTest, TelegramsAreFramedAndLoginLeavesOutWhatWouldOverfill) {
  // STX + "sMN SetAccessMode" is 18 bytes; " 1 " + password may take it to 1600.
  const std::string fits(1600 - 18 - 3, 'p');
  const std::string answer = Framed("sAN mSCsoftreset 5 7 ");
  SimulatedDevice device(pty_, {answer, Framed("sAN SetAccessMode 00"),
                                Framed("sAN SetAccessMode 01"), Framed("sAN SetAccessMode 01")});
  EXPECT_EQ(static_cast<int>(answer.size()), channel_.CallMethod("mSCsoftreset"));
  EXPECT_EQ(-1, channel_.SetAccessMode("4", "pass word"));
  EXPECT_EQ(0, channel_.SetAccessMode("1", fits));
  EXPECT_EQ(0, channel_.SetAccessMode("1", fits + "p"));
  const std::vector<std::string> sent = {"\x02sMN mSCsoftreset\x03",
                                         "\x02sMN SetAccessMode 4 pass word\x03",
                                         "\x02sMN SetAccessMode 1 " + fits + "\x03",
                                         "\x02sMN SetAccessMode\x03"};
  EXPECT_EQ(sent, device.telegrams());
}

TEST_F(SerialChannelTest, NoProgramAnswersBecomeResultText) {
  std::string parity_form = "boot: " + AddEvenParity(std::string("No\xA0Program")) + "\r\n";
  SimulatedDevice device(pty_, {Framed("sFA FF79"), Framed("sFA FF79"), "boot: No Program\r\n",
                                parity_form, "Program No\r\n"});
  EXPECT_GT(channel_.CallMethod("mFDexedwnld"), 0);
  EXPECT_EQ("0 0 0 No Program", Result(0));
  EXPECT_EQ("No Program", channel_.ReadDeviceIdent());
  EXPECT_FALSE(channel_.HasApplication());
  // Without STX, as plain text or at 7 data bits with even parity.
  SerialDeviceChannel::SetNoProgramFlag(false);
  EXPECT_EQ("No Program", channel_.ReadDeviceIdent());
  EXPECT_TRUE(SerialDeviceChannel::NoProgramFlag());
  EXPECT_GT(channel_.CallMethod("m"), 0);
  EXPECT_EQ("0 0 0 No Program", Result(0));
  EXPECT_EQ(-1, channel_.CallMethod("m"));
}

TEST_F(SerialChannelTest, AFullAnswerEndsTheReadAt1600Bytes) {
  EXPECT_EQ(1600, Ask(Framed("sAN m 5 ") + std::string(1700, 'z')));
  EXPECT_EQ("0 5 0 \x03zzzz", Result(0));
  // The boot code's error in the last bytes of a full answer still counts.
  EXPECT_EQ(1600, Ask(std::string(1590, 'x') + Framed("sFA FF79")));
  EXPECT_EQ("0 0 0 No Program", Result(0));
}

TEST_F(SerialChannelTest, MismatchedAnswersFailAndLeaveNoResults) {
  const std::pair<std::string, bool> rows[] = {
      {Framed("sFA 0005"), false},         {Framed("sAN other 1 "), false},
      {Framed("sAN mX 1 "), false},        {Framed("sRA m 1 "), false},
      {Framed("junk sRA Name 1 A"), true}, {Framed("sAN Name 1 A"), true},
      {"sAN m 1 \x03", false}};  // no STX
  for (const auto& [reply, variable] : rows) {
    EXPECT_EQ(-1, Ask(reply, variable)) << reply;
    EXPECT_EQ(-1, channel_.TakeAnswer(variable ? "sRN" : "sMN", variable ? "Name" : "m",
                                      reply.data(), reply.size()))
        << reply << " from memory";
  }
  EXPECT_EQ("-1 0 -1 ", Result(0));
  EXPECT_EQ(-1, channel_.TakeAnswer("sMN", "m", "", 0));
  EXPECT_EQ(DeviceAnswer::Kind::kSilent, channel_.LastAnswer().kind);
}

TEST_F(SerialChannelTest, ResultValuesAndStrings) {
  const struct { const char* answer; int index; const char* result; } rows[] = {
      {"sAN m 5 7 ", 0, "0 5 -1 "},    {"sAN m 5 7 ", 1, "0 7 -1 "}, {"sAN m 5 7 ", 2, "-1 0 -1 "},
      {"12 sAN m 2A ", 0, "0 2A -1 "}, {"sAN m 5 7", 1, "-1 7 -1 "}, {"sAN m 0 ", 0, "-1 0 -1 "},
      {"sAN m", 0, "-1 0 -1 "}, {"sAN m 3", 0, "-1 3 -1 "}, {"sAN m 3 abc", 0, "0 3 0 abc"},
      {"sAN m 3 abc", 1, "-1 ABC -1 "}, {"sAN m 9 abc", 0, "0 9 -1 "},  // longer than the answer
      {"sAN m 3 a c 2 xy", 0, "0 3 0 a c"}, {"sAN m 3 a c 2 xy", 1, "0 A 0 xy"},  // blank inside
  };
  for (const auto& row : rows) {
    const std::string framed = Framed(row.answer);
    const int got = Ask(framed);
    ASSERT_GT(got, 0);
    EXPECT_EQ(row.result, Result(row.index)) << row.answer << " #" << row.index;
    // Fed from memory, the same answer reads alike.
    EXPECT_EQ(got, channel_.TakeAnswer("sMN", "m", framed.data(), framed.size()));
    EXPECT_EQ(row.result, Result(row.index)) << row.answer << " #" << row.index << " from memory";
  }
  EXPECT_EQ(-1, channel_.GetResultValue(0, nullptr));
  std::string text;
  EXPECT_EQ(-1, channel_.GetResultString(0, text, false, 3)) << "fixed-length strings";
}

TEST_F(SerialChannelTest, OverlongNameIsRefusedWithoutSendingAndSilenceFails) {
  EXPECT_EQ(-1, channel_.CallMethod(std::string(SerialDeviceChannel::kMaxNameLength + 1, 'n')));
  EXPECT_EQ("", pty_.Drain(50));
  channel_.SetReadTimeouts(0, 100);  // zero: the line's own interval
  EXPECT_EQ(-1, channel_.CallMethod("m"));
}

// No program data travel on this line: a download that tried would
// otherwise report data as taken that never left.
TEST_F(SerialChannelTest, ProgramDataFailAndTheLastAnswerIsKept) {
  const uint8_t data[2] = {1, 2};
  int results[3] = {0, 0, 0};
  EXPECT_EQ(-1, channel_.ProgramData(1, 1, 2, data, &results[0]));
  EXPECT_EQ(-1, channel_.ExecuteDeviceDownload(1, 1, &results[1]));
  EXPECT_EQ(-1, channel_.GetDownloadStatus(1, 1, &results[2]));
  EXPECT_EQ((std::vector<int>{-1, -1, -1}), std::vector<int>(results, results + 3));
  EXPECT_EQ("", pty_.Drain(20)) << "nothing was sent";

  using Kind = DeviceAnswer::Kind;
  const struct { std::string reply; Kind kind; uint32_t code; } rows[] = {
              {Framed("sFA 1A"), Kind::kError, 0x1A},
              {Framed("sAN m 1 "), Kind::kAnswered, 0},
              {Framed("sFA FF79"), Kind::kAnswered, 0},  // "No Program" is an answer
              {"", Kind::kSilent, 0}};
  channel_.SetReadTimeouts(0, 100);
  for (const auto& row : rows) {
    Ask(row.reply);
    DeviceAnswer answer = channel_.LastAnswer();
    EXPECT_EQ("m", answer.command) << row.reply;
    EXPECT_EQ(row.kind, answer.kind) << row.reply;
    EXPECT_EQ(row.code, answer.code) << row.reply;
    if (row.kind == Kind::kSilent) {
      EXPECT_GE(answer.waited_ms, 80u);  // Windows' tick is about 16 ms
    }
  }
}

TEST_F(SerialChannelTest, ABusyPortIsRefusedAndCloseAllowsReopening) {
  EXPECT_EQ(-1, channel_.Open());  // open already
  SerialDeviceChannel other(&decoder_, pty_.slave_path());
  EXPECT_EQ(-1, other.Open());
  EXPECT_NE(0, channel_.Close());
  EXPECT_FALSE(channel_.is_open());
  EXPECT_EQ(0, channel_.Close());
  EXPECT_EQ(-1, channel_.CallMethod("m"));
  EXPECT_EQ(-1, channel_.SetAccessMode("1", "x"));
  EXPECT_EQ("", channel_.ReadDeviceIdent());
  EXPECT_EQ(0, other.Open());
  other.Close();
  ASSERT_EQ(0, channel_.Open());
  EXPECT_GT(Ask(Framed("sAN m 1 ")), 0);
}

}  // namespace
}  // namespace korvo
