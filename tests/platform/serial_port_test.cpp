#include "platform/serial_port.h"

#include <gtest/gtest.h>

#include <string>

#include "device/serial_pty.h"

namespace korvo {
namespace {

using testing_pty::PseudoTerminal;

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
  for (const char* name : {"", "/dev/korvo-no-such-port", "/dev/null"})
    EXPECT_EQ(nullptr, OpenSerialPort(name)) << name;
}

TEST(SerialPortTest, ReadEndsAtTheTotalTimeAnIntervalAfterTheLastByteOrAtTheCount) {
  PseudoTerminal pty;
  SerialHandle port = OpenSerialPort(pty.slave_path());
  ASSERT_NE(nullptr, port);
  ASSERT_TRUE(ApplySerialSettings(port, {9600, SerialParity::kNone, 8, 1}));
  auto read = [&](uint32_t size, SerialTimeouts timeouts) {
    EXPECT_TRUE(SetSerialTimeouts(port, timeouts));
    std::string buffer(size, '\0');
    uint32_t got = 99;
    EXPECT_TRUE(ReadSerialPort(port, buffer.data(), size, &got));
    return buffer.substr(0, got);
  };
  EXPECT_EQ("", read(5, {0, 10, 100}));  // 10 ms per byte asked for, plus 100
  ASSERT_TRUE(pty.Write("xy"));
  EXPECT_EQ("xy", read(64, {80, 0, 0}));  // no total: only the interval ends it
  ASSERT_TRUE(pty.Write("0123456789"));
  EXPECT_EQ("0123", read(4, {5000, 0, 0}));
  ASSERT_TRUE(PurgeSerialPort(port));  // drops the rest
  EXPECT_EQ("", read(4, {kSerialNoWait, 0, 0}));
  EXPECT_NE(0, CloseSerialPort(port));
}

}  // namespace
}  // namespace korvo
