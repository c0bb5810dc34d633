#include "download/download_executor.h"

#include <cstdlib>
#include <ctime>

#include "device/java_device_channel.h"
#include "device/keta_answer_decoders.h"
#include "device/serial_answer_decoder.h"
#include "config/temp_files.h"
#include "device/serial_device_channel.h"
#include "download/access_checks.h"
#include "download/constraint_check.h"
#include "platform/debug_output.h"
#include "platform/system.h"

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
      serial_answer_decoder_(MakeSerialAnswerDecoder()),
      status_(host) {}

DownloadExecutor::~DownloadExecutor() = default;

void DownloadExecutor::ReplaceChannel(std::unique_ptr<DeviceChannel> channel) {
  channel_.Replace(std::move(channel));
}

int DownloadExecutor::DeliverAnswer(const std::string& kind, const std::string& name,
                                    uint8_t* bytes, int count) {
  return channel_.Deliver(kind, name, bytes, count);
}

std::unique_ptr<DeviceChannel> DownloadExecutor::MakeJavaChannel() const {
  auto channel = std::make_unique<JavaDeviceChannel>(answer_decoder_.get(), host_);
  channel->set_wait_limit_ms(answer_wait_limit_ms_);
  return channel;
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

namespace {

// "Www Mmm dd hh:mm:ss yyyy" in local time, named in English whatever the
// host's locale.
std::string LocalTimeText() {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm parts{};
  if (!LocalTime(std::time(nullptr), &parts)) return std::string();
  char text[32];
  std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %04d", kDays[parts.tm_wday % 7],
                kMonths[parts.tm_mon % 12], parts.tm_mday, parts.tm_hour, parts.tm_min,
                parts.tm_sec, parts.tm_year + 1900);
  return text;
}

}  // namespace

const char* ExecuteResultText(int code) {
  switch (code) {
    case 0: return "success";
    case kExecuteFailed: return "the application part could not be downloaded, or no executor";
    case kExecuteNoChannel: return "no device channel, or it could not be opened";
    case kExecuteAccessRefused: return "the access rights do not allow this download";
    case kExecuteNoSecondLoader: return "the device's second loader could not be started";
    case kUpdateConfigDataFailed: return "the device refused a configuration entry";
    case kUpdateUnknownDataType: return "unknown DATA_TYPE";
    case kUpdateTransferFailed: return "the transfer of the program data failed";
    case kExecuteFinishFailed: return "the device could not finish the download";
    case kExecuteLogFailed: return "the device log could not be written";
    case kExecuteBadVersion: return "NeededDownloaderVersion has no \".\"";
    case kExecuteTooNew: return "the configuration needs a newer downloader";
    default: return "";
  }
}

void DownloadExecutor::ReleaseDocuments() {
  RemoveFile(ProcessTempNames().download_data);
  if (config_.IsLoaded()) config_.Unload();
  if (keys_.IsOpen()) keys_.Close(false);
}

int DownloadExecutor::OpenDocumentsAndChannel(const std::string& config_file,
                                              const std::string& key_file, bool& serial) {
  serial = false;
  int rc = config_.Load(config_file);
  if (rc != 0) DebugPrint("Configuration not loaded: %s\n", config_.LoadDiagnostic().Text().c_str());
  if (rc != 0) return rc;
  rc = keys_.Open(key_file, true);
  if (keys_.LoadDiagnostic().failed())
    DebugPrint("Key file not read: %s\n", keys_.LoadDiagnostic().Text().c_str());
  if (rc != 0) return rc;

  ReplaceChannel(nullptr);
  std::string tavis;
  bool legacy = false;
  int tavis_rc = config_.GetSystemEntry("TavisDevice", tavis, &legacy);
  // Configurations with only the older System section carry no version.
  if (!legacy) {
    rc = CheckDownloaderVersion();
    if (rc != 0) return rc;
  }
  if (tavis_rc != 0 || tavis != "false") {
    use_java_channel_ = 1;
    ReplaceChannel(MakeJavaChannel());
  } else {
    if (use_java_channel_ == 1 && host_ && host_->CanReportStatus()) host_->CleanUpInterface();
    use_java_channel_ = 0;
    ReplaceChannel(MakeSerialChannel());
    serial = true;
  }
  if (!channel_ || channel_->Open() != 0) return kExecuteNoChannel;
  return 0;
}

