// Whole-file helpers for tests. Header-only. Paths are UTF-8 text or a
// std::filesystem::path (wide on Windows, so it never converts implicitly).
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <type_traits>

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
