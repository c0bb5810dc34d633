#include "config/temp_files.h"

#include <sstream>

#include "platform/system.h"

namespace korvo {
namespace {

// A name that does not fit the 15-character buffer counts as a failed call.
constexpr size_t kComputerNameMax = 14;
constexpr size_t kUserNameMax = 255;

const std::string& ComputerPart() {
  static const std::string name = [] {
    std::string n;
    if (!ComputerName(&n) || n.empty() || n.size() > kComputerNameMax) n = "COMPUTER";
    return n;
  }();
  return name;
}

const std::string& UserPart() {
  static const std::string name = [] {
    std::string n;
    if (!UserName(&n) || n.empty() || n.size() > kUserNameMax) n = "USER";
    return n;
  }();
  return name;
}

}  // namespace

std::string TempFileName(const std::string& key, const std::string& extension) {
  std::ostringstream s;
  s << '~' << key << ComputerPart() << UserPart() << CurrentThreadId() << '.' << extension;
  return s.str();
}

const TempNames& ProcessTempNames() {
  static const TempNames names{
      TempFileName("CONFIG", "TMP"),           TempFileName("SCONFTMP", "TMP"),
      TempFileName("SRECTMP", "TMP"),          TempFileName("BREKTMP", "TMP"),
      TempFileName("DWNLD_SDATA_TEMP", "TMP"), TempFileName("DWNLD_SLOG_TEMP", "TMP"),
      TempFileName("FRSTSG_DWNLD", "TMP"),     TempFileName("KEYFILE_TMP", "TMP"),
  };
  return names;
}

namespace {
// Built at load, on the loading thread.
const TempNames& kBuiltAtLoad = ProcessTempNames();
}  // namespace

TempFileGuard::~TempFileGuard() {
  if (!path_.empty()) RemoveFile(path_);
}

}  // namespace korvo
