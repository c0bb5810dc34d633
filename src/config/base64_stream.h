// Base64 (RFC 2045) a piece at a time, written and read exactly as Xerces'
// Base64::encode and decodeToXMLByte do, so that a payload of any size
// passes through a buffer of a few kilobytes instead of being held whole,
// twice, in memory.
//
// Not thread-safe; one object per stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace korvo {

// Encodes into lines of 60 characters, each ended by a line feed, the last
// (shorter) line too; no bytes give no text at all.
class Base64Encoder final {
 public:
  // Appends the text of `data` to `out`. Bytes that do not complete a group
  // of three wait for the next call or for Finish.
  void Add(const uint8_t* data, size_t size, std::string& out);
  // Appends the last, padded group and the last line feed; the encoder is
  // then ready for a new text.
  void Finish(std::string& out);

 private:
  void Group(const uint8_t* group, size_t size, std::string& out);

  uint8_t pending_[3] = {};
  size_t pending_size_ = 0;
  size_t line_ = 0;  // characters in the current line
};

// Decodes text as Xerces' RFC 2045 decoder accepts it: blanks (space, tab,
// CR, LF) are skipped wherever they are; everything else must form groups of
// four characters of the alphabet, where only the last group may end in "="
// or "==", with the bits the padding leaves unused all 0, and nothing may
// follow it. Text without any group (empty, or blanks only) is not valid.
// Any other character, also one outside ASCII, makes the text invalid.
class Base64Decoder final {
 public:
  // Appends the bytes of `text` to `out`; false as soon as the text cannot
  // be valid any more (what was appended is then to be discarded).
  bool Add(const char* text, size_t size, std::string& out);
  // Whether everything added was one valid text; the decoder is then ready
  // for a new one.
  bool Finish();

 private:
  uint8_t group_[4] = {};
  int count_ = 0;      // characters of the current group
  int padding_ = 0;    // "=" seen in the current group
  bool ended_ = false; // a padded group was completed: only blanks may follow
  bool any_ = false;   // a group was completed
  bool failed_ = false;
};

}  // namespace korvo
