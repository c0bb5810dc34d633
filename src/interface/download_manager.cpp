#include "interface/download_manager.h"

#include <xercesc/util/PlatformUtils.hpp>

#include <atomic>
#include <chrono>
#include <new>

#include "config/configuration_builder.h"
#include "config/temp_files.h"
#include "config/xml_access.h"
#include "device/first_stage_downloader.h"
#include "device/java_device_channel.h"
#include "device/keta_answer_decoders.h"
#include "download/download_executor.h"
#include "download/operation_report.h"
#include "interface/java_binding.h"
#include "keys/key_document.h"
#include "platform/debug_output.h"
#include "platform/sync.h"
#include "platform/system.h"

namespace korvo {
namespace {

template <typename T, typename... Args>
T* CreateOrNull(Args&&... args) {
  try {
    return new T(std::forward<Args>(args)...);
  } catch (...) {
    return nullptr;
  }
}

std::atomic<uint8_t> download_mode{static_cast<uint8_t>(DownloadModeValue::kNormal)};

// How long an unload waits for running operations: their waits are woken,
// so they end in moments unless a call into the front end holds them.
constexpr uint32_t kUnloadGraceMs = 1500;

}  // namespace

DownloadManager::DownloadManager(HostServices* host)
    : host_(host ? host : &JavaBinding::Instance()) {
  xercesc::XMLPlatformUtils::Initialize();
  builder_ = CreateOrNull<ConfigurationBuilder>();
  executor_ = NewExecutor(std::string());
  first_stage_ = CreateOrNull<FirstStageDownloader>();
  key_document_ = CreateOrNull<KeyDocument>();
}

DownloadManager::~DownloadManager() {
  if (!closing_) ReleaseMembers();
}

void DownloadManager::ReleaseMembers() {
  ReplaceExecutor(nullptr);
  delete first_stage_;
  first_stage_ = nullptr;
  delete builder_;
  builder_ = nullptr;
  delete key_document_;
  key_document_ = nullptr;
  // The library may be loaded again in this process, with Xerces anew.
  DropKeptParser();
  xercesc::XMLPlatformUtils::Terminate();
}

bool DownloadManager::Begin(unsigned kinds, const char* what, const char* operation, int busy) {
  std::lock_guard<std::mutex> hold(operations_mutex_);
  if (!closing_ && (running_ & kinds) == 0) {
    running_ |= kinds;
    return true;
  }
  const char* why = closing_ ? "the library is being unloaded"
                             : "an operation of its kind is running (one at a time)";
  DebugPrint("%s refused: %s\n", what, why);
  // Kept under the lock: the running operation's own report, kept when it
  // ends, comes after this one.
  if (operation) KeepReport(RefusedReport(operation, std::string(what) + " refused: " + why, busy));
  return false;
}

void DownloadManager::End(unsigned kinds) {
  {
    std::lock_guard<std::mutex> hold(operations_mutex_);
    running_ &= ~kinds;
  }
  operation_ended_.notify_all();
}

bool DownloadManager::Shutdown(uint32_t grace_ms) {
  {
    std::lock_guard<std::mutex> hold(operations_mutex_);
    if (closing_) return false;
    closing_ = true;
  }
  RequestStop();
  bool ended;
  {
    std::unique_lock<std::mutex> lock(operations_mutex_);
    ended = operation_ended_.wait_for(lock, std::chrono::milliseconds(grace_ms),
                                      [this] { return running_ == 0; });
  }
  if (!ended) {
    DebugPrint("unloaded while an operation still runs; its objects are left to it\n");
    RemoveGuardedFilesInSignalHandler();
    return false;
  }
  ReleaseMembers();
  return true;
}

DownloadExecutor* DownloadManager::NewExecutor(const std::string& communication_name) const {
  return CreateOrNull<DownloadExecutor>(communication_name, host_, settings_);
}

bool DownloadManager::Setup(const std::string& communication_name,
                            const ConnectionSettings& settings,
                            const std::function<void()>& bind) {
  return Exclusive(OperationKind::kAll, "SetupJNI", false, [&] {
    if (bind) bind();
    ReplaceExecutor(nullptr);
    settings_ = settings;
    communication_name_ = communication_name;
    ReplaceExecutor(NewExecutor(communication_name));
    return true;
  });
}

int DownloadManager::ExecuteDownload(const std::string& config_file, const std::string& key_file,
                                     int* device_error, bool* only_app_downloaded,
                                     int* device_which_was_uploaded, int device_to_skip,
                                     int only_device, std::string* additional_info) {
  return Reported(OperationKind::kDevice, "ExecuteDownload", "download", kExecuteBusy, [&] {
    if (!executor_) {
      KeepReport(UnavailableReport("download", "download executor"));
      return kExecuteFailed;
    }
    SetDownloadMode(DownloadModeValue::kNormal);
    int local_error = 0;
    bool local_only_app = false;
    int local_uploaded = -1;
    std::string local_info;
    int result = executor_->Execute(
        config_file, key_file, &local_error, device_to_skip, only_device,
        only_app_downloaded ? only_app_downloaded : &local_only_app,
        device_which_was_uploaded ? device_which_was_uploaded : &local_uploaded,
        additional_info ? additional_info : &local_info);
    if (device_error) *device_error = local_error;
    KeepReport(executor_->report());
    return result;
  });
}

int DownloadManager::ExecuteFirstStageDownload(const std::string& config_file,
                                               int* device_error) {
  return Reported(OperationKind::kDevice, "ExecuteFirstStageDownload", "first stage",
                  kFirstStageBusy, [&] {
    if (!first_stage_ || !PrepareFirstStage()) {
      KeepReport(UnavailableReport("first stage", "first-stage downloader"));
      return -1;
    }
    SetDownloadMode(DownloadModeValue::kFirstStage);
    int local_error = 0;
    const uint32_t started = TickCount();
    int result = first_stage_->ExecuteFirstStage(config_file, &local_error);
    if (device_error) *device_error = local_error;
    KeepReport(
        FirstStageReport(config_file, first_stage_->record(), result, local_error, started));
    return result;
  });
}

int DownloadManager::DryRunDownload(const std::string& config_file, const std::string& key_file,
                                    int device_to_skip, int only_device,
                                    std::string* additional_info) {
  return Reported(OperationKind::kDevice, "DryRunDownload", "dry run", kExecuteBusy, [&] {
    if (!executor_) {
      KeepReport(UnavailableReport("dry run", "download executor"));
      return kExecuteFailed;
    }
    // The checks read the device through the normal routing.
    SetDownloadMode(DownloadModeValue::kNormal);
    std::string local_info;
    int result = executor_->DryRun(config_file, key_file, device_to_skip, only_device,
                                   additional_info ? additional_info : &local_info);
    KeepReport(executor_->report());
    return result;
  });
}

int DownloadManager::CreateConfigFile(const std::string& file_name) {
  return Reported(OperationKind::kBuild, "CreateConfigFile", "build", kBuildBusy, [&] {
    if (!builder_) {
      KeepReport(UnavailableReport("build", "configuration builder"));
      return kBuildNoBuilder;
    }
    const uint32_t started = TickCount();
    int rc = builder_->CreateConfigFile(file_name);
    KeepReport(BuildReport(file_name, *builder_, rc, started));
    return rc;
  });
}

std::string DownloadManager::ConnectDevice() {
  return Exclusive(OperationKind::kDevice, "ConnectDeviceIF", std::string(), [&] {
    if (!executor_) return std::string();
    // The answers belong to the executor's channel, also after a first stage.
    SetDownloadMode(DownloadModeValue::kNormal);
    return executor_->ConnectDevice();
  });
}

int DownloadManager::LoginDevice(const std::string& user_level, const std::string& password) {
  return Exclusive(OperationKind::kDevice, "LoginDeviceIF", -1, [&] {
    if (!executor_) return -1;
    SetDownloadMode(DownloadModeValue::kNormal);
    return executor_->LoginDevice(user_level, password);
  });
}

bool DownloadManager::PrepareFirstStage() {
  if (!first_stage_) return false;
  // The old channel goes before the decoder it borrows.
  first_stage_->ReplaceChannel(nullptr);
  first_stage_decoder_ = MakeKetaAnswerDecoder(communication_name_);
  first_stage_->ReplaceChannel(
      std::make_unique<JavaDeviceChannel>(first_stage_decoder_.get(), host_));
  return true;
}

void DownloadManager::KeepReport(const OperationReport& report) {
  std::string text = report.ToJson();
  std::lock_guard<std::mutex> hold(report_mutex_);
  last_report_.swap(text);
}

std::string DownloadManager::LastReport() const {
  std::lock_guard<std::mutex> hold(report_mutex_);
  return last_report_;
}

void DownloadManager::ReplaceExecutor(DownloadExecutor* executor) {
  DownloadExecutor* old;
  {
    std::lock_guard<std::mutex> hold(route_mutex_);
    old = executor_;
    executor_ = executor;
  }
  delete old;
}

int DownloadManager::RouteAnswer(const std::string& kind, const std::string& name,
                                 uint8_t* bytes, int count) {
  std::lock_guard<std::mutex> hold(route_mutex_);
  if (DownloadMode() == DownloadModeValue::kFirstStage) {
    if (first_stage_) return first_stage_->DeliverAnswer(kind, name, bytes, count);
    delete[] bytes;
    return -1;
  }
  if (!executor_) {
    delete[] bytes;
    return -1;
  }
  return executor_->DeliverAnswer(kind, name, bytes, count);
}

DownloadManager& Manager() {
  // Never destroyed: an operation may still run when the library's statics
  // go. The unload below stops and releases what it owns instead.
  static DownloadManager* manager = new DownloadManager;
  return *manager;
}

void SetDownloadMode(DownloadModeValue mode) { download_mode.store(static_cast<uint8_t>(mode)); }

DownloadModeValue DownloadMode() { return static_cast<DownloadModeValue>(download_mode.load()); }

namespace {

// Built at load, like every other process-wide object of the library; its
// end is the library's unload (or the process's exit).
struct Unload {
  Unload() { Manager(); }
  ~Unload() { Manager().Shutdown(kUnloadGraceMs); }
} unload;

}  // namespace

}  // namespace korvo
