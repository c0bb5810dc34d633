// One device's part of a download: writes the device's log lines, sends its
// configuration entries, extracts its data into the temporary data file and
// moves the data with one of three procedures: the whole file with status
// polling, part by part after erasing flash, or (data type "BREKBIN") through
// the boot loader on the COM port.
//
// Runs on the download thread inside DownloadExecutor::Execute, on the open
// channel and the loaded configuration. Not thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "device/connection_settings.h"
#include "download/status_line.h"

namespace korvo {

class ConfigDocument;
class DeviceChannel;
class KeyDocument;
struct DeviceRecord;

// Result codes of a device update (reader and boot-loader codes pass through).
constexpr int kUpdateConfigDataFailed = -10;  // ProgramConfigData failed
constexpr int kUpdateUnknownDataType = -11;   // "DATA_TYPE" is none of the four
constexpr int kUpdateTransferFailed = -12;    // a transfer failed
constexpr int kUpdateLogFailed = -19;         // writing a device log line failed

// "DATA_TYPE" codes.
enum DataType : int { kDataNone = 0, kDataBrek = 1, kDataSrec = 2, kDataBrekBin = 3, kDataFile = 4 };

// What a step of a download ended with: its result code (0: success) and,
// when the device gave a bad result number, that number. A step that did
// not hear from the device about its failure leaves the caller's device
// error as it was.
struct StepResult {
  int code = 0;
  std::optional<int> device_error;

  bool ok() const { return code == 0; }
};

// The values a download shares with the update of each of its devices.
struct DownloadState {
  int session = 0;       // what StartSecondLoader returned; first number of every call
  int device_count = 0;  // for the "n of m" counter of the status texts
  bool logging = false;
  int ret = 0;           // the device result of the last call
  int data_type = kDataNone;
};

// How long the whole-file branch waits for the device to store the data.
struct StoringPolicy {
  uint32_t poll_interval_ms = 1000;
  // The device must report a new progress value within this time; a device
  // stuck below 100 would otherwise hold the download for ever.
  uint32_t stall_limit_ms = 10 * 60 * 1000;
  // And it must be done within this time in all, whatever it reports: a
  // status that keeps changing without ever reaching 100 would hold it for
  // ever too. The largest image a build accepts (256 MiB), stored at a slow
  // 100 KiB/s, takes 45 minutes.
  uint32_t overall_limit_ms = 60 * 60 * 1000;
};

class DeviceUpdate final {
 public:
  // All borrowed. `host` (may be null) takes the boot loader's progress.
  DeviceUpdate(ConfigDocument& config, KeyDocument& keys, DeviceChannel& channel,
               StatusLine& status, const ConnectionSettings& settings, StatusReporter* host,
               const StoringPolicy& storing)
      : config_(config),
        keys_(keys),
        channel_(channel),
        status_(status),
        settings_(settings),
        host_(host),
        storing_(storing) {}

  // Updates device `index` (from 0). `record` (may be null) receives the
  // data type, the way the data went and how much of it the device took.
  StepResult Run(int index, DownloadState& state, DeviceRecord* record = nullptr);

 private:
  StepResult Update(int index, DownloadState& state, DeviceRecord* record);
  StepResult WriteLog(const std::string& text, DownloadState& state);
  StepResult WriteLogLines(int index, DownloadState& state);
  StepResult SendConfigEntries(int index, int n, DownloadState& state);
  StepResult HandOverToBootLoader(int index, const std::string& data_file, DeviceRecord* record);
  int TransferWhole(int n, const std::string& file, DownloadState& state);
  bool SendWholeFile(int n, const std::string& file, const std::string& counter,
                     DownloadState& state, int& last);
  int WaitUntilStored(int n, const std::string& counter, DownloadState& state);
  int TransferParts(int n, const std::string& file, DownloadState& state);
  std::string Counter(int n, const DownloadState& state) const;

  ConfigDocument& config_;
  KeyDocument& keys_;
  DeviceChannel& channel_;
  StatusLine& status_;
  const ConnectionSettings& settings_;
  StatusReporter* host_;
  StoringPolicy storing_;
};

}  // namespace korvo
