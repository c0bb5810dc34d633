// The library's debug lines. Callers expect them on standard output in
// printf form; they all pass through here so that a host can send them
// elsewhere by changing one function. Thread-safe.
#pragma once

#include <cstddef>

namespace korvo {

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void DebugPrint(const char* format, ...);

// Receives each debug text as printed (usually one line with its "\n"), on
// the thread that printed it. It must not throw.
using DebugSink = void (*)(const char* text, size_t length);

// While a sink is set, the texts go to it instead of standard output; a
// file named by KORVO_DEBUG_FILE gets them as well. Null restores standard
// output. A debug line printed from inside the sink goes to the stream.
void SetDebugSink(DebugSink sink);

}  // namespace korvo
