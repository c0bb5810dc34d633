#include "config/temp_files.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/system.h"

namespace korvo {
namespace {

// A name that does not fit the 15-character buffer counts as a failed call.
constexpr size_t kComputerNameMax = 14;
constexpr size_t kUserNameMax = 255;
constexpr int kMaxAttempts = 100;
constexpr char kTempExtension[] = ".TMP";

// Never destroyed: an operation still running while the library's statics
// go must find them.
const std::string& ComputerPart() {
  static const std::string* name = [] {
    std::string n;
    if (!ComputerName(&n) || n.empty() || n.size() > kComputerNameMax) n = "COMPUTER";
    return new std::string(n);
  }();
  return *name;
}

const std::string& UserPart() {
  static const std::string* name = [] {
    std::string n;
    if (!UserName(&n) || n.empty() || n.size() > kUserNameMax) n = "USER";
    return new std::string(n);
  }();
  return *name;
}

// "~" key computer user: what every name of the key starts with.
std::string KeyStem(const std::string& key) { return "~" + key + ComputerPart() + UserPart(); }

// Skips one or more decimal digits at `at`; false when there are none.
bool SkipDigits(const std::string& text, size_t& at) {
  size_t start = at;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
  return at > start;
}

bool EndsWithExtensionAt(const std::string& name, size_t at) {
  return name.compare(at, std::string::npos, kTempExtension) == 0;
}

// stem digits [ "-" digits ] ".TMP": the names Create gives a key.
bool IsKeyName(const std::string& name, const std::string& stem) {
  if (name.compare(0, stem.size(), stem) != 0) return false;
  size_t at = stem.size();
  if (!SkipDigits(name, at)) return false;
  if (at < name.size() && name[at] == '-' && !SkipDigits(name, ++at)) return false;
  return EndsWithExtensionAt(name, at);
}

// base "~" digits "-" digits ".TMP": the names CreateUnique gives a prefix.
bool IsUniqueName(const std::string& name, const std::string& base) {
  if (name.compare(0, base.size(), base) != 0 || name.size() <= base.size() ||
      name[base.size()] != '~')
    return false;
  size_t at = base.size() + 1;
  if (!SkipDigits(name, at) || at >= name.size() || name[at] != '-' || !SkipDigits(name, ++at))
    return false;
  return EndsWithExtensionAt(name, at);
}

size_t FolderEnd(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? 0 : slash + 1;
}

// Removes what killed processes left in `folder` under the names `ours`
// accepts; a file some live process holds stays.
template <typename Ours>
void RemoveLeftovers(const std::string& folder, Ours&& ours) {
  std::vector<std::string> names;
  if (!ListFolder(folder, &names)) return;
  for (const std::string& name : names) {
    if (ours(name)) RemoveAbandonedFile(folder + name);
  }
}

// The guarded paths as C strings, for a signal handler to read without
// locking or allocating. A run of the tool holds a handful at a time. The
// mutex orders the ordinary readers and writers; the handler takes none.
constexpr int kGuardSlots = 64;
std::atomic<char*> g_guarded[kGuardSlots];
std::mutex g_guarded_mutex;

int AddGuarded(const std::string& path) {
  char* copy = static_cast<char*>(std::malloc(path.size() + 1));
  if (!copy) return -1;
  std::memcpy(copy, path.c_str(), path.size() + 1);
  std::lock_guard<std::mutex> hold(g_guarded_mutex);
  for (int i = 0; i < kGuardSlots; ++i) {
    char* expected = nullptr;
    if (g_guarded[i].compare_exchange_strong(expected, copy)) return i;
  }
  std::free(copy);
  return -1;
}

void DropGuarded(int slot) {
  if (slot < 0) return;
  std::lock_guard<std::mutex> hold(g_guarded_mutex);
  std::free(g_guarded[slot].exchange(nullptr));
}

// Whether `path` is the name of a live guard's file.
bool IsGuarded(const std::string& path) {
  std::lock_guard<std::mutex> hold(g_guarded_mutex);
  for (auto& slot : g_guarded) {
    const char* guarded = slot.load();
    if (guarded && path == guarded) return true;
  }
  return false;
}

// With a large part of the output's name, so that the file is recognised.
std::string PartialPrefix(const std::string& target) { return target + "."; }

}  // namespace

std::string TempFileName(const std::string& key, const std::string& extension) {
  return KeyStem(key) + std::to_string(CurrentThreadId()) + "." + extension;
}

TempFileGuard::~TempFileGuard() {
  // Out of the signal handler's list first, so that it never removes a file
  // that is no longer ours.
  DropGuarded(slot_);
  ReleaseHeldFile(held_, path_, true);
}

CreateResult TempFileGuard::TryCreate(std::string name) {
  // Guarded before it exists, so that a signal right after the creation
  // finds it in the list. A name that is there already carries this
  // process's or thread's number: a leftover, which the handler may remove.
  const int slot = AddGuarded(name);
  HeldFile held = kNoHeldFile;
  CreateResult result = CreateHeldFile(name, &held);
  if (result != CreateResult::kCreated) {
    DropGuarded(slot);
    return result;
  }
  held_ = held;
  path_ = std::move(name);
  slot_ = slot;
  return result;
}

bool TempFileGuard::Create(const std::string& key) {
  if (!path_.empty()) return false;
  const std::string stem = KeyStem(key);
  RemoveLeftovers("", [&](const std::string& name) { return IsKeyName(name, stem); });
  const std::string first = stem + std::to_string(CurrentThreadId());
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    std::string name = first + (attempt ? "-" + std::to_string(attempt) : "") + kTempExtension;
    CreateResult result = TryCreate(std::move(name));
    if (result != CreateResult::kExists) return result == CreateResult::kCreated;
  }
  return false;
}

