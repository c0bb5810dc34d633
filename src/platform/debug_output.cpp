#include "platform/debug_output.h"

#include <cstdarg>
#include <cstdio>

namespace korvo {

void DebugPrint(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stdout, format, args);
  va_end(args);
}

}  // namespace korvo
