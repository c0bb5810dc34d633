#include "config/base64_stream.h"

#include <array>

namespace korvo {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t kLineLength = 60;

constexpr int8_t kInvalid = -1;
constexpr int8_t kBlank = -2;
constexpr int8_t kPad = -3;

constexpr std::array<int8_t, 256> BuildValues() {
  std::array<int8_t, 256> values{};
  for (auto& v : values) v = kInvalid;
  for (int i = 0; i < 64; ++i) values[static_cast<unsigned char>(kAlphabet[i])] = int8_t(i);
  values[' '] = values['\t'] = values['\r'] = values['\n'] = kBlank;
  values['='] = kPad;
  return values;
}
constexpr std::array<int8_t, 256> kValues = BuildValues();

}  // namespace

void Base64Encoder::Group(const uint8_t* group, size_t size, std::string& out) {
  const uint32_t bits = uint32_t(group[0]) << 16 | uint32_t(size > 1 ? group[1] : 0) << 8 |
                        uint32_t(size > 2 ? group[2] : 0);
  char text[5] = {kAlphabet[bits >> 18], kAlphabet[(bits >> 12) & 63],
                  size > 1 ? kAlphabet[(bits >> 6) & 63] : '=',
                  size > 2 ? kAlphabet[bits & 63] : '=', '\n'};
  line_ += 4;
  const bool line_full = line_ == kLineLength;
  if (line_full) line_ = 0;
  out.append(text, line_full ? 5 : 4);
}

void Base64Encoder::Add(const uint8_t* data, size_t size, std::string& out) {
  while (pending_size_ != 0 && pending_size_ < 3 && size != 0) {
    pending_[pending_size_++] = *data++;
    --size;
  }
  if (pending_size_ == 3) {
    Group(pending_, 3, out);
    pending_size_ = 0;
  }
  out.reserve(out.size() + size / 3 * 4 + size / 45 + 8);
  for (; size >= 3; data += 3, size -= 3) Group(data, 3, out);
  for (; size != 0; --size) pending_[pending_size_++] = *data++;
}

void Base64Encoder::Finish(std::string& out) {
  if (pending_size_ != 0) Group(pending_, pending_size_, out);
  if (line_ != 0) out.push_back('\n');
  pending_size_ = 0;
  line_ = 0;
}

bool Base64Decoder::Add(const char* text, size_t size, std::string& out) {
  for (size_t i = 0; i < size && !failed_; ++i) {
    const int8_t value = kValues[static_cast<unsigned char>(text[i])];
    if (value == kBlank) continue;
    if (ended_ || value == kInvalid) {
      failed_ = true;
    } else if (value == kPad) {
      // Padding fills the last places of a group: "xx==" or "xxx=".
      if (count_ < 2) {
        failed_ = true;
      } else {
        ++padding_;
        group_[count_++] = 0;
      }
    } else if (padding_ != 0) {
      failed_ = true;  // "xx=x"
    } else {
      group_[count_++] = uint8_t(value);
    }
    if (failed_ || count_ < 4) continue;
    const uint32_t bits = uint32_t(group_[0]) << 18 | uint32_t(group_[1]) << 12 |
                          uint32_t(group_[2]) << 6 | group_[3];
    const char bytes[3] = {char(bits >> 16), char(bits >> 8), char(bits)};
    // The bits the padding leaves over must be 0, as in the canonical form.
    if ((padding_ == 2 && (bits & 0xFFFF) != 0) || (padding_ == 1 && (bits & 0xFF) != 0)) {
      failed_ = true;
      continue;
    }
    out.append(bytes, size_t(3 - padding_));
    ended_ = padding_ != 0;
    count_ = padding_ = 0;
    any_ = true;
  }
  return !failed_;
}

bool Base64Decoder::Finish() {
  const bool valid = !failed_ && any_ && count_ == 0;
  *this = Base64Decoder();
  return valid;
}

}  // namespace korvo
