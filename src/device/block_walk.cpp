#include "device/block_walk.h"

namespace korvo {
namespace {

constexpr uint8_t kBlockMarker = 1;
constexpr size_t kScanPiece = 1024;

}  // namespace

// Whatever comes before the first block is not sent.
bool BlockWalk::FindFirstMarker() {
  const uint8_t* data = nullptr;
  size_t got = 0;
  while (file_.Peek(kScanPiece, &data, &got) && got > 0) {
    for (size_t i = 0; i < got; ++i) {
      if (data[i] == kBlockMarker) {
        file_.Skip(i);
        return true;
      }
    }
    file_.Skip(got);
  }
  return false;
}

bool BlockWalk::NextPart(std::vector<uint8_t>& part, bool& last) {
  part.clear();
  last = false;
  if (!started_) {
    if (!FindFirstMarker()) return false;
    started_ = true;
  }
  const uint8_t* buffer = nullptr;
  size_t got = 0;
  if (!file_.Peek(kMaxFirstPart, &buffer, &got)) return false;

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
  file_.Skip(chunk);
  return true;
}

}  // namespace korvo
