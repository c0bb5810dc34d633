// The byte-level COM port of the boot-loader bridge: line settings from a
// "COM1,9600,8,N,1" text, telegram and raw writes, reads with a first-byte
// time-out, and a traffic log of every byte sent and received.
//
// Thread safety: none; one thread uses an object at a time. Every
// operation on a closed port fails (false or 0) and touches nothing.
#pragma once

#include <cstdint>
#include <string>

#include "platform/serial_port.h"
#include "platform/system.h"

namespace korvo {

// Splits a text at any of a set of delimiter characters. Consecutive
// delimiters give empty tokens; a trailing delimiter gives none.
class StringTokenizer final {
 public:
  StringTokenizer(std::string text, std::string delimiters)
      : rest_(std::move(text)), delimiters_(std::move(delimiters)) {}
  bool HasMoreTokens() const { return !rest_.empty(); }
  std::string NextToken();

 private:
  std::string rest_;
  std::string delimiters_;
};

class SerialPort {
 public:
  static constexpr uint32_t kInterByteTimeoutMs = 100;

  // An empty `log_file` keeps the traffic log closed.
  explicit SerialPort(const std::string& log_file);
  virtual ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // "port,baud,data bits,parity letter,stop bits"; a missing field, a
  // parity other than E/N/O and stop bits other than 1/1.5/2 leave the
  // field as it was. Takes effect at the next Open.
  void SetSettings(const std::string& settings);
  // Returns the previous value.
  uint32_t SetFirstByteTimeout(uint32_t ms);

  // Closes first when open. False (and closed) when the device is missing,
  // busy or refuses the settings.
  bool Open();
  bool Close();
  // Clears what waits to be sent or read.
  bool Purge();
  // STX, `text`, ETX in one write.
  bool WriteTelegram(const std::string& text);
  // True when all `count` bytes were written; what was written is logged.
  bool Write(const uint8_t* bytes, uint32_t count);
  // Stores up to `maximum` bytes: waits the first-byte time-out for the
  // first, then 100 ms for each further one, and ends a second after twice
  // the time `maximum` bytes take on the line in all. 0x00 bytes are
  // dropped; a non-zero `terminator` ends the read and is not stored.
  int ReadBytes(uint8_t* buffer, int maximum, uint8_t terminator);

  const std::string& port_name() const { return port_name_; }
  uint32_t baud_rate() const { return baud_rate_; }
  uint8_t byte_size() const { return byte_size_; }
  uint8_t parity() const { return parity_; }        // 0 none, 1 odd, 2 even
  uint8_t stop_bits() const { return stop_bits_; }  // 0 one, 1 one and a half, 2 two
  bool is_open() const { return handle_ != nullptr; }

 private:
  bool ReadOneByte(uint8_t* byte, uint32_t timeout_ms);
  void Log(const std::string& prefix, const void* bytes, size_t count, const char* suffix);

  std::string port_name_ = "COM1";
  uint8_t byte_size_ = 8;
  uint8_t parity_ = 0;
  uint8_t stop_bits_ = 0;
  uint32_t first_byte_timeout_ms_ = 2000;
  uint32_t baud_rate_ = 9600;
  SerialHandle handle_ = nullptr;
  UniqueFile log_;
};

}  // namespace korvo
