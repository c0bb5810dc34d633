#include "device/port_probe.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "device/even_parity.h"
#include "device/serial_pty.h"
#include "platform/serial_port.h"
#include "support/files.h"

namespace korvo {
namespace {

using Outcome = PortProbe::Outcome;
using testing_pty::PseudoTerminal;
using testing_pty::SimulatedDevice;

constexpr uint32_t kTimeoutMs = 300;

TEST(PortProbeTest, EachAnswerIsReadAsTheSerialConnectReadsIt) {
  const std::string parity_form = "boot: " + AddEvenParity(std::string("No\xA0Program"));
  struct Case { std::string reply; Outcome outcome; std::string ident; uint32_t code; } cases[] = {
      {"\x02sRA DeviceIdent 9 KORVO-SIM\x03", Outcome::kAnswered, "KORVO-SIM", 0},
      {"noise\x02sRA DeviceIdent 3 ABCDEF\x03", Outcome::kAnswered, "ABC", 0},
      {"\x02sRA DeviceIdent A No Program\x03", Outcome::kAnswered, "No Program", 0},
      {"\x02sFA FF79\x03", Outcome::kAnswered, "No Program", 0},
      {"boot: No Program\r\n", Outcome::kAnswered, "No Program", 0},
      {parity_form, Outcome::kAnswered, "No Program", 0},
      {"\x02sFA 1B\x03", Outcome::kErrorAnswer, "", 0x1B},
      {"\x02sRA DeviceIdent 0 \x03", Outcome::kNotUnderstood, "", 0},
      {"\x02sRA DeviceIdentity 3 ABC\x03", Outcome::kNotUnderstood, "", 0},
      {"\x02sAN DeviceIdent 3 ABC\x03", Outcome::kNotUnderstood, "", 0},
      {std::string("\xF8\x80\0garbage", 10), Outcome::kNotUnderstood, "", 0},
      {"", Outcome::kSilent, "", 0},
  };
  for (const Case& c : cases) {
    PseudoTerminal pty;
    ASSERT_TRUE(pty.ok());
    SimulatedDevice device(pty, {c.reply});
    PortProbe probe = ProbePort(pty.slave_path(), kTimeoutMs);
    EXPECT_EQ(PortProbeOutcomeName(c.outcome), std::string(PortProbeOutcomeName(probe.outcome)))
        << c.reply;
    EXPECT_EQ(c.ident, probe.ident) << c.reply;
    EXPECT_EQ(c.code, probe.code) << c.reply;
    EXPECT_EQ(c.reply, probe.received);
    // A whole telegram ends the read; only silence waits the time-out out.
    // (Under wine a COM port's read ends only at its time-out.)
#ifndef _WIN32
    if (c.reply.find('\x03') != std::string::npos) {
      EXPECT_LT(probe.elapsed_ms, kTimeoutMs - 100) << c.reply;
    }
#endif
    if (c.reply.empty()) {
      EXPECT_GE(probe.elapsed_ms, kTimeoutMs);
    }
    EXPECT_EQ(std::vector<std::string>{"\x02sRN DeviceIdent\x03"}, device.telegrams());
    EXPECT_EQ("\x02sRN DeviceIdent\x03", probe.sent);
  }
}

TEST(PortProbeTest, APortThatIsTakenOrNoPortIsNotWrittenTo) {
  PseudoTerminal pty;
  ASSERT_TRUE(pty.ok());
#ifndef _WIN32
  // A port another process holds names that process. (Forked first, so
  // that the child shares no lock of ours.)
  PseudoTerminal other;
  ASSERT_TRUE(other.ok());
  int ready[2];
  ASSERT_EQ(0, pipe(ready));
  const pid_t child = fork();
  if (child == 0) {
    int fd = open(other.slave_path().c_str(), O_RDWR | O_NOCTTY);
    char locked = fd >= 0 && flock(fd, LOCK_EX) == 0;
    if (write(ready[1], &locked, 1) == 1) pause();
    _exit(0);
  }
  ASSERT_LT(0, child);  // the reaper must never signal pid -1, every process
  struct Reaper {
    pid_t pid;
    int pipe[2];
    ~Reaper() {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      close(pipe[0]);
      close(pipe[1]);
    }
  } reaper{child, {ready[0], ready[1]}};
  char locked = 0;
  ASSERT_EQ(1, read(ready[0], &locked, 1));
  ASSERT_TRUE(locked);
  std::string name = test_support::ReadFile("/proc/" + std::to_string(child) + "/comm");
  name = name.substr(0, name.find('\n'));
#endif
  SerialHandle holder = OpenSerialPort(pty.slave_path());
  ASSERT_NE(nullptr, holder);
  struct Case { std::string port; Outcome outcome; std::string detail; } cases[] = {
      {"", Outcome::kUnavailable, "no such port"},
#ifndef _WIN32  // wine lets a second open of a COM port through
      {pty.slave_path(), Outcome::kInUse, "locked by another program"},
      {other.slave_path(), Outcome::kInUse,
       "locked by process " + std::to_string(child) + " (" + name + ")"},
      {"/dev/korvo-no-such-port", Outcome::kUnavailable, "no such port"},
      {"/dev/null", Outcome::kUnavailable, "not a serial port"},
#endif
  };
  for (const Case& c : cases) {
    PortProbe probe = ProbePort(c.port, kTimeoutMs);
    EXPECT_EQ(PortProbeOutcomeName(c.outcome), std::string(PortProbeOutcomeName(probe.outcome)))
        << c.port;
    EXPECT_EQ(c.detail, probe.detail) << c.port;
    EXPECT_EQ("", probe.sent) << c.port;
  }
  EXPECT_EQ("", pty.Drain(50));
  CloseSerialPort(holder);
  // Let go, it is the port's turn again, and the probe does not keep it.
  SimulatedDevice device(pty, {"\x02sRA DeviceIdent 1 K\x03"});
  EXPECT_EQ("K", ProbePort(pty.slave_path(), kTimeoutMs).ident);
  holder = OpenSerialPort(pty.slave_path());
  EXPECT_NE(nullptr, holder);
  CloseSerialPort(holder);
}

#ifndef _WIN32
// Lock files as terminal programs leave them (the owner's id as text or as a machine word);
// a lock of a process that is gone is no lock.
TEST(PortProbeTest, ALiveUucpLockFileKeepsTheProbeOutAStaleOneDoesNot) {
  if (access("/run/lock", W_OK) != 0) GTEST_SKIP() << "/run/lock is not writable here";
  PseudoTerminal pty;
  ASSERT_TRUE(pty.ok());
  char* real = realpath(pty.slave_path().c_str(), nullptr);
  ASSERT_NE(nullptr, real);
  const std::string device = real;
  std::free(real);
  const std::string lock = "/run/lock/LCK.." + device.substr(device.rfind('/') + 1);
  // Written as a word, an id whose low byte is a digit reads as text too:
  // the lowest live one there is (kernel threads live long).
  int live = getppid();
  for (int pid = 48; pid < (1 << 16); pid += (pid & 0xFF) == '9' ? 256 - 9 : 1) {
    if (pid != getpid() && kill(pid, 0) == 0) {
      live = pid;
      break;
    }
  }
  const int gone = 0x7FFFFFF0;
  struct Case { std::string content; bool taken; } cases[] = {
      {"      " + std::to_string(live) + "\n", true},
      {std::string(reinterpret_cast<const char*>(&live), sizeof live), true},
      {std::to_string(gone) + "\n", false},
  };
  for (const Case& c : cases) {
    test_support::WriteFile(lock, c.content);
    if (c.taken) {
      PortProbe probe = ProbePort(pty.slave_path(), kTimeoutMs);
      EXPECT_EQ(Outcome::kInUse, probe.outcome) << c.content;
      EXPECT_EQ(0u, probe.detail.find("taken: the lock file " + lock + " of process " +
                                      std::to_string(live)))
          << probe.detail;
      EXPECT_EQ("", pty.Drain(50));
    } else {
      SimulatedDevice answering(pty, {"\x02sRA DeviceIdent 1 K\x03"});
      EXPECT_EQ("K", ProbePort(pty.slave_path(), kTimeoutMs).ident);
    }
    std::remove(lock.c_str());
  }
}
#endif

TEST(PortProbeTest, ProbesOfTwoPortsRunAtOnce) {
  PseudoTerminal answering, silent;
  ASSERT_TRUE(answering.ok() && silent.ok());
  SimulatedDevice a(answering, {"\x02sRA DeviceIdent 1 A\x03"}), b(silent, {""});
  PortProbe first, second;
  std::thread other([&] { first = ProbePort(answering.slave_path(), kTimeoutMs); });
  second = ProbePort(silent.slave_path(), kTimeoutMs);
  other.join();
  EXPECT_EQ("A", first.ident);
  EXPECT_EQ(Outcome::kSilent, second.outcome);
}

TEST(PortProbeTest, TheJsonCarriesAnyBytesAsTheyCame) {
  PortProbe probe;
  probe.outcome = Outcome::kNotUnderstood;
  probe.sent = "\x02sRN DeviceIdent\x03";
  probe.received = std::string("\x00\xFF\xC3\xA9", 4);
  probe.ident = "Gr\xC3\xBC\xFF";  // UTF-8 where it is, a byte for itself where not
  auto j = nlohmann::json::parse(PortProbeJson("/dev/ttyUSB0", probe));
  EXPECT_EQ("not understood", j["outcome"]);
  EXPECT_EQ("/dev/ttyUSB0", j["port"]);
  EXPECT_EQ(std::string("\x00\xC3\xBF\xC3\x83\xC2\xA9", 7), j["received"].get<std::string>());
  EXPECT_EQ("Gr\xC3\xBC\xC3\xBF", j["ident"].get<std::string>());
  auto list = nlohmann::json::parse(SerialPortsJson({{"/dev/ttyUSB0", {"/dev/serial/by-id/x"}, "FTDI"}}));
  EXPECT_EQ(R"([{"aliases":["/dev/serial/by-id/x"],"description":"FTDI","path":"/dev/ttyUSB0"}])",
            list.dump());
}

}  // namespace
}  // namespace korvo
