#include "download/download_executor.h"

#include <cstdlib>
#include <ctime>

#include "device/java_device_channel.h"
#include "device/keta_answer_decoders.h"
#include "device/serial_answer_decoder.h"
#include "config/payload_check.h"
#include "device/serial_device_channel.h"
#include "download/access_checks.h"
#include "download/constraint_check.h"
#include "keys/key_document.h"
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
    case kExecuteBusy:
      return "refused: a download or first-stage download is running, or SetupJNI";
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
  if (config_.IsLoaded()) config_.Unload();
  if (keys_.IsOpen()) keys_.Close(false);
}

namespace {

// Why a device is left out of a download; null when it is written.
constexpr const char* kByConstraints = "constraints";
constexpr const char* kBySkip = "skip";
constexpr const char* kByOnly = "only";
constexpr const char* kByApplicationMode = "application mode";

}  // namespace

int DownloadExecutor::Fail(const char* step, int code) {
  report_.Fail(step, channel_ ? channel_->LastAnswer() : DeviceAnswer());
  return code;
}

// A step that failed before the device was asked anything.
int DownloadExecutor::FailBeforeDevice(const char* step, int code) {
  report_.Fail(step, DeviceAnswer());
  return code;
}

int DownloadExecutor::OpenDocumentsAndChannel(const std::string& config_file,
                                              const std::string& key_file, bool& serial) {
  serial = false;
  report_.StartPhase("documents");
  int rc = config_.Load(config_file);
  if (rc != 0) {
    report_.AddNote(config_.LoadDiagnostic().Text());
    return FailBeforeDevice("configuration", rc);
  }
  rc = keys_.Open(key_file, true);
  // A key file that does not parse opens empty; the checks then fail on it.
  if (keys_.LoadDiagnostic().failed()) report_.AddNote(keys_.LoadDiagnostic().Text());
  if (rc != 0) return FailBeforeDevice("key file", rc);
  DescribeDevices();

  ReplaceChannel(nullptr);
  std::string tavis;
  bool legacy = false;
  int tavis_rc = config_.GetSystemEntry("TavisDevice", tavis, &legacy);
  // Configurations with only the older System section carry no version.
  if (!legacy) {
    rc = CheckDownloaderVersion();
    if (rc != 0) return FailBeforeDevice("version", rc);
  }
  report_.StartPhase("channel");
  if (tavis_rc != 0 || tavis != "false") {
    use_java_channel_ = 1;
    ReplaceChannel(MakeJavaChannel());
  } else {
    if (use_java_channel_ == 1 && host_ && host_->CanReportStatus()) host_->CleanUpInterface();
    use_java_channel_ = 0;
    ReplaceChannel(MakeSerialChannel());
    serial = true;
  }
  report_.set_channel(serial ? "serial" : "java");
  if (!channel_ || channel_->Open() != 0) return Fail("channel", kExecuteNoChannel);
  return 0;
}

// Name, DEVICE_TYPE and DATA_TYPE of every device, so that the report
// names even those a download never reaches.
void DownloadExecutor::DescribeDevices() {
  int count = 0;
  if (config_.GetDeviceCount(count) != 0) return;
  for (int i = 0; i < count; ++i) {
    DeviceRecord& device = report_.Device(i);
    config_.GetDeviceEntry(i, "Name", device.name);
    config_.GetDeviceEntry(i, "DEVICE_TYPE", device.type);
    config_.GetDeviceEntry(i, "DATA_TYPE", device.data_type);
  }
}

int DownloadExecutor::CheckDownloaderVersion() {
  std::string version;
  config_.GetSystemEntry("NeededDownloaderVersion", version);
  CheckRecord check{"version", "NeededDownloaderVersion", version, "at most 2.3", false, 0, ""};
  size_t dot = version.find('.');
  if (dot == std::string::npos) {
    check.code = kExecuteBadVersion;
    check.note = "no \".\" in the version";
    report_.checks().push_back(check);
    return kExecuteBadVersion;
  }
  long major = std::atol(version.substr(0, dot).c_str());
  long minor = std::atol(version.c_str() + dot + 1);
  // Saturate so that a huge number reads as "too new", never as old.
  if (major > 1000000 || major < -1000000) major = major > 0 ? 1000000 : -1000000;
  if (minor > 1000000 || minor < -1000000) minor = minor > 0 ? 1000000 : -1000000;
  check.passed = major * 1000 + minor <= kDownloaderVersion;
  if (!check.passed) check.code = kExecuteTooNew;
  report_.checks().push_back(check);
  return check.passed ? 0 : kExecuteTooNew;
}

