// Shared by the libFuzzer targets: each runs in a fresh work folder of its
// own (so that "no file left behind" can be checked after every input),
// with Xerces initialised once. Header-only.
#pragma once

#include <unistd.h>
#include <xercesc/util/PlatformUtils.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/system.h"

namespace korvo::fuzz {

// Stops the run with a message libFuzzer reports as a crash.
[[noreturn]] inline void Fail(const std::string& what) {
  std::fprintf(stderr, "invariant broken: %s\n", what.c_str());
  std::abort();
}

inline void Check(bool ok, const std::string& what) {
  if (!ok) Fail(what);
}

// Enters a new folder under the system's temporary folder and initialises
// Xerces. Call from LLVMFuzzerInitialize.
inline void EnterWorkFolder(const char* name) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() /
                 ("korvo-fuzz-" + std::string(name) + "-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::current_path(dir);
  xercesc::XMLPlatformUtils::Initialize();
  static struct Cleaner {
    fs::path dir;
    ~Cleaner() {
      std::error_code ec;
      fs::remove_all(dir, ec);
    }
  } cleaner{dir};
}

inline void WriteBytes(const std::string& path, const uint8_t* data, size_t size) {
  UniqueFile f(OpenFileUtf8(path, "wb"));
  Check(f && std::fwrite(data, 1, size, f.get()) == size, "cannot write " + path);
}

inline void WriteText(const std::string& path, const std::string& text) {
  WriteBytes(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// The file's bytes, or "<missing>".
inline std::string ReadBytes(const std::string& path) {
  UniqueFile f(OpenFileUtf8(path, "rb"));
  if (!f) return "<missing>";
  std::string bytes;
  char chunk[65536];
  for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, f.get())) > 0;)
    bytes.append(chunk, got);
  return bytes;
}

// Fails when the work folder holds anything besides `expected`.
inline void CheckOnly(const std::vector<std::string>& expected) {
  for (const auto& entry : std::filesystem::directory_iterator(".")) {
    std::string name = entry.path().filename().string();
    bool known = false;
    for (const std::string& e : expected) known = known || e == name;
    if (!known) Fail("left behind: " + name);
  }
}

// Removes everything in the work folder.
inline void ClearWorkFolder() {
  for (const auto& entry : std::filesystem::directory_iterator("."))
    std::filesystem::remove_all(entry.path());
}

// Splits fuzz input at the first occurrence of `separator` (a byte that
// rarely occurs in the documents fuzzed): what is before, and after.
inline std::pair<std::string, std::string> SplitAt(const uint8_t* data, size_t size,
                                                  char separator) {
  std::string all(reinterpret_cast<const char*>(data), size);
  size_t at = all.find(separator);
  if (at == std::string::npos) return {all, std::string()};
  return {all.substr(0, at), all.substr(at + 1)};
}

}  // namespace korvo::fuzz
