#include "config/data_file.h"

#include "platform/system.h"

namespace korvo {

std::FILE* OpenDataFile(const std::string& path, std::string* why, uint64_t* size,
                        uint64_t max_bytes) {
  InputFileError error = InputFileError::kNone;
  uint64_t found = 0;
  std::FILE* file = OpenInputFile(path, max_bytes, &error, &found);
  if (size) *size = found;
  if (file || !why) return file;
  switch (error) {
    case InputFileError::kNotFound: *why = "no such file"; break;
    case InputFileError::kNotRegular:
      *why = "not a regular file (a folder, a device or a pipe)";
      break;
    case InputFileError::kTooLarge: *why = TooLargeText(std::to_string(found) + " bytes"); break;
    default: *why = "cannot be opened"; break;
  }
  return nullptr;
}

std::string TooLargeText(const std::string& amount) {
  return "too large (" + amount + "; an image may have at most " +
         std::to_string(kMaxImageBytes >> 20) + " MiB)";
}

}  // namespace korvo
