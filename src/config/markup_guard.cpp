#include "config/markup_guard.h"

#include <cstring>

namespace korvo {
namespace {

constexpr const char* kMarkupTooLong = "one piece of markup longer than allowed";

}  // namespace

bool MarkupGuard::Pass(const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size && !reason_; ++i) {
    if (seen_ < 2) {
      // The first two bytes tell the encoding; Detect passes them on.
      Detect(data[i]);
      ++seen_;
    } else if (!wide_) {
      i = SkipRun(data, size, i);
      if (i < size) Unit(data[i]);
    } else if (!has_half_) {
      half_ = data[i];
      has_half_ = true;
    } else {
      has_half_ = false;
      Unit(big_endian_ ? uint32_t(half_) << 8 | data[i] : uint32_t(data[i]) << 8 | half_);
    }
  }
  return !reason_;
}

// UTF-16 shows in its first two bytes: a byte order mark or "<" and 0.
void MarkupGuard::Detect(uint8_t byte) {
  if (seen_ == 0) {
    first_ = byte;
    return;
  }
  wide_ = (first_ == 0xFE && byte == 0xFF) || (first_ == 0xFF && byte == 0xFE) ||
          (first_ == 0 && byte == '<') || (first_ == '<' && byte == 0);
  big_endian_ = first_ == 0xFE || first_ == 0;
  if (wide_) {
    Unit(big_endian_ ? uint32_t(first_) << 8 | byte : uint32_t(byte) << 8 | first_);
  } else {
    Unit(first_);
    Unit(byte);
  }
}

// Text, quoted values and the names in tags are most of a document, and
// only the byte that ends them matters: the first such byte from `i` on,
// or `size`.
size_t MarkupGuard::SkipRun(const uint8_t* data, size_t size, size_t i) {
  if (state_ == State::kTag) {
    // Names and blanks in a tag change nothing but the length.
    size_t stop = i;
    while (stop < size && data[stop] != '"' && data[stop] != '\'' && data[stop] != '=' &&
           data[stop] != '>')
      ++stop;
    if ((length_ += stop - i) > limits_.max_markup) reason_ = kMarkupTooLong;
    return reason_ ? size : stop;
  }
  if (state_ != State::kText && state_ != State::kQuoted) return i;
  const uint8_t end = state_ == State::kText ? '<' : uint8_t(quote_);
  const void* hit = std::memchr(data + i, end, size - i);
  const size_t stop = hit ? size_t(static_cast<const uint8_t*>(hit) - data) : size;
  if (state_ == State::kQuoted && (length_ += stop - i) > limits_.max_markup)
    reason_ = kMarkupTooLong;
  return reason_ ? size : stop;
}

// The last three units, to find the end of a comment, CDATA section or
// processing instruction.
bool MarkupGuard::TailIs(const char* end) const {
  uint32_t want = 0;
  for (const char* c = end; *c; ++c) want = want << 8 | uint8_t(*c);
  const uint32_t mask = end[1] == 0 ? 0xFF : end[2] == 0 ? 0xFFFF : 0xFFFFFF;
  return (tail_ & mask) == want;
}

void MarkupGuard::Unit(uint32_t c) {
  if (state_ == State::kText) {
    if (c == '<') {
      Enter(State::kOpen);
      length_ = 0;
      attributes_ = 0;
    }
    return;
  }
  if (++length_ > limits_.max_markup) {
    reason_ = kMarkupTooLong;
    return;
  }
  tail_ = tail_ << 8 | (c < 0x80 ? c : 0x80);
  switch (state_) {
    case State::kOpen:
      Enter(c == '!' ? State::kBang : c == '?' ? State::kPi : State::kTag);
      bang_.clear();
      if (state_ == State::kTag) Tag(c);
      break;
    case State::kTag: Tag(c); break;
    case State::kQuoted:
      if (c == quote_) Enter(State::kTag);
      break;
    case State::kBang: Bang(c); break;
    case State::kComment:
      if (TailIs("-->")) Enter(State::kText);
      break;
    case State::kCdata:
      if (TailIs("]]>")) Enter(State::kText);
      break;
    case State::kPi:
      if (TailIs("?>")) Enter(State::kText);
      break;
    case State::kDeclaration: Declaration(c); break;
    case State::kText: break;
  }
}

void MarkupGuard::Tag(uint32_t c) {
  if (c == '"' || c == '\'') {
    quote_ = c;
    Enter(State::kQuoted);
  } else if (c == '=' && ++attributes_ > limits_.max_attributes) {
    reason_ = "more attributes on one element than allowed";
  } else if (c == '>') {
    Enter(State::kText);
  }
}

// After "<!": a comment, a CDATA section or a declaration.
void MarkupGuard::Bang(uint32_t c) {
  bang_.push_back(c < 0x80 ? char(c) : '\x80');
  const std::string cdata = "[CDATA[";
  if (bang_ == "--") {
    Enter(State::kComment);
  } else if (cdata.compare(0, bang_.size(), bang_) == 0) {
    if (bang_ == cdata) Enter(State::kCdata);
  } else if (bang_ != "-") {
    Enter(State::kDeclaration);
    depth_ = 0;
    quote_ = 0;
    in_comment_ = false;
    for (char ch : bang_) Declaration(uint8_t(ch));
  }
}

// A document type declaration may hold declarations of its own between
// brackets, with quoted values and comments.
void MarkupGuard::Declaration(uint32_t c) {
  if (in_comment_) {
    in_comment_ = !TailIs("-->");
  } else if (quote_) {
    if (c == quote_) quote_ = 0;
  } else if ((tail_ & 0xFFFFFF) == ('!' << 16 | '-' << 8 | '-')) {
    in_comment_ = true;
  } else if (c == '"' || c == '\'') {
    quote_ = c;
  } else if (c == '[') {
    ++depth_;
  } else if (c == ']') {
    if (depth_ > 0) --depth_;
  } else if (c == '>' && depth_ == 0) {
    Enter(State::kText);
  }
}

}  // namespace korvo
