// The serial line of the tests under wine: windows/test links two COM ports
// to the two ends of a relayed pseudo-terminal pair. The code under test
// opens COM5 by name; the test plays the device on COM6.
#pragma once

#include <windows.h>

#include <string>

namespace korvo {
namespace testing_pty {

class PseudoTerminal {
 public:
  PseudoTerminal() {
    // Whatever an earlier test left on either side would reach this one.
    HANDLE code_side = Open(kCodePort);
    if (code_side == INVALID_HANDLE_VALUE) return;
    PurgeComm(code_side, kPurgeAll);
    CloseHandle(code_side);
    device_ = Open(kDevicePort);
    if (device_ != INVALID_HANDLE_VALUE) PurgeComm(device_, kPurgeAll);
  }
  ~PseudoTerminal() {
    if (device_ != INVALID_HANDLE_VALUE) CloseHandle(device_);
  }
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  bool ok() const { return device_ != INVALID_HANDLE_VALUE; }
  std::string slave_path() const { return "COM5"; }

  // Bytes from the port until an ETX (kept) or until `timeout_ms` pass.
  std::string ReadTelegram(int timeout_ms) {
    std::string got;
    DWORD deadline = GetTickCount() + DWORD(timeout_ms);
    while (got.empty() || got.back() != '\x03') {
      LONG left = LONG(deadline - GetTickCount());
      char c;
      if (left <= 0 || ReadSome(&c, 1, DWORD(left)) != 1) break;
      got.push_back(c);
    }
    return got;
  }

  // Whatever arrives until nothing more comes for `timeout_ms`.
  std::string Drain(int timeout_ms) {
    std::string got;
    char buffer[256];
    for (DWORD n; (n = ReadSome(buffer, sizeof buffer, DWORD(timeout_ms))) > 0;) got.append(buffer, n);
    return got;
  }

  bool Write(const std::string& bytes) {
    DWORD done = 0;
    return WriteFile(device_, bytes.data(), DWORD(bytes.size()), &done, nullptr) &&
           done == bytes.size();
  }

 private:
  static constexpr const char* kCodePort = "\\\\.\\COM5";
  static constexpr const char* kDevicePort = "\\\\.\\COM6";
  static constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

  static HANDLE Open(const char* name) {
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (h != INVALID_HANDLE_VALUE && GetCommState(h, &dcb)) {
      dcb.BaudRate = 9600;
      dcb.ByteSize = 8;
      dcb.Parity = NOPARITY;
      dcb.StopBits = ONESTOPBIT;
      dcb.fBinary = TRUE;
      dcb.fOutX = dcb.fInX = FALSE;
      SetCommState(h, &dcb);
    }
    return h;
  }

  // Returns as soon as any byte is there, waiting at most `wait_ms`.
  DWORD ReadSome(char* buffer, DWORD size, DWORD wait_ms) {
    COMMTIMEOUTS t{MAXDWORD, MAXDWORD, wait_ms, 0, 0};
    DWORD n = 0;
    if (!SetCommTimeouts(device_, &t) || !ReadFile(device_, buffer, size, &n, nullptr)) return 0;
    return n;
  }

  HANDLE device_ = INVALID_HANDLE_VALUE;
};

}  // namespace testing_pty
}  // namespace korvo
