// The library's debug lines. Callers expect them on standard output in
// printf form; they all pass through here so that a host can send them
// elsewhere by changing one function. Thread-safe.
#pragma once

namespace korvo {

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void DebugPrint(const char* format, ...);

}  // namespace korvo
