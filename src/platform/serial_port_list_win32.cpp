// COM ports from the registry's serial device map, where every serial
// driver (built-in, USB, Bluetooth) enters the ports it has: each value's
// name is the driver's device ("\Device\VCP0"), its data the port ("COM3").

#include "platform/serial_port_list.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>

#include "platform/unicode.h"

namespace korvo {
namespace {

std::string Narrow(const wchar_t* text, size_t length) {
  std::u16string wide(text, text + length);
  return Utf16ToUtf8(wide);
}

unsigned long PortNumber(const std::string& name) {
  return name.size() > 3 ? std::strtoul(name.c_str() + 3, nullptr, 10) : 0;
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts(const std::string&) {
  std::vector<SerialPortInfo> ports;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return ports;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    wchar_t data[256];
    DWORD name_length = 256, data_size = sizeof data, type = 0;
    LONG status = RegEnumValueW(key, i, name, &name_length, nullptr, &type,
                                reinterpret_cast<BYTE*>(data), &data_size);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS || type != REG_SZ) continue;
    size_t data_length = data_size / sizeof(wchar_t);
    while (data_length > 0 && data[data_length - 1] == L'\0') --data_length;
    SerialPortInfo port;
    port.path = Narrow(data, data_length);
    port.description = Narrow(name, name_length);
    if (!port.path.empty()) ports.push_back(port);
  }
  RegCloseKey(key);
  std::sort(ports.begin(), ports.end(), [](const SerialPortInfo& a, const SerialPortInfo& b) {
    return PortNumber(a.path) != PortNumber(b.path) ? PortNumber(a.path) < PortNumber(b.path)
                                                    : a.path < b.path;
  });
  return ports;
}

}  // namespace korvo
