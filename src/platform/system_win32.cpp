// System services through the wide Win32 calls: the library's UTF-8 paths and
// names are converted at the call, never passed through the ANSI code page.

#include "platform/system.h"

#include <windows.h>
// windows.h maps ReplaceFile to ReplaceFileW, which would rename ours.
#undef ReplaceFile

#include <fcntl.h>
#include <io.h>
#include <process.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <cwchar>

#include "platform/unicode.h"

namespace korvo {
namespace {

std::wstring Wide(const std::string& text) {
  std::u16string wide = Utf8ToUtf16(text);
  return std::wstring(wide.begin(), wide.end());
}

std::string Narrow(const wchar_t* text, DWORD length) {
  return Utf16ToUtf8(reinterpret_cast<const char16_t*>(text), length);
}

}  // namespace

uint32_t TickCount() { return GetTickCount(); }

void SleepMs(uint32_t ms) { Sleep(ms); }

bool ComputerName(std::string* out) {
  wchar_t buf[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(buf, &size)) return false;
  *out = Narrow(buf, size);
  return true;
}

bool UserName(std::string* out) {
  wchar_t buf[257] = {};
  DWORD size = 257;  // in: room; out: characters with the terminating zero
  if (!GetUserNameW(buf, &size) || size == 0) return false;
  *out = Narrow(buf, size - 1);
  return true;
}

bool LocalTime(std::time_t when, std::tm* out) { return localtime_s(out, &when) == 0; }

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

std::FILE* OpenFileUtf8(const std::string& path, const std::string& mode, FileError* error) {
  std::FILE* file = _wfopen(Wide(path).c_str(), Wide(mode).c_str());
  if (error) {
    *error = file ? FileError::kNone : errno == ENOENT ? FileError::kNotFound : FileError::kIoError;
  }
  return file;
}

int RemoveFile(const std::string& path) {
  return DeleteFileW(Wide(path).c_str()) ? 0 : -1;
}

int ReplaceFile(const std::string& from, const std::string& to) {
  return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : -1;
}

std::FILE* OpenInputFile(const std::string& path, uint64_t max_bytes, InputFileError* error,
                         uint64_t* size) {
  InputFileError ignored;
  InputFileError& why = error ? *error : ignored;
  HANDLE handle = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    why = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND
              ? InputFileError::kNotFound
              : code == ERROR_ACCESS_DENIED && KindOfFile(path) == FileKind::kDirectory
                    ? InputFileError::kNotRegular
                    : InputFileError::kIoError;
    return nullptr;
  }
  LARGE_INTEGER length{};
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &length)) {
    CloseHandle(handle);
    why = InputFileError::kNotRegular;
    return nullptr;
  }
  if (size) *size = uint64_t(length.QuadPart);
  if (uint64_t(length.QuadPart) > max_bytes) {
    CloseHandle(handle);
    why = InputFileError::kTooLarge;
    return nullptr;
  }
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    why = InputFileError::kIoError;
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, "rb");
  if (!file) {
    _close(fd);
    why = InputFileError::kIoError;
    return nullptr;
  }
  why = InputFileError::kNone;
  return file;
}

// The mark is the handle itself: it does not share deletion, so while it
// is open DeleteFileW fails for everyone, and the system closes it when the
// process ends, however it ends. Reading and writing stay shared, for the
// library's own opens of the file by name.
CreateResult CreateHeldFile(const std::string& path, HeldFile* held) {
  HANDLE handle = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS ? CreateResult::kExists
                                                                       : CreateResult::kFailed;
  }
  *held = reinterpret_cast<HeldFile>(handle);
  return CreateResult::kCreated;
}

// Deleted by name once the handle is closed: creating links needs rights
// that the users of a line PC do not have, so nothing can be put in its
// place in between that the name would then reach.
void ReleaseHeldFile(HeldFile held, const std::string& path, bool remove) {
  if (held == kNoHeldFile) return;
  CloseHandle(reinterpret_cast<HANDLE>(held));
  if (remove) DeleteFileW(Wide(path).c_str());
}

// Windows refuses to rename a file while a handle keeps it from deletion.
int MoveHeldFile(HeldFile held, const std::string& from, const std::string& to) {
  ReleaseHeldFile(held, from, false);
  return ReplaceFile(from, to);
}

bool ListFolder(const std::string& dir, std::vector<std::string>* names) {
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW(Wide((dir.empty() ? std::string(".") : dir) + "\\*").c_str(),
                                 &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  names->clear();
  do {
    std::string name = Narrow(found.cFileName, DWORD(wcslen(found.cFileName)));
    if (name != "." && name != "..") names->push_back(std::move(name));
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return true;
}

// Windows keeps no owner check here: the folders this runs in belong to one
// user at a time, and a live process's file refuses deletion anyway.
bool RemoveAbandonedFile(const std::string& path) {
  DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  const DWORD not_a_file =
      FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & not_a_file)) return false;
  return DeleteFileW(Wide(path).c_str()) != 0;
}

uint32_t ProcessId() { return uint32_t(_getpid()); }

// Windows links are rare on the machines this runs on; a path stands as given.
std::string ResolveLinks(const std::string& path) { return path; }

FileKind KindOfFile(const std::string& path) {
  DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return FileKind::kMissing;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileKind::kDirectory;
  return attributes & FILE_ATTRIBUTE_DEVICE ? FileKind::kOther : FileKind::kRegular;
}

namespace {

bool FileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
  HANDLE handle = CreateFileW(Wide(path).c_str(), 0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  bool ok = GetFileInformationByHandle(handle, info) != 0;
  CloseHandle(handle);
  return ok;
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION ia{}, ib{};
  return FileIdentity(a, &ia) && FileIdentity(b, &ib) &&
         ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

bool CopyPermissions(const std::string& model, const std::string& path) {
  DWORD attributes = GetFileAttributesW(Wide(model).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         SetFileAttributesW(Wide(path).c_str(), attributes & FILE_ATTRIBUTE_READONLY
                                                   ? FILE_ATTRIBUTE_READONLY
                                                   : FILE_ATTRIBUTE_NORMAL) != 0;
}

void RemoveFileInSignalHandler(const char* path) { _unlink(path); }

namespace {
void (*g_termination_cleanup)() = nullptr;

void OnTerminationSignal(int signal_number) {
  if (g_termination_cleanup) g_termination_cleanup();
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}
}  // namespace

void RunOnTerminationSignals(void (*cleanup)()) {
  g_termination_cleanup = cleanup;
  for (int s : {SIGINT, SIGTERM}) std::signal(s, OnTerminationSignal);
}

}  // namespace korvo
