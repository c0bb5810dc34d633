// Temporary files: plain relative names (no directory), resolved against the
// current directory, or beside an output. Each is created new under a name
// nothing else holds (what is already there, a planted link included, is
// never opened, followed or changed), marked as in use while the process
// holds it, and removed on every way out; what a killed process left behind
// is removed by the next process that creates a file of the same kind.
#pragma once

#include <string>

#include "platform/system.h"

namespace korvo {

// The kinds ("keys") of the library's temporary files.
constexpr char kTempConfig[] = "CONFIG";                  // decompressed configuration XML
constexpr char kTempBuilderXml[] = "SCONFTMP";            // builder's XML before compression
constexpr char kTempSrec[] = "SRECTMP";                   // S-record lines kept by the range filter
constexpr char kTempDownloadData[] = "DWNLD_SDATA_TEMP";  // data extracted for a download
constexpr char kTempDownloadLog[] = "DWNLD_SLOG_TEMP";    // boot-loader traffic log
constexpr char kTempFirstStage[] = "FRSTSG_DWNLD";        // first-stage data
constexpr char kTempKeyFile[] = "KEYFILE_TMP";            // decompressed key file XML
constexpr char kTempBootLoaderFile[] = "PRGTMP";          // boot-loader download file

// "~" key computer user thread-id "." extension, with no separators.
std::string TempFileName(const std::string& key, const std::string& extension);

// One temporary file, removed when the guard goes out of scope (only the
// file that was created: never something put under its name meanwhile).
// While it lives, the file is also removed by
// RemoveGuardedFilesInSignalHandler. Not thread-safe; guards are
// independent of each other.
class TempFileGuard final {
 public:
  TempFileGuard() = default;
  ~TempFileGuard();
  TempFileGuard(const TempFileGuard&) = delete;
  TempFileGuard& operator=(const TempFileGuard&) = delete;

  // The file's name; "" until a Create or CreateUnique succeeded.
  const std::string& path() const { return path_; }

  // Creates the file of `key` in the current folder: TempFileName(key,
  // "TMP") of the calling thread or, while something is there under that
  // name, the same name with "-1", "-2", ... before ".TMP". First removes
  // the leftovers of `key` there: files under these names that no live
  // process holds. False, with path() empty, when no file could be created.
  bool Create(const std::string& key);

  // As Create, for a file beside an output: `prefix` followed by "~", the
  // process id, "-", a counter and ".TMP"; leftovers of `prefix` go first.
  bool CreateUnique(const std::string& prefix);

  // Leaves the file in place for a person to read. It is no longer marked
  // as in use, so the next Create of its key removes it.
  void Keep();

  // Renames the file over `target`: 0, or -1 with the file removed.
  int MoveOver(const std::string& target);

 private:
  // Tries `name`; kExists means that something else holds it.
  CreateResult TryCreate(std::string name);

  std::string path_;
  HeldFile held_ = kNoHeldFile;
  int slot_ = -1;  // in the signal handler's list; -1 when not in it
};

// Removes the files of every live TempFileGuard; async-signal-safe. The
// korvo tool runs it on SIGINT, SIGTERM and SIGHUP (RunOnTerminationSignals);
// the library runs it when it is unloaded while an operation still runs.
void RemoveGuardedFilesInSignalHandler();

// A file written in place of `output_path` that takes its place only when
// complete, so that a failed run never removes, truncates or half-writes
// what was there. The file is a new one beside the output; when the output
// is a symbolic link, beside the link's target, which is what gets replaced
// (the link stays). An existing output that is not a regular file (a
// device such as /dev/null or /dev/full, a pipe) has nothing to lose and
// is written directly, and so is a live temporary file of this process:
// replacing it would drop its mark of being in use.
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
