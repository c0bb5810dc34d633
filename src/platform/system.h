// Operating-system services the library needs besides synchronisation.
// Each function is thread-safe. Paths are UTF-8 throughout; a Windows
// implementation widens them only at the system call.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

namespace korvo {

// Milliseconds from an arbitrary start; wraps like a 32-bit tick count.
uint32_t TickCount();

void SleepMs(uint32_t ms);

// The machine's name. False (out untouched) when the system call fails.
bool ComputerName(std::string* out);

// The effective user's name. False (out untouched) when it cannot be had.
bool UserName(std::string* out);

// Breaks `when` down in the local time zone. False when it cannot.
bool LocalTime(std::time_t when, std::tm* out);

// The calling thread's operating-system id.
uint32_t CurrentThreadId();

// Why a file could not be opened: a file that is not there is a different
// answer from one that is there but cannot be opened (no permission, a
// folder, a device error), and callers that create missing files must not
// treat the second as the first.
enum class FileError { kNone, kNotFound, kIoError };

// Opens a file whose path and mode are UTF-8 text ("rb", "wb", "w+b").
// Null when the file cannot be opened; then `*error` (may be null) says why.
// The caller closes it.
std::FILE* OpenFileUtf8(const std::string& path, const std::string& mode,
                        FileError* error = nullptr);

// Removes a file; 0 on success, -1 when it could not be removed.
int RemoveFile(const std::string& path);

// Renames a file over another, replacing it; 0 on success, -1 on failure.
int ReplaceFile(const std::string& from, const std::string& to);

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace korvo
