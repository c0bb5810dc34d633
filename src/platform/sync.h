// Synchronisation primitives behind the names the rest of the library uses,
// and the stop signal that ends every wait when the library is unloaded.
// All are thread-safe by design; none is copyable.
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

// The process is ending (the library is being unloaded): from the first
// call on, every Event wait and SleepUnlessStopped returns at once as if
// its time had run out, and long loops give up, so that an operation still
// running ends promptly with a failure. Never undone.
void RequestStop();
bool StopRequested();

// Sleeps `ms`; false at once (or as soon as it comes) when a stop is requested.
bool SleepUnlessStopped(uint32_t ms);

// Auto-reset event. A signal given while nobody waits is kept until the next
// wait takes it; one signal releases exactly one wait, and several signals
// before a wait collapse into one (as with a Win32 auto-reset event).
class Event final {
 public:
  Event();
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Signal() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      signalled_ = true;
    }
    cv_.notify_one();
  }

  // True when the event was signalled within timeout_ms; false on time-out
  // and once a stop is requested.
  bool Wait(uint32_t timeout_ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                 [this] { return signalled_ || StopRequested(); });
    if (!signalled_ || StopRequested()) return false;
    signalled_ = false;
    return true;
  }

 private:
  friend void RequestStop();
  void WakeForStop();

  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_ = false;
  // Every live Event is on one list, so that a stop reaches each wait.
  Event* previous_ = nullptr;
  Event* next_ = nullptr;
};

}  // namespace korvo
