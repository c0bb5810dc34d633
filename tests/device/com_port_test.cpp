#include "device/com_port.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "device/serial_pty.h"
#include "support/files.h"

namespace korvo {
namespace {

using testing_pty::PseudoTerminal;
using Clock = std::chrono::steady_clock;

TEST(StringTokenizerTest, SplitsAtEachDelimiter) {
  const struct {
    const char* text;
    std::vector<std::string> tokens;
  } cases[] = {
      {"", {}},
      {"a,b", {"a", "b"}},
      {"a,,b", {"a", "", "b"}},
      {"a,b,", {"a", "b"}},
      {",", {""}},
      {"a;b,c", {"a", "b", "c"}},
  };
  for (const auto& c : cases) {
    StringTokenizer tokens(c.text, ",;");
    std::vector<std::string> got;
    while (tokens.HasMoreTokens()) got.push_back(tokens.NextToken());
    EXPECT_EQ(c.tokens, got) << c.text;
  }
}

TEST(ComPortTest, SettingsTextSetsOnlyTheFieldsItNames) {
  const struct {
    const char* settings;
    const char* name;
    uint32_t baud;
    int bits, parity, stop;
  } cases[] = {
      {"COM3,19200,7,E,2", "COM3", 19200, 7, 2, 2},
      {"COM4,9600,8,0,1", "COM4", 9600, 8, 0, 0},  // "0" is no parity letter
      {"COM5,,x,O,1.5", "COM5", 0, 0, 1, 1},
      {"COM6,57600baud,264,Nope,3", "COM6", 57600, 8, 0, 0},
      {"COM7", "COM7", 9600, 8, 0, 0},
      {"", "COM1", 9600, 8, 0, 0},
      {"COM8,1,2,O,2,x,y,z,v,w,u", "COM8", 1, 2, 1, 2},
  };
  for (const auto& c : cases) {
    SerialPort port("");
    port.SetSettings(c.settings);
    EXPECT_EQ(c.name, port.port_name()) << c.settings;
    EXPECT_EQ(c.baud, port.baud_rate()) << c.settings;
    EXPECT_EQ(c.bits, port.byte_size()) << c.settings;
    EXPECT_EQ(c.parity, port.parity()) << c.settings;
    EXPECT_EQ(c.stop, port.stop_bits()) << c.settings;
  }
}

class OpenComPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.ok());
    port_.SetSettings(pty_.slave_path() + ",9600,8,N,1");
    ASSERT_TRUE(port_.Open());
  }
  void TearDown() override { port_.Close(); }
  std::string Read(uint8_t terminator, int maximum = 64) {
    uint8_t buffer[64];
    int got = port_.ReadBytes(buffer, maximum, terminator);
    return std::string(reinterpret_cast<char*>(buffer), static_cast<size_t>(got));
  }

  static constexpr char kLog[] = "com_port_test.log";
  // Declared before the port, so it goes after the port has closed its log:
  // Windows does not delete a file that is still open.
  struct LogRemover {
    ~LogRemover() { RemoveFile(kLog); }
  } log_remover_;
  PseudoTerminal pty_;
  SerialPort port_{kLog};
};

TEST_F(OpenComPortTest, ReadStopsAtTerminatorDropsZerosAndKeepsTheRest) {
  ASSERT_TRUE(pty_.Write(std::string("\x02" "a\0bc\x03" "de", 8)));
  EXPECT_EQ("\x02" "abc", Read(0x03));
  EXPECT_EQ("de", Read(0x03));
  ASSERT_TRUE(pty_.Write("vwxyz"));
  EXPECT_EQ("vwx", Read(0, 3));  // the byte beyond the maximum stays unread
  EXPECT_EQ("yz", Read(0));
}

TEST_F(OpenComPortTest, ReadWaitsTheFirstByteTimeoutThenAnIntervalPerByte) {
  port_.SetFirstByteTimeout(300);
  auto start = Clock::now();
  EXPECT_EQ("", Read(0));
  auto waited = Clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(290));
  EXPECT_LT(waited, std::chrono::milliseconds(1500));

  // Gaps shorter than 100 ms join one answer; a longer one ends it.
  std::thread device([this] {
    for (const char* piece : {"a", "b", "c"}) {
      pty_.Write(piece);
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    pty_.Write("d");
  });
  EXPECT_EQ("abc", Read(0));
  EXPECT_EQ("d", Read(0));
  device.join();
}

TEST_F(OpenComPortTest, LogHoldsEveryEntryByteForByte) {
  ASSERT_TRUE(port_.WriteTelegram("download standard"));
  EXPECT_FALSE(port_.Write(reinterpret_cast<const uint8_t*>("x"), 0));
  ASSERT_TRUE(pty_.Write(std::string("r\0s\xFFt", 5)));
  EXPECT_EQ("rs", Read(0xFF));
  EXPECT_EQ("\x02" "download standard\x03", pty_.Drain(100));
  port_.SetSettings("");
  std::string expected = "Kommunikation Scanner/KRX Software:\n"
                         "New initialization:\t" + pty_.slave_path() + ",9600,8,N,1\n"
                         ">> \x02" "download standard\x03"
                         "<< rs"
                         "New initialization:\t\n";
  EXPECT_EQ(expected, test_support::ReadFile(kLog));
}

TEST(ComPortTest, AFailingLogIsReportedAndThePortGoesOn) {
  PseudoTerminal pty;
  ::testing::internal::CaptureStdout();
  SerialPort port("/dev/full");
  port.SetSettings(pty.slave_path() + ",9600,8,N,1");
  ASSERT_TRUE(port.Open());
  EXPECT_TRUE(port.WriteTelegram("x"));
  EXPECT_EQ("Error writing to Logfile!\n", ::testing::internal::GetCapturedStdout());
  EXPECT_EQ("\x02x\x03", pty.Drain(100));
}

TEST(ComPortTest, ClosedOrUnopenablePortDoesNothing) {
  SerialPort port("");
  uint8_t buffer[4];
  EXPECT_FALSE(port.WriteTelegram("x"));
  EXPECT_EQ(0, port.ReadBytes(buffer, 4, 0));
  EXPECT_FALSE(port.Purge());
  port.SetSettings("/dev/korvo-no-such-port");
  EXPECT_FALSE(port.Open());
  EXPECT_FALSE(port.is_open());
}

}  // namespace
}  // namespace korvo
