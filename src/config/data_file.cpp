#include "config/data_file.h"

#include "platform/system.h"

namespace korvo {

std::FILE* OpenDataFile(const std::string& path, std::string* why) {
  InputFileError error = InputFileError::kNone;
  uint64_t size = 0;
  std::FILE* file = OpenInputFile(path, kMaxDataFileBytes, &error, &size);
  if (file || !why) return file;
  switch (error) {
    case InputFileError::kNotFound: *why = "no such file"; break;
    case InputFileError::kNotRegular:
      *why = "not a regular file (a folder, a device or a pipe)";
      break;
    case InputFileError::kTooLarge:
      *why = "too large (" + std::to_string(size) + " bytes; a data file may have at most " +
             std::to_string(kMaxDataFileBytes >> 20) + " MiB)";
      break;
    default: *why = "cannot be opened"; break;
  }
  return nullptr;
}

}  // namespace korvo
