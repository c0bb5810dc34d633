// Serial test helpers: the line between the code under test and a test that
// plays the device, and a device that answers telegrams from a script.
#pragma once

#include <string>
#include <thread>
#include <vector>

// Found through the include path, not beside this file: the Windows build
// supplies its own.
#include "device/pseudo_terminal.h"

namespace korvo {
namespace testing_pty {

// A device on the master side: for each reply in turn it reads one telegram
// and then writes the reply (empty reply: stays silent).
class SimulatedDevice {
 public:
  SimulatedDevice(PseudoTerminal& pty, std::vector<std::string> replies)
      : pty_(pty), replies_(std::move(replies)) {
    thread_ = std::thread([this] {
      for (const std::string& reply : replies_) {
        telegrams_.push_back(pty_.ReadTelegram(5000));
        if (!reply.empty()) pty_.Write(reply);
      }
    });
  }
  ~SimulatedDevice() { Join(); }

  // The telegrams seen; waits for the device to finish first.
  const std::vector<std::string>& telegrams() {
    Join();
    return telegrams_;
  }

 private:
  void Join() {
    if (thread_.joinable()) thread_.join();
  }

  PseudoTerminal& pty_;
  std::vector<std::string> replies_;
  std::vector<std::string> telegrams_;
  std::thread thread_;
};

}  // namespace testing_pty
}  // namespace korvo
