// Runs firmware downloads, and holds the device channel used for connect and
// login (ConnectDevice, LoginDevice behind the TAVISInterface natives).
//
// A download: load the configuration and the key file, choose and open the
// channel ("TavisDevice"), check the downloader version, the user's rights
// and every device's constraints, start the second loader, write the log,
// update the devices, finish (or abort), reboot the device and clean up.
//
// Owns its two answer decoders, its current channel and the documents of the
// running download. Thread safety: one issuing thread (the front end's);
// DeliverAnswer may come from any thread and is safe against the channel
// being replaced meanwhile.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "config/config_document.h"
#include "device/answer_decoder.h"
#include "device/connection_settings.h"
#include "device/channel_slot.h"
#include "device/device_channel.h"
#include "download/device_update.h"
#include "download/host_services.h"
#include "download/operation_report.h"
#include "download/status_line.h"
#include "keys/key_document.h"

namespace korvo {

// Result codes of a download of its own (the documents', the access checks'
// and the update's codes pass through).
constexpr int kExecuteFailed = -1;          // application mode: no usable "APP" device
constexpr int kExecuteNoChannel = -2;       // no channel, or it did not open
constexpr int kExecuteAccessRefused = -4;   // rights not granted
constexpr int kExecuteNoSecondLoader = -5;  // StartSecondLoader failed
constexpr int kExecuteBusy = -6;            // a download or first stage runs (or SetupJNI)
constexpr int kExecuteFinishFailed = -13;   // FinishDeviceDownload failed
constexpr int kExecuteLogFailed = -19;      // writing a device log line failed
constexpr int kExecuteBadVersion = -81;     // "NeededDownloaderVersion" without a "."
constexpr int kExecuteTooNew = -98;         // "NeededDownloaderVersion" above ours

// This downloader's version, major * 1000 + minor (2.3).
constexpr int kDownloaderVersion = 2003;

// What a result of a download means, for the codes the download itself
// gives and those of its update; "" for others.
const char* ExecuteResultText(int code);

class DownloadExecutor final {
 public:
  // `communication_name` selects the answer decoder of the Java channel:
  // exactly "Keta B" the Keta B decoder, anything else the Keta A one.
  // `host` (borrowed, may be null: then nothing reaches a front end) carries
  // commands and status; `settings` name the COM port and its speed.
  DownloadExecutor(const std::string& communication_name, HostServices* host,
                   const ConnectionSettings& settings);
  ~DownloadExecutor();
  DownloadExecutor(const DownloadExecutor&) = delete;
  DownloadExecutor& operator=(const DownloadExecutor&) = delete;

  // The device identification, "" when the device gave none. Tries the Java
  // channel; when that yields nothing and the front end is bound, hands the
  // line over (CleanUpInterface) and asks once more over the COM port.
  std::string ConnectDevice();

  // 0 when the device granted `user_level`, -1 otherwise. Remembers both
  // texts in every case.
  int LoginDevice(const std::string& user_level, const std::string& password);

  // Runs one firmware download and returns its result code (0 = success).
  // `device_error` (not null) is -1 until a device was handled, 0 after
  // success, else the device's error. `device_to_skip` / `only_device`: a
  // device index, or negative for none / all. `only_app_downloaded` and
  // `device_which_was_uploaded` are written only when a device without
  // application got its application part and the rest must follow after a
  // reconnect. `additional_info` receives the access checks' message. On
  // every way out the documents are released and the temporary data file is
  // gone; the channel stays with the executor, closed.
  int Execute(const std::string& config_file, const std::string& key_file, int* device_error,
              int device_to_skip, int only_device, bool* only_app_downloaded,
              int* device_which_was_uploaded, std::string* additional_info);

  // A dry run: the download up to, and not including, starting the second
  // loader (documents, version, rights, identification, signatures, every
  // device's constraints), then the plan of which devices it would write.
  // Nothing is written to the device and nothing is left behind. Returns
  // the code the download would give before writing (0 when it would go
  // on); `additional_info` (not null) as for Execute.
  int DryRun(const std::string& config_file, const std::string& key_file, int device_to_skip,
             int only_device, std::string* additional_info);

