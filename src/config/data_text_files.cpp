#include "config/data_text_files.h"

#include "platform/unicode.h"

namespace korvo {
namespace {

constexpr size_t kWriteChunk = 64 * 1024;
constexpr char kFilePrefix[] = "~CFGDATA";

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c < 0xDC00; }

}  // namespace

DataTextFiles::DataTextFiles(size_t memory_per_text, size_t memory_total)
    : memory_per_text_(memory_per_text), memory_total_(memory_total) {}

DataTextFiles::~DataTextFiles() = default;

bool DataTextFiles::Diverts(const std::vector<std::u16string>& path) {
  const bool data_device = path.size() == 3 && path[1] == u"Data" && path[2] == u"Device";
  if (data_device) first_run_ = true;
  return data_device;
}

void DataTextFiles::Begin() {
  open_ = true;
  high_surrogate_ = 0;
  buffer_.clear();
  taking_ = first_run_ && !failed_;
  if (taking_) texts_.emplace_back();
}

bool DataTextFiles::MoveToFile(Text& text) {
  text.file = std::make_unique<TempFileGuard>();
  if (text.file->CreateUnique(kFilePrefix)) writing_.reset(OpenFileUtf8(text.file->path(), "wb"));
  if (!writing_) failed_ = true;
  return writing_ != nullptr;
}

void DataTextFiles::Append(const XMLCh* chars, size_t length) {
  if (!taking_ || failed_) return;
  const char16_t* text = reinterpret_cast<const char16_t*>(chars);
  for (size_t i = 0; i < length; ++i) {
    const char16_t c = text[i];
    if (c < 0x80 && !high_surrogate_) {
      buffer_.push_back(char(c));  // Base64 is all ASCII
      continue;
    }
    // A surrogate pair may be split between two pieces.
    if (high_surrogate_) {
      const char16_t pair[2] = {high_surrogate_, c};
      const bool joined = c >= 0xDC00 && c < 0xE000;
      buffer_ += Utf16ToUtf8(pair, joined ? 2 : 1);
      high_surrogate_ = 0;
      if (joined) continue;
    }
    if (IsHighSurrogate(c))
      high_surrogate_ = c;
    else
      buffer_ += Utf16ToUtf8(&c, 1);
  }
  const bool too_big = buffer_.size() > memory_per_text_ ||
                       in_memory_ + buffer_.size() > memory_total_;
  if (!writing_ && too_big && !MoveToFile(texts_.back())) return;
  if (writing_ && buffer_.size() >= kWriteChunk) Flush();
}

bool DataTextFiles::Flush() {
  if (writing_ && !buffer_.empty() &&
      std::fwrite(buffer_.data(), 1, buffer_.size(), writing_.get()) != buffer_.size())
    failed_ = true;
  buffer_.clear();
  return !failed_;
}

void DataTextFiles::End(xercesc::DOMText* placeholder) {
  open_ = false;
  first_run_ = false;
  if (!taking_) return;
  taking_ = false;
  if (high_surrogate_) buffer_ += Utf16ToUtf8(&high_surrogate_, 1);
  high_surrogate_ = 0;
  Text& text = texts_.back();
  if (writing_) {
    Flush();
    if (std::fclose(writing_.release()) != 0) failed_ = true;
  } else if (!failed_) {
    in_memory_ += buffer_.size();
    text.bytes.swap(buffer_);
  }
  if (!placeholder) failed_ = true;
  if (!failed_) placeholders_[placeholder] = texts_.size() - 1;
}

bool DataTextFiles::Holds(const xercesc::DOMNode* node) const {
  return placeholders_.count(node) != 0;
}

bool DataTextFiles::Read(const xercesc::DOMNode* node,
                         const std::function<bool(const char*, size_t)>& take) const {
  auto it = placeholders_.find(node);
  if (it == placeholders_.end()) return false;
  const Text& text = texts_[it->second];
  if (!text.file) return take(text.bytes.data(), text.bytes.size());
  UniqueFile in(OpenFileUtf8(text.file->path(), "rb"));
  if (!in) return false;
  std::vector<char> piece(kWriteChunk);
  for (size_t got; (got = std::fread(piece.data(), 1, piece.size(), in.get())) > 0;) {
    if (!take(piece.data(), got)) return false;
  }
  return !std::ferror(in.get());
}

}  // namespace korvo
