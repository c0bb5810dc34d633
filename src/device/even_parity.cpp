#include "device/even_parity.h"

namespace korvo {
namespace {

char WithEvenParity(char c) {
  unsigned bits = static_cast<unsigned char>(c);
  unsigned ones = 0;
  for (unsigned b = bits; b != 0; b >>= 1) ones += b & 1u;
  return static_cast<char>((ones & 1u) ? (bits | 0x80u) : bits);
}

}  // namespace

std::string AddEvenParity(const std::string& text) {
  std::string out(text);
  for (char& c : out) c = WithEvenParity(c);
  return out;
}

}  // namespace korvo
