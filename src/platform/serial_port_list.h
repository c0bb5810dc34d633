// The serial ports this machine has, as the system reports them: on Linux
// the terminals of real and USB serial ports, with their /dev/serial/by-id
// names; on Windows the COM ports of the registry's serial device map.
// Thread-safe.
#pragma once

#include <string>
#include <vector>

namespace korvo {

struct SerialPortInfo {
  std::string path;                  // what OpenSerialPort takes: "/dev/ttyUSB0", "COM3"
  std::vector<std::string> aliases;  // other names of the same port (by-id links)
  std::string description;           // what the system calls it ("FTDI FT232R USB UART"), or ""
};

// In the order people count them (ttyS2 before ttyS10, COM2 before COM10).
// `root` is put before every system path on Linux, so that tests can lay
// out a tree of their own; "" reads the machine's. Windows ignores it.
std::vector<SerialPortInfo> ListSerialPorts(const std::string& root = "");

}  // namespace korvo
