// Per-process temporary file names: plain relative names (no directory),
// resolved against the current directory. Built once at library load, so
// two operations using the same key at once in one process share a file.
#pragma once

#include <string>

namespace korvo {

// "~" key computer user thread-id "." extension, with no separators.
std::string TempFileName(const std::string& key, const std::string& extension);

// The names built at load, one per key.
struct TempNames {
  std::string config;            // "CONFIG": decompressed configuration XML
  std::string config_builder;    // "SCONFTMP": builder's XML before compression
  std::string srec;              // "SRECTMP": S-record lines kept by the range filter
  std::string brek;              // "BREKTMP": converted block stream to embed
  std::string download_data;     // "DWNLD_SDATA_TEMP": data extracted for a download
  std::string download_log;      // "DWNLD_SLOG_TEMP": boot-loader log
  std::string first_stage;       // "FRSTSG_DWNLD": first-stage data
  std::string key_file;          // "KEYFILE_TMP": decompressed key file XML
};

const TempNames& ProcessTempNames();

// Deletes a file when it goes out of scope, on every path.
class TempFileGuard final {
 public:
  explicit TempFileGuard(std::string path) : path_(std::move(path)) {}
  ~TempFileGuard();
  TempFileGuard(const TempFileGuard&) = delete;
  TempFileGuard& operator=(const TempFileGuard&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace korvo
