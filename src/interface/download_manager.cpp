#include "interface/download_manager.h"

#include <xercesc/util/PlatformUtils.hpp>

#include <atomic>
#include <new>

#include "config/configuration_builder.h"
#include "device/first_stage_downloader.h"
#include "device/java_device_channel.h"
#include "device/keta_answer_decoders.h"
#include "download/download_executor.h"
#include "download/operation_report.h"
#include "interface/java_binding.h"
#include "keys/key_document.h"
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

}  // namespace

DownloadManager::DownloadManager() {
  xercesc::XMLPlatformUtils::Initialize();
  builder_ = CreateOrNull<ConfigurationBuilder>();
  executor_ = NewExecutor(std::string());
  first_stage_ = CreateOrNull<FirstStageDownloader>();
  key_document_ = CreateOrNull<KeyDocument>();
}

DownloadManager::~DownloadManager() {
  ReplaceExecutor(nullptr);
  delete first_stage_;
  first_stage_ = nullptr;
  delete builder_;
  builder_ = nullptr;
  delete key_document_;
  key_document_ = nullptr;
  xercesc::XMLPlatformUtils::Terminate();
}

DownloadExecutor* DownloadManager::NewExecutor(const std::string& communication_name) const {
  return CreateOrNull<DownloadExecutor>(communication_name, &JavaBinding::Instance(), settings_);
}

void DownloadManager::Setup(const std::string& communication_name,
                            const ConnectionSettings& settings) {
  ReplaceExecutor(nullptr);
  settings_ = settings;
  communication_name_ = communication_name;
  ReplaceExecutor(NewExecutor(communication_name));
}

bool DownloadManager::PrepareFirstStage() {
  if (!first_stage_) return false;
  // The old channel goes before the decoder it borrows.
  first_stage_->ReplaceChannel(nullptr);
  first_stage_decoder_ = MakeKetaAnswerDecoder(communication_name_);
  first_stage_->ReplaceChannel(
      std::make_unique<JavaDeviceChannel>(first_stage_decoder_.get(), &JavaBinding::Instance()));
  return true;
}

int DownloadManager::CreateConfigFile(const std::string& file_name) {
  if (!builder_) {
    KeepReport(UnavailableReport("build", "configuration builder"));
    return -1;
  }
  const uint32_t started = TickCount();
  int rc = builder_->CreateConfigFile(file_name);
  KeepReport(BuildReport(file_name, *builder_, rc, started));
  return rc;
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
  static DownloadManager manager;
  return manager;
}

void SetDownloadMode(DownloadModeValue mode) { download_mode.store(static_cast<uint8_t>(mode)); }

DownloadModeValue DownloadMode() { return static_cast<DownloadModeValue>(download_mode.load()); }

namespace {
// Built at load, like every other process-wide object of the library.
DownloadManager& kManagerAtLoad = Manager();
}  // namespace

}  // namespace korvo
