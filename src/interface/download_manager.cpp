#include "interface/download_manager.h"

#include <xercesc/util/PlatformUtils.hpp>

#include <new>

#include "config/configuration_builder.h"
#include "download/download_executor.h"
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

}  // namespace

DownloadManager::DownloadManager() {
  xercesc::XMLPlatformUtils::Initialize();
  builder_ = CreateOrNull<ConfigurationBuilder>();
  executor_ = CreateOrNull<DownloadExecutor>(std::string());
  // The first-stage downloader is not part of this build yet.
  key_document_ = CreateOrNull<KeyDocument>();
}

DownloadManager::~DownloadManager() {
  delete executor_;
  executor_ = nullptr;
  first_stage_ = nullptr;
  delete builder_;
  builder_ = nullptr;
  delete key_document_;
  key_document_ = nullptr;
  xercesc::XMLPlatformUtils::Terminate();
}

void DownloadManager::ReplaceExecutor(DownloadExecutor* executor) {
  delete executor_;
  executor_ = executor;
}

DownloadManager& Manager() {
  static DownloadManager manager;
  return manager;
}

namespace {
// Built at load, like every other process-wide object of the library.
DownloadManager& kManagerAtLoad = Manager();
}  // namespace

}  // namespace korvo
