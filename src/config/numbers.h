// Numbers in document texts and attributes, each reading written once.
// Pure functions; thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace korvo {

// Leading white space, an optional sign, then decimal digits up to the first
// other byte, as atoi reads them; no digits gives 0. Out-of-range values
// saturate at the 32-bit limits. Reads at most `length` bytes and stops at a
// zero byte.
int32_t TextToInt(const char* text, size_t length);
int32_t TextToInt(const std::string& text);

// An unsigned number with automatic base ("0x"/"0X" hexadecimal, leading
// "0" octal, else decimal) as a 32-bit C library reads it: leading blanks
// and a sign are accepted, a minus negates modulo 2^32, values past 32 bits
// saturate, no digits gives 0.
uint32_t TextToUnsigned(const std::string& text);

// The whole of `text` (leading blanks allowed) as an unsigned 32-bit number
// in the same bases. False when anything but the number is left over, when
// there is no number, or when it is negative or too large.
bool ParseUnsigned(const std::string& text, uint32_t& value);

}  // namespace korvo