// Rights first, then every device's constraints (read even when the rights
// are refused); 0 or -4.
int DownloadExecutor::CheckRightsAndConstraints(std::vector<bool>& constraints,
                                                std::string& additional_info) {
  report_.StartPhase("checks");
  bool granted = false;
  AccessChecks checks(config_, keys_, *channel_, user_level_);
  checks.set_trace(&report_.checks());
  int rc = checks.CheckAccessRights(granted, additional_info);
  const DeviceAnswer answer = rc != 0 ? channel_->LastAnswer() : DeviceAnswer();
  const char* why = rc == 0 ? "" : *AccessResultText(rc) ? AccessResultText(rc)
                                 : *KeyResultText(rc)    ? KeyResultText(rc)
                                                         : ConfigResultText(rc);
  report_.checks().push_back(
      {"access", "", "", "", rc == 0 && granted, rc, rc == 0 && !granted ? "not granted" : why});
  for (size_t i = 0; i < constraints.size(); ++i) {
    DeviceRecord& device = report_.Device(int(i));
    constraints[i] = CheckDownloadConstraints(config_, *channel_, int(i), &device.constraints);
    device.constraints_checked = true;
    device.constraints_hold = constraints[i];
  }
  if (rc != 0 || !granted) {
    report_.Fail("rights", answer);
    return kExecuteAccessRefused;
  }
  return 0;
}

// Every device's data as its type says, before the device hears of the
// download: data damaged since it was built would be written, and could
// leave the device without a working application.
int DownloadExecutor::CheckPayloads() {
  int count = 0;
  config_.GetDeviceCount(count);
  int result = 0;
  for (int i = 0; i < count && result == 0; ++i) {
    std::string type, why;
    config_.GetDeviceEntry(i, "DATA_TYPE", type);
    const char* promise = PayloadCheck(type).Promise();
    if (!*promise) continue;
    CheckDevicePayload(config_, i, why);
    const std::string device = "device " + std::to_string(i + 1);
    report_.checks().push_back({"payload", device, type, promise, why.empty(),
                                why.empty() ? 0 : kUpdateTransferFailed, why});
    if (why.empty()) continue;
    DebugPrint("Payload of %s damaged: %s\n", device.c_str(), why.c_str());
    DeviceRecord& record = report_.Device(i);
    record.outcome = "refused";
    record.reason = "damaged data: " + why;
    result = FailBeforeDevice("payload", kUpdateTransferFailed);
  }
  return result;
}

StepResult DownloadExecutor::StartSecondLoader(DownloadState& state) {
  report_.StartPhase("second loader");
  int value = -1;
  if (channel_->StartSecondLoader(0, &value) < 0) return {kExecuteNoSecondLoader, std::nullopt};
  if (value < 0) return {kExecuteNoSecondLoader, value};
  state.session = value;
  return {};
}

StepResult DownloadExecutor::WriteStartLog(const std::string& config_file, DownloadState& state) {
  report_.StartPhase("log");
  std::string logging;
  int rc = config_.GetSystemEntry("Logging", logging);
  if (rc != 0) return {rc, std::nullopt};
  state.logging = logging == "true";
  if (!state.logging) return {};
  const std::string lines[] = {"Download started at :" + LocalTimeText() + "\n",
                               "Current user level :" + std::to_string(user_level_),
                               "Configuration filename = " + config_file};
  for (const std::string& line : lines) {
    rc = channel_->WriteDeviceLog(state.session, line, &state.ret);
    if (rc < 0) return {kExecuteLogFailed, std::nullopt};
    if (state.ret < 0) return {kExecuteLogFailed, state.ret};
  }
  return {};
}

// The first device whose DEVICE_TYPE is "APP", or -1 (with a note) when
// there is none or the caller left it out.
int DownloadExecutor::FindApplicationDevice(int count, int device_to_skip, int only_device) {
  std::string type;
  int app = -1;
  for (int i = 0; i < count && app < 0; ++i) {
    if (config_.GetDeviceEntry(i, "DEVICE_TYPE", type) == 0 && type == "APP") app = i;
  }
  if (app < 0) {
    report_.AddNote("application mode: no device of type APP");
  } else if ((only_device >= 0 && only_device != app) ||
             (device_to_skip >= 0 && device_to_skip == app)) {
    report_.AddNote("application mode: the APP device is left out by skip or only device");
    app = -1;
  }
  return app;
}

