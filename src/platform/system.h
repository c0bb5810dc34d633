// Operating-system services the library needs besides synchronisation.
// Each function is thread-safe. Paths are UTF-8 throughout; a Windows
// implementation widens them only at the system call.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

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
// A mode that writes from scratch ("w...") never follows a symbolic link
// in the path's last part: a link planted under a name the library writes
// must not lead the bytes elsewhere. The caller closes it.
std::FILE* OpenFileUtf8(const std::string& path, const std::string& mode,
                        FileError* error = nullptr);

// Why OpenInputFile refused a file.
enum class InputFileError {
  kNone,
  kNotFound,    // there is no such file
  kIoError,     // it is there but cannot be opened or examined
  kNotRegular,  // a folder, a device, a pipe or a socket
  kTooLarge,    // larger than the bound the caller gave
};

// Opens an existing regular file for reading ("rb") whose size is at most
// `max_bytes`; never blocks on a pipe or a device. Null otherwise, and then
// `*error` (may be null) says why; `*size` (may be null) receives the size
// found. A file that grows after the check is the reader's to bound.
std::FILE* OpenInputFile(const std::string& path, uint64_t max_bytes, InputFileError* error,
                         uint64_t* size = nullptr);

// A file that this process created and marks as in use while it holds it;
// other processes (and other holds in this one) see the mark.
using HeldFile = intptr_t;
constexpr HeldFile kNoHeldFile = -1;

enum class CreateResult { kCreated, kExists, kFailed };

// Creates `path` as a new, empty file and holds it. Whatever is there
// already (a file, a symbolic link, a folder) is never opened or followed:
// kExists then. kFailed for any other failure. On kCreated `*held` is the
// hold, to be given back to ReleaseHeldFile.
CreateResult CreateHeldFile(const std::string& path, HeldFile* held);

// Ends the hold; with `remove`, first removes the file when `path` still
// names the file that was created (it is never something put in its place).
void ReleaseHeldFile(HeldFile held, const std::string& path, bool remove);

// Renames the held file `from` over `to` and ends the hold: 0, or -1 (the
// hold ended all the same, the file still at `from`).
int MoveHeldFile(HeldFile held, const std::string& from, const std::string& to);

// The names in folder `dir` ("" for the current one), without "." and "..".
// False when the folder cannot be read.
bool ListFolder(const std::string& dir, std::vector<std::string>* names);

// Removes `path` when it is a regular file (not a link) of this user that
// no live process holds: a leftover of a process that was killed. True when
// it was removed.
bool RemoveAbandonedFile(const std::string& path);

// The calling process's operating-system id.
uint32_t ProcessId();

// Where a symbolic link leads, as a path: `path` itself when it is no link
// or its target cannot be found.
std::string ResolveLinks(const std::string& path);

// What `path` names, following links.
enum class FileKind { kMissing, kRegular, kDirectory, kOther };
FileKind KindOfFile(const std::string& path);

// Whether the two paths name one existing file (after links).
bool SameFile(const std::string& a, const std::string& b);

// Gives `path` the permission bits of `model`; false when either fails.
bool CopyPermissions(const std::string& model, const std::string& path);

// Removes a file; 0 on success, -1 when it could not be removed.
int RemoveFile(const std::string& path);

// Renames a file over another, replacing it; 0 on success, -1 on failure.
int ReplaceFile(const std::string& from, const std::string& to);

// Removes a file from inside a signal handler (async-signal-safe).
void RemoveFileInSignalHandler(const char* path);

// On SIGINT, SIGTERM or SIGHUP runs `cleanup` (which must be
// async-signal-safe), then ends the process as the signal would have.
void RunOnTerminationSignals(void (*cleanup)());

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace korvo
