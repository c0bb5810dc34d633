#include "interface/exports.h"

#include "config/configuration_builder.h"
#include "device/first_stage_downloader.h"
#include "download/download_executor.h"
#include "interface/download_manager.h"
#include "interface/jni_util.h"

namespace {

std::string TextOrEmpty(const char* text) { return text ? std::string(text) : std::string(); }

}  // namespace

extern "C" {

KORVO_EXPORT int CreateConfigFile(const char* file_name) {
  return korvo::Guarded(-1, [&] {
    korvo::ConfigurationBuilder* builder = korvo::Manager().GetConfigurationBuilder();
    if (!builder) return -1;
    return builder->CreateConfigFile(TextOrEmpty(file_name));
  });
}

KORVO_EXPORT int ExecuteDownload(const char* config_file, const char* key_file,
                                 int* device_error, bool* only_app_downloaded,
                                 int* device_which_was_uploaded, int device_to_skip,
                                 int only_device, std::string* additional_info) {
  return korvo::Guarded(-1, [&] {
    korvo::DownloadExecutor* executor = korvo::Manager().GetDownloadExecutor();
    if (!executor) return -1;
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
    return result;
  });
}

KORVO_EXPORT int ExecuteFirstStageDownload(const char* config_file, int* device_error) {
  return korvo::Guarded(-1, [&] {
    korvo::FirstStageDownloader* downloader = korvo::Manager().GetFirstStageDownloader();
    if (!downloader || !korvo::Manager().PrepareFirstStage()) return -1;
    korvo::SetDownloadMode(korvo::DownloadModeValue::kFirstStage);
    int local_error = 0;
    int result = downloader->ExecuteFirstStage(TextOrEmpty(config_file), &local_error);
    if (device_error) *device_error = local_error;
    return result;
  });
}

}  // extern "C"
