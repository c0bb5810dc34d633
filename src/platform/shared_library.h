// Libraries loaded at run time, by path or through the system's search.
// Thread safety: each object is used by one thread at a time; the free
// function may be called from any thread.
#pragma once

#include <memory>
#include <string>

namespace korvo {

class SharedLibrary {
 public:
  // Loads the library at `path` (UTF-8). A bare file name goes through the
  // system's normal search; a path with a folder loads that file only. Null
  // when it does not load; then `*error` says why.
  static std::unique_ptr<SharedLibrary> Open(const std::string& path, std::string* error);

  // Unloads the library: nothing it exports may be used afterwards.
  ~SharedLibrary();
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  // The address of the exported `name`; null when the library lacks it.
  void* Symbol(const char* name) const;

 private:
  explicit SharedLibrary(void* handle) : handle_(handle) {}
  void* handle_;
};

// The folder of the module that holds this code (the library, or the
// program it is linked into), ending in a separator; "" when unknown.
std::string ThisModuleFolder();

}  // namespace korvo
