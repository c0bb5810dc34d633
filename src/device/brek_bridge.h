// The boot-loader bridge: hands a device's data to the BrekLoad library,
// which programs a device in boot mode over a COM port that this bridge
// drives for it (bytes, line settings, progress). The library is loaded for
// each boot-loader download and unloaded after it (boot_loader_library.h).
//
// Thread safety: one download at a time in the process; a second caller
// waits. The library's callbacks run on the caller's thread.
#pragma once

#include <string>

#include "device/host_interfaces.h"

namespace korvo {

constexpr int kBrekBridgeOk = 0;
constexpr int kBrekBridgeCreateFailed = -150;    // the port or the library object could not be made
                                                 // (also: no library, or one lacking an entry point)
constexpr int kBrekBridgePortFailed = -151;      // the COM port did not open with the initial settings
constexpr int kBrekBridgeFileFailed = -152;      // the download file could not be built
constexpr int kBrekBridgeFileRefused = -153;     // the library refused the download file
constexpr int kBrekBridgeNoBootMode = -154;      // no boot mode after three requests
constexpr int kBrekBridgeDownloadFailed = -156;  // the library's download failed

// What a boot-loader bridge code means; "" for codes of other bands.
const char* BrekBridgeResultText(int code);

struct BrekDownloadRequest {
  std::string data_file;      // the device data written by the configuration reader
  std::string port_name;      // the COM port (the front end's serial port name)
  std::string baud_rate;      // download baud-rate text; "" means "9600"
  std::string device_type;    // header field 2 ("DEVICE_TYPE" value)
  std::string address_range;  // header field 3 ("ADDRESS_RANGE" value)
  std::string library = "";   // the boot-loader library; "" for the usual places
};

// Builds the download file ("PRGTMP" temporary: seven ':'-ended header
// fields, then the data), enters boot mode and runs the library's download.
// Returns 0 or a kBrekBridge* code. `*result_code` (may be null) gets the
// library's last reported code minus 200, or 0 when it reported none.
// Progress goes to `status` (may be null). The traffic log stays in a
// "DWNLD_SLOG_TEMP" temporary file after a failed download (until the next
// boot-loader download in that folder) and is deleted after a good one; the
// download file is always deleted.
int RunBrekDownload(const BrekDownloadRequest& request, int* result_code, StatusReporter* status);

// The percentage passed on for a library progress value: rounded half up,
// -1.0 stays -1.
int ProgressPercent(double value);

}  // namespace korvo
