#include "device/first_stage_downloader.h"

#include <algorithm>
#include <vector>

#include "config/payload_check.h"
#include "config/temp_files.h"
#include "device/block_walk.h"
#include "platform/debug_output.h"
#include "platform/system.h"

namespace korvo {

const char* FirstStageResultText(int code) {
  switch (code) {
    case kFirstStageNoDeviceCount: return "the number of devices could not be read";
    case kFirstStageNoChannel: return "no device channel";
    case kFirstStageOpenFailed: return "the device channel could not be opened";
    case kFirstStageSendFailed: return "sending the program data failed";
    case kFirstStageNoApp: return "no device of type APP";
    case kFirstStageNoDeviceType: return "a DEVICE_TYPE could not be read";
    case kFirstStageNoAddressRange: return "the APP device's ADDRESS_RANGE could not be read";
    case kFirstStageAddressRefused: return "the device refused the address range";
    case kFirstStageBusy:
      return "refused: a download or first-stage download is running, or SetupJNI";
    default: return "";
  }
}

void FirstStageDownloader::ReplaceChannel(std::unique_ptr<DeviceChannel> channel) {
  channel_.Replace(std::move(channel));
}

int FirstStageDownloader::DeliverAnswer(const std::string& kind, const std::string& name,
                                        uint8_t* bytes, int count) {
  return channel_.Deliver(kind, name, bytes, count);
}

int FirstStageDownloader::FindApplicationDevice(int& app) {
  int count = 0;
  if (config_.GetDeviceCount(count) != 0) return kFirstStageNoDeviceCount;
  std::string type;
  for (app = 0; app < count; ++app) {
    if (config_.GetDeviceEntry(app, "DEVICE_TYPE", type) != 0) return kFirstStageNoDeviceType;
    if (type == "APP") return 0;
  }
  return kFirstStageNoApp;
}

void FirstStageDownloader::Phase(const char* name) {
  const uint32_t now = TickCount();
  if (!record_.phases.empty() && phase_started_ != 0)
    record_.phases.back().second = now - phase_started_;
  phase_started_ = 0;
  if (*name) {
    record_.phases.emplace_back(name, 0);
    phase_started_ = now == 0 ? 1 : now;
  }
}

int FirstStageDownloader::ExecuteFirstStage(const std::string& config_file, int* result) {
  record_ = FirstStageRecord();
  const ChannelTraffic before = channel_ ? channel_->Traffic() : ChannelTraffic();
  int code = Run(config_file, result);
  Phase("");
  if (channel_) {
    const ChannelTraffic after = channel_->Traffic();
    record_.traffic.packages = after.packages - before.packages;
    record_.traffic.bytes = after.bytes - before.bytes;
  }
  return code;
}

int FirstStageDownloader::Run(const std::string& config_file, int* result) {
  *result = -1;
  Phase("configuration");
  int code = config_.Load(config_file);
  if (code != 0) {
    record_.failed_step = "configuration";
    record_.diagnostic = config_.LoadDiagnostic().Text();
  }
  if (code == 0 && !channel_) code = kFirstStageNoChannel;
  if (code == 0 && channel_->Open() != 0) code = kFirstStageOpenFailed;
  if (code != 0) {
    if (record_.failed_step.empty()) record_.failed_step = "channel";
    if (config_.IsLoaded()) config_.Unload();
    if (channel_) channel_->Close();
    return code;
  }

  TempFileGuard data_file;
  int app = -1;
  code = FindApplicationDevice(app);
  if (code != 0) record_.failed_step = "devices";
  if (code == 0) {
    record_.app = app;
    // Damaged data must not reach a device that has no application to fall back on.
    CheckDevicePayload(config_, app, record_.damage);
    if (!record_.damage.empty()) {
      DebugPrint("Payload of device %d damaged: %s\n", app + 1, record_.damage.c_str());
      code = kFirstStageSendFailed;
      record_.failed_step = "data";
    }
  }
  std::string range;
  if (code == 0 && config_.GetDeviceEntry(app, "ADDRESS_RANGE", range) != 0) {
    code = kFirstStageNoAddressRange;
    record_.failed_step = "address range";
  }
  if (code == 0) {
    Phase("address range");
    record_.address_range = range;
    int ret = -1;
    int rc = channel_->ProgramConfigData(0, 1, "ADDRESS_RANGE", range, &ret);
    if (rc < 0 || ret != 0) {
      code = kFirstStageAddressRefused;
      *result = ret;
      record_.failed_step = "address range";
      record_.answer = channel_->LastAnswer();
    }
  }
  if (code == 0 && !data_file.Create(kTempFirstStage)) {
    code = kConfigFileError;
    record_.failed_step = "data";
  }
  if (code == 0) {
    code = config_.ExtractData(app, data_file.path());
    if (code != 0) record_.failed_step = "data";
  }
  if (code == 0) {
    Phase("transfer");
    code = SendProgramData(1, data_file.path(), result) == 0 ? 0 : kFirstStageSendFailed;
    if (code == 0) *result = 0;
    if (code != 0) {
      record_.failed_step = "transfer";
      record_.answer = channel_->LastAnswer();
    }
  }

  Phase("abort");
  int ret = -1;
  int rc = channel_->AbortDeviceDownload(0, 0, &ret);
  DebugPrint("AbortDownload Res:%d Ret:%d\n", rc, ret);
  channel_->Close();
  config_.Unload();
  return code;
}

int FirstStageDownloader::SendProgramData(int b, const std::string& file, int* result) {
  *result = -1;
  BlockWalk walk(file);
  std::vector<uint8_t> part;
  for (bool last = false; !last;) {
    int rc = -1;
    if (walk.NextPart(part, last)) {
      for (size_t at = 0; at < part.size(); at += BlockWalk::kMaxDataPerPart) {
        size_t piece = std::min<size_t>(BlockWalk::kMaxDataPerPart, part.size() - at);
        rc = channel_->ProgramData(0, b, int(piece), part.data() + at, result);
        if (rc < 0 || *result != 0) break;
      }
      if (rc < 0 || *result != 0) {
        DebugPrint("SendProgramData failed Res:%d Ret:%d\n", rc, *result);
        rc = -1;
      }
    }
    if (rc >= 0) {
      rc = channel_->ExecuteDeviceDownload(0, b, result);
      DebugPrint("... Execute Res:%d Ret:%d\n", rc, *result);
      if (rc >= 0 && *result >= 0) ++record_.parts;
    } else {
      DebugPrint("Update: SendProgramPartialData failed\n");
    }
    if (rc < 0 || *result < 0) return -1;
  }
  int rc = channel_->FinishDeviceDownload(0, b, result);
  if (rc >= 0 && *result == 0) return 0;
  DebugPrint("Update: FinishDownload failed Res:%d Ret:%d\n", rc, *result);
  return -1;
}

}  // namespace korvo
