#include "config/data_text_files.h"

#include "platform/unicode.h"

namespace korvo {
namespace {

constexpr size_t kWriteChunk = 64 * 1024;
constexpr char kFilePrefix[] = "~CFGDATA";

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c < 0xDC00; }

}  // namespace

DataTextFiles::DataTextFiles() = default;

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
  if (!first_run_ || failed_) return;
  auto file = std::make_unique<TempFileGuard>();
  if (file->CreateUnique(kFilePrefix)) writing_.reset(OpenFileUtf8(file->path(), "wb"));
  if (!writing_) failed_ = true;
  files_.push_back(std::move(file));
}

void DataTextFiles::Append(const XMLCh* chars, size_t length) {
  if (!writing_) return;
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
  if (buffer_.size() >= kWriteChunk) Flush();
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
  const bool first = first_run_;
  first_run_ = false;
  if (!first) return;
  if (high_surrogate_) buffer_ += Utf16ToUtf8(&high_surrogate_, 1);
  high_surrogate_ = 0;
  Flush();
  if (writing_ && std::fclose(writing_.release()) != 0) failed_ = true;
  if (!placeholder) failed_ = true;
  if (!failed_) placeholders_[placeholder] = files_.size() - 1;
}

const std::string* DataTextFiles::FileOf(const xercesc::DOMNode* node) const {
  auto it = placeholders_.find(node);
  return it == placeholders_.end() ? nullptr : &files_[it->second]->path();
}

}  // namespace korvo
