// The serial line of the tests: the code under test opens slave_path(), the
// test plays the device on the other end, by hand or as a SimulatedDevice.
#pragma once

#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
// The Windows build supplies a PseudoTerminal on a COM port pair.
#include "device/pseudo_terminal.h"
#else
#include <poll.h>
#include <pty.h>
#include <unistd.h>
#endif

namespace korvo {
namespace testing_pty {

#ifndef _WIN32
class PseudoTerminal {
 public:
  PseudoTerminal() {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) == 0) slave_path_ = name;
  }
  ~PseudoTerminal() {
    close(master_);
    close(slave_);
  }

  bool ok() const { return !slave_path_.empty(); }
  const std::string& slave_path() const { return slave_path_; }

  // Bytes from the port until an ETX (kept) or until none comes for `timeout_ms`.
  std::string ReadTelegram(int timeout_ms) { return Read(timeout_ms, true); }
  // Whatever arrives until nothing more comes for `timeout_ms`.
  std::string Drain(int timeout_ms) { return Read(timeout_ms, false); }

  bool Write(const std::string& bytes) {
    size_t done = 0;
    for (ssize_t n; done < bytes.size(); done += static_cast<size_t>(n))
      if ((n = write(master_, bytes.data() + done, bytes.size() - done)) <= 0) return false;
    return true;
  }

 private:
  std::string Read(int timeout_ms, bool telegram) {
    std::string got;
    pollfd p{master_, POLLIN, 0};
    for (char c; !(telegram && !got.empty() && got.back() == '\x03') &&
                 poll(&p, 1, timeout_ms) > 0 && read(master_, &c, 1) == 1;)
      got += c;
    return got;
  }

  int master_ = -1;
  int slave_ = -1;  // held open so the line never hangs up between opens
  std::string slave_path_;
};
#endif

// For each reply in turn reads one telegram, then writes the reply (empty: stays silent).
class SimulatedDevice {
 public:
  SimulatedDevice(PseudoTerminal& pty, std::vector<std::string> replies)
      : thread_([this, &pty, replies = std::move(replies)] {
          for (const std::string& reply : replies) {
            telegrams_.push_back(pty.ReadTelegram(5000));
            if (!reply.empty()) pty.Write(reply);
          }
        }) {}
  ~SimulatedDevice() { telegrams(); }

  // The telegrams seen; waits for the device to finish first.
  const std::vector<std::string>& telegrams() {
    if (thread_.joinable()) thread_.join();
    return telegrams_;
  }

 private:
  std::vector<std::string> telegrams_;  // before the thread that fills it
  std::thread thread_;
};

}  // namespace testing_pty
}  // namespace korvo
