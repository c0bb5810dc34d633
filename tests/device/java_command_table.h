// The firmware-download commands with the exact parameter text each must
// produce; shared by the channel tests with and without a JVM.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "device/device_channel.h"

namespace korvo::testing_commands {

struct CommandCase {
  const char* label;
  std::function<int(DeviceChannel&, int*)> run;
  const char* method;
  std::string parameters;
};

inline std::string ProgramBytes() {
  std::string bytes(1024, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  return bytes;
}

inline std::vector<CommandCase> FirmwareCommands() {
  static const std::string data = ProgramBytes();
  return {
      {"StartSecondLoader", [](DeviceChannel& c, int* r) { return c.StartSecondLoader(9, r); },
       "mFDsrt2ndstgldr", " 1"},
      {"ProgramConfigData",
       [](DeviceChannel& c, int* r) {
         return c.ProgramConfigData(0, 1, "ADDRESS_RANGE", "123456789", r);
       },
       "mFDprgcfgdata", " 0 1 D ADDRESS_RANGE 9 123456789"},
      {"ProgramData",
       [](DeviceChannel& c, int* r) {
         return c.ProgramData(0, 1, 1024, reinterpret_cast<const uint8_t*>(data.data()), r);
       },
       "mFDprgdata", " 0 1 400 400 " + data},
      {"ExecuteDeviceDownload",
       [](DeviceChannel& c, int* r) { return c.ExecuteDeviceDownload(2, 3, r); }, "mFDexedwnld",
       " 2 3"},
      {"GetDownloadStatus", [](DeviceChannel& c, int* r) { return c.GetDownloadStatus(2, 3, r); },
       "mFDstadwnld", " 2 3"},
      {"AbortDeviceDownload",
       [](DeviceChannel& c, int* r) { return c.AbortDeviceDownload(2, 0x1A, r); }, "mFDabrtdwnld",
       " 2 1A"},
      {"FinishDeviceDownload",
       [](DeviceChannel& c, int* r) { return c.FinishDeviceDownload(2, 0, r); }, "mFDfindwnld",
       " 2 0"},
      {"WriteDeviceLog",
       [](DeviceChannel& c, int* r) { return c.WriteDeviceLog(2, "log line", r); }, "mFDlogwrite",
       " 2 8 log line"},
      {"EndDeviceLog", [](DeviceChannel& c, int* r) { return c.EndDeviceLog(2, r); }, "mFDlogend",
       " 2"},
      {"EraseDeviceLog", [](DeviceChannel& c, int* r) { return c.EraseDeviceLog(2, r); },
       "mFDlogerase", " 2"},
      {"GetDeviceLogInfo", [](DeviceChannel& c, int* r) { return c.GetDeviceLogInfo(r); },
       "mFDloginfo", ""},
  };
}

}  // namespace korvo::testing_commands
