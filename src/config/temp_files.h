// Per-process temporary file names: plain relative names (no directory),
// resolved against the current directory. Built once at library load, so
// two operations using the same key at once in one process share a file.
#pragma once

#include <string>

#include "platform/system.h"

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

// Deletes a file when it goes out of scope, on every path. While it lives,
// the file is also removed by RemoveGuardedFilesInSignalHandler.
class TempFileGuard final {
 public:
  explicit TempFileGuard(std::string path);
  ~TempFileGuard();
  TempFileGuard(const TempFileGuard&) = delete;
  TempFileGuard& operator=(const TempFileGuard&) = delete;
  const std::string& path() const { return path_; }

  // For a guard made with an empty path: creates a new, empty file named
  // `prefix` followed by characters that make it unique, and guards it.
  // False, with path() empty, when no such file could be created.
  bool CreateUnique(const std::string& prefix);

 private:
  std::string path_;
  int slot_ = -1;  // in the signal handler's list; -1 when not in it
};

// Removes the files of every live TempFileGuard; async-signal-safe. The
// korvo tool runs it on SIGINT, SIGTERM and SIGHUP (RunOnTerminationSignals).
void RemoveGuardedFilesInSignalHandler();

// A file written in place of `output_path` that takes its place only when
// complete, so that a failed run never removes, truncates or half-writes
// what was there. The file is a new one beside the output; when the output
// is a symbolic link, beside the link's target, which is what gets replaced
// (the link stays). An existing output that is not a regular file (a
// device such as /dev/null or /dev/full, a pipe) has nothing to lose and
// is written directly.
class ReplacingOutput final {
 public:
  explicit ReplacingOutput(const std::string& output_path);
  ~ReplacingOutput() = default;
  ReplacingOutput(const ReplacingOutput&) = delete;
  ReplacingOutput& operator=(const ReplacingOutput&) = delete;

  // False when no file could be created beside the output.
  bool ok() const { return direct_ || !temp_.path().empty(); }
  // Where to write.
  const std::string& path() const { return direct_ ? target_ : temp_.path(); }
  // Puts what was written in place of the output (keeping an existing
  // output's permissions); 0, or -1 with the output untouched. The
  // temporary file is removed on every way out.
  int Commit();

 private:
  std::string target_;
  FileKind kind_;
  bool direct_;
  TempFileGuard temp_;
};

}  // namespace korvo
