// The process-wide manager: one static instance, built at library load and
// torn down at unload. It owns the library's long-lived objects; a member is
// null when it could not be created, and every export then reports -1 ("" or
// null for object results).
#pragma once

namespace korvo {

class ConfigurationBuilder;
class DownloadExecutor;
class FirstStageDownloader;
class KeyDocument;

class DownloadManager final {
 public:
  DownloadManager();
  ~DownloadManager();
  DownloadManager(const DownloadManager&) = delete;
  DownloadManager& operator=(const DownloadManager&) = delete;

  ConfigurationBuilder* GetConfigurationBuilder() const { return builder_; }
  DownloadExecutor* GetDownloadExecutor() const { return executor_; }
  FirstStageDownloader* GetFirstStageDownloader() const { return first_stage_; }
  KeyDocument* GetKeyDocument() const { return key_document_; }

  // Destroys the current executor and takes `executor` (may be null).
  void ReplaceExecutor(DownloadExecutor* executor);

 private:
  ConfigurationBuilder* builder_ = nullptr;
  DownloadExecutor* executor_ = nullptr;
  FirstStageDownloader* first_stage_ = nullptr;
  KeyDocument* key_document_ = nullptr;
};

// The library's manager.
DownloadManager& Manager();

}  // namespace korvo