bool TempFileGuard::CreateUnique(const std::string& prefix) {
  static std::atomic<unsigned> counter{0};
  if (!path_.empty()) return false;
  const size_t folder_end = FolderEnd(prefix);
  const std::string base = prefix.substr(folder_end);
  RemoveLeftovers(prefix.substr(0, folder_end),
                  [&](const std::string& name) { return IsUniqueName(name, base); });
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    std::string name = prefix + "~" + std::to_string(ProcessId()) + "-" +
                       std::to_string(counter.fetch_add(1)) + kTempExtension;
    CreateResult result = TryCreate(std::move(name));
    if (result != CreateResult::kExists) return result == CreateResult::kCreated;
  }
  return false;
}

void TempFileGuard::Keep() {
  DropGuarded(slot_);
  slot_ = -1;
  ReleaseHeldFile(held_, path_, false);
  held_ = kNoHeldFile;
}

int TempFileGuard::MoveOver(const std::string& target) {
  if (path_.empty()) return -1;
  DropGuarded(slot_);
  slot_ = -1;
  HeldFile held = held_;
  held_ = kNoHeldFile;
  int rc = MoveHeldFile(held, path_, target);
  if (rc != 0) RemoveFile(path_);
  path_.clear();
  return rc;
}

void RemoveGuardedFilesInSignalHandler() {
  for (auto& slot : g_guarded) {
    if (const char* path = slot.load()) RemoveFileInSignalHandler(path);
  }
}

ReplacingOutput::ReplacingOutput(const std::string& output_path)
    : target_(ResolveLinks(output_path)),
      kind_(KindOfFile(target_)),
      direct_(kind_ == FileKind::kOther ||
              (kind_ == FileKind::kRegular && IsGuarded(output_path))) {
  // A folder cannot be replaced: no file, so the caller reports it.
  if (!direct_ && (kind_ == FileKind::kMissing || kind_ == FileKind::kRegular))
    temp_.CreateUnique(PartialPrefix(target_));
}

int ReplacingOutput::Commit() {
  if (direct_) return 0;
  if (temp_.path().empty()) return -1;
  if (kind_ == FileKind::kRegular) CopyPermissions(target_, temp_.path());
  return temp_.MoveOver(target_);
}

}  // namespace korvo
