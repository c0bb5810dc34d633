#include "device/com_port.h"

#include <cstdio>

namespace korvo {
namespace {

constexpr char kLogHeader[] = "Kommunikation Scanner/KRX Software:";
constexpr char kLogSettings[] = "New initialization:\t";
constexpr char kLogWrite[] = ">> ";
constexpr char kLogRead[] = "<< ";
constexpr int kMaxSettingsTokens = 10;

// Leading decimal digits; none gives 0.
uint32_t LeadingNumber(const std::string& text) {
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > 0xFFFFFFFFu) value = 0xFFFFFFFFu;
  }
  return static_cast<uint32_t>(value);
}

}  // namespace

std::string StringTokenizer::NextToken() {
  size_t at = rest_.find_first_of(delimiters_);
  std::string token = rest_.substr(0, at);
  rest_ = at == std::string::npos ? std::string() : rest_.substr(at + 1);
  return token;
}

SerialPort::SerialPort(const std::string& log_file) {
  if (log_file.empty()) return;
  log_.reset(OpenFileUtf8(log_file, "wb"));
  Log(kLogHeader, nullptr, 0, "\n");
}

SerialPort::~SerialPort() { Close(); }

void SerialPort::Log(const std::string& prefix, const void* bytes, size_t count,
                     const char* suffix) {
  std::FILE* f = log_.get();
  if (!f || std::ferror(f)) return;
  std::string entry = prefix;
  if (count) entry.append(static_cast<const char*>(bytes), count);
  entry += suffix;
  if (std::fwrite(entry.data(), 1, entry.size(), f) != entry.size() || std::fflush(f) != 0) {
    std::printf("Error writing to Logfile!\n");
    std::fflush(stdout);
  }
}

void SerialPort::SetSettings(const std::string& settings) {
  StringTokenizer tokens(settings, ",");
  for (int index = 0; index < kMaxSettingsTokens && tokens.HasMoreTokens(); ++index) {
    std::string token = tokens.NextToken();
    switch (index) {
      case 0: port_name_ = token; break;
      case 1: baud_rate_ = LeadingNumber(token); break;
      case 2: byte_size_ = static_cast<uint8_t>(LeadingNumber(token)); break;
      case 3:
        if (token.empty()) break;
        if (token[0] == 'E') parity_ = 2;
        if (token[0] == 'N') parity_ = 0;
        if (token[0] == 'O') parity_ = 1;
        break;
      case 4:
        if (token == "1") stop_bits_ = 0;
        if (token == "1.5") stop_bits_ = 1;
        if (token == "2") stop_bits_ = 2;
        break;
      default: break;
    }
  }
  Log(kLogSettings, settings.data(), settings.size(), "\n");
}

uint32_t SerialPort::SetFirstByteTimeout(uint32_t ms) {
  uint32_t old = first_byte_timeout_ms_;
  first_byte_timeout_ms_ = ms;
  return old;
}

bool SerialPort::Open() {
  Close();
  handle_ = OpenSerialPort(port_name_);
  if (!handle_) return false;
  SerialSettings line;
  line.baud_rate = baud_rate_;
  line.parity = parity_ == 2 ? SerialParity::kEven : parity_ == 1 ? SerialParity::kOdd
                                                                  : SerialParity::kNone;
  line.data_bits = byte_size_;
  line.stop_bits = stop_bits_ == 0 ? 1 : stop_bits_ == 2 ? 2 : kOneAndAHalfStopBits;
  if (!ApplySerialSettings(handle_, line)) {
    Close();
    return false;
  }
  DropSerialControlLines(handle_);  // a pseudo-terminal has no modem lines
  // Close drained what this object sent; purging the transmit side too
  // would, on a pseudo-terminal, take back bytes the device has not read.
  PurgeSerialPort(handle_, kSerialPurgeReceive);
  return true;
}

bool SerialPort::Close() {
  // A reopen must not cut off a request still on its way out.
  if (handle_) DrainSerialPort(handle_);
  if (handle_) CloseSerialPort(handle_);
  handle_ = nullptr;
  return true;
}

bool SerialPort::Purge() { return handle_ && PurgeSerialPort(handle_); }

bool SerialPort::WriteTelegram(const std::string& text) {
  std::string telegram = "\x02" + text + "\x03";
  return Write(reinterpret_cast<const uint8_t*>(telegram.data()),
               static_cast<uint32_t>(telegram.size()));
}

bool SerialPort::Write(const uint8_t* bytes, uint32_t count) {
  if (!handle_ || count == 0 || !bytes) return false;
  uint32_t written = 0;
  if (!WriteSerialPort(handle_, bytes, count, &written)) return false;
  Log(kLogWrite, bytes, written, "");
  return written == count;
}

bool SerialPort::ReadOneByte(uint8_t* byte, uint32_t timeout_ms) {
  SerialTimeouts timeouts;
  if (!GetSerialTimeouts(handle_, &timeouts)) return false;
  // "Return at the first byte, waiting at most the constant."
  timeouts.read_interval = kSerialNoWait;
  timeouts.read_total_multiplier = kSerialNoWait;
  timeouts.read_total_constant = timeout_ms < kSerialNoWait ? timeout_ms : kSerialNoWait - 1;
  uint32_t got = 0;
  return SetSerialTimeouts(handle_, timeouts) && ReadSerialPort(handle_, byte, 1, &got) &&
         got == 1;
}

int SerialPort::ReadBytes(uint8_t* buffer, int maximum, uint8_t terminator) {
  if (!handle_ || !buffer || maximum <= 0) return 0;
  uint8_t byte = 0;
  if (!ReadOneByte(&byte, first_byte_timeout_ms_)) return 0;
  // Dropped zeros do not end a read: a line that keeps sending them must
  // not hold it for ever. Twice the time `maximum` bytes take on the line
  // (11 bits each), and a second more.
  const uint32_t start = TickCount();
  const uint32_t deadline =
      uint32_t(uint64_t(maximum) * 11 * 2000 / (baud_rate_ ? baud_rate_ : 1)) + 1000;
  int stored = 0;
  uint32_t timeout = first_byte_timeout_ms_;
  for (;;) {
    if (terminator != 0 && byte == terminator) break;
    if (byte != 0) {
      buffer[stored++] = byte;
      timeout = kInterByteTimeoutMs;
    }
    // Stop before reading a byte there is no room for: it would be lost.
    if (stored >= maximum || TickCount() - start >= deadline || !ReadOneByte(&byte, timeout))
      break;
  }
  if (stored > 0) Log(kLogRead, buffer, static_cast<size_t>(stored), "");
  return stored;
}

}  // namespace korvo
