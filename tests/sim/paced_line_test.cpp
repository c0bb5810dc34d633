// korvo-sim's --line-rate: a paced line is never faster than its rate, in
// either direction, and carries the bytes unchanged.
#include "sim/paced_line.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace korvo::sim {
namespace {

using Clock = std::chrono::steady_clock;

std::string ReadAll(Line& line, size_t count) {
  std::string got;
  uint8_t buffer[512];
  for (int idle = 0; got.size() < count && idle < 20;) {
    int n = line.Read(buffer, sizeof buffer, 100);
    if (n < 0) break;
    idle = n == 0 ? idle + 1 : 0;
    got.append(reinterpret_cast<char*>(buffer), static_cast<size_t>(n));
  }
  return got;
}

TEST(PacedLineTest, NeverFasterThanItsRate) {
  // Paced writes, else the paced end reads; a pause before, which earns no credit.
  struct Case { const char* what; bool paced_writes; int idle_ms_first; size_t bytes; };
  const uint32_t kRate = 20000;
  for (const Case& c : {Case{"writing", true, 0, 1500}, Case{"reading", false, 0, 1500},
                        Case{"writing after a pause", true, 150, 1000}}) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<Line> device = OpenPseudoTerminal();
    ASSERT_NE(nullptr, device);
    std::unique_ptr<Line> host = OpenTerminal(device->peer_path());
    ASSERT_NE(nullptr, host);
    std::unique_ptr<Line> paced = PaceLine(std::move(device), kRate);
    std::string bytes(c.bytes, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
    Line& sender = c.paced_writes ? *paced : *host;
    Line& receiver = c.paced_writes ? *host : *paced;
    std::this_thread::sleep_for(std::chrono::milliseconds(c.idle_ms_first));

    Clock::time_point start = Clock::now();
    std::thread send([&] {
      EXPECT_TRUE(sender.Write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    });
    std::string got = ReadAll(receiver, bytes.size());
    send.join();
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    EXPECT_EQ(bytes, got);
    // A lower bound only: a loaded machine makes it slower, never faster.
    EXPECT_GE(took.count(), static_cast<long>(c.bytes * 1000 / kRate) - 5);
  }
}

}  // namespace
}  // namespace korvo::sim
