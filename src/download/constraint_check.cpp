#include "download/constraint_check.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "config/config_document.h"
#include "config/numbers.h"
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

bool IntegerHolds(DeviceChannel& channel, const DownloadConstraint& c, ConstraintRecord& r) {
  uint32_t raw = 0;
  if (channel.GetResultValue(c.index, &raw) < 0) return false;
  const int32_t value = static_cast<int32_t>(raw);
  r.answered = true;
  r.read = std::to_string(value);
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

bool StringHolds(DeviceChannel& channel, const DownloadConstraint& c, ConstraintRecord& r) {
  std::string text;
  if (channel.GetResultString(c.index, text, c.strlen == 0, c.strlen) < 0) return false;
  r.answered = true;
  r.read = text.c_str();  // as far as the comparison sees it
  // Only equality is defined for strings: the device text must fully
  // match the comparison taken as a pattern.
  if (c.operatorText != "=") return false;
  return RegexMatches(text.c_str(), std::strlen(text.c_str()), c.comparison.c_str());
}

bool ConstraintHolds(DeviceChannel& channel, const DownloadConstraint& c, ConstraintRecord& r) {
  if (!CallDevice(channel, c)) return false;
  switch (c.datatypeKind) {
    case kConstraintInteger:
      return IntegerHolds(channel, c, r);
    case kConstraintString:
      return StringHolds(channel, c, r);
    default:
      return false;
  }
}

const char* DatatypeWord(int kind) {
  return kind == kConstraintInteger ? "int" : kind == kConstraintString ? "string" : "?";
}

}  // namespace

bool CheckDownloadConstraints(ConfigDocument& config, DeviceChannel& channel, int device,
                              std::vector<ConstraintRecord>* records) {
  int present = 0;
  int matched = 0;
  for (int n = kFirstConstraintNumber; n <= kLastConstraintNumber; ++n) {
    DebugPrint("Checking constraint nr %d for device nr %d...\n", n, device);
    DownloadConstraint constraint;
    config.GetConstraint(device, n, constraint);  // the present flag tells enough
    if (!constraint.present) continue;
    ++present;
    ConstraintRecord record;
    record.number = n;
    record.name = constraint.communicationName;
    record.datatype = DatatypeWord(constraint.datatypeKind);
    record.op = constraint.operatorText;
    record.expected = constraint.comparison;
    record.holds = ConstraintHolds(channel, constraint, record);
    if (record.holds) ++matched;
    if (records) records->push_back(std::move(record));
  }
  if (present == 0) {
    DebugPrint("No constraints\n");
    return true;
  }
  if (matched == present) {
    DebugPrint("All constraints matched\n");
    return true;
  }
  DebugPrint("Not all constraints matched\n");
  return false;
}

}  // namespace korvo
