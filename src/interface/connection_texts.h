// The two connection texts that SetupJNI records for the direct (COM port)
// line. Process-wide, empty until SetupJNI sets them; written only by
// SetupJNI, read by the serial channel and the boot loader. Not locked: the
// front end calls SetupJNI before anything that reads them.
#pragma once

#include <string>

namespace korvo {

// Baud rate for boot-loader downloads, as text ("" means the default).
inline std::string& DownloadBaudRate() {
  static std::string text;
  return text;
}

// Name of the COM port of the serial channel and the boot loader.
inline std::string& SerialPortName() {
  static std::string text;
  return text;
}

}  // namespace korvo
