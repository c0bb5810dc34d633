// System services through the wide Win32 calls: the library's UTF-8 paths and
// names are converted at the call, never passed through the ANSI code page.

#include "platform/system.h"

#include <windows.h>
// windows.h maps ReplaceFile to ReplaceFileW, which would rename ours.
#undef ReplaceFile

#include <cerrno>
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

}  // namespace korvo
