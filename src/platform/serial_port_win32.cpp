// Serial ports through the Win32 communications calls. The layer's API has
// the Win32 time-out meaning already, so the values pass through unchanged.

#include "platform/serial_port.h"

#include <windows.h>

#include "platform/unicode.h"

namespace korvo {

struct SerialPortState {
  HANDLE handle = INVALID_HANDLE_VALUE;
};

namespace {

// "COM12" only opens through the device namespace; a full path is kept.
std::wstring DevicePath(const std::string& name) {
  std::u16string wide = Utf8ToUtf16(name);
  std::wstring path(wide.begin(), wide.end());
  if (path.find_first_of(L"\\/:") == std::wstring::npos) path = L"\\\\.\\" + path;
  return path;
}

}  // namespace

SerialHandle OpenSerialPort(const std::string& name, SerialOpenError* error,
                            std::string* detail) {
  SerialOpenError why = SerialOpenError::kNone;
  std::string text;
  SerialHandle port = nullptr;
  HANDLE h = name.empty() ? INVALID_HANDLE_VALUE
                          : CreateFileW(DevicePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                        nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD code = h == INVALID_HANDLE_VALUE ? GetLastError() : 0;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  COMMTIMEOUTS at_once{MAXDWORD, 0, 0, 0, 0};
  if (name.empty() || code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
    why = SerialOpenError::kNotFound;
  } else if (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION) {
    // A COM port that another program has open answers "access denied".
    why = SerialOpenError::kBusy;
    text = "opened by another program";
  } else if (code != 0) {
    why = SerialOpenError::kFailed;
    text = "Windows error " + std::to_string(code);
  } else if (!GetCommState(h, &dcb) || !SetCommTimeouts(h, &at_once) ||
             !SetCommMask(h, EV_RXCHAR)) {
    // A file or pipe opens too; only a communications device has a DCB.
    why = SerialOpenError::kNotSerial;
    text = "not a communications device";
  } else {
    port = new SerialPortState;
    port->handle = h;
  }
  if (!port && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  if (error) *error = why;
  if (detail) *detail = text;
  return port;
}

bool ApplySerialSettings(SerialHandle port, const SerialSettings& settings) {
  if (!port || !IsSupportedBaudRate(settings.baud_rate) || settings.data_bits < 5 ||
      settings.data_bits > 8 ||
      (settings.stop_bits != 1 && settings.stop_bits != 2 &&
       settings.stop_bits != kOneAndAHalfStopBits))
    return false;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(port->handle, &dcb)) return false;
  dcb.BaudRate = settings.baud_rate;
  dcb.ByteSize = settings.data_bits;
  dcb.StopBits = settings.stop_bits == 2                      ? TWOSTOPBITS
                 : settings.stop_bits == kOneAndAHalfStopBits ? ONE5STOPBITS
                                                              : ONESTOPBIT;
  dcb.Parity = settings.parity == SerialParity::kEven  ? EVENPARITY
               : settings.parity == SerialParity::kOdd ? ODDPARITY
                                                        : NOPARITY;
  dcb.fParity = settings.parity != SerialParity::kNone;
  dcb.fBinary = TRUE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  return SetCommState(port->handle, &dcb) != 0;
}

bool GetSerialTimeouts(SerialHandle port, SerialTimeouts* out) {
  if (!port || !out) return false;
  COMMTIMEOUTS t{};
  if (!GetCommTimeouts(port->handle, &t)) return false;
  *out = SerialTimeouts{t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier,
                        t.ReadTotalTimeoutConstant, t.WriteTotalTimeoutMultiplier,
                        t.WriteTotalTimeoutConstant};
  return true;
}

bool SetSerialTimeouts(SerialHandle port, const SerialTimeouts& timeouts) {
  if (!port) return false;
  COMMTIMEOUTS t{timeouts.read_interval, timeouts.read_total_multiplier,
                 timeouts.read_total_constant, timeouts.write_total_multiplier,
                 timeouts.write_total_constant};
  return SetCommTimeouts(port->handle, &t) != 0;
}

bool DropSerialControlLines(SerialHandle port) {
  if (!port) return false;
  bool dtr = EscapeCommFunction(port->handle, CLRDTR) != 0;
  bool rts = EscapeCommFunction(port->handle, CLRRTS) != 0;
  return dtr && rts;
}

bool PurgeSerialPort(SerialHandle port, int what) {
  if (!port || (what & kSerialPurgeBoth) == 0) return false;
  DWORD flags = 0;
  if (what & kSerialPurgeReceive) flags |= PURGE_RXABORT | PURGE_RXCLEAR;
  if (what & kSerialPurgeTransmit) flags |= PURGE_TXABORT | PURGE_TXCLEAR;
  return PurgeComm(port->handle, flags) != 0;
}

bool DrainSerialPort(SerialHandle port) {
  if (!port) return false;
  return FlushFileBuffers(port->handle) != 0;
}

bool WriteSerialPort(SerialHandle port, const void* data, uint32_t size, uint32_t* written) {
  if (written) *written = 0;
  if (!port || (!data && size > 0)) return false;
  DWORD done = 0;
  bool ok = size == 0 || WriteFile(port->handle, data, size, &done, nullptr) != 0;
  if (written) *written = done;
  return ok;
}

bool ReadSerialPort(SerialHandle port, void* data, uint32_t size, uint32_t* got) {
  if (got) *got = 0;
  if (!port || (!data && size > 0)) return false;
  DWORD done = 0;
  bool ok = size == 0 || ReadFile(port->handle, data, size, &done, nullptr) != 0;
  if (got) *got = done;
  return ok || done > 0;
}

int CloseSerialPort(SerialHandle port) {
  if (!port) return 0;
  BOOL closed = CloseHandle(port->handle);
  delete port;
  return closed ? 1 : 0;
}

}  // namespace korvo
