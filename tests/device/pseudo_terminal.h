// Pseudo-terminal pair for serial tests: the code under test opens the slave
// by its path; the test plays the device on the master side. The Windows
// build puts a file of the same name ahead of this one on its include path.
#pragma once

#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace korvo {
namespace testing_pty {

class PseudoTerminal {
 public:
  PseudoTerminal() {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) == 0) slave_path_ = name;
  }
  ~PseudoTerminal() {
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
  }
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  bool ok() const { return !slave_path_.empty(); }
  const std::string& slave_path() const { return slave_path_; }

  // Bytes from the port until an ETX (kept) or until `timeout_ms` pass.
  std::string ReadTelegram(int timeout_ms) {
    using namespace std::chrono;
    std::string got;
    auto deadline = steady_clock::now() + milliseconds(timeout_ms);
    for (char c; got.empty() || got.back() != '\x03'; got.push_back(c)) {
      auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
      pollfd p{master_, POLLIN, 0};
      if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0 || read(master_, &c, 1) != 1) break;
    }
    return got;
  }

  // Whatever arrives within `timeout_ms`.
  std::string Drain(int timeout_ms) {
    std::string got;
    pollfd p{master_, POLLIN, 0};
    char buffer[256];
    while (poll(&p, 1, timeout_ms) > 0) {
      ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) break;
      got.append(buffer, static_cast<size_t>(n));
    }
    return got;
  }

  bool Write(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

 private:
  int master_ = -1;
  int slave_ = -1;  // held open so the line never hangs up between opens
  std::string slave_path_;
};

}  // namespace testing_pty
}  // namespace korvo
