#include "sim/paced_line.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace korvo::sim {
namespace {

using Clock = std::chrono::steady_clock;

// When the bytes handed over so far have passed the line.
class LineClock {
 public:
  explicit LineClock(uint32_t bytes_per_second) : rate_(bytes_per_second) {}

  // Waits until `count` more bytes have passed, after those before them.
  void Pass(size_t count) {
    Clock::time_point now = Clock::now();
    if (free_ < now) free_ = now;
    free_ += std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(count) / rate_));
    std::this_thread::sleep_until(free_);
  }

 private:
  uint32_t rate_;
  Clock::time_point free_{};
};

class PacedLine final : public Line {
 public:
  PacedLine(std::unique_ptr<Line> line, uint32_t bytes_per_second)
      : line_(std::move(line)),
        // About 10 ms of the line at a time, so that answers interleave as on a real one.
        chunk_(std::max<size_t>(1, bytes_per_second / 100)),
        read_(bytes_per_second),
        write_(bytes_per_second) {}

  int Read(uint8_t* buffer, size_t size, int timeout_ms) override {
    int got = line_->Read(buffer, std::min(size, chunk_), timeout_ms);
    if (got > 0) read_.Pass(static_cast<size_t>(got));
    return got;
  }

  bool Write(const uint8_t* bytes, size_t count) override {
    for (size_t done = 0; done < count;) {
      size_t n = std::min(count - done, chunk_);
      write_.Pass(n);
      if (!line_->Write(bytes + done, n)) return false;
      done += n;
    }
    return true;
  }

  const std::string& peer_path() const override { return line_->peer_path(); }

 private:
  std::unique_ptr<Line> line_;
  size_t chunk_;
  LineClock read_;
  LineClock write_;
};

}  // namespace

std::unique_ptr<Line> PaceLine(std::unique_ptr<Line> line, uint32_t bytes_per_second) {
  if (!line || bytes_per_second == 0) return line;
  return std::make_unique<PacedLine>(std::move(line), bytes_per_second);
}

}  // namespace korvo::sim
