// Firmware commands and the exact parameter text each must produce, with and without a JVM.
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

inline std::vector<CommandCase> FirmwareCommands() {
  // Every byte value, zero and 0xFF included, in one full data piece.
  static const std::string data = [s = std::string()]() mutable {
    for (int i = 0; i < 1024; ++i) s += static_cast<char>(i * 7);
    return s;
  }();
  const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
#define KORVO_COMMAND(call, method, parameters) \
  {#call, [=](DeviceChannel& c, int* r) { return c.call; }, method, parameters}
  return {
      KORVO_COMMAND(StartSecondLoader(9, r), "mFDsrt2ndstgldr", " 1"),
      KORVO_COMMAND(ProgramConfigData(0, 1, "ADDRESS_RANGE", "123456789", r), "mFDprgcfgdata",
                    " 0 1 D ADDRESS_RANGE 9 123456789"),
      KORVO_COMMAND(ProgramData(0, 1, 1024, bytes, r), "mFDprgdata", " 0 1 400 400 " + data),
      KORVO_COMMAND(ExecuteDeviceDownload(2, 3, r), "mFDexedwnld", " 2 3"),
      KORVO_COMMAND(GetDownloadStatus(2, 3, r), "mFDstadwnld", " 2 3"),
      KORVO_COMMAND(AbortDeviceDownload(2, 0x1A, r), "mFDabrtdwnld", " 2 1A"),
      KORVO_COMMAND(FinishDeviceDownload(2, 0, r), "mFDfindwnld", " 2 0"),
      KORVO_COMMAND(WriteDeviceLog(2, "log line", r), "mFDlogwrite", " 2 8 log line"),
      KORVO_COMMAND(EndDeviceLog(2, r), "mFDlogend", " 2"),
      KORVO_COMMAND(EraseDeviceLog(2, r), "mFDlogerase", " 2"),
      KORVO_COMMAND(GetDeviceLogInfo(r), "mFDloginfo", ""),
  };
#undef KORVO_COMMAND
}

}  // namespace korvo::testing_commands
