#include "interface/exports.h"

#include "config/configuration_builder.h"
#include "device/first_stage_downloader.h"
#include "download/download_executor.h"
#include "download/operation_report.h"
#include "interface/download_manager.h"
#include "platform/system.h"
#include "interface/jni_util.h"

namespace {

std::string TextOrEmpty(const char* text) { return text ? std::string(text) : std::string(); }

}  // namespace

extern "C" {

KORVO_EXPORT int CreateConfigFile(const char* file_name) {
  return korvo::Guarded(
      -1, [&] { return korvo::Manager().CreateConfigFile(TextOrEmpty(file_name)); });
}

KORVO_EXPORT int ExecuteDownload(const char* config_file, const char* key_file,
                                 int* device_error, bool* only_app_downloaded,
                                 int* device_which_was_uploaded, int device_to_skip,
                                 int only_device, std::string* additional_info) {
  return korvo::Guarded(-1, [&] {
    korvo::DownloadExecutor* executor = korvo::Manager().GetDownloadExecutor();
    if (!executor) {
      korvo::Manager().KeepReport(korvo::UnavailableReport("download", "download executor"));
      return -1;
    }
    korvo::SetDownloadMode(korvo::DownloadModeValue::kNormal);
    int local_error = 0;
    bool local_only_app = false;
    int local_uploaded = -1;
    std::string local_info;
    int result = executor->Execute(
        TextOrEmpty(config_file), TextOrEmpty(key_file), &local_error, device_to_skip,
        only_device, only_app_downloaded ? only_app_downloaded : &local_only_app,
        device_which_was_uploaded ? device_which_was_uploaded : &local_uploaded,
        additional_info ? additional_info : &local_info);
    if (device_error) *device_error = local_error;
    korvo::Manager().KeepReport(executor->report());
    return result;
  });
}

KORVO_EXPORT int ExecuteFirstStageDownload(const char* config_file, int* device_error) {
  return korvo::Guarded(-1, [&] {
    korvo::FirstStageDownloader* downloader = korvo::Manager().GetFirstStageDownloader();
    if (!downloader || !korvo::Manager().PrepareFirstStage()) {
      korvo::Manager().KeepReport(
          korvo::UnavailableReport("first stage", "first-stage downloader"));
      return -1;
    }
    korvo::SetDownloadMode(korvo::DownloadModeValue::kFirstStage);
    int local_error = 0;
    const uint32_t started = korvo::TickCount();
    int result = downloader->ExecuteFirstStage(TextOrEmpty(config_file), &local_error);
    if (device_error) *device_error = local_error;
    korvo::Manager().KeepReport(korvo::FirstStageReport(
        TextOrEmpty(config_file), downloader->record(), result, local_error, started));
    return result;
  });
}

KORVO_EXPORT int DryRunDownload(const char* config_file, const char* key_file,
                                int device_to_skip, int only_device,
                                std::string* additional_info) {
  return korvo::Guarded(-1, [&] {
    korvo::DownloadExecutor* executor = korvo::Manager().GetDownloadExecutor();
    if (!executor) {
      korvo::Manager().KeepReport(korvo::UnavailableReport("dry run", "download executor"));
      return -1;
    }
    // The checks read the device through the normal routing.
    korvo::SetDownloadMode(korvo::DownloadModeValue::kNormal);
    std::string local_info;
    int result = executor->DryRun(TextOrEmpty(config_file), TextOrEmpty(key_file),
                                  device_to_skip, only_device,
                                  additional_info ? additional_info : &local_info);
    korvo::Manager().KeepReport(executor->report());
    return result;
  });
}

KORVO_EXPORT int GetLastReport(std::string* report) {
  return korvo::Guarded(-1, [&] {
    std::string text = korvo::Manager().LastReport();
    const int rc = text.empty() ? -1 : 0;
    if (report) report->swap(text);
    return rc;
  });
}

KORVO_EXPORT const char* GetResultText(const char* operation, int code) {
  return korvo::Guarded<const char*>("unknown result code", [&] {
    return korvo::ResultText(TextOrEmpty(operation), code);
  });
}

}  // extern "C"
