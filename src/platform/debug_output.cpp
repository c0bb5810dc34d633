#include "platform/debug_output.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

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

}  // namespace

void DebugPrint(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::FILE* stream = DebugStream();
  std::vfprintf(stream, format, args);
  va_end(args);
  // A debug file is read while the host runs, and must keep the lines
  // before a crash.
  if (stream != stdout) std::fflush(stream);
}

}  // namespace korvo
