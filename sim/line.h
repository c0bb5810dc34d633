// The simulated device's end of a serial line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace korvo::sim {

class Line {
 public:
  virtual ~Line() = default;
  // Bytes read within `timeout_ms`: 0 when none came, -1 when the line is gone.
  virtual int Read(uint8_t* buffer, size_t size, int timeout_ms) = 0;
  virtual bool Write(const uint8_t* bytes, size_t count) = 0;
  // The path the other side opens ("" when it has none).
  virtual const std::string& peer_path() const = 0;
};

// A new pseudo-terminal: the device holds the master, the host opens
// peer_path(). The device also keeps the peer open, so the line does not
// hang up while the host closes and reopens it. Null on failure.
std::unique_ptr<Line> OpenPseudoTerminal();

// An existing terminal device (for instance one end of a null-modem pair),
// set to raw 8-bit. Null on failure.
std::unique_ptr<Line> OpenTerminal(const std::string& path);

}  // namespace korvo::sim
