// Runs firmware downloads; also holds the device channel used for connect
// and login.
#pragma once

#include <string>

namespace korvo {

class DownloadExecutor final {
 public:
  explicit DownloadExecutor(const std::string& communication_name);
  ~DownloadExecutor();
  DownloadExecutor(const DownloadExecutor&) = delete;
  DownloadExecutor& operator=(const DownloadExecutor&) = delete;
};

}  // namespace korvo
