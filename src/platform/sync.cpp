#include "platform/sync.h"

#include <atomic>

namespace korvo {
namespace {

// Plain globals with trivial destructors: an operation that still runs
// while the library's statics are destroyed may still reach them.
std::atomic<bool> g_stop{false};
std::mutex g_events_mutex;
Event* g_events = nullptr;  // the newest live Event; each links to the older ones

// SleepUnlessStopped waits on this one.
std::mutex g_sleep_mutex;
std::condition_variable* SleepCondition() {
  static std::condition_variable* condition = new std::condition_variable;
  return condition;
}

}  // namespace

bool StopRequested() { return g_stop.load(std::memory_order_acquire); }

void RequestStop() {
  g_stop.store(true, std::memory_order_release);
  {
    std::lock_guard<std::mutex> hold(g_events_mutex);
    for (Event* e = g_events; e; e = e->next_) e->WakeForStop();
  }
  std::condition_variable* sleep = SleepCondition();
  { std::lock_guard<std::mutex> hold(g_sleep_mutex); }
  sleep->notify_all();
}

bool SleepUnlessStopped(uint32_t ms) {
  std::condition_variable* sleep = SleepCondition();
  std::unique_lock<std::mutex> lock(g_sleep_mutex);
  return !sleep->wait_for(lock, std::chrono::milliseconds(ms), [] { return StopRequested(); });
}

Event::Event() {
  std::lock_guard<std::mutex> hold(g_events_mutex);
  next_ = g_events;
  if (next_) next_->previous_ = this;
  g_events = this;
}

Event::~Event() {
  std::lock_guard<std::mutex> hold(g_events_mutex);
  if (previous_) previous_->next_ = next_; else g_events = next_;
  if (next_) next_->previous_ = previous_;
}

// Taking the lock orders the wake after a waiter's check of the flag, so
// no waiter misses it.
void Event::WakeForStop() {
  { std::lock_guard<std::mutex> hold(mutex_); }
  cv_.notify_all();
}

}  // namespace korvo
