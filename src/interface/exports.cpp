#include "interface/exports.h"

#include "download/operation_report.h"
#include "interface/download_manager.h"
#include "interface/jni_util.h"

namespace {

std::string TextOrEmpty(const char* text) { return text ? std::string(text) : std::string(); }

}  // namespace

extern "C" {

KORVO_EXPORT int CreateConfigFile(const char* file_name) {
  return korvo::Guarded(-1,
                        [&] { return korvo::Manager().CreateConfigFile(TextOrEmpty(file_name)); });
}

KORVO_EXPORT int ExecuteDownload(const char* config_file, const char* key_file,
                                 int* device_error, bool* only_app_downloaded,
                                 int* device_which_was_uploaded, int device_to_skip,
                                 int only_device, std::string* additional_info) {
  return korvo::Guarded(-1, [&] {
    return korvo::Manager().ExecuteDownload(TextOrEmpty(config_file), TextOrEmpty(key_file),
                                            device_error, only_app_downloaded,
                                            device_which_was_uploaded, device_to_skip,
                                            only_device, additional_info);
  });
}

KORVO_EXPORT int ExecuteFirstStageDownload(const char* config_file, int* device_error) {
  return korvo::Guarded(-1, [&] {
    return korvo::Manager().ExecuteFirstStageDownload(TextOrEmpty(config_file), device_error);
  });
}

KORVO_EXPORT int DryRunDownload(const char* config_file, const char* key_file,
                                int device_to_skip, int only_device,
                                std::string* additional_info) {
  return korvo::Guarded(-1, [&] {
    return korvo::Manager().DryRunDownload(TextOrEmpty(config_file), TextOrEmpty(key_file),
                                           device_to_skip, only_device, additional_info);
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
