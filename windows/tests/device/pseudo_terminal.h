// The serial line of the tests under wine, on the simulated device's line:
// the code under test opens slave_path() (COM5), the test plays the device
// on the other end (see windows/test).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "sim/line.h"

namespace korvo {
namespace testing_pty {

class PseudoTerminal {
 public:
  PseudoTerminal() : line_(sim::OpenPseudoTerminal()) {}

  bool ok() const { return line_ != nullptr; }
  std::string slave_path() const { return line_ ? line_->peer_path() : std::string(); }

  // Bytes from the port until an ETX (kept) or until `timeout_ms` pass.
  std::string ReadTelegram(int timeout_ms) {
    using namespace std::chrono;
    std::string got;
    auto deadline = steady_clock::now() + milliseconds(timeout_ms);
    while (got.empty() || got.back() != '\x03') {
      auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
      uint8_t c;
      if (left <= 0 || line_->Read(&c, 1, static_cast<int>(left)) != 1) break;
      got.push_back(static_cast<char>(c));
    }
    return got;
  }

  // Whatever arrives until nothing more comes for `timeout_ms`.
  std::string Drain(int timeout_ms) {
    std::string got;
    uint8_t buffer[256];
    for (int n; (n = line_->Read(buffer, sizeof buffer, timeout_ms)) > 0;)
      got.append(reinterpret_cast<char*>(buffer), static_cast<size_t>(n));
    return got;
  }

  bool Write(const std::string& bytes) {
    return line_->Write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }

 private:
  std::unique_ptr<sim::Line> line_;
};

}  // namespace testing_pty
}  // namespace korvo