int DownloadExecutor::CheckDownloaderVersion() {
  std::string version;
  config_.GetSystemEntry("NeededDownloaderVersion", version);
  size_t dot = version.find('.');
  if (dot == std::string::npos) return kExecuteBadVersion;
  long major = std::atol(version.substr(0, dot).c_str());
  long minor = std::atol(version.c_str() + dot + 1);
  // Saturate so that a huge number reads as "too new", never as old.
  if (major > 1000000 || major < -1000000) major = major > 0 ? 1000000 : -1000000;
  if (minor > 1000000 || minor < -1000000) minor = minor > 0 ? 1000000 : -1000000;
  return major * 1000 + minor > kDownloaderVersion ? kExecuteTooNew : 0;
}

int DownloadExecutor::StartSecondLoader(DownloadState& state) {
  int value = -1;
  if (channel_->StartSecondLoader(0, &value) < 0) return kExecuteNoSecondLoader;
  if (value < 0) {
    state.device_error = value;
    return kExecuteNoSecondLoader;
  }
  state.session = value;
  return 0;
}

int DownloadExecutor::WriteStartLog(const std::string& config_file, DownloadState& state) {
  std::string logging;
  int rc = config_.GetSystemEntry("Logging", logging);
  if (rc != 0) return rc;
  state.logging = logging == "true";
  if (!state.logging) return 0;
  const std::string lines[] = {"Download started at :" + LocalTimeText() + "\n",
                               "Current user level :" + std::to_string(user_level_),
                               "Configuration filename = " + config_file};
  for (const std::string& line : lines) {
    rc = channel_->WriteDeviceLog(state.session, line, &state.ret);
    if (rc < 0 || state.ret < 0) {
      if (rc >= 0) state.device_error = state.ret;
      return kExecuteLogFailed;
    }
  }
  return 0;
}

int DownloadExecutor::RunApplicationMode(int device_to_skip, int only_device,
                                         const std::vector<bool>& constraints,
                                         DownloadState& state, bool* only_app_downloaded,
                                         int* device_which_was_uploaded) {
  config_.GetDeviceCount(state.device_count);
  int app = -1;
  std::string type;
  for (int i = 0; i < state.device_count && app < 0; ++i) {
    if (config_.GetDeviceEntry(i, "DEVICE_TYPE", type) == 0 && type == "APP") app = i;
  }
  if (app < 0 || (only_device >= 0 && only_device != app) ||
      (device_to_skip >= 0 && device_to_skip == app)) {
    state.device_error = -1;
    return kExecuteFailed;
  }
  state.device_error = 0;
  const bool allowed = size_t(app) < constraints.size() && constraints[size_t(app)];
  if (allowed) {
    DeviceUpdate update(config_, keys_, *channel_, status_, settings_, host_, storing_);
    if (!update.Run(app, state) || state.device_error != 0) {
      state.device_error = -1;
      return kExecuteFailed;
    }
  }
  // When the constraints kept the application out, nothing was loaded and
  // no second call can follow: the caller must not be told to reconnect.
  const bool rest_follows = allowed && state.device_count > 1 && only_device < 0;
  status_.Report(rest_follows
                     ? "Download of first part completed. Rebooting device and reconnecting..."
                     : "Download finished ...");
  channel_->FinishDeviceDownload(state.session, 0, &state.ret);
  channel_->SoftReset(&state.ret);
  channel_->Close();
  if (rest_follows) {
    *only_app_downloaded = true;
    *device_which_was_uploaded = app;
  }
  return 0;
}

