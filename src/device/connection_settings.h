// The settings of the direct (COM port) line, as the front end gives them.
// Passed by value into what opens the line, so nothing below the interface
// layer reads process-wide state for them.
#pragma once

#include <string>

namespace korvo {

struct ConnectionSettings {
  std::string serial_port_name;    // port of the serial channel and the boot loader
  std::string download_baud_rate;  // boot-loader download speed; "" means 9600
};

}  // namespace korvo
