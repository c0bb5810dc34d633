// The line-settings text is read the same way on every system; only applying
// the settings differs.

#include <cctype>

#include "platform/serial_port.h"

namespace korvo {
namespace {

std::string Trimmed(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return std::string();
  size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

bool ParseUnsigned(const std::string& text, uint32_t* out) {
  if (text.empty() || text.size() > 9) return false;
  uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  *out = value;
  return true;
}

}  // namespace

bool IsSupportedBaudRate(uint32_t baud) {
  for (uint32_t rate : {110u, 300u, 600u, 1200u, 2400u, 4800u, 9600u, 19200u, 38400u, 57600u,
                        115200u, 230400u}) {
    if (rate == baud) return true;
  }
  return false;
}

bool ParseSerialSettings(const std::string& text, SerialSettings* out) {
  std::string fields[4];
  size_t start = 0;
  for (int i = 0; i < 4; ++i) {
    size_t comma = text.find(',', start);
    if ((i < 3) != (comma != std::string::npos)) return false;
    fields[i] = Trimmed(text.substr(start, comma == std::string::npos ? comma : comma - start));
    start = comma + 1;
  }
  SerialSettings settings;
  uint32_t data = 0;
  uint32_t stop = 0;
  if (!ParseUnsigned(fields[0], &settings.baud_rate) || !IsSupportedBaudRate(settings.baud_rate))
    return false;
  if (fields[1].size() != 1) return false;
  switch (std::tolower(static_cast<unsigned char>(fields[1][0]))) {
    case 'n': settings.parity = SerialParity::kNone; break;
    case 'e': settings.parity = SerialParity::kEven; break;
    case 'o': settings.parity = SerialParity::kOdd; break;
    default: return false;
  }
  if (!ParseUnsigned(fields[2], &data) || data < 5 || data > 8) return false;
  if (!ParseUnsigned(fields[3], &stop) || (stop != 1 && stop != 2)) return false;
  settings.data_bits = static_cast<uint8_t>(data);
  settings.stop_bits = static_cast<uint8_t>(stop);
  *out = settings;
  return true;
}

}  // namespace korvo
