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

bool CreateNewFile(const std::string& path, bool* exists) {
  HANDLE handle = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (exists) *exists = handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS;
  if (handle == INVALID_HANDLE_VALUE) return false;
  CloseHandle(handle);
  return true;
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
