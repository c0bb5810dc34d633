#include "download/constraint_check.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "config/config_document.h"
#include "device/device_channel.h"
#include "download/compare.h"
#include "platform/debug_output.h"

namespace korvo {

namespace {

// Asks the device for the constraint's value; false when the call failed
// or the constraint names no known way to ask.
bool CallDevice(DeviceChannel& channel, const DownloadConstraint& c) {
  switch (c.methodKind) {
    case kConstraintMethod:
      return channel.CallMethod(c.communicationName) >= 0;
    case kConstraintVariable:
      return channel.ReadVariable(c.communicationName, kConstraintReadTimeoutMs) >= 0;
    default:
      return false;
  }
}

bool IntegerHolds(DeviceChannel& channel, const DownloadConstraint& c) {
  uint32_t raw = 0;
  if (channel.GetResultValue(c.index, &raw) < 0) return false;
  const int32_t value = static_cast<int32_t>(raw);
  const int32_t specified = TextToInt(c.comparison);
  const std::string& op = c.operatorText;
  // The device value stands on the left here.
  if (op == "=") return CompareIntegers(value, specified, kCompareEqual);
  if (op == "!=") return CompareIntegers(value, specified, kCompareNotEqual);
  if (op == ">=") return CompareIntegers(value, specified, kCompareGreaterEqual);
  if (op == "<=") return CompareIntegers(value, specified, kCompareLessEqual);
  if (op == ">") return CompareIntegers(value, specified, kCompareGreater);
  if (op == "<") return CompareIntegers(value, specified, kCompareLess);
  return false;
}

bool StringHolds(DeviceChannel& channel, const DownloadConstraint& c) {
  std::string text;
  if (channel.GetResultString(c.index, text, c.strlen == 0, c.strlen) < 0) return false;
  // Only equality is defined for strings: the device text must fully
  // match the comparison taken as a pattern.
  if (c.operatorText != "=") return false;
  return RegexMatches(text.c_str(), std::strlen(text.c_str()), c.comparison.c_str());
}

bool ConstraintHolds(DeviceChannel& channel, const DownloadConstraint& c) {
  if (!CallDevice(channel, c)) return false;
  switch (c.datatypeKind) {
    case kConstraintInteger:
      return IntegerHolds(channel, c);
    case kConstraintString:
      return StringHolds(channel, c);
    default:
      return false;
  }
}

}  // namespace

bool CheckDownloadConstraints(ConfigDocument& config, DeviceChannel& channel, int device) {
  int present = 0;
  int matched = 0;
  for (int n = kFirstConstraintNumber; n <= kLastConstraintNumber; ++n) {
    DebugPrint("Checking constraint nr %d for device nr %d...", n, device);
    DownloadConstraint constraint;
    config.GetConstraint(device, n, constraint);  // the present flag tells enough
    if (!constraint.present) continue;
    ++present;
    if (ConstraintHolds(channel, constraint)) ++matched;
  }
  if (present == 0) {
    DebugPrint("No constraints");
    return true;
  }
  if (matched == present) {
    DebugPrint("All constraints matched");
    return true;
  }
  DebugPrint("Not all constraints matched");
  return false;
}

}  // namespace korvo
