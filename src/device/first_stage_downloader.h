// The first-stage download: brings the application ("APP" device) of a
// download configuration onto a device that has no application yet, block
// by block over the device channel, letting the device execute each part.
// No rights, constraints or packages: the device's boot code takes it as it
// comes.
//
// Owns its channel (given before each download) and its own view of the
// configuration. Thread safety: one download thread; DeliverAnswer may come
// from any thread and is safe against the channel being replaced.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "config/config_document.h"
#include "device/channel_slot.h"
#include "device/device_channel.h"

namespace korvo {

// Result codes of the first-stage download (configuration codes pass through).
constexpr int kFirstStageNoDeviceCount = -1;
constexpr int kFirstStageNoChannel = -2;
constexpr int kFirstStageOpenFailed = -3;
constexpr int kFirstStageSendFailed = -12;
constexpr int kFirstStageNoApp = -140;
constexpr int kFirstStageNoDeviceType = -141;
constexpr int kFirstStageNoAddressRange = -142;
constexpr int kFirstStageAddressRefused = -143;
constexpr int kFirstStageBusy = -144;  // a download or first stage runs (or SetupJNI)

// What a first-stage code means; "" for codes of other bands.
const char* FirstStageResultText(int code);

// What the last first-stage download did, for reports.
struct FirstStageRecord {
  int app = -1;  // the APP device (from 0), -1 until it was found
  std::string address_range;
  std::string failed_step;  // "" after success
  std::string damage;       // why the APP device's data were refused as damaged
  std::string diagnostic;   // why the configuration did not load, and where
  DeviceAnswer answer;      // what the device said to the failed step's last command
  uint64_t parts = 0;       // parts the device executed
  ChannelTraffic traffic;
  std::vector<std::pair<std::string, uint32_t>> phases;  // name, milliseconds
};

class FirstStageDownloader final {
 public:
  FirstStageDownloader() = default;
  FirstStageDownloader(const FirstStageDownloader&) = delete;
  FirstStageDownloader& operator=(const FirstStageDownloader&) = delete;

  // Takes `channel` (may be null) in place of the current one.
  void ReplaceChannel(std::unique_ptr<DeviceChannel> channel);
  DeviceChannel* channel() const { return channel_.get(); }

  // Hands one device answer to the channel, which takes `bytes` (new[]);
  // without a channel the bytes are released and -1 returned.
  int DeliverAnswer(const std::string& kind, const std::string& name, uint8_t* bytes, int count);

  // Runs the download of `config_file`. `*result` (not null) is -1 at the
  // start, 0 after success, the device's result after -12 or -143. The
  // temporary data file is gone and the configuration released on return.
  int ExecuteFirstStage(const std::string& config_file, int* result);

  const FirstStageRecord& record() const { return record_; }

 private:
  int FindApplicationDevice(int& app);
  int SendProgramData(int b, const std::string& file, int* result);
  int Run(const std::string& config_file, int* result);
  // Ends the running phase and starts `name` ("" starts none).
  void Phase(const char* name);

  ConfigDocument config_;
  ChannelSlot channel_;
  FirstStageRecord record_;
  uint32_t phase_started_ = 0;
};

}  // namespace korvo