bool DownloadExecutor::UpdateDevices(int device_to_skip, int only_device,
                                     const std::vector<bool>& constraints,
                                     DownloadState& state) {
  DeviceUpdate update(config_, keys_, *channel_, status_, settings_, host_, storing_);
  if (only_device >= 0) {
    // A device the configuration does not have is an error, not "nothing to do".
    if (size_t(only_device) >= constraints.size()) {
      state.result = kConfigMissing;
      return false;
    }
    if (constraints[size_t(only_device)]) return update.Run(only_device, state);
    state.device_error = 0;
    return true;
  }
  for (int i = 0; i < state.device_count; ++i) {
    if (device_to_skip >= 0 && i == device_to_skip) continue;
    if (size_t(i) >= constraints.size() || !constraints[size_t(i)]) {
      state.result = 0;
      state.device_error = 0;
      continue;
    }
    if (!update.Run(i, state)) return false;
  }
  return true;
}

int DownloadExecutor::FinishDownload(DownloadState& state) {
  if (state.logging) channel_->WriteDeviceLog(state.session, "Download finished", &state.ret);
  int rc = channel_->FinishDeviceDownload(state.session, 0, &state.ret);
  if (rc < 0 || state.ret != 0) {
    DebugPrint("FinishDownload 0 failed Res:%d Ret:%d\n", rc, state.ret);
    state.device_error = state.ret;
    status_.Report("Error during download ...");
    return kExecuteFinishFailed;
  }
  status_.Report("Download finished ...");
  state.device_error = 0;
  return 0;
}

void DownloadExecutor::AbortDownload(DownloadState& state) {
  if (state.logging) {
    channel_->WriteDeviceLog(state.session,
                             "Error while downloading: System error code : " +
                                 std::to_string(state.result) +
                                 " Device error code : " + std::to_string(state.device_error),
                             &state.ret);
  }
  int rc = channel_->AbortDeviceDownload(state.session, 0, &state.ret);
  DebugPrint("AbortDownload Res:%d Ret:%d\n", rc, state.ret);
}

int DownloadExecutor::Execute(const std::string& config_file, const std::string& key_file,
                              int* device_error, int device_to_skip, int only_device,
                              bool* only_app_downloaded, int* device_which_was_uploaded,
                              std::string* additional_info) {
  DownloadState state;
  status_.Report("Download of " + config_file + " started ...", 0);
  *device_error = -1;
  // The documents and the data file go on every way out; a download that
  // left them behind would make every later one fail.
  struct Release {
    DownloadExecutor* self;
    ~Release() { self->ReleaseDocuments(); }
  } release{this};

  bool serial = false;
  int rc = OpenDocumentsAndChannel(config_file, key_file, serial);
  if (rc == kExecuteBadVersion || rc == kExecuteTooNew) return rc;
  status_.Report("Checking rights ...", -1);
  int count = 0;
  config_.GetDeviceCount(count);
  std::vector<bool> constraints(count > 0 ? size_t(count) : 0, false);
  if (rc != 0) {
    if (channel_) channel_->Close();
    return rc;
  }

  bool granted = false;
  rc = AccessChecks(config_, keys_, *channel_, user_level_).CheckAccessRights(granted,
                                                                            *additional_info);
  for (int i = 0; i < count; ++i)
    constraints[size_t(i)] = CheckDownloadConstraints(config_, *channel_, i);
  if (rc != 0 || !granted) {
    channel_->Close();
    return kExecuteAccessRefused;
  }
  rc = StartSecondLoader(state);
  if (rc != 0) {
    *device_error = state.device_error;
    channel_->Close();
    return rc;
  }

  state.result = WriteStartLog(config_file, state);
  bool failed = state.result != 0;
  status_.Report("Executing download ...", -1);
  if (!failed && !serial && !channel_->HasApplication()) {
    rc = RunApplicationMode(device_to_skip, only_device, constraints, state, only_app_downloaded,
                            device_which_was_uploaded);
    *device_error = state.device_error;
    return rc;
  }
  if (!failed) {
    state.result = config_.GetDeviceCount(state.device_count);
    failed = state.result != 0 || !UpdateDevices(device_to_skip, only_device, constraints, state);
  }
  if (!failed) {
    state.result = FinishDownload(state);
    failed = state.result != 0;
  }
  if (failed) AbortDownload(state);
  channel_->SoftReset(&state.ret);
  channel_->Close();
  *device_error = state.device_error;
  return state.result;
}

}  // namespace korvo
