// Conversions between the library's 8-bit text (UTF-8) and UTF-16, as Java
// strings, Xerces and wide Windows calls hold text. Pure code; thread-safe.
#pragma once

#include <cstddef>
#include <string>

namespace korvo {

// A byte that does not start a valid UTF-8 sequence stands for itself
// (Latin-1), so no input is refused or lost.
std::u16string Utf8ToUtf16(const std::string& in);

// Surrogate pairs become one four-byte sequence; a lone surrogate is kept as
// its three-byte form, so any Java string survives the round trip.
std::string Utf16ToUtf8(const char16_t* text, size_t length);
inline std::string Utf16ToUtf8(const std::u16string& text) {
  return Utf16ToUtf8(text.data(), text.size());
}

}  // namespace korvo
