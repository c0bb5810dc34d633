#include "platform/serial_port.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "device/serial_pty.h"

namespace korvo {
namespace {

using testing_pty::PseudoTerminal;
using Clock = std::chrono::steady_clock;

long ElapsedMs(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

TEST(SerialSettingsTest, ParsesTheLineTextAndRefusesMalformedTextLeavingOutputAlone) {
  SerialSettings s;
  ASSERT_TRUE(ParseSerialSettings(" 115200 , E , 7 , 2 ", &s));
  EXPECT_EQ(115200u, s.baud_rate);
  EXPECT_EQ(SerialParity::kEven, s.parity);
  EXPECT_EQ(7, s.data_bits);
  EXPECT_EQ(2, s.stop_bits);
  for (const char* bad : {"", "9600", "9600,n,8", "9600,n,8,1,x", "9601,n,8,1", "9600,x,8,1",
                          "9600,n,9,1", "9600,n,8,3", "-9600,n,8,1", "9600,,8,1", "96 00,n,8,1"}) {
    s.baud_rate = 7;
    EXPECT_FALSE(ParseSerialSettings(bad, &s)) << bad;
    EXPECT_EQ(7u, s.baud_rate) << bad;
  }
}

TEST(SerialPortTest, OpenRefusesMissingAndNonTerminalDevices) {
  EXPECT_EQ(nullptr, OpenSerialPort(""));
  EXPECT_EQ(nullptr, OpenSerialPort("/dev/korvo-no-such-port"));
  EXPECT_EQ(nullptr, OpenSerialPort("/dev/null"));
}

TEST(SerialPortTest, OpenRefusesABusyDeviceUntilClosed) {
  PseudoTerminal pty;
  ASSERT_TRUE(pty.ok());
  SerialHandle port = OpenSerialPort(pty.slave_path());
  ASSERT_NE(nullptr, port);
  EXPECT_EQ(nullptr, OpenSerialPort(pty.slave_path()));
  EXPECT_NE(0, CloseSerialPort(port));
  port = OpenSerialPort(pty.slave_path());
  EXPECT_NE(nullptr, port);
  EXPECT_NE(0, CloseSerialPort(port));
}

class SerialOpenPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.ok());
    port_ = OpenSerialPort(pty_.slave_path());
    ASSERT_NE(nullptr, port_);
    SerialSettings settings;
    ASSERT_TRUE(ParseSerialSettings("9600,n,8,1", &settings));
    ASSERT_TRUE(ApplySerialSettings(port_, settings));
  }
  void TearDown() override {
    if (port_) CloseSerialPort(port_);
  }
  void SetReadTimeouts(uint32_t interval, uint32_t multiplier, uint32_t constant) {
    ASSERT_TRUE(SetSerialTimeouts(port_, SerialTimeouts{interval, multiplier, constant}));
  }

  PseudoTerminal pty_;
  SerialHandle port_ = nullptr;
};

TEST_F(SerialOpenPortTest, BytesPassUnchangedBothWays) {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  uint32_t written = 0;
  ASSERT_TRUE(WriteSerialPort(port_, all.data(), 256, &written));
  EXPECT_EQ(256u, written);
  EXPECT_EQ(all, pty_.Drain(200));

  ASSERT_TRUE(pty_.Write(all));
  SetReadTimeouts(100, 0, 2000);
  char buffer[300];
  uint32_t got = 0;
  ASSERT_TRUE(ReadSerialPort(port_, buffer, sizeof buffer, &got));
  EXPECT_EQ(all, std::string(buffer, got));
}

TEST_F(SerialOpenPortTest, TotalTimeoutBoundsASilentRead) {
  SetReadTimeouts(0, 10, 100);  // 10 ms per byte asked for, plus 100
  char buffer[5];
  uint32_t got = 9;
  auto start = Clock::now();
  EXPECT_TRUE(ReadSerialPort(port_, buffer, sizeof buffer, &got));
  long elapsed = ElapsedMs(start);
  EXPECT_EQ(0u, got);
  EXPECT_GE(elapsed, 140);
  EXPECT_LT(elapsed, 1000);
}

TEST_F(SerialOpenPortTest, ReadEndsAnIntervalAfterTheLastByteOrAtTheCount) {
  SetReadTimeouts(80, 0, 5000);
  ASSERT_TRUE(pty_.Write("xy"));
  char buffer[64];
  uint32_t got = 0;
  auto start = Clock::now();
  EXPECT_TRUE(ReadSerialPort(port_, buffer, sizeof buffer, &got));
  long elapsed = ElapsedMs(start);
  EXPECT_EQ("xy", std::string(buffer, got));
  EXPECT_GE(elapsed, 70);
  EXPECT_LT(elapsed, 2500);

  SetReadTimeouts(5000, 0, 10000);
  ASSERT_TRUE(pty_.Write("0123456789"));
  start = Clock::now();
  EXPECT_TRUE(ReadSerialPort(port_, buffer, 4, &got));
  EXPECT_EQ("0123", std::string(buffer, got));
  EXPECT_LT(ElapsedMs(start), 2500);
  // Purge drops the rest.
  ASSERT_TRUE(PurgeSerialPort(port_));
  SetReadTimeouts(kSerialNoWait, 0, 0);
  EXPECT_TRUE(ReadSerialPort(port_, buffer, 4, &got));
  EXPECT_EQ(0u, got);
}

}  // namespace
}  // namespace korvo
