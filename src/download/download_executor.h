// Runs firmware downloads, and holds the device channel used for connect and
// login (ConnectDevice, LoginDevice behind the TAVISInterface natives).
//
// Owns its two answer decoders and its current channel. Thread safety: one
// issuing thread (the front end's); DeliverAnswer may come from any thread
// and is safe against the channel being replaced meanwhile.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "device/answer_decoder.h"
#include "device/connection_settings.h"
#include "device/device_channel.h"
#include "download/host_services.h"

namespace korvo {

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

  // Runs a firmware download; the download itself is not part of this build
  // yet and reports -1 with the outputs untouched.
  int Execute(const std::string& config_file, const std::string& key_file, int* device_error,
              int device_to_skip, int only_device, bool* only_app_downloaded,
              int* device_which_was_uploaded, std::string* additional_info);

  // Hands one device answer to the current channel, which takes `bytes`
  // (new[]); without a channel the bytes are released and -1 returned.
  int DeliverAnswer(const std::string& kind, const std::string& name, uint8_t* bytes, int count);

  DeviceChannel* channel() const { return channel_.get(); }
  // Destroys the current channel (if any) and takes `channel` (may be null).
  void ReplaceChannel(std::unique_ptr<DeviceChannel> channel);

  const std::string& communication_name() const { return communication_name_; }
  const ConnectionSettings& settings() const { return settings_; }
  AnswerDecoder* answer_decoder() const { return answer_decoder_.get(); }
  AnswerDecoder* serial_answer_decoder() const { return serial_answer_decoder_.get(); }

  // 1 while the current (or next) channel is the Java one, 0 for the serial one.
  int use_java_channel() const { return use_java_channel_; }
  void set_use_java_channel(int use) { use_java_channel_ = use; }

  const std::string& login_level() const { return login_level_; }
  const std::string& login_password() const { return login_password_; }

 private:
  std::unique_ptr<DeviceChannel> MakeJavaChannel() const;
  // A new serial channel on the settings' port (not opened).
  std::unique_ptr<DeviceChannel> MakeSerialChannel() const;
  std::string IdentifyOverSerialLine();

  std::string communication_name_;
  HostServices* host_;
  ConnectionSettings settings_;
  std::unique_ptr<AnswerDecoder> answer_decoder_;
  std::unique_ptr<AnswerDecoder> serial_answer_decoder_;

  // Written only by the issuing thread, always under delivery_mutex_, so
  // that a delivery never meets a channel being destroyed.
  std::unique_ptr<DeviceChannel> channel_;
  std::mutex delivery_mutex_;

  // The Java channel is the usual one until a connect falls back.
  int use_java_channel_ = 1;
  std::string login_level_;
  std::string login_password_;
};

}  // namespace korvo
