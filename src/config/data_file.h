// Device data files (the DataFilename of a project's device): regular files
// whose image is of bounded size, streamed by the conversions.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/system.h"

namespace korvo {

// The largest image a build takes: the data file of the "File" and
// "SRECXML" conversions, the data bytes of the records of the BREK ones.
// The build streams it, so memory sets no bound; this keeps one device's
// configuration (about 1.36 times its image as XML) well within what a
// download reads (kMaxXmlDocumentBytes).
constexpr uint64_t kMaxImageBytes = uint64_t(256) << 20;

// Opens a data file for reading. Null when it is missing, cannot be opened,
// is not a regular file (a folder, a device such as /dev/zero, a pipe) or is
// larger than `max_bytes`; then `*why` (may be null) says which in a few
// words. `*size` (may be null) receives its size. Never blocks on a pipe.
// The caller closes the file and bounds what it reads (a file may grow
// after the check).
std::FILE* OpenDataFile(const std::string& path, std::string* why = nullptr,
                        uint64_t* size = nullptr, uint64_t max_bytes = kMaxImageBytes);

// "too large (`amount`; an image may have at most 256 MiB)".
std::string TooLargeText(const std::string& amount);

// Reads a file front to back through one buffer, for the part-wise
// transfers: the file is opened once, and each part is looked at where it
// starts, then taken, without seeking or reopening. Not thread-safe.
class SequentialReader final {
 public:
  explicit SequentialReader(std::string path);

  // Points `*data` at the next `n` bytes, or at fewer at the end of the
  // file (`*size` says how many); valid until the next call. False when the
  // file cannot be opened or read.
  bool Peek(size_t n, const uint8_t** data, size_t* size);
  // Moves on by `n` bytes, at most as many as the last Peek gave.
  void Skip(size_t n) { begin_ += n; }

 private:
  std::string path_;
  UniqueFile file_;
  bool opened_ = false;
  bool failed_ = false;
  bool at_end_ = false;
  std::vector<uint8_t> buffer_;
  size_t begin_ = 0;  // of the bytes not yet taken
  size_t end_ = 0;
};

}  // namespace korvo
