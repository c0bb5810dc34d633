#include "device/block_walk.h"

#include <cstdio>

#include "platform/system.h"

namespace korvo {
namespace {

constexpr uint8_t kBlockMarker = 1;

bool SeekTo(std::FILE* file, uint64_t position) {
  return position <= static_cast<uint64_t>(INT64_MAX) &&
         std::fseek(file, static_cast<long>(position), SEEK_SET) == 0;
}

}  // namespace

bool BlockWalk::FindFirstMarker(std::FILE* file) {
  uint8_t piece[1024];
  uint64_t offset = 0;
  for (size_t got; (got = std::fread(piece, 1, sizeof piece, file)) > 0; offset += got) {
    for (size_t i = 0; i < got; ++i) {
      if (piece[i] == kBlockMarker) {
        position_ = offset + i;
        return true;
      }
    }
  }
  return false;
}

bool BlockWalk::NextPart(std::vector<uint8_t>& part, bool& last) {
  part.clear();
  last = false;
  UniqueFile file(OpenFileUtf8(path_, "rb"));
  if (!file) return false;
  if (!started_) {
    if (!FindFirstMarker(file.get())) return false;
    started_ = true;
  }
  uint8_t buffer[kMaxFirstPart];
  if (!SeekTo(file.get(), position_)) return false;
  size_t got = std::fread(buffer, 1, sizeof buffer, file.get());

  size_t chunk;
  if (remaining_ == 0) {
    if (got < 5) return false;
    uint32_t length = uint32_t(buffer[1]) << 24 | uint32_t(buffer[2]) << 16 |
                      uint32_t(buffer[3]) << 8 | uint32_t(buffer[4]);
    last = length == 0;
    if (length > kMaxDataPerPart) {
      chunk = kMaxFirstPart;
      remaining_ = length - kMaxDataPerPart;
    } else {
      chunk = length + kHeaderBytes + 1;
    }
  } else if (remaining_ > kMaxDataPerPart) {
    chunk = kMaxContinuation;
    remaining_ -= kMaxDataPerPart;
  } else {
    chunk = remaining_ + 1;
    remaining_ = 0;
  }
  // A part the file does not hold in full is never sent padded with stale
  // bytes: the data file is damaged.
  if (got < chunk) {
    last = false;
    return false;
  }
  part.assign(buffer, buffer + chunk);
  position_ += chunk;
  return true;
}

}  // namespace korvo
