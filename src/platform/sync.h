// Synchronisation primitives behind the names the rest of the library uses.
// Both are thread-safe by design; neither is copyable.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace korvo {

// A critical section: one thread at a time, recursive entry not allowed.
class CriticalSection final {
 public:
  void Enter() { mutex_.lock(); }
  void Leave() { mutex_.unlock(); }
  std::mutex& native() { return mutex_; }

 private:
  std::mutex mutex_;
};

// Auto-reset event. A signal given while nobody waits is kept until the next
// wait takes it; one signal releases exactly one wait, and several signals
// before a wait collapse into one (as with a Win32 auto-reset event).
class Event final {
 public:
  void Signal() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      signalled_ = true;
    }
    cv_.notify_one();
  }

  // True when the event was signalled within timeout_ms; false on time-out.
  bool Wait(uint32_t timeout_ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                      [this] { return signalled_; }))
      return false;
    signalled_ = false;
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_ = false;
};

}  // namespace korvo
