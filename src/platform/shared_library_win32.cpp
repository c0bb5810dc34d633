// Paths are widened for the wide calls: a folder with characters outside
// the ANSI code page must load as any other.
#include <windows.h>

#include <vector>

#include "platform/shared_library.h"
#include "platform/unicode.h"

namespace korvo {
namespace {

std::wstring Wide(const std::string& text) {
  std::u16string wide = Utf8ToUtf16(text);
  return std::wstring(wide.begin(), wide.end());
}

std::string SystemMessage(DWORD code) {
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  while (n > 0 && (text[n - 1] == L'\n' || text[n - 1] == L'\r' || text[n - 1] == L' ')) --n;
  std::string message = Utf16ToUtf8(reinterpret_cast<const char16_t*>(text), n);
  if (text) LocalFree(text);
  return "error " + std::to_string(code) + (message.empty() ? "" : " (" + message + ")");
}

}  // namespace

std::unique_ptr<SharedLibrary> SharedLibrary::Open(const std::string& path, std::string* error) {
  std::wstring name = Wide(path);
  DWORD flags = 0;
  if (path.find_first_of("\\/:") != std::string::npos) {
    // A library named by its path finds its own dependencies beside it
    // first; the flag wants a full path.
    std::vector<wchar_t> full(MAX_PATH);
    DWORD n;
    while ((n = GetFullPathNameW(name.c_str(), DWORD(full.size()), full.data(), nullptr)) >=
           full.size())
      full.resize(n + 1);
    if (n > 0) {
      name.assign(full.data(), n);
      flags = LOAD_WITH_ALTERED_SEARCH_PATH;
    }
  }
  // No message box for a missing or damaged file: the caller reports it.
  DWORD old_mode = 0;
  SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &old_mode);
  HMODULE module = LoadLibraryExW(name.c_str(), nullptr, flags);
  DWORD code = GetLastError();
  SetThreadErrorMode(old_mode, nullptr);
  if (!module) {
    *error = path + ": " + SystemMessage(code);
    return nullptr;
  }
  return std::unique_ptr<SharedLibrary>(new SharedLibrary(module));
}

SharedLibrary::~SharedLibrary() { FreeLibrary(static_cast<HMODULE>(handle_)); }

void* SharedLibrary::Symbol(const char* name) const {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

std::string ThisModuleFolder() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&ThisModuleFolder), &module))
    return std::string();
  // A path longer than MAX_PATH is cut short without an error: grow until it fits.
  std::vector<wchar_t> buffer(MAX_PATH);
  DWORD n;
  while ((n = GetModuleFileNameW(module, buffer.data(), DWORD(buffer.size()))) >= buffer.size()) {
    if (buffer.size() >= 32768) return std::string();
    buffer.resize(buffer.size() * 2);
  }
  std::string path = Utf16ToUtf8(reinterpret_cast<const char16_t*>(buffer.data()), n);
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace korvo
