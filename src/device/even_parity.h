// Even parity in bit 7, as a device sending 7 data bits with even parity is
// seen by a reader set to 8 data bits. Pure functions; thread-safe.
#pragma once

#include <string>

namespace korvo {

// Sets bit 7 of every byte whose low 8 bits hold an odd number of ones, up to
// the first zero byte; bytes already even stay as they are. `text` may be null.
void AddEvenParity(char* text);

// The same on a copy of `text` (every byte, zero bytes included).
std::string AddEvenParity(const std::string& text);

}  // namespace korvo
