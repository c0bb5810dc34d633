// Finding the device: which serial ports there are, and what answers on
// each. A probe asks for the identification as a connect over the library's
// own serial line does ("sRN DeviceIdent" at 9600 8N1) and waits a short
// time; a port that another program holds is reported, not opened.
//
// Thread-safe: probes of different ports may run at the same time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/serial_port_list.h"

namespace korvo {

struct PortProbe {
  enum class Outcome {
    kAnswered,       // `ident` holds the identification ("No Program": boot code only)
    kErrorAnswer,    // the device answered "sFA `code`"
    kNotUnderstood,  // bytes came that are no identification (another speed, another device)
    kSilent,         // nothing came within the time-out
    kInUse,          // another program has the port; nothing was sent
    kUnavailable,    // the port could not be opened or set up; `detail` says why
  };
  Outcome outcome = Outcome::kUnavailable;
  std::string ident;
  uint32_t code = 0;
  std::string detail;     // why, in a few words ("" when nothing more is known)
  std::string sent;       // the telegram written, STX and ETX included ("" when none)
  std::string received;   // every byte read, as it came
  uint32_t elapsed_ms = 0;  // from the request to the end of the answer (or the time-out)
};

constexpr uint32_t kDefaultProbeTimeoutMs = 1000;

// Opens `port` exclusively, sends the request and reads the answer until
// its ETX, until no byte came for a while after the last, or until
// `timeout_ms` have passed since the request; then closes the port.
PortProbe ProbePort(const std::string& port, uint32_t timeout_ms);

// "answered", "error answer", "not understood", "silent", "in use", "unavailable".
const char* PortProbeOutcomeName(PortProbe::Outcome outcome);

// The probe as a JSON object: "port", "outcome", "ident", "code", "detail",
// "sent", "received" (each byte one character, U+0000 to U+00FF) and "ms".
std::string PortProbeJson(const std::string& port, const PortProbe& probe);

// The list as a JSON array of objects with "path", "aliases" and "description".
std::string SerialPortsJson(const std::vector<SerialPortInfo>& ports);

}  // namespace korvo
