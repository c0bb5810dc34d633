// The download-constraint check: before a device is loaded, the values it
// reports must satisfy the DOWNLOAD_CONSTRAINT..DOWNLOAD_CONSTRAINT9
// entries its configuration stores for it.
//
// Writes its progress lines to standard output. Runs on the executor's
// thread; not thread-safe.
#pragma once

#include <vector>

#include "download/operation_report.h"

namespace korvo {

class ConfigDocument;
class DeviceChannel;

// Time-out of a variable read for a constraint.
constexpr int kConstraintReadTimeoutMs = 2000;

// Checks constraints 1 to 9 of device `device` (from 0) of the loaded
// configuration, reading the device's values through `channel`. Missing
// numbers are skipped; every present constraint must hold. True (the
// download may go on) also when the device has no constraints. Each present
// constraint is appended to `records` (may be null) with what the device
// gave for it.
bool CheckDownloadConstraints(ConfigDocument& config, DeviceChannel& channel, int device,
                              std::vector<ConstraintRecord>* records = nullptr);

}  // namespace korvo
