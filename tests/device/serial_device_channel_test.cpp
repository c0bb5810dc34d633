#include "device/serial_device_channel.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "device/even_parity.h"
#include "device/serial_pty.h"
#include "interface/connection_texts.h"

namespace korvo {
namespace {

using testing_pty::PseudoTerminal;
using testing_pty::SimulatedDevice;

constexpr uint32_t kQuickGapMs = 60;

std::string Framed(const std::string& text) { return "\x02" + text + "\x03"; }

class SerialChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.ok());
    saved_port_name_ = SerialPortName();
    saved_flag_ = SerialDeviceChannel::NoProgramFlag();
    SerialDeviceChannel::SetNoProgramFlag(false);
    SerialPortName() = pty_.slave_path();
    channel_ = std::make_unique<SerialDeviceChannel>(&decoder_);
    // Answers come in one piece here; no need to wait a second after each.
    channel_->SetReadTimeouts(kQuickGapMs, 0);
    ASSERT_EQ(0, channel_->Open());
  }
  void TearDown() override {
    channel_.reset();
    SerialPortName() = saved_port_name_;
    SerialDeviceChannel::SetNoProgramFlag(saved_flag_);
  }

  PseudoTerminal pty_;
  SerialAnswerDecoder decoder_;
  std::unique_ptr<SerialDeviceChannel> channel_;
  std::string saved_port_name_;
  bool saved_flag_ = false;
};

TEST_F(SerialChannelTest, MethodCallTelegramAndResultValues) {
  SimulatedDevice device(pty_, {Framed("sAN mSCsoftreset 5 7 ")});
  std::string answer = Framed("sAN mSCsoftreset 5 7 ");
  EXPECT_EQ(static_cast<int>(answer.size()), channel_->CallMethod("mSCsoftreset"));
  ASSERT_EQ(1u, device.telegrams().size());
  EXPECT_EQ("\x02sMN mSCsoftreset\x03", device.telegrams()[0]);

  uint32_t value = 99;
  EXPECT_EQ(0, channel_->GetResultValue(0, &value));
  EXPECT_EQ(5u, value);
  EXPECT_EQ(0, channel_->GetResultValue(1, &value));
  EXPECT_EQ(7u, value);
  // Only two values are there.
  EXPECT_EQ(-1, channel_->GetResultValue(2, &value));
}

TEST_F(SerialChannelTest, VariableReadTelegramAndIdentification) {
  SimulatedDevice device(pty_, {Framed("sRA DeviceIdent 9 LMS511 V1")});
  EXPECT_EQ("LMS511 V1", channel_->ReadDeviceIdent());
  ASSERT_EQ(1u, device.telegrams().size());
  EXPECT_EQ("\x02sRN DeviceIdent\x03", device.telegrams()[0]);
  EXPECT_FALSE(SerialDeviceChannel::NoProgramFlag());
  EXPECT_TRUE(channel_->HasApplication());
}

TEST_F(SerialChannelTest, SetAccessModeSendsLevelAndPasswordVerbatim) {
  SimulatedDevice device(pty_, {Framed("sAN SetAccessMode 01"), Framed("sAN SetAccessMode 00")});
  EXPECT_EQ(0, channel_->SetAccessMode("3", "F4724744"));
  EXPECT_EQ(-1, channel_->SetAccessMode("4", "pass word"));
  ASSERT_EQ(2u, device.telegrams().size());
  EXPECT_EQ("\x02sMN SetAccessMode 3 F4724744\x03", device.telegrams()[0]);
  EXPECT_EQ("\x02sMN SetAccessMode 4 pass word\x03", device.telegrams()[1]);
}

