#include "interface/download_manager.h"

#include <xercesc/util/PlatformUtils.hpp>

#include <atomic>
#include <new>

#include "config/configuration_builder.h"
#include "download/download_executor.h"
#include "interface/connection_texts.h"
#include "keys/key_document.h"

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
  // The connection texts are built first, so they outlive the manager.
  DownloadBaudRate();
  SerialPortName();
  xercesc::XMLPlatformUtils::Initialize();
  builder_ = CreateOrNull<ConfigurationBuilder>();
  executor_ = CreateOrNull<DownloadExecutor>(std::string());
  // The first-stage downloader is not part of this build yet.
  key_document_ = CreateOrNull<KeyDocument>();
}

DownloadManager::~DownloadManager() {
  ReplaceExecutor(nullptr);
  first_stage_ = nullptr;
  delete builder_;
  builder_ = nullptr;
  delete key_document_;
  key_document_ = nullptr;
  xercesc::XMLPlatformUtils::Terminate();
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
    // Receiver: the first-stage downloader's current channel. Not part of
    // this build yet, so nothing is delivered.
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
