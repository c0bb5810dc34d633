#include "platform/system.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <csignal>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <thread>
#include <vector>

namespace korvo {

uint32_t TickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ms = uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
  return uint32_t(ms);
}

void SleepMs(uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool ComputerName(std::string* out) {
  char buf[256] = {};
  if (gethostname(buf, sizeof buf - 1) != 0) return false;
  *out = buf;
  return true;
}

bool UserName(std::string* out) {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(size > 0 ? size_t(size) : 16384);
  passwd pw{};
  passwd* result = nullptr;
  if (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &result) != 0 ||
      result == nullptr || result->pw_name == nullptr)
    return false;
  *out = result->pw_name;
  return true;
}

bool LocalTime(std::time_t when, std::tm* out) { return localtime_r(&when, out) != nullptr; }

uint32_t CurrentThreadId() { return uint32_t(syscall(SYS_gettid)); }

namespace {

// fopen's "w" and "w+", but without following a link at the end of the path.
std::FILE* OpenForWriting(const std::string& path, const std::string& mode) {
  const bool update = mode.find('+') != std::string::npos;
  int fd = open(path.c_str(), (update ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC | O_NOFOLLOW |
                                  O_CLOEXEC | O_NOCTTY,
                0666);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, mode.c_str());
  if (!file) {
    int saved = errno;
    close(fd);
    errno = saved;
  }
  return file;
}

}  // namespace

std::FILE* OpenFileUtf8(const std::string& path, const std::string& mode, FileError* error) {
  // POSIX paths are bytes already; UTF-8 passes through unchanged.
  std::FILE* file = !mode.empty() && mode[0] == 'w' ? OpenForWriting(path, mode)
                                                    : std::fopen(path.c_str(), mode.c_str());
  if (error) {
    *error = file ? FileError::kNone
                  : errno == ENOENT || errno == ENOTDIR ? FileError::kNotFound
                                                        : FileError::kIoError;
  }
  return file;
}

std::FILE* OpenInputFile(const std::string& path, uint64_t max_bytes, InputFileError* error,
                         uint64_t* size) {
  InputFileError ignored;
  InputFileError& why = error ? *error : ignored;
  // Non-blocking, so that opening a FIFO with no writer returns at once.
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    why = errno == ENOENT || errno == ENOTDIR ? InputFileError::kNotFound
                                              : InputFileError::kIoError;
    return nullptr;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    close(fd);
    why = InputFileError::kIoError;
    return nullptr;
  }
  if (!S_ISREG(st.st_mode)) {
    close(fd);
    why = InputFileError::kNotRegular;
    return nullptr;
  }
  if (size) *size = uint64_t(st.st_size);
  if (uint64_t(st.st_size) > max_bytes) {
    close(fd);
    why = InputFileError::kTooLarge;
    return nullptr;
  }
  int flags = fcntl(fd, F_GETFL);
  std::FILE* file = flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0
                        ? nullptr
                        : fdopen(fd, "rb");
  if (!file) {
    close(fd);
    why = InputFileError::kIoError;
    return nullptr;
  }
  why = InputFileError::kNone;
  return file;
}

namespace {

// Whether `path` (not followed) names the file open as `fd`.
bool NamesFile(const std::string& path, int fd) {
  struct stat at_path {}, open_file {};
  return lstat(path.c_str(), &at_path) == 0 && fstat(fd, &open_file) == 0 &&
         at_path.st_dev == open_file.st_dev && at_path.st_ino == open_file.st_ino;
}

// File systems without flock() support report one of these; there files go
// unmarked, and RemoveAbandonedFile, which cannot lock them either, leaves
// them alone.
bool LocksUnsupported(int error) {
  return error == ENOLCK || error == EINVAL || error == EOPNOTSUPP;
}

}  // namespace

// The mark is an exclusive flock() lock, which the kernel drops with the
// last descriptor, so a killed process leaves an unmarked file behind.
CreateResult CreateHeldFile(const std::string& path, HeldFile* held) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    // O_EXCL with O_CREAT never follows a link; O_NOFOLLOW says so twice.
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY,
                  0666);
    if (fd < 0) return errno == EEXIST ? CreateResult::kExists : CreateResult::kFailed;
    int locked = flock(fd, LOCK_EX);
    if (locked != 0 && !LocksUnsupported(errno)) {
      close(fd);
      return CreateResult::kFailed;
    }
    // Between open and flock another process may have taken the new file
    // for a leftover and removed it; then the name is free again.
    if (NamesFile(path, fd)) {
      *held = fd;
      return CreateResult::kCreated;
    }
    close(fd);
  }
  return CreateResult::kFailed;
}

void ReleaseHeldFile(HeldFile held, const std::string& path, bool remove) {
  if (held == kNoHeldFile) return;
  int fd = static_cast<int>(held);
  if (remove && NamesFile(path, fd)) unlink(path.c_str());
  close(fd);
}

// Renamed while still held, so that no other process can take the
// finished file for a leftover in between.
int MoveHeldFile(HeldFile held, const std::string& from, const std::string& to) {
  int rc = std::rename(from.c_str(), to.c_str()) == 0 ? 0 : -1;
  ReleaseHeldFile(held, from, false);
  return rc;
}

bool ListFolder(const std::string& dir, std::vector<std::string>* names) {
  DIR* folder = opendir(dir.empty() ? "." : dir.c_str());
  if (!folder) return false;
  names->clear();
  while (dirent* entry = readdir(folder)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names->push_back(std::move(name));
  }
  closedir(folder);
  return true;
}

bool RemoveAbandonedFile(const std::string& path) {
  // Non-blocking, so that a pipe under such a name does not stop us.
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  struct stat st {};
  bool removed = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
                 flock(fd, LOCK_EX | LOCK_NB) == 0 && NamesFile(path, fd) &&
                 unlink(path.c_str()) == 0;
  close(fd);
  return removed;
}

uint32_t ProcessId() { return uint32_t(getpid()); }

std::string ResolveLinks(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* resolved = realpath(path.c_str(), nullptr);
  if (!resolved) return path;
  std::string out = resolved;
  std::free(resolved);
  return out;
}

FileKind KindOfFile(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return FileKind::kMissing;
  if (S_ISREG(st.st_mode)) return FileKind::kRegular;
  return S_ISDIR(st.st_mode) ? FileKind::kDirectory : FileKind::kOther;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

bool CopyPermissions(const std::string& model, const std::string& path) {
  struct stat st {};
  return stat(model.c_str(), &st) == 0 && chmod(path.c_str(), st.st_mode & 07777) == 0;
}

int RemoveFile(const std::string& path) {
  return std::remove(path.c_str()) == 0 ? 0 : -1;
}

int ReplaceFile(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : -1;
}

void RemoveFileInSignalHandler(const char* path) { unlink(path); }

namespace {
void (*g_termination_cleanup)() = nullptr;

void OnTerminationSignal(int signal_number) {
  if (g_termination_cleanup) g_termination_cleanup();
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal_number, &fallback, nullptr);
  raise(signal_number);
}
}  // namespace

void RunOnTerminationSignals(void (*cleanup)()) {
  g_termination_cleanup = cleanup;
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, s);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old {};
    // A signal the caller's parent set to be ignored stays ignored.
    if (sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    sigaction(s, &action, nullptr);
  }
}

}  // namespace korvo
