#include "download/device_update.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "config/base64_stream.h"
#include "config/config_document.h"
#include "config/data_file.h"
#include "config/temp_files.h"
#include "device/block_walk.h"
#include "device/brek_bridge.h"
#include "device/device_channel.h"
#include "download/operation_report.h"
#include "keys/key_document.h"
#include "platform/debug_output.h"
#include "platform/sync.h"
#include "platform/system.h"

namespace korvo {
namespace {

constexpr size_t kMaxPackage = 1024;

int DataTypeCode(const std::string& text) {
  if (text == "BREK") return kDataBrek;
  if (text == "SREC") return kDataSrec;
  if (text == "BREKBIN") return kDataBrekBin;
  if (text == "FILE") return kDataFile;
  return kDataNone;
}

// Sends one part of a data file per call; `part` counts from 1 and becomes 0
// after the last part.
class PartSender {
 public:
  virtual ~PartSender() = default;
  // 0 when the part went out and the device took it; -1 otherwise.
  virtual int SendNext(int& part) = 0;
};

// A BREK data file: each part of the block stream goes out Base64-encoded in
// slices of at most 1024 characters.
class BrekPartSender final : public PartSender {
 public:
  BrekPartSender(DeviceChannel& channel, DownloadState& state, int n, std::string file)
      : channel_(channel), state_(state), n_(n), walk_(std::move(file)) {}

  int SendNext(int& part) override {
    bool last = false;
    if (!walk_.NextPart(chunk_, last)) return -1;
    part = last ? 0 : part + 1;
    encoded_.clear();
    encoder_.Add(chunk_.data(), chunk_.size(), encoded_);
    encoder_.Finish(encoded_);
    const auto* text = reinterpret_cast<const uint8_t*>(encoded_.data());
    int rc = 0;
    int& ret = state_.ret;
    ret = 0;
    for (size_t at = 0; at < encoded_.size() && rc >= 0 && ret == 0; at += kMaxPackage) {
      size_t slice = std::min(kMaxPackage, encoded_.size() - at);
      rc = channel_.ProgramData(state_.session, n_, int(slice), text + at, &ret);
    }
    if (rc >= 0 && ret == 0) return 0;
    DebugPrint("SendProgramData failed Res:%d Ret:%d\n", rc, ret);
    return -1;
  }

 private:
  DeviceChannel& channel_;
  DownloadState& state_;
  int n_;
  BlockWalk walk_;
  // Kept from part to part.
  std::vector<uint8_t> chunk_;
  Base64Encoder encoder_;
  std::string encoded_;
};

// An S-record data file: one line per part, line end included; the "S7"
// line is the last part.
class SrecPartSender final : public PartSender {
 public:
  SrecPartSender(DeviceChannel& channel, DownloadState& state, int n, std::string file)
      : channel_(channel), state_(state), n_(n), file_(std::move(file)) {}

  int SendNext(int& part) override {
    const uint8_t* buffer = nullptr;
    size_t got = 0;
    if (!file_.Peek(kMaxPackage, &buffer, &got) || got == 0) return -1;
    size_t length = 0;
    bool in_line_end = false, ended = false;
    for (; length < got; ++length) {
      bool line_end = buffer[length] == '\r' || buffer[length] == '\n';
      if (in_line_end && !line_end) {
        ended = true;
        break;
      }
      in_line_end = line_end;
    }
    // The file's last line ends where the file does.
    if (got < kMaxPackage) ended = true;
    part = length >= 4 && buffer[0] == 'S' && buffer[1] == '7' ? 0 : part + 1;
    if (!ended) return -1;
    int rc = channel_.ProgramData(state_.session, n_, int(length), buffer, &state_.ret);
    file_.Skip(length);
    if (rc >= 0 && state_.ret == 0) return 0;
    DebugPrint("SendProgramData failed Res:%d Ret:%d\n", rc, state_.ret);
    return -1;
  }