  // What the last Execute or DryRun did.
  const OperationReport& report() const { return report_; }

  // Hands one device answer to the current channel, which takes `bytes`
  // (new[]); without a channel the bytes are released and -1 returned.
  int DeliverAnswer(const std::string& kind, const std::string& name, uint8_t* bytes, int count);

  DeviceChannel* channel() const { return channel_.get(); }
  // Destroys the current channel (if any) and takes `channel` (may be null).
  void ReplaceChannel(std::unique_ptr<DeviceChannel> channel);

  const std::string& communication_name() const { return communication_name_; }
  const ConnectionSettings& settings() const { return settings_; }

  // 1 while the current (or next) channel is the Java one, 0 for the serial one.
  int use_java_channel() const { return use_java_channel_; }
  void set_use_java_channel(int use) { use_java_channel_ = use; }

  const std::string& login_level() const { return login_level_; }
  const std::string& login_password() const { return login_password_; }

  // For tests and tools: how long the whole-file transfer waits for storing,
  // and a cap on every wait for a device answer on the Java channel (0: the
  // channel's own time-outs).
  void set_storing_policy(const StoringPolicy& policy) { storing_ = policy; }
  void set_answer_wait_limit_ms(uint32_t ms) { answer_wait_limit_ms_ = ms; }

 private:
  std::unique_ptr<DeviceChannel> MakeJavaChannel() const;
  // A new serial channel on the settings' port (not opened).
  std::unique_ptr<DeviceChannel> MakeSerialChannel() const;
  std::string IdentifyOverSerialLine();

  // The whole download (or its checks alone, for a dry run): the code,
  // with `device_error` as Execute describes it.
  int Download(const std::string& config_file, const std::string& key_file,
               int device_to_skip, int only_device, bool dry_run, int& device_error,
               bool* only_app_downloaded, int* device_which_was_uploaded,
               std::string& additional_info);
  int Write(const std::string& config_file, int device_to_skip, int only_device,
            const std::vector<bool>& constraints, bool serial, int& device_error,
            bool* only_app_downloaded, int* device_which_was_uploaded);
  int OpenDocumentsAndChannel(const std::string& config_file, const std::string& key_file,
                              bool& serial);
  void DescribeDevices();
  int CheckDownloaderVersion();
  int CheckRightsAndConstraints(std::vector<bool>& constraints, std::string& additional_info);
  int CheckPayloads();
  int PlanOnly(int device_to_skip, int only_device, const std::vector<bool>& constraints,
               bool serial);
  StepResult StartSecondLoader(DownloadState& state);
  StepResult WriteStartLog(const std::string& config_file, DownloadState& state);
  int FindApplicationDevice(int count, int device_to_skip, int only_device);
  static std::vector<const char*> NormalPlan(int count, int device_to_skip, int only_device,
                                             const std::vector<bool>& constraints);
  void RecordPlan(const std::vector<const char*>& plan, bool dry_run);
  int RunApplicationMode(int device_to_skip, int only_device,
                         const std::vector<bool>& constraints, DownloadState& state,
                         int& device_error, bool* only_app_downloaded,
                         int* device_which_was_uploaded);
  int UpdateDevices(const std::vector<const char*>& plan, DownloadState& state,
                    int& device_error);
  StepResult FinishDownload(DownloadState& state);
  void AbortDownload(DownloadState& state, int result, int device_error);
  void ReleaseDocuments();
  // Records the failed step with what the device said last; returns `code`.
  int Fail(const char* step, int code);
  int FailBeforeDevice(const char* step, int code);

  std::string communication_name_;
  HostServices* host_;
  ConnectionSettings settings_;
  std::unique_ptr<AnswerDecoder> answer_decoder_;
  std::unique_ptr<AnswerDecoder> serial_answer_decoder_;

  ChannelSlot channel_;

  ConfigDocument config_;
  KeyDocument keys_;
  StatusLine status_;
  OperationReport report_;
  StoringPolicy storing_;
  uint32_t answer_wait_limit_ms_ = 0;
  int32_t user_level_ = 0;

  // The Java channel is the usual one until a connect falls back.
  int use_java_channel_ = 1;
  std::string login_level_;
  std::string login_password_;
};

}  // namespace korvo
