// Whole-file helpers for tests. Header-only. Paths are UTF-8 text or a
// std::filesystem::path (wide on Windows, so it never converts implicitly).
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <type_traits>
#include <vector>

#include "config/temp_files.h"
#include "platform/system.h"

namespace korvo::test_support {

// Replaces the file with `bytes`; a file that cannot be written fails the test.
inline void WriteFile(const std::string& path, const std::string& bytes) {
  UniqueFile f(OpenFileUtf8(path, "wb"));
  ASSERT_TRUE(f) << path;
  ASSERT_EQ(bytes.size(), std::fwrite(bytes.data(), 1, bytes.size(), f.get())) << path;
}

// The file's bytes, or "<missing>" when it cannot be opened.
inline std::string ReadFile(const std::string& path) {
  UniqueFile f(OpenFileUtf8(path, "rb"));
  if (!f) return "<missing>";
  std::string bytes;
  char chunk[4096];
  for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, f.get())) > 0;)
    bytes.append(chunk, got);
  return bytes;
}

// The temporary files of `key` (empty: any) this process (Create's: this thread) left in the
// current folder; links planted under such names are not the library's.
inline std::vector<std::string> TempFilesLeft(const std::string& key = "") {
  const std::string first = TempFileName(key, "TMP");
  // "~" key, then computer, user and thread: only that last part when any key counts.
  const std::string part = first.substr(key.empty() ? 1 : 0, first.size() - 4 - (key.empty() ? 1 : 0));
  const std::string unique = "~" + std::to_string(ProcessId()) + "-";  // CreateUnique's names
  std::vector<std::string> names, left;
  ListFolder("", &names);
  for (const std::string& n : names) {
    const size_t at = n.find(part);
    const bool named = at != std::string::npos && (key.empty() ? n[0] == '~' : at == 0) &&
                       (n[at + part.size()] == '.' || n[at + part.size()] == '-');
    const bool temporary = n.size() > 4 && n.compare(n.size() - 4, 4, ".TMP") == 0;
    if (temporary && (named || (key.empty() && n.find(unique) != std::string::npos)) &&
        !std::filesystem::is_symlink(n))
      left.push_back(n);
  }
  return left;
}

// Links under the first names of `keys` for this thread to a victim file, as an intruder
// might plant them; gone with the object. None on Windows (links need rights there).
class PlantedLinks {
 public:
  explicit PlantedLinks(std::initializer_list<const char*> keys) {
    WriteFile(kVictim, kPrecious);
#ifndef _WIN32
    for (const char* key : keys) {
      links_.push_back(TempFileName(key, "TMP"));
      std::filesystem::create_symlink(std::filesystem::absolute(kVictim), links_.back());
    }
#else
    (void)keys;
#endif
  }
  ~PlantedLinks() {
    for (const std::string& link : links_) RemoveFile(link);
    RemoveFile(kVictim);
  }
  // Empty when every link is still there and the victim as it was.
  std::string Damage() const {
    std::string damage;
    for (const std::string& link : links_)
      if (!std::filesystem::is_symlink(link)) damage += link + " is gone; ";
    if (ReadFile(kVictim) != kPrecious) damage += "the victim was written: " + ReadFile(kVictim);
    return damage;
  }

 private:
  static constexpr char kVictim[] = "planted_links_victim.txt";
  static constexpr char kPrecious[] = "precious";
  std::vector<std::string> links_;
};

// Only for a path itself, so that text arguments keep choosing the above.
template <typename P, typename = std::enable_if_t<std::is_same_v<P, std::filesystem::path>>>
inline void WriteFile(const P& path, const std::string& bytes) {
  WriteFile(path.u8string(), bytes);
}
template <typename P, typename = std::enable_if_t<std::is_same_v<P, std::filesystem::path>>>
inline std::string ReadFile(const P& path) {
  return ReadFile(path.u8string());
}

}  // namespace korvo::test_support
