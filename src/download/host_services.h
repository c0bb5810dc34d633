// Everything the download layer needs from its host (the Java front end
// through the interface layer): sending device commands, reporting status,
// and asking the front end to let go of the device line before the library
// opens the COM port itself. The interface layer implements it and wires it
// into the executors; nothing here knows about JNI.
//
// Thread safety: implementations accept calls from any thread.
#pragma once

#include "device/host_interfaces.h"

namespace korvo {

class HostServices : public CommandSender, public StatusReporter {
 public:
  // Returns what the front end reported, or -1 when it could not be asked.
  // Callers ask only when CanReportStatus() holds.
  virtual int CleanUpInterface() = 0;
};

}  // namespace korvo
