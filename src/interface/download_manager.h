// The process-wide manager: one static instance, built at library load and
// torn down at unload. It owns the library's long-lived objects; a member is
// null when it could not be created, and every export then reports -1 ("" or
// null for object results).
//
// Load order: Xerces first, then builder, executor, first-stage downloader,
// key document. Unload: executor, first-stage downloader, builder, key
// document, Xerces last.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "device/connection_settings.h"

namespace korvo {

class AnswerDecoder;
class ConfigurationBuilder;
class OperationReport;
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

  // SetupJNI: keeps the connection settings and replaces the executor by a
  // new one for `communication_name`, wired to the Java binding. The old
  // executor is destroyed first; the new one may be null when it could not
  // be made. Safe against a concurrent RouteAnswer.
  void Setup(const std::string& communication_name, const ConnectionSettings& settings);

  // Gives the first-stage downloader a fresh Java channel with the answer
  // decoder of the current communication name, so that a front end's answers
  // reach it through ReceiveBytes in first-stage mode. False without one.
  bool PrepareFirstStage();

  // The settings SetupJNI gave (empty before).
  const ConnectionSettings& connection_settings() const { return settings_; }

  // Builds the configuration of the project `file_name` and keeps the
  // build's report; -1 without a builder.
  int CreateConfigFile(const std::string& file_name);

  // The report of the last download, dry run, first stage or build as JSON
  // text; "" before the first. Both are safe from any thread.
  void KeepReport(const OperationReport& report);
  std::string LastReport() const;

  // ReceiveBytes: hands one device answer (kind, name, bytes from new[],
  // ownership passes) to the receiver that DownloadMode selects. Returns -1,
  // with the bytes released, when there is no receiver.
  int RouteAnswer(const std::string& kind, const std::string& name, uint8_t* bytes, int count);

 private:
  ConfigurationBuilder* builder_ = nullptr;
  DownloadExecutor* executor_ = nullptr;
  FirstStageDownloader* first_stage_ = nullptr;
  KeyDocument* key_document_ = nullptr;
  ConnectionSettings settings_;
  std::string communication_name_;
  std::unique_ptr<AnswerDecoder> first_stage_decoder_;
  void ReplaceExecutor(DownloadExecutor* executor);
  DownloadExecutor* NewExecutor(const std::string& communication_name) const;
  std::mutex route_mutex_;  // held while the executor is swapped or delivered to
  mutable std::mutex report_mutex_;
  std::string last_report_;
};

// The library's manager.
DownloadManager& Manager();

// Which receiver ReceiveBytes serves. Set by the two download exports before
// they run and kept afterwards.
enum class DownloadModeValue : uint8_t { kNormal = 0, kFirstStage = 1 };
void SetDownloadMode(DownloadModeValue mode);
DownloadModeValue DownloadMode();

}  // namespace korvo