// Which devices a download in normal mode leaves out, and why.
std::vector<const char*> DownloadExecutor::NormalPlan(int count, int device_to_skip,
                                                      int only_device,
                                                      const std::vector<bool>& constraints) {
  std::vector<const char*> plan(count > 0 ? size_t(count) : 0, nullptr);
  for (int i = 0; i < count; ++i) {
    const bool allowed = size_t(i) < constraints.size() && constraints[size_t(i)];
    // With only device, skip device is not consulted.
    if (only_device >= 0)
      plan[size_t(i)] = i != only_device ? kByOnly : allowed ? nullptr : kByConstraints;
    else
      plan[size_t(i)] = i == device_to_skip ? kBySkip : allowed ? nullptr : kByConstraints;
  }
  return plan;
}

void DownloadExecutor::RecordPlan(const std::vector<const char*>& plan, bool dry_run) {
  for (size_t i = 0; i < plan.size(); ++i) {
    DeviceRecord& device = report_.Device(int(i));
    if (plan[i]) {
      device.outcome = dry_run ? "would be skipped" : "skipped";
      device.reason = plan[i];
    } else if (dry_run) {
      device.outcome = "would be written";
    }
  }
}

int DownloadExecutor::RunApplicationMode(int device_to_skip, int only_device,
                                         const std::vector<bool>& constraints,
                                         DownloadState& state, int& device_error,
                                         bool* only_app_downloaded,
                                         int* device_which_was_uploaded) {
  config_.GetDeviceCount(state.device_count);
  const int app = FindApplicationDevice(state.device_count, device_to_skip, only_device);
  if (app < 0) {
    device_error = -1;
    return Fail("application mode", kExecuteFailed);
  }
  device_error = 0;
  const bool allowed = size_t(app) < constraints.size() && constraints[size_t(app)];
  std::vector<const char*> plan(size_t(state.device_count), kByApplicationMode);
  plan[size_t(app)] = allowed ? nullptr : kByConstraints;
  RecordPlan(plan, false);
  if (allowed) {
    DeviceRecord& record = report_.Device(app);
    report_.StartPhase("device " + std::to_string(app + 1));
    DeviceUpdate update(config_, keys_, *channel_, status_, settings_, host_, storing_);
    StepResult r = update.Run(app, state, &record);
    record.result = r.code;
    record.device_error = r.device_error;
    if (!r.ok() || r.device_error.value_or(0) != 0) {
      record.outcome = "failed";
      device_error = -1;
      return Fail("device update", kExecuteFailed);
    }
    record.outcome = "written";
  }
  // When the constraints kept the application out, nothing was loaded and
  // no second call can follow: the caller must not be told to reconnect.
  const bool rest_follows = allowed && state.device_count > 1 && only_device < 0;
  report_.StartPhase("finish");
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

int DownloadExecutor::UpdateDevices(const std::vector<const char*>& plan, DownloadState& state,
                                    int& device_error) {
  DeviceUpdate update(config_, keys_, *channel_, status_, settings_, host_, storing_);
  for (size_t i = 0; i < plan.size(); ++i) {
    if (plan[i]) {
      if (plan[i] == kByConstraints) device_error = 0;
      continue;
    }
    DeviceRecord& record = report_.Device(int(i));
    report_.StartPhase("device " + std::to_string(i + 1));
    StepResult r = update.Run(int(i), state, &record);
    record.result = r.code;
    record.device_error = r.device_error;
    if (r.device_error) device_error = *r.device_error;
    if (!r.ok()) {
      record.outcome = "failed";
      return Fail("device update", r.code);
    }
    record.outcome = "written";
  }
  return 0;
}

StepResult DownloadExecutor::FinishDownload(DownloadState& state) {
  report_.StartPhase("finish");
  if (state.logging) channel_->WriteDeviceLog(state.session, "Download finished", &state.ret);
  int rc = channel_->FinishDeviceDownload(state.session, 0, &state.ret);
  if (rc < 0 || state.ret != 0) {
    DebugPrint("FinishDownload 0 failed Res:%d Ret:%d\n", rc, state.ret);
    status_.Report("Error during download ...");
    return {kExecuteFinishFailed, state.ret};
  }
  status_.Report("Download finished ...");
  return {0, 0};
}

void DownloadExecutor::AbortDownload(DownloadState& state, int result, int device_error) {
  report_.StartPhase("abort");
  if (state.logging) {
    channel_->WriteDeviceLog(state.session,
                             "Error while downloading: System error code : " +
                                 std::to_string(result) +
                                 " Device error code : " + std::to_string(device_error),
                             &state.ret);
  }
  int rc = channel_->AbortDeviceDownload(state.session, 0, &state.ret);
  DebugPrint("AbortDownload Res:%d Ret:%d\n", rc, state.ret);
}

int DownloadExecutor::Execute(const std::string& config_file, const std::string& key_file,
                              int* device_error, int device_to_skip, int only_device,
                              bool* only_app_downloaded, int* device_which_was_uploaded,
                              std::string* additional_info) {
  report_.Start("download");
  int error = -1;
  *device_error = -1;
  int result = Download(config_file, key_file, device_to_skip, only_device, false, error,
                        only_app_downloaded, device_which_was_uploaded, *additional_info);
  *device_error = error;
  report_.Finish(result, error, ResultText("download", result));
  return result;
}

int DownloadExecutor::DryRun(const std::string& config_file, const std::string& key_file,
                             int device_to_skip, int only_device, std::string* additional_info) {
  report_.Start("dry run");
  int error = -1;
  bool only_app = false;
  int uploaded = -1;
  int result = Download(config_file, key_file, device_to_skip, only_device, true, error,
                        &only_app, &uploaded, *additional_info);
  report_.Finish(result, error, ResultText("dry run", result));
  return result;
}

// What a download would do once its checks passed, without writing: the
// devices it would write and the result that is known before any write.
int DownloadExecutor::PlanOnly(int device_to_skip, int only_device,
                               const std::vector<bool>& constraints, bool serial) {
  int count = 0;
  if (int rc = config_.GetDeviceCount(count)) return Fail("devices", rc);
  if (!serial && !channel_->HasApplication()) {
    const int app = FindApplicationDevice(count, device_to_skip, only_device);
    if (app < 0) return Fail("application mode", kExecuteFailed);
    std::vector<const char*> plan(size_t(count), kByApplicationMode);
    plan[size_t(app)] = constraints[size_t(app)] ? nullptr : kByConstraints;
    RecordPlan(plan, true);
    return 0;
  }
  if (only_device >= 0 && size_t(only_device) >= constraints.size())
    return Fail("devices", kConfigMissing);
  RecordPlan(NormalPlan(count, device_to_skip, only_device, constraints), true);
  return 0;
}

int DownloadExecutor::Download(const std::string& config_file, const std::string& key_file,
                               int device_to_skip, int only_device, bool dry_run,
                               int& device_error, bool* only_app_downloaded,
                               int* device_which_was_uploaded, std::string& additional_info) {
  status_.Report("Download of " + config_file + " started ...", 0);
  report_.AddFile("configuration", config_file);
  report_.AddFile("key file", key_file);
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
  rc = CheckRightsAndConstraints(constraints, additional_info);
  if (rc == 0) rc = CheckPayloads();
  if (rc == 0 && dry_run) rc = PlanOnly(device_to_skip, only_device, constraints, serial);
  if (rc != 0 || dry_run) {
    channel_->Close();
    return rc;
  }
  return Write(config_file, device_to_skip, only_device, constraints, serial, device_error,
               only_app_downloaded, device_which_was_uploaded);
}

// From the second loader on: everything that writes to the device.
int DownloadExecutor::Write(const std::string& config_file, int device_to_skip, int only_device,
                            const std::vector<bool>& constraints, bool serial, int& device_error,
                            bool* only_app_downloaded, int* device_which_was_uploaded) {
  DownloadState state;
  StepResult started = StartSecondLoader(state);
  if (!started.ok()) {
    if (started.device_error) device_error = *started.device_error;
    Fail("second loader", started.code);
    channel_->Close();
    return started.code;
  }

  StepResult logged = WriteStartLog(config_file, state);
  if (logged.device_error) device_error = *logged.device_error;
  int result = logged.code;
  if (!logged.ok()) Fail("log", result);
  status_.Report("Executing download ...", -1);
  if (logged.ok() && !serial && !channel_->HasApplication()) {
    return RunApplicationMode(device_to_skip, only_device, constraints, state, device_error,
                              only_app_downloaded, device_which_was_uploaded);
  }
  if (result == 0) {
    result = config_.GetDeviceCount(state.device_count);
    if (result != 0) {
      Fail("devices", result);
    } else if (only_device >= 0 && size_t(only_device) >= constraints.size()) {
      // A device the configuration does not have is an error, not "nothing to do".
      result = Fail("devices", kConfigMissing);
    } else {
      std::vector<const char*> plan =
          NormalPlan(state.device_count, device_to_skip, only_device, constraints);
      RecordPlan(plan, false);
      result = UpdateDevices(plan, state, device_error);
    }
  }
  if (result == 0) {
    StepResult finished = FinishDownload(state);
    if (finished.device_error) device_error = *finished.device_error;
    result = finished.code;
    if (result != 0) Fail("finish", result);
  }
  if (result != 0) AbortDownload(state, result, device_error);
  report_.StartPhase("reboot");
  channel_->SoftReset(&state.ret);
  channel_->Close();
  return result;
}

}  // namespace korvo