TEST_F(SerialChannelTest, ParametersThatWouldOverfillTheTelegramAreLeftOut) {
  // STX + "sMN SetAccessMode" is 18 bytes; " 1 " + password may take it to 1600.
  std::string fits(1600 - 18 - 3, 'p');
  std::string too_long(fits + "p");
  SimulatedDevice device(pty_, {Framed("sAN SetAccessMode 01"), Framed("sAN SetAccessMode 01")});
  EXPECT_EQ(0, channel_->SetAccessMode("1", fits));
  EXPECT_EQ(0, channel_->SetAccessMode("1", too_long));
  ASSERT_EQ(2u, device.telegrams().size());
  EXPECT_EQ(1601u, device.telegrams()[0].size());
  EXPECT_EQ("\x02sMN SetAccessMode 1 " + fits + "\x03", device.telegrams()[0]);
  EXPECT_EQ("\x02sMN SetAccessMode\x03", device.telegrams()[1]);
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
  std::string answer = std::string(1590, 'x') + "\x02sFA FF79\x03";  // 1600 bytes
  SimulatedDevice device(pty_, {answer});
  EXPECT_EQ(1600, channel_->CallMethod("m"));
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

TEST_F(SerialChannelTest, MismatchedAnswersFail) {
  SimulatedDevice device(pty_, {Framed("sFA 0005"), Framed("sAN other 1 "),
                                Framed("sAN mFDloginfoX 1 "), Framed("sRA mFDloginfo 1 "),
                                Framed("junk sRA DeviceIdent 1 A"), Framed("sAN DeviceIdent 1 A"),
                                "sAN mFDloginfo 1 \x03"});
  EXPECT_EQ(-1, channel_->CallMethod("mFDloginfo"));      // other error code
  EXPECT_EQ(-1, channel_->CallMethod("mFDloginfo"));      // other name
  EXPECT_EQ(-1, channel_->CallMethod("mFDloginfo"));      // longer name
  EXPECT_EQ(-1, channel_->CallMethod("mFDloginfo"));      // wrong kind
  EXPECT_EQ(-1, channel_->ReadVariable("DeviceIdent", 0));  // text before sRA
  EXPECT_EQ(-1, channel_->ReadVariable("DeviceIdent", 0));  // wrong kind
  EXPECT_EQ(-1, channel_->CallMethod("mFDloginfo"));      // no STX
  uint32_t value = 1;
  EXPECT_EQ(-1, channel_->GetResultValue(0, &value));
  EXPECT_EQ(0u, value);
  std::string text = "old";
  EXPECT_EQ(-1, channel_->GetResultString(0, text, true, 0));
  EXPECT_EQ("", text);
}

TEST_F(SerialChannelTest, MethodAnswerMayCarryTextBeforeItsKind) {
  SimulatedDevice device(pty_, {Framed("12 sAN mFDloginfo 2A ")});
  EXPECT_GT(channel_->CallMethod("mFDloginfo"), 0);
  uint32_t value = 0;
  EXPECT_EQ(0, channel_->GetResultValue(0, &value));
  EXPECT_EQ(0x2Au, value);
}

TEST_F(SerialChannelTest, ResultValueEdgeCases) {
  SimulatedDevice device(pty_, {Framed("sAN m 5 7"), Framed("sAN m 0 "), Framed("sAN m zz "),
                                Framed("sAN m"), Framed("sAN m 3")});
  uint32_t value = 0;
  ASSERT_GT(channel_->CallMethod("m"), 0);
  EXPECT_EQ(-1, channel_->GetResultValue(1, &value));  // 7 ends the text
  EXPECT_EQ(7u, value);
  ASSERT_GT(channel_->CallMethod("m"), 0);
  EXPECT_EQ(-1, channel_->GetResultValue(0, &value));  // 0 reads as nothing
  EXPECT_EQ(0u, value);
  ASSERT_GT(channel_->CallMethod("m"), 0);
  EXPECT_EQ(-1, channel_->GetResultValue(0, &value));  // not hexadecimal
  ASSERT_GT(channel_->CallMethod("m"), 0);
  EXPECT_EQ(-1, channel_->GetResultValue(0, &value));  // no values at all
  ASSERT_GT(channel_->CallMethod("m"), 0);
  EXPECT_EQ(-1, channel_->GetResultValue(0, &value));  // no blank after it
  EXPECT_EQ(3u, value);
  EXPECT_EQ(-1, channel_->GetResultValue(0, nullptr));
}

TEST_F(SerialChannelTest, ResultStringEdgeCases) {
  SimulatedDevice device(pty_, {Framed("sRA Name 3 abc"), Framed("sRA Name 3 a c 2 xy"),
                                Framed("sRA Name 9 abc"), Framed("sRA Name 0 ")});
  std::string text;
  ASSERT_GT(channel_->ReadVariable("Name", 0), 0);
  EXPECT_EQ(0, channel_->GetResultString(0, text, true, 0));
  EXPECT_EQ("abc", text);
  EXPECT_EQ(-1, channel_->GetResultString(0, text, false, 3));
  EXPECT_EQ("", text);
  EXPECT_EQ(-1, channel_->GetResultString(1, text, true, 0));

  ASSERT_GT(channel_->ReadVariable("Name", 0), 0);
  EXPECT_EQ(0, channel_->GetResultString(1, text, true, 0));  // first string holds a blank
  EXPECT_EQ("xy", text);
  EXPECT_EQ(0, channel_->GetResultString(0, text, true, 0));
  EXPECT_EQ("a c", text);

  ASSERT_GT(channel_->ReadVariable("Name", 0), 0);
  EXPECT_EQ(-1, channel_->GetResultString(0, text, true, 0));  // longer than the answer
  ASSERT_GT(channel_->ReadVariable("Name", 0), 0);
  EXPECT_EQ(-1, channel_->GetResultString(0, text, true, 0));  // empty count
}

TEST_F(SerialChannelTest, FullAnswerEndsTheReadAt1600Bytes) {
  std::string answer = Framed("sAN m 5 ") + std::string(1700, 'z');
  SimulatedDevice device(pty_, {answer});
  EXPECT_EQ(1600, channel_->CallMethod("m"));
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
  channel_ = std::make_unique<SerialDeviceChannel>(&decoder_);  // the line's own time-outs
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

TEST_F(SerialChannelTest, CloseForgetsThePortAndAllowsReopening) {
  EXPECT_EQ(-1, channel_->Open());  // open already
  EXPECT_NE(0, channel_->Close());
  EXPECT_FALSE(channel_->is_open());
  EXPECT_EQ(0, channel_->Close());
  EXPECT_EQ(-1, channel_->CallMethod("m"));
  EXPECT_EQ(-1, channel_->ReadVariable("v", 0));
  EXPECT_EQ(-1, channel_->SetAccessMode("1", "x"));
  EXPECT_EQ("", channel_->ReadDeviceIdent());
  EXPECT_EQ("", pty_.Drain(20));
  ASSERT_EQ(0, channel_->Open());
  SimulatedDevice device(pty_, {Framed("sAN m 1 ")});
  EXPECT_GT(channel_->CallMethod("m"), 0);
}

TEST_F(SerialChannelTest, SecondChannelCannotOpenABusyPort) {
  SerialDeviceChannel other(&decoder_);
  EXPECT_EQ(-1, other.Open());
  channel_->Close();
  EXPECT_EQ(0, other.Open());
}

TEST(SerialChannelPortTest, OpenOnMissingOrEmptyPortFails) {
  std::string saved = SerialPortName();
  SerialPortName() = "/dev/korvo-no-such-port";
  SerialDeviceChannel missing(nullptr);
  EXPECT_EQ("/dev/korvo-no-such-port", missing.port_name());
  EXPECT_EQ(-1, missing.Open());
  EXPECT_EQ(-1, missing.CallMethod("m"));
  EXPECT_EQ(0, missing.Close());
  SerialPortName() = "";
  SerialDeviceChannel empty(nullptr);
  EXPECT_EQ(-1, empty.Open());
  SerialPortName() = saved;
}

TEST(SerialChannelStubTest, DownloadOperationsReportSuccessWithoutAPort) {
  SerialDeviceChannel channel(nullptr);
  int result = -1;
  EXPECT_EQ(0, channel.StartSecondLoader(1, &result));
  EXPECT_EQ(0, result);
  result = -1;
  EXPECT_EQ(0, channel.ProgramConfigData(1, 2, "NAME", "VALUE", &result));
  EXPECT_EQ(-1, result);  // left untouched
  const uint8_t bytes[2] = {1, 2};
  EXPECT_EQ(0, channel.ProgramData(1, 2, 2, bytes, &result));
  EXPECT_EQ(-1, result);
  for (auto call : {+[](SerialDeviceChannel& c, int* r) { return c.ExecuteDeviceDownload(1, 2, r); },
                    +[](SerialDeviceChannel& c, int* r) { return c.GetDownloadStatus(1, 2, r); },
                    +[](SerialDeviceChannel& c, int* r) { return c.AbortDeviceDownload(1, 2, r); },
                    +[](SerialDeviceChannel& c, int* r) { return c.FinishDeviceDownload(1, 2, r); },
                    +[](SerialDeviceChannel& c, int* r) { return c.WriteDeviceLog(1, "x", r); },
                    +[](SerialDeviceChannel& c, int* r) { return c.SoftReset(r); },
                    +[](SerialDeviceChannel& c, int* r) { return c.EndDeviceLog(1, r); },
                    +[](SerialDeviceChannel& c, int* r) { return c.EraseDeviceLog(1, r); },
                    +[](SerialDeviceChannel& c, int* r) { return c.GetDeviceLogInfo(r); }}) {
    result = -1;
    EXPECT_EQ(0, call(channel, &result));
    EXPECT_EQ(0, result);
  }
  EXPECT_EQ(0, channel.ReceiveAnswer("AN", "m", new uint8_t[4], 4));
}

}  // namespace
}  // namespace korvo
