#include "config/temp_files.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "platform/system.h"

namespace korvo {
namespace {

// A name that does not fit the 15-character buffer counts as a failed call.
constexpr size_t kComputerNameMax = 14;
constexpr size_t kUserNameMax = 255;

const std::string& ComputerPart() {
  static const std::string name = [] {
    std::string n;
    if (!ComputerName(&n) || n.empty() || n.size() > kComputerNameMax) n = "COMPUTER";
    return n;
  }();
  return name;
}

const std::string& UserPart() {
  static const std::string name = [] {
    std::string n;
    if (!UserName(&n) || n.empty() || n.size() > kUserNameMax) n = "USER";
    return n;
  }();
  return name;
}

}  // namespace

std::string TempFileName(const std::string& key, const std::string& extension) {
  std::ostringstream s;
  s << '~' << key << ComputerPart() << UserPart() << CurrentThreadId() << '.' << extension;
  return s.str();
}

const TempNames& ProcessTempNames() {
  static const TempNames names{
      TempFileName("CONFIG", "TMP"),           TempFileName("SCONFTMP", "TMP"),
      TempFileName("SRECTMP", "TMP"),          TempFileName("BREKTMP", "TMP"),
      TempFileName("DWNLD_SDATA_TEMP", "TMP"), TempFileName("DWNLD_SLOG_TEMP", "TMP"),
      TempFileName("FRSTSG_DWNLD", "TMP"),     TempFileName("KEYFILE_TMP", "TMP"),
  };
  return names;
}

namespace {
// Built at load, on the loading thread.
const TempNames& kBuiltAtLoad = ProcessTempNames();
}  // namespace

namespace {

// The guarded paths as C strings, for a signal handler to read without
// locking or allocating. A run of the tool holds a handful at a time.
constexpr int kGuardSlots = 64;
std::atomic<char*> g_guarded[kGuardSlots];

int AddGuarded(const std::string& path) {
  char* copy = static_cast<char*>(std::malloc(path.size() + 1));
  if (!copy) return -1;
  std::memcpy(copy, path.c_str(), path.size() + 1);
  for (int i = 0; i < kGuardSlots; ++i) {
    char* expected = nullptr;
    if (g_guarded[i].compare_exchange_strong(expected, copy)) return i;
  }
  std::free(copy);
  return -1;
}

void DropGuarded(int slot) {
  if (slot >= 0) std::free(g_guarded[slot].exchange(nullptr));
}

// With a large part of the output's name, so that the file is recognised.
std::string PartialPrefix(const std::string& target) { return target + "."; }

}  // namespace

TempFileGuard::TempFileGuard(std::string path) : path_(std::move(path)) {
  if (!path_.empty()) slot_ = AddGuarded(path_);
}

TempFileGuard::~TempFileGuard() {
  if (!path_.empty()) RemoveFile(path_);
  DropGuarded(slot_);
}

bool TempFileGuard::CreateUnique(const std::string& prefix) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = prefix + "~" + std::to_string(ProcessId()) + "-" +
                       std::to_string(counter.fetch_add(1)) + ".TMP";
    // Guarded before it exists: a signal right after the file is created
    // must find it. (A file already there under this name, which the guard
    // covers until the create fails, can only be a leftover of an earlier
    // process with our id.)
    DropGuarded(slot_);
    slot_ = AddGuarded(name);
    bool exists = false;
    if (CreateNewFile(name, &exists)) {
      path_ = std::move(name);
      return true;
    }
    if (!exists) break;
  }
  DropGuarded(slot_);
  slot_ = -1;
  return false;
}

void RemoveGuardedFilesInSignalHandler() {
  for (auto& slot : g_guarded) {
    if (const char* path = slot.load()) RemoveFileInSignalHandler(path);
  }
}

ReplacingOutput::ReplacingOutput(const std::string& output_path)
    : target_(ResolveLinks(output_path)),
      kind_(KindOfFile(target_)),
      direct_(kind_ == FileKind::kOther),
      temp_(std::string()) {
  // A folder cannot be replaced: no file, so the caller reports it.
  if (kind_ == FileKind::kMissing || kind_ == FileKind::kRegular)
    temp_.CreateUnique(PartialPrefix(target_));
}

int ReplacingOutput::Commit() {
  if (direct_) return 0;
  if (temp_.path().empty()) return -1;
  if (kind_ == FileKind::kRegular) CopyPermissions(target_, temp_.path());
  return ReplaceFile(temp_.path(), target_) == 0 ? 0 : -1;
}

}  // namespace korvo
