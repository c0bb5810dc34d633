// The simulated device's line on Windows (under wine in the tests): a COM
// port. Wine has no pseudo-terminals of its own, so windows/test links COM5
// and COM6 to the two ends of a relayed pair; the device takes COM6 and the
// host opens COM5.
#include <windows.h>

#include "sim/line.h"

namespace korvo::sim {
namespace {

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

HANDLE OpenRaw(const std::string& name) {
  std::string path = name.find_first_of("\\/:") == std::string::npos ? "\\\\.\\" + name : name;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return h;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(h, &dcb)) {
    CloseHandle(h);
    return INVALID_HANDLE_VALUE;
  }
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = TRUE;
  dcb.fParity = dcb.fOutX = dcb.fInX = dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = FALSE;
  SetCommState(h, &dcb);
  PurgeComm(h, kPurgeAll);
  return h;
}

class ComLine final : public Line {
 public:
  ComLine(HANDLE handle, std::string peer_path) : handle_(handle), peer_path_(std::move(peer_path)) {}
  ~ComLine() override { CloseHandle(handle_); }

  int Read(uint8_t* buffer, size_t size, int timeout_ms) override {
    // Returns as soon as any byte is there, or empty after the wait.
    COMMTIMEOUTS t{MAXDWORD, timeout_ms > 0 ? MAXDWORD : 0, DWORD(timeout_ms > 0 ? timeout_ms : 0),
                   0, 0};
    DWORD n = 0;
    if (!SetCommTimeouts(handle_, &t) || !ReadFile(handle_, buffer, DWORD(size), &n, nullptr))
      return -1;
    return int(n);
  }

  bool Write(const uint8_t* bytes, size_t count) override {
    DWORD done = 0;
    return WriteFile(handle_, bytes, DWORD(count), &done, nullptr) && done == count;
  }

  const std::string& peer_path() const override { return peer_path_; }

 private:
  HANDLE handle_;
  std::string peer_path_;
};

}  // namespace

std::unique_ptr<Line> OpenPseudoTerminal() {
  // Whatever an earlier user left on the host's side would reach this one.
  HANDLE host = OpenRaw("COM5");
  if (host == INVALID_HANDLE_VALUE) return nullptr;
  CloseHandle(host);
  HANDLE device = OpenRaw("COM6");
  if (device == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<ComLine>(device, "COM5");
}

std::unique_ptr<Line> OpenTerminal(const std::string& path) {
  HANDLE h = OpenRaw(path);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<ComLine>(h, "");
}

}  // namespace korvo::sim
