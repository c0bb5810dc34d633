#include "download/download_executor.h"

namespace korvo {

DownloadExecutor::DownloadExecutor(const std::string&) {}
DownloadExecutor::~DownloadExecutor() = default;

}  // namespace korvo
