// The library's plain exports, for callers other than the Java front end.
// None lets an exception escape; failures are result codes. A null text
// counts as "", a null output pointer as "not wanted".
//
// A C++ interface: the names are unmangled, but ExecuteDownload takes a
// std::string and a bool, so callers are C++ programs built with the same
// standard library (pkg-config --cflags --libs korvo gives what to add).
#pragma once

#ifndef __cplusplus
#error "korvo/exports.h is a C++ interface (ExecuteDownload takes a std::string*); compile with a C++ compiler"
#endif

#include <string>

#ifndef KORVO_EXPORT
#define KORVO_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

// Builds a download configuration file from the project `file_name`; -1 when
// the configuration builder is missing, -54 (nothing done) while another
// build or project-document call runs.
KORVO_EXPORT int CreateConfigFile(const char* file_name);

// Runs a firmware download (sets the normal answer routing first); -1 with
// no output written when the download executor is missing, -6 (nothing
// done, no output written) while another download or first stage runs.
KORVO_EXPORT int ExecuteDownload(const char* config_file, const char* key_file,
                                 int* device_error, bool* only_app_downloaded,
                                 int* device_which_was_uploaded, int device_to_skip,
                                 int only_device, std::string* additional_info);

// Runs a first-stage download (sets the first-stage answer routing first);
// -1 with no output written when the first-stage downloader is missing,
// -144 likewise while another download or first stage runs.
KORVO_EXPORT int ExecuteFirstStageDownload(const char* config_file, int* device_error);

// A dry run of ExecuteDownload: every check up to, not including, starting
// the second loader, and which devices the download would write; nothing is
// written to the device. Returns the code the download would give before
// writing (0: it would go on); GetLastReport tells the rest.
KORVO_EXPORT int DryRunDownload(const char* config_file, const char* key_file,
                                int device_to_skip, int only_device,
                                std::string* additional_info);

// The report of the last download, dry run, first stage or build as JSON
// text (docs/front-end.md); 0, or -1 with `report` emptied before the first.
KORVO_EXPORT int GetLastReport(std::string* report);

// The text of a result code as `operation` ("download", "dry run", "first
// stage", "build"; null or another word: "download") means it. Never null;
// the text lives as long as the library.
KORVO_EXPORT const char* GetResultText(const char* operation, int code);

}  // extern "C"
