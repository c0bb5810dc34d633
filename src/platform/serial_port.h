// A small serial-port layer in the shape of the Win32 communications calls,
// so that the device channel reads the same on every system: open a device
// by name, apply line settings from a "9600,n,8,1" text, get and set the five
// time-outs, purge, write, read and close.
//
// A handle is used by one thread at a time; different handles are
// independent. Every call accepts a null handle and then fails.
#pragma once

#include <cstdint>
#include <string>

namespace korvo {

// Time-outs in milliseconds, with the Win32 meaning:
// - a read ends when the requested count arrived, when more than
//   `read_interval` passes between two bytes (0: no interval limit; the
//   clock starts with the first byte), or when
//   `read_total_multiplier` * requested + `read_total_constant` passes from
//   the start of the read (both 0: no total limit);
// - `read_interval` = kSerialNoWait with both read totals 0 returns at once
//   with whatever is buffered;
// - `read_interval` = kSerialNoWait with `read_total_multiplier` =
//   kSerialNoWait and 0 < `read_total_constant` < kSerialNoWait returns as
//   soon as any byte is there, waiting at most `read_total_constant`;
// - a write gives up after `write_total_multiplier` * count +
//   `write_total_constant` (both 0: no limit).
struct SerialTimeouts {
  uint32_t read_interval = 0;
  uint32_t read_total_multiplier = 0;
  uint32_t read_total_constant = 0;
  uint32_t write_total_multiplier = 0;
  uint32_t write_total_constant = 0;
};

constexpr uint32_t kSerialNoWait = 0xFFFFFFFFu;

enum class SerialParity { kNone, kOdd, kEven };

// One and a half stop bits (15 for 1.5), which Windows can set and termios
// cannot.
constexpr uint8_t kOneAndAHalfStopBits = 15;

struct SerialSettings {
  uint32_t baud_rate = 0;
  SerialParity parity = SerialParity::kNone;
  uint8_t data_bits = 0;
  uint8_t stop_bits = 0;  // 1, 2 or kOneAndAHalfStopBits
};

struct SerialPortState;
using SerialHandle = SerialPortState*;

// Why OpenSerialPort gave no handle.
enum class SerialOpenError {
  kNone,
  kNotFound,   // no such device (or an empty name)
  kDenied,     // the user may not open it
  kBusy,       // another program has it open exclusively, or holds a lock on it
  kNotSerial,  // it opens, but is no serial device
  kFailed,     // any other failure of the system
};

// Opens an existing serial device for reading and writing, exclusively: a
// second open of the same device fails until the first is closed. The
// device's line settings are left as found until ApplySerialSettings. A
// fresh handle's time-outs return at once with whatever is buffered.
// Null on failure (missing device, not a terminal, busy, empty name); then
// `*error` (may be null) says why and `*detail` (may be null) gives a few
// words for people, such as which process holds the lock ("" when nothing
// more is known).
SerialHandle OpenSerialPort(const std::string& name, SerialOpenError* error = nullptr,
                            std::string* detail = nullptr);

// Parses "baud,parity,data,stop" as in "9600,n,8,1": parity one of n, e, o
// (either case); data bits 5 to 8; stop bits 1 or 2; blanks around fields
// are allowed. False (out untouched) for anything else.
bool ParseSerialSettings(const std::string& text, SerialSettings* out);

// The baud rates every system here can set: 110 to 230400, the standard steps.
bool IsSupportedBaudRate(uint32_t baud);

// Applies the settings as a raw 8-bit line (no echo, no translation, no
// flow control). False when the baud rate is not supported or the device
// refuses them; on POSIX also for one and a half stop bits, with a debug
// line that says so.
bool ApplySerialSettings(SerialHandle port, const SerialSettings& settings);

// Lowers DTR and RTS (no hardware handshake uses them). False when the
// device has no modem lines, as a pseudo-terminal; the line works anyway.
bool DropSerialControlLines(SerialHandle port);

bool GetSerialTimeouts(SerialHandle port, SerialTimeouts* out);
bool SetSerialTimeouts(SerialHandle port, const SerialTimeouts& timeouts);

// What PurgeSerialPort discards.
enum SerialPurge { kSerialPurgeReceive = 1, kSerialPurgeTransmit = 2, kSerialPurgeBoth = 3 };

// Discards what is received but not read and/or what is not yet sent. On a
// pseudo-terminal, bytes not yet read by the far side count as not sent.
bool PurgeSerialPort(SerialHandle port, int what = kSerialPurgeBoth);

// Waits until every byte written has left (FlushFileBuffers on Win32).
bool DrainSerialPort(SerialHandle port);

// Writes up to `size` bytes within the write time-out. `*written` (may be
// null) receives the count actually written, also on failure. False only
// on a device error; a time-out is a short count.
bool WriteSerialPort(SerialHandle port, const void* data, uint32_t size, uint32_t* written);

// Reads up to `size` bytes under the read time-outs. `*got` (may be null)
// receives the count read, also on failure. A time-out is not an error; a
// device error or hang-up with nothing read is.
bool ReadSerialPort(SerialHandle port, void* data, uint32_t size, uint32_t* got);

// Closes the handle and frees it. Non-zero when the device was closed
// cleanly, 0 when closing failed or the handle was null; the handle is
// unusable afterwards either way.
int CloseSerialPort(SerialHandle port);

}  // namespace korvo