 private:
  DeviceChannel& channel_;
  DownloadState& state_;
  int n_;
  SequentialReader file_;
};

}  // namespace

std::string DeviceUpdate::Counter(int n, const DownloadState& state) const {
  return std::to_string(n) + " of " + std::to_string(state.device_count);
}

StepResult DeviceUpdate::WriteLog(const std::string& text, DownloadState& state) {
  int rc = channel_.WriteDeviceLog(state.session, text, &state.ret);
  if (rc >= 0 && state.ret >= 0) return {};
  if (rc >= 0) return {kUpdateLogFailed, state.ret};
  return {kUpdateLogFailed, std::nullopt};
}

StepResult DeviceUpdate::WriteLogLines(int index, DownloadState& state) {
  std::string text;
  for (int k = 0;; ++k) {
    int rc = config_.GetLogText(index, k, text);
    if (rc == kConfigIndexPastEnd) break;
    if (rc != 0) return {rc, std::nullopt};
    StepResult written = WriteLog(text, state);
    if (!written.ok()) return written;
  }
  std::string name;
  int rc = config_.GetDeviceEntry(index, "Name", name);
  if (rc != 0 && rc != kConfigMissing) return {rc, std::nullopt};
  return WriteLog("Updating device : " + name, state);
}

StepResult DeviceUpdate::SendConfigEntries(int index, int n, DownloadState& state) {
  std::string name, value;
  for (int k = 0;; ++k) {
    int rc = config_.GetTransparentEntry(index, k, name, value);
    if (rc == kConfigIndexPastEnd) return {};
    if (rc != 0) return {rc, std::nullopt};
    rc = channel_.ProgramConfigData(state.session, n, name, value, &state.ret);
    if (rc < 0 || state.ret != 0) return {kUpdateConfigDataFailed, state.ret};
  }
}

StepResult DeviceUpdate::Run(int index, DownloadState& state, DeviceRecord* record) {
  const ChannelTraffic before = channel_.Traffic();
  StepResult result = Update(index, state, record);
  if (record) {
    const ChannelTraffic after = channel_.Traffic();
    record->packages += after.packages - before.packages;
    record->bytes += after.bytes - before.bytes;
  }
  return result;
}

StepResult DeviceUpdate::Update(int index, DownloadState& state, DeviceRecord* record) {
  const int n = index + 1;
  if (state.logging) {
    StepResult logged = WriteLogLines(index, state);
    if (!logged.ok()) return logged;
  }
  StepResult sent = SendConfigEntries(index, n, state);
  if (!sent.ok()) return sent;

  std::string text;
  int rc = config_.GetDeviceEntry(index, "DATA_TYPE", text);
  if (rc != 0) return {rc, std::nullopt};
  if (record) record->data_type = text;
  state.data_type = DataTypeCode(text);
  if (state.data_type == kDataNone) return {kUpdateUnknownDataType, std::nullopt};
  std::string partial;
  rc = config_.GetDeviceEntry(index, "PARTIAL_DOWNLOAD", partial);
  if (rc != 0 && rc != kConfigMissing) return {rc, std::nullopt};

  // The device's data, extracted for this update and gone with it.
  TempFileGuard data;
  if (!data.Create(kTempDownloadData)) return {kConfigFileError, std::nullopt};
  const std::string& data_file = data.path();
  if (partial == "true" || !channel_.HasApplication()) {
    rc = config_.ExtractData(index, data_file);
    if (rc != 0) return {rc, std::nullopt};
    if (state.data_type == kDataBrekBin) return HandOverToBootLoader(index, data_file, record);
    if (record) record->transfer = "part by part";
    status_.Report("Erasing flash ...", -1);
    if (TransferParts(n, data_file, state) < 0 || state.ret != 0)
      return {kUpdateTransferFailed, state.ret};
    return {};
  }

  if (record) record->transfer = "whole file";
  bool as_text = state.data_type == kDataBrek || state.data_type == kDataFile;
  rc = as_text ? config_.ExtractText(index, data_file) : config_.ExtractData(index, data_file);
  if (rc != 0) return {rc, std::nullopt};
  if (TransferWhole(n, data_file, state) < 0 || state.ret != 0)
    return {kUpdateTransferFailed, state.ret};
  return {};
}

StepResult DeviceUpdate::HandOverToBootLoader(int index, const std::string& data_file,
                                              DeviceRecord* record) {
  std::string address_range, device_type;
  int rc = config_.GetDeviceEntry(index, "ADDRESS_RANGE", address_range);
  if (rc == 0) rc = config_.GetDeviceEntry(index, "DEVICE_TYPE", device_type);
  if (rc != 0) return {rc, std::nullopt};
  if (record) record->transfer = "boot loader";
  // Only the serial channel gives the line up (non-zero); over the Java
  // channel no byte would reach the device, which is a failure, not success.
  if (channel_.Close() == 0) return {kUpdateTransferFailed, -1};
  uint64_t size = 0;
  if (UniqueFile data{OpenFileUtf8(data_file, "rb")}) {
    if (std::fseek(data.get(), 0, SEEK_END) == 0) size = uint64_t(std::ftell(data.get()));
  }
  BrekDownloadRequest request{data_file, settings_.serial_port_name,
                              settings_.download_baud_rate, device_type, address_range};
  int device_error = -1;
  int code = RunBrekDownload(request, &device_error, host_);
  if (record && code == 0) record->bytes += size;
  config_.Unload();
  keys_.Close(false);
  return {code, device_error};
}

bool DeviceUpdate::SendWholeFile(int n, const std::string& file, const std::string& counter,
                                 DownloadState& state, int& last) {
  // A data file that cannot be read has sent nothing: that is a failure.
  UniqueFile in(OpenFileUtf8(file, "rb"));
  if (!in) return false;
  uint64_t size = 0;
  if (std::fseek(in.get(), 0, SEEK_END) == 0) size = uint64_t(std::ftell(in.get()));
  if (std::fseek(in.get(), 0, SEEK_SET) != 0) return false;
  uint8_t block[kMaxPackage];
  uint64_t sent = 0;
  for (size_t got; (got = std::fread(block, 1, sizeof block, in.get())) > 0;) {
    status_.Report("Downloading package " + counter, size ? int(sent * 100 / size) : 0);
    sent += got;
    DebugPrint("%d %d\n", int(sent), int(got));
    last = channel_.ProgramData(state.session, n, int(got), block, &state.ret);
    if (last < 0 || state.ret != 0) {
      DebugPrint("SendProgramData failed Res:%d Ret:%d\n", last, state.ret);
      return false;
    }
  }
  return sent == size && !std::ferror(in.get());
}

int DeviceUpdate::WaitUntilStored(int n, const std::string& counter, DownloadState& state) {
  int last = 0;
  int progress = -1;
  const uint32_t start = TickCount();
  uint32_t since = start;
  for (;;) {
    last = channel_.GetDownloadStatus(state.session, n, &state.ret);
    if (last < 0 || state.ret < 0) {
      DebugPrint("GetStatus failed Res:%d Ret:%d\n", last, state.ret);
      return -1;
    }
    status_.Report("Storing package " + counter, state.ret);
    DebugPrint("Status %d\n", state.ret);
    if (state.ret == 100) {
      DebugPrint("... download done\n");
      return 0;
    }
    if (state.ret != progress) {
      progress = state.ret;
      since = TickCount();
    } else if (TickCount() - since >= storing_.stall_limit_ms) {
      DebugPrint("GetStatus: no progress for %u ms\n", unsigned(TickCount() - since));
      return -1;
    }
    if (TickCount() - start >= storing_.overall_limit_ms) {
      DebugPrint("GetStatus: not stored after %u ms\n", unsigned(TickCount() - start));
      return -1;
    }
    SleepUnlessStopped(storing_.poll_interval_ms);
  }
}

int DeviceUpdate::TransferWhole(int n, const std::string& file, DownloadState& state) {
  const std::string counter = Counter(n, state);
  state.ret = -1;
  int last = 0;
  // A sending that failed never goes on to the finish: data that did not all
  // reach the device must not be reported as a successful download.
  if (!SendWholeFile(n, file, counter, state, last)) {
    DebugPrint("Update: SendProgramData failed\n");
    return -1;
  }
  DebugPrint("Downloading %s...\n", file.c_str());
  last = channel_.ExecuteDeviceDownload(state.session, n, &state.ret);
  DebugPrint("... Res:%d Ret:%d\n", last, state.ret);
  if (last < 0 || state.ret < 0) return -1;
  if (WaitUntilStored(n, counter, state) < 0) return -1;
  last = channel_.FinishDeviceDownload(state.session, n, &state.ret);
  if (last < 0 || state.ret != 0) {
    DebugPrint("Update: FinishDownload failed Res:%d Ret:%d\n", last, state.ret);
    return -1;
  }
  return 0;
}

int DeviceUpdate::TransferParts(int n, const std::string& file, DownloadState& state) {
  const std::string counter = Counter(n, state);
  state.ret = -1;
  std::unique_ptr<PartSender> sender;
  if (state.data_type == kDataBrek)
    sender = std::make_unique<BrekPartSender>(channel_, state, n, file);
  else if (state.data_type == kDataSrec)
    sender = std::make_unique<SrecPartSender>(channel_, state, n, file);
  for (int part = 1; part != 0;) {
    DebugPrint("Updating Part: %d...\n", part);
    if (!sender || sender->SendNext(part) < 0) {
      DebugPrint("Update: SendProgramPartialData failed\n");
      return -1;
    }
    int last = channel_.ExecuteDeviceDownload(state.session, n, &state.ret);
    DebugPrint("... Execute Res:%d Ret:%d\n", last, state.ret);
    if (last >= 0 && state.ret >= 0) {
      last = channel_.GetDownloadStatus(state.session, n, &state.ret);
      if (last < 0 || state.ret < 0) {
        DebugPrint("GetStatus failed Res:%d Ret:%d\n", last, state.ret);
      } else {
        DebugPrint("... Status %d\n", state.ret);
        if (state.ret == 100) DebugPrint("... download done\n");
        if (state.ret < 100) status_.set_value(state.ret);
      }
    }
    status_.Report("Downloading and storing package " + counter);
    if (last < 0 || state.ret < 0) return -1;
  }
  int last = channel_.FinishDeviceDownload(state.session, n, &state.ret);
  if (last < 0 || state.ret != 0) {
    DebugPrint("Update: FinishDownload failed Res:%d Ret:%d\n", last, state.ret);
    return -1;
  }
  return last;
}

}  // namespace korvo
