// Watches the bytes of a document on their way to the XML scanner, which
// gathers a whole tag, comment, CDATA section or declaration before the
// parser sees any of it: a tag of millions of attributes, or one piece of
// markup of hundreds of megabytes, would cost gigabytes before a bound of
// the parser could refuse it. Knows just enough of the syntax to find the
// markup, in encodings that write ASCII as ASCII and in UTF-16.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "config/xml_access.h"

namespace korvo {

class MarkupGuard final {
 public:
  explicit MarkupGuard(const XmlLimits& limits) : limits_(limits) {}

  // False when the markup so far goes beyond a bound; reason() says which.
  bool Pass(const uint8_t* data, size_t size);
  const char* reason() const { return reason_; }

 private:
  enum class State { kText, kOpen, kTag, kQuoted, kBang, kComment, kCdata, kPi, kDeclaration };

  void Detect(uint8_t byte);
  size_t SkipRun(const uint8_t* data, size_t size, size_t i);
  void Enter(State state) {
    state_ = state;
    tail_ = 0;
  }
  bool TailIs(const char* end) const;
  void Unit(uint32_t c);
  void Tag(uint32_t c);
  void Bang(uint32_t c);
  void Declaration(uint32_t c);

  const XmlLimits& limits_;
  State state_ = State::kText;
  uint64_t seen_ = 0, length_ = 0, attributes_ = 0;
  uint8_t first_ = 0, half_ = 0;
  bool wide_ = false, big_endian_ = false, has_half_ = false;
  uint32_t tail_ = 0, quote_ = 0;
  int depth_ = 0;
  bool in_comment_ = false;
  std::string bang_;
  const char* reason_ = nullptr;
};

}  // namespace korvo
