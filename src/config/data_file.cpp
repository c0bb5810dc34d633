#include "config/data_file.h"

#include <algorithm>
#include <cstring>

namespace korvo {
namespace {

constexpr size_t kReadChunk = 64 * 1024;

}  // namespace

std::FILE* OpenDataFile(const std::string& path, std::string* why, uint64_t* size,
                        uint64_t max_bytes) {
  InputFileError error = InputFileError::kNone;
  uint64_t found = 0;
  std::FILE* file = OpenInputFile(path, max_bytes, &error, &found);
  if (size) *size = found;
  if (file || !why) return file;
  switch (error) {
    case InputFileError::kNotFound: *why = "no such file"; break;
    case InputFileError::kNotRegular:
      *why = "not a regular file (a folder, a device or a pipe)";
      break;
    case InputFileError::kTooLarge: *why = TooLargeText(std::to_string(found) + " bytes"); break;
    default: *why = "cannot be opened"; break;
  }
  return nullptr;
}

std::string TooLargeText(const std::string& amount) {
  return "too large (" + amount + "; an image may have at most " +
         std::to_string(kMaxImageBytes >> 20) + " MiB)";
}

SequentialReader::SequentialReader(std::string path) : path_(std::move(path)) {}

bool SequentialReader::Peek(size_t n, const uint8_t** data, size_t* size) {
  if (!opened_) {
    opened_ = true;
    file_.reset(OpenFileUtf8(path_, "rb"));
    failed_ = !file_;
  }
  if (failed_) return false;
  if (end_ - begin_ < n && !at_end_) {
    const size_t kept = end_ - begin_;
    if (kept != 0 && begin_ != 0) std::memmove(buffer_.data(), buffer_.data() + begin_, kept);
    end_ = kept;
    begin_ = 0;
    if (buffer_.size() < n || buffer_.size() < kReadChunk) buffer_.resize(std::max(n, kReadChunk));
    while (end_ < n && !at_end_) {
      const size_t got = std::fread(buffer_.data() + end_, 1, buffer_.size() - end_, file_.get());
      end_ += got;
      if (got == 0) at_end_ = true;
    }
    if (std::ferror(file_.get())) return !(failed_ = true);
  }
  *data = buffer_.data() + begin_;
  *size = std::min(n, end_ - begin_);
  return true;
}

}  // namespace korvo
