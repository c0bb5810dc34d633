#include "device/com_port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <utility>

#include "device/serial_pty.h"
#include "support/files.h"

namespace korvo {
namespace {

using testing_pty::PseudoTerminal;

// Name, baud, data bits, parity (0 none, 1 odd, 2 even), stop bits (0 one, 1 1.5, 2 two).
TEST(ComPortTest, SettingsTextSetsOnlyTheFieldsItNames) {
  const std::pair<const char*, const char*> cases[] = {
      {"COM3,19200,7,E,2", "COM3 19200 7 2 2"},
      {"COM4,9600,8,0,1", "COM4 9600 8 0 0"},  // "0" is no parity letter
      {"COM5,,x,O,1.5", "COM5 0 0 1 1"},
      {"COM6,57600baud,264,Nope,3", "COM6 57600 8 0 0"},
      {"COM9,4800,", "COM9 4800 8 0 0"},  // a trailing comma names no field
      {"", "COM1 9600 8 0 0"},          {"COM8,1,2,O,2,x,y,z,v,w,u", "COM8 1 2 1 2"},
  };
  for (const auto& [settings, fields] : cases) {
    SerialPort port("");
    port.SetSettings(settings);
    EXPECT_EQ(fields, port.port_name() + " " + std::to_string(port.baud_rate()) + " " +
                          std::to_string(port.byte_size()) + " " + std::to_string(port.parity()) +
                          " " + std::to_string(port.stop_bits()))
        << settings;
  }
}

class OpenComPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.ok());
    port_->SetSettings(pty_.slave_path() + ",9600,8,N,1");
    ASSERT_TRUE(port_->Open());
  }
  void TearDown() override {
    port_.reset();  // closes the log first: Windows does not delete an open file
    RemoveFile(kLog);
  }
  std::string Read(uint8_t terminator, int maximum = 64) {
    uint8_t buffer[64];
    int got = port_->ReadBytes(buffer, maximum, terminator);
    return std::string(reinterpret_cast<char*>(buffer), static_cast<size_t>(got));
  }

  static constexpr char kLog[] = "com_port_test.log";
  PseudoTerminal pty_;
  std::unique_ptr<SerialPort> port_ = std::make_unique<SerialPort>(kLog);
};

TEST_F(OpenComPortTest, ReadStopsAtTerminatorOrGapDropsZerosKeepsTheRestAndEndsWithClose) {
  ASSERT_TRUE(pty_.Write(std::string("\x02" "a\0bc\x03" "de", 8)));
  EXPECT_EQ("\x02" "abc", Read(0x03));
  EXPECT_EQ("de", Read(0x03));
  ASSERT_TRUE(pty_.Write("vwxyz"));
  EXPECT_EQ("vwx", Read(0, 3));  // the byte beyond the maximum stays unread
  std::thread device([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    pty_.Write("!");
  });
  EXPECT_EQ("yz", Read(0)) << "a gap longer than 100 ms ends a read";
  EXPECT_EQ("!", Read(0));
  device.join();
  // A line of zeros ends a read at its deadline (about 1.15 s for 64 bytes at
  // 9600 baud), long before the line stops.
  std::atomic<bool> done{false};
  std::atomic<int> zeros{0};
  std::thread noise([&] {
    for (; !done && zeros < 1000; ++zeros) {
      pty_.Write(std::string(1, '\0'));
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  EXPECT_EQ("", Read(0));
  const int before_deadline = zeros;
  done = true;
  noise.join();
  EXPECT_LT(before_deadline, 1000) << "read for as long as the zeros came";
  ASSERT_TRUE(port_->Purge());
  // Closed, it does nothing.
  port_->Close();
  EXPECT_FALSE(port_->is_open());
  EXPECT_FALSE(port_->WriteTelegram("x"));
  EXPECT_EQ("", Read(0));
  EXPECT_FALSE(port_->Purge());
}

TEST_F(OpenComPortTest, LogHoldsEveryEntryByteForByte) {
  ASSERT_TRUE(port_->WriteTelegram("download standard"));
  EXPECT_FALSE(port_->Write(reinterpret_cast<const uint8_t*>("x"), 0));
  ASSERT_TRUE(pty_.Write(std::string("r\0s\xFFt", 5)));
  EXPECT_EQ("rs", Read(0xFF));
  EXPECT_EQ("\x02" "download standard\x03", pty_.Drain(100));
  port_->SetSettings("");
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
  EXPECT_NE("", ::testing::internal::GetCapturedStdout());
  EXPECT_EQ("\x02x\x03", pty.Drain(100));
}

// One and a half stop bits exist on Windows; termios has none, so there the
// port stays closed and a debug line says why.
TEST(ComPortTest, OneAndAHalfStopBitsOpenOnWindowsOnly) {
  PseudoTerminal pty;
  SerialPort port("");
  port.SetSettings(pty.slave_path() + ",9600,5,N,1.5");
  ::testing::internal::CaptureStdout();
  const bool opened = port.Open();
  const std::string debug = ::testing::internal::GetCapturedStdout();
#ifdef _WIN32
  EXPECT_TRUE(opened);
#else
  EXPECT_FALSE(opened);
  EXPECT_NE(std::string::npos, debug.find("stop bits")) << debug;
#endif
}

}  // namespace
}  // namespace korvo
