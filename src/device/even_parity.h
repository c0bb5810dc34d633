// Even parity in bit 7, as a device sending 7 data bits with even parity is
// seen by a reader set to 8 data bits. Pure functions; thread-safe.
#pragma once

#include <string>

namespace korvo {

// A copy of `text` with bit 7 set in every byte whose low 8 bits hold an odd
// number of ones; bytes already even stay as they are.
std::string AddEvenParity(const std::string& text);

}  // namespace korvo
