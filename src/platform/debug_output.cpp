#include "platform/debug_output.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

namespace korvo {

namespace {

// KORVO_DEBUG_FILE names a file the lines are appended to instead, so that
// a host whose standard output is its own (a command-line front end) keeps it.
std::FILE* DebugStream() {
  static std::FILE* const stream = [] {
    const char* path = std::getenv("KORVO_DEBUG_FILE");
    std::FILE* file = path && *path ? std::fopen(path, "a") : nullptr;
    return file ? file : stdout;
  }();
  return stream;
}

std::atomic<DebugSink> g_sink{nullptr};
thread_local bool g_in_sink = false;

void ToSink(DebugSink sink, const char* format, va_list args) {
  char small[512];
  va_list again;
  va_copy(again, args);
  int length = std::vsnprintf(small, sizeof small, format, args);
  const char* text = small;
  std::unique_ptr<char[]> large;
  if (length >= static_cast<int>(sizeof small)) {
    large.reset(new (std::nothrow) char[static_cast<size_t>(length) + 1]);
    if (large) std::vsnprintf(large.get(), static_cast<size_t>(length) + 1, format, again);
    text = large.get();
  }
  va_end(again);
  if (length < 0 || !text) return;
  std::FILE* stream = DebugStream();
  if (stream != stdout) {
    std::fwrite(text, 1, static_cast<size_t>(length), stream);
    std::fflush(stream);
  }
  g_in_sink = true;
  sink(text, static_cast<size_t>(length));
  g_in_sink = false;
}

}  // namespace

void SetDebugSink(DebugSink sink) { g_sink.store(sink); }

void DebugPrint(const char* format, ...) {
  va_list args;
  va_start(args, format);
  DebugSink sink = g_in_sink ? nullptr : g_sink.load();
  if (sink) {
    ToSink(sink, format, args);
    va_end(args);
    return;
  }
  std::FILE* stream = DebugStream();
  std::vfprintf(stream, format, args);
  va_end(args);
  // A debug file is read while the host runs, and must keep the lines
  // before a crash.
  if (stream != stdout) std::fflush(stream);
}

}  // namespace korvo
