#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include "platform/shared_library.h"

namespace korvo {

std::unique_ptr<SharedLibrary> SharedLibrary::Open(const std::string& path, std::string* error) {
  // Bound at once, so that a library lacking what it needs fails here and
  // not in the middle of a download; kept to itself, so that its names
  // never stand in for the program's.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    *error = why ? why : path + ": cannot be loaded";
    return nullptr;
  }
  return std::unique_ptr<SharedLibrary>(new SharedLibrary(handle));
}

SharedLibrary::~SharedLibrary() { dlclose(handle_); }

void* SharedLibrary::Symbol(const char* name) const { return dlsym(handle_, name); }

std::string ThisModuleFolder() {
  Dl_info info{};
  std::string path;
  if (dladdr(reinterpret_cast<void*>(&ThisModuleFolder), &info) && info.dli_fname)
    path = info.dli_fname;
  // The program itself is named as it was started, perhaps relative to a
  // folder that is no longer the current one.
  if (path.empty() || path[0] != '/') {
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
    path = n > 0 && static_cast<size_t>(n) < sizeof buffer ? std::string(buffer, n) : "";
  }
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace korvo
