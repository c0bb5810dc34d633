#include "platform/serial_port.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "device/serial_pty.h"
#include "platform/serial_port_list.h"
#include "support/files.h"

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
  for (int bits : {5, 8}) {
    ASSERT_TRUE(ParseSerialSettings("9600,o," + std::to_string(bits) + ",1", &s)) << bits;
    EXPECT_EQ(bits, s.data_bits);
  }
  for (const char* bad : {"", "9600", "9600,n,8", "9600,n,8,1,x", "9601,n,8,1", "9600,x,8,1",
                          "9600,n,4,1", "9600,n,9,1", "9600,n,8,3", "-9600,n,8,1", "9600,,8,1", "96 00,n,8,1"}) {
    s.baud_rate = 7;
    EXPECT_FALSE(ParseSerialSettings(bad, &s)) << bad;
    EXPECT_EQ(7u, s.baud_rate) << bad;
  }
}

// Ports that do not open are port_probe_test.cpp's.
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

#ifndef _WIN32
// A machine of our own making: sysfs terminals, device nodes and by-id links.
TEST(SerialPortListTest, RealPortsInCountingOrderWithTheirByIdNamesAndUsbProduct) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("korvo-ports-" + std::to_string(ProcessId()));
  fs::remove_all(root);
  const fs::path usb = root / "sys/devices/usb1/1-1";
  fs::create_directories(usb / "1-1:1.0/ttyUSB0");
  test_support::WriteFile(usb / "product", "FT232R USB UART\n");
  test_support::WriteFile(usb / "manufacturer", "FTDI\n");
  // Where its device link leads and its UART type file; null: none (a virtual one).
  struct Tty { const char *name, *device, *type; } ttys[] = {
              {"ttyS10", "sys/devices/pnp0/a", "4"}, {"ttyS2", "sys/devices/pnp0/b", "4"},
              {"ttyS3", "sys/devices/platform/c", "0"}, {"tty1", nullptr, nullptr},
              {"ttyUSB0", "sys/devices/usb1/1-1/1-1:1.0/ttyUSB0", nullptr},
              {"ttyACM0", "sys/devices/usb1/1-1/1-1:1.0", nullptr}};
  fs::create_directories(root / "dev/serial/by-id");
  for (const Tty& t : ttys) {
    fs::path tty = root / "sys/class/tty" / t.name;
    fs::create_directories(tty);
    if (t.device) {
      fs::create_directories(root / t.device);
      fs::create_directory_symlink(root / t.device, tty / "device");
    }
    if (t.type) test_support::WriteFile(tty / "type", std::string(t.type) + "\n");
    if (std::string(t.name) != "ttyACM0") test_support::WriteFile(root / "dev" / t.name, "");
  }
  fs::create_symlink("../../ttyUSB0", root / "dev/serial/by-id/usb-FTDI_FT232R-if00-port0");
  fs::create_symlink("../../ttyUSB0", root / "dev/serial/by-id/usb-FTDI_FT232R-if00");

  std::vector<std::string> listed;
  for (const SerialPortInfo& port : ListSerialPorts(root.string())) {
    std::string line = port.path.substr(root.string().size()) + "|" + port.description;
    for (const std::string& alias : port.aliases) line += "|" + alias.substr(root.string().size());
    listed.push_back(line);
  }
  const std::vector<std::string> expected = {
      "/dev/ttyS2|", "/dev/ttyS10|",
      "/dev/ttyUSB0|FTDI FT232R USB UART|/dev/serial/by-id/usb-FTDI_FT232R-if00|"
      "/dev/serial/by-id/usb-FTDI_FT232R-if00-port0"};
  EXPECT_EQ(expected, listed);
  fs::remove_all(root);
}
#endif

}  // namespace
}  // namespace korvo
