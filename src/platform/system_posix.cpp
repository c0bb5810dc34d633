#include "platform/system.h"

#include <pwd.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
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

std::FILE* OpenFileUtf8(const std::string& path, const std::string& mode, FileError* error) {
  // POSIX paths are bytes already; UTF-8 passes through unchanged.
  std::FILE* file = std::fopen(path.c_str(), mode.c_str());
  if (error) {
    *error = file ? FileError::kNone
                  : errno == ENOENT || errno == ENOTDIR ? FileError::kNotFound
                                                        : FileError::kIoError;
  }
  return file;
}

int RemoveFile(const std::string& path) {
  return std::remove(path.c_str()) == 0 ? 0 : -1;
}

int ReplaceFile(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : -1;
}

}  // namespace korvo
