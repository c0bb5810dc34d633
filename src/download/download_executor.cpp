#include "download/download_executor.h"

#include "device/java_device_channel.h"
#include "device/keta_answer_decoders.h"
#include "device/serial_answer_decoder.h"
#include "device/serial_device_channel.h"

namespace korvo {
namespace {

std::unique_ptr<AnswerDecoder> MakeSerialAnswerDecoder() {
  return std::make_unique<SerialAnswerDecoder>();
}

}  // namespace

DownloadExecutor::DownloadExecutor(const std::string& communication_name, HostServices* host,
                                   const ConnectionSettings& settings)
    : communication_name_(communication_name),
      host_(host),
      settings_(settings),
      answer_decoder_(MakeKetaAnswerDecoder(communication_name)),
      serial_answer_decoder_(MakeSerialAnswerDecoder()) {}

DownloadExecutor::~DownloadExecutor() { ReplaceChannel(nullptr); }

void DownloadExecutor::ReplaceChannel(std::unique_ptr<DeviceChannel> channel) {
  std::unique_ptr<DeviceChannel> old;
  {
    std::lock_guard<std::mutex> hold(delivery_mutex_);
    old = std::move(channel_);
    channel_ = std::move(channel);
  }
  // No delivery can reach `old` any more.
}

int DownloadExecutor::DeliverAnswer(const std::string& kind, const std::string& name,
                                    uint8_t* bytes, int count) {
  std::lock_guard<std::mutex> hold(delivery_mutex_);
  if (!channel_) {
    delete[] bytes;
    return -1;
  }
  return channel_->ReceiveAnswer(kind, name, bytes, count);
}

std::unique_ptr<DeviceChannel> DownloadExecutor::MakeJavaChannel() const {
  return std::make_unique<JavaDeviceChannel>(answer_decoder_.get(), host_);
}

std::unique_ptr<DeviceChannel> DownloadExecutor::MakeSerialChannel() const {
  return std::make_unique<SerialDeviceChannel>(serial_answer_decoder_.get(),
                                               settings_.serial_port_name);
}

std::string DownloadExecutor::IdentifyOverSerialLine() {
  std::unique_ptr<DeviceChannel> serial = MakeSerialChannel();
  if (!serial || serial->Open() != 0) return std::string();
  std::string ident = serial->ReadDeviceIdent();
  serial->Close();
  return ident;
}

std::string DownloadExecutor::ConnectDevice() {
  if (!channel_) {
    use_java_channel_ = 1;
    ReplaceChannel(MakeJavaChannel());
  }
  std::string ident = channel_->ReadDeviceIdent();
  if (!ident.empty() || !host_ || !host_->CanReportStatus()) return ident;

  // The front end reached no device: let it free the line, then try the
  // COM port ourselves. Either way no channel stays.
  host_->CleanUpInterface();
  ReplaceChannel(nullptr);
  use_java_channel_ = 0;
  return IdentifyOverSerialLine();
}

int DownloadExecutor::LoginDevice(const std::string& user_level, const std::string& password) {
  int result = -1;
  if (channel_) {
    result = channel_->SetAccessMode(user_level, password);
  } else if (use_java_channel_ != 0) {
    ReplaceChannel(MakeJavaChannel());
    result = channel_->SetAccessMode(user_level, password);
  } else {
    std::unique_ptr<DeviceChannel> serial = MakeSerialChannel();
    if (serial && serial->Open() == 0) {
      result = serial->SetAccessMode(user_level, password);
      serial->Close();
    }
  }
  login_level_ = user_level;
  login_password_ = password;
  return result;
}

int DownloadExecutor::Execute(const std::string&, const std::string&, int*, int, int, bool*,
                              int*, std::string*) {
  return -1;
}

}  // namespace korvo
