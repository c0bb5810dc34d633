// The process-wide manager: one instance, built at library load and never
// destroyed; at unload it stops and releases what it owns. It owns the
// library's long-lived objects; a member is null when it could not be
// created, and every export then reports -1 ("" or null for object results).
//
// Load order: Xerces first, then builder, executor, first-stage downloader,
// key document. Unload: executor, first-stage downloader, builder, key
// document, Xerces last.
//
// Operations come in kinds, and one operation of each kind runs at a time:
// a second call of a running kind is refused at once with its busy code (and
// a debug line) and leaves the running one untouched. SetupJNI runs alone.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
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
class HostServices;
class KeyDocument;

// What may run at once: one operation of each kind, or SetupJNI alone.
enum class OperationKind : unsigned {
  kDevice = 1,  // downloads, first stages, connect, login (the executors)
  kBuild = 2,   // builds and the project-document natives (the builder)
  kKeys = 4,    // the key-file natives and compression (the key document)
  kAll = 7,     // SetupJNI
};

class DownloadManager final {
 public:
  // `host` (borrowed; the Java binding when null) carries the executors'
  // commands and status.
  explicit DownloadManager(HostServices* host = nullptr);
  // Releases the members; no operation may be running.
  ~DownloadManager();
  DownloadManager(const DownloadManager&) = delete;
  DownloadManager& operator=(const DownloadManager&) = delete;

  ConfigurationBuilder* GetConfigurationBuilder() const { return builder_; }
  DownloadExecutor* GetDownloadExecutor() const { return executor_; }
  FirstStageDownloader* GetFirstStageDownloader() const { return first_stage_; }
  KeyDocument* GetKeyDocument() const { return key_document_; }

  // Runs `body` as the operation of `kind` and returns its result. While an
  // operation of that kind (or SetupJNI) runs, or once Shutdown began,
  // returns `busy` at once instead and says so on the debug output, naming
  // the refused call `what`.
  template <typename Result, typename Body>
  Result Exclusive(OperationKind kind, const char* what, Result busy, Body&& body);

  // SetupJNI: runs `bind` (recording the Java binding; may be empty), keeps
  // the connection settings and replaces the executor by a new one for
  // `communication_name`; the new one may be null when it could not be
  // made. False, with nothing changed, while any operation runs. Safe
  // against a concurrent RouteAnswer.
  bool Setup(const std::string& communication_name, const ConnectionSettings& settings,
             const std::function<void()>& bind = nullptr);

  // The plain exports' work (see interface/exports.h); each refuses with its
  // band's busy code while a device operation runs.
  int ExecuteDownload(const std::string& config_file, const std::string& key_file,
                      int* device_error, bool* only_app_downloaded,
                      int* device_which_was_uploaded, int device_to_skip, int only_device,
                      std::string* additional_info);
  int ExecuteFirstStageDownload(const std::string& config_file, int* device_error);
  int DryRunDownload(const std::string& config_file, const std::string& key_file,
                     int device_to_skip, int only_device, std::string* additional_info);
  // ConnectDeviceIF, LoginDeviceIF: "" and -1 when refused.
  std::string ConnectDevice();
  int LoginDevice(const std::string& user_level, const std::string& password);

  // The settings SetupJNI gave (empty before).
  const ConnectionSettings& connection_settings() const { return settings_; }

  // Builds the configuration of the project `file_name`; -1 without a
  // builder, kBuildBusy while a build or project-document call runs.
  int CreateConfigFile(const std::string& file_name);

  // The report of the last download, dry run, first stage or build as JSON
  // text; "" before the first. A refused call leaves one that says so, in
  // the order the calls happened. Both are safe from any thread, also while
  // an operation runs.
  void KeepReport(const OperationReport& report);
  std::string LastReport() const;

  // ReceiveBytes: hands one device answer (kind, name, bytes from new[],
  // ownership passes) to the receiver that DownloadMode selects. Returns -1,
  // with the bytes released, when there is no receiver.
  int RouteAnswer(const std::string& kind, const std::string& name, uint8_t* bytes, int count);

  // The library is being unloaded: refuses every new operation, wakes every
  // wait of the running ones (RequestStop) so that they end with a failure,
  // waits up to `grace_ms` for them, then releases the members. True when
  // they were released; false when an operation still ran (its objects are
  // left to it, and the process's temporary files are removed).
  bool Shutdown(uint32_t grace_ms);

 private:
  // Exclusive for the operations that leave a report (`operation` is its
  // name there): a refusal is kept as the last report.
  template <typename Body>
  int Reported(OperationKind kind, const char* what, const char* operation, int busy,
               Body&& body);
  // Marks `kinds` running, or refuses; a refusal of a reporting call keeps
  // its report while the decision holds.
  bool Begin(unsigned kinds, const char* what, const char* operation = nullptr, int busy = 0);
  void End(unsigned kinds);
  struct Ender {
    DownloadManager* manager;
    unsigned kinds;
    ~Ender() { manager->End(kinds); }
  };
  bool PrepareFirstStage();
  void ReplaceExecutor(DownloadExecutor* executor);
  DownloadExecutor* NewExecutor(const std::string& communication_name) const;
  void ReleaseMembers();

  HostServices* host_;
  ConfigurationBuilder* builder_ = nullptr;
  DownloadExecutor* executor_ = nullptr;
  FirstStageDownloader* first_stage_ = nullptr;
  KeyDocument* key_document_ = nullptr;
  ConnectionSettings settings_;
  std::string communication_name_;
  std::unique_ptr<AnswerDecoder> first_stage_decoder_;
  std::mutex route_mutex_;  // held while the executor is swapped or delivered to
  mutable std::mutex report_mutex_;
  std::string last_report_;

  std::mutex operations_mutex_;  // guards the two below
  std::condition_variable operation_ended_;
  unsigned running_ = 0;  // OperationKind bits of the running operations
  bool closing_ = false;
};

template <typename Result, typename Body>
Result DownloadManager::Exclusive(OperationKind kind, const char* what, Result busy,
                                  Body&& body) {
  const unsigned kinds = static_cast<unsigned>(kind);
  if (!Begin(kinds, what)) return busy;
  Ender ender{this, kinds};
  return body();
}

template <typename Body>
int DownloadManager::Reported(OperationKind kind, const char* what, const char* operation,
                              int busy, Body&& body) {
  const unsigned kinds = static_cast<unsigned>(kind);
  if (!Begin(kinds, what, operation, busy)) return busy;
  Ender ender{this, kinds};
  return body();
}

// The library's manager.
DownloadManager& Manager();

// Which receiver ReceiveBytes serves. Set by the two download exports before
// they run and kept afterwards.
enum class DownloadModeValue : uint8_t { kNormal = 0, kFirstStage = 1 };
void SetDownloadMode(DownloadModeValue mode);
DownloadModeValue DownloadMode();

}  // namespace korvo
