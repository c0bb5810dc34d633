// Device data files (the DataFilename of a project's device): regular files
// of bounded size, read whole or streamed by the conversions.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace korvo {

// The largest data file a build takes: firmware images are a few megabytes,
// and embedding 64 MiB already costs the build about 600 MB of memory
// (Base64 text, its UTF-16 copy and the document's).
constexpr uint64_t kMaxDataFileBytes = uint64_t(64) << 20;

// Opens a data file for reading. Null when it is missing, cannot be opened,
// is not a regular file (a folder, a device such as /dev/zero, a pipe) or is
// larger than kMaxDataFileBytes; then `*why` (may be null) says which in a
// few words. Never blocks on a pipe. The caller closes the file and bounds
// what it reads (a file may grow after the check).
std::FILE* OpenDataFile(const std::string& path, std::string* why = nullptr);

}  // namespace korvo
