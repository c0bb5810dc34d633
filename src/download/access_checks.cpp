#include "download/access_checks.h"

#include "config/config_document.h"
#include "device/device_channel.h"
#include "download/compare.h"
#include "keys/key_document.h"

namespace korvo {
namespace {

constexpr const char* kAccessModeMethod = "GetAccessMode";

}  // namespace

int AccessChecks::CallDevice(int type, const std::string& communication_name) {
  int rc;
  if (type == kCommandMethod)
    rc = channel_.CallMethod(communication_name);
  else if (type == kCommandVariable)
    rc = channel_.ReadVariable(communication_name, kAccessReadTimeoutMs);
  else
    return kAccessBadCommandType;
  return rc < 0 ? kAccessDeviceCallFailed : 0;
}

int AccessChecks::CheckAccessRights(bool& granted, std::string& message) {
  // A failed check never reads as granted.
  granted = false;
  std::string key;
  if (int rc = config_.GetSystemEntry("Key", key)) return rc;
  if (int rc = keys_.SelectDevice(key)) return rc;

  int identifications = 0;
  if (int rc = keys_.GetIdentificationCount(identifications)) return rc;
  for (int i = 0; i < identifications; ++i) {
    std::string value, name;
    int type = 0;
    uint32_t index = 0;
    bool ok = false;
    if (int rc = keys_.GetIdentification(i, value, name, type, index)) return rc;
    if (int rc = CheckIdentification(value, name, type, index, ok, message)) return rc;
    if (!ok) return kAccessIdentificationFailed;
  }

  int signatures = 0;
  if (int rc = keys_.GetSignatureCount(signatures)) return rc;
  if (signatures <= 0) return kAccessNoSignatures;
  int matched = -1;
  for (int j = 0; j < signatures && matched < 0; ++j) {
    std::string value, name;
    bool ok = false;
    if (int rc = keys_.GetSignature(j, value, name)) return rc;
    if (int rc = CheckSignature(value, name, ok, message)) return rc;
    if (ok) matched = j;
  }
  if (matched < 0) return kAccessNoSignatureMatches;

  if (int rc = keys_.SelectSignature(matched)) return rc;
  return CheckUserRights(granted, message);
}

int AccessChecks::CheckIdentification(const std::string& value,
                                      const std::string& communication_name, int type,
                                      uint32_t index, bool& ok, std::string& message) {
  ok = false;
  if (int rc = CallDevice(type, communication_name)) return rc;
  std::string text;
  channel_.GetResultString(static_cast<int>(index), text, true, 0);
  ok = CompareValues(value, text, kCompareEqual);
  if (!ok) message = "Identification failed: " + text + " is not equal to " + value;
  return 0;
}

int AccessChecks::CheckSignature(const std::string& value, const std::string& communication_name,
                                 bool& ok, std::string& message) {
  ok = false;
  if (communication_name.empty()) {
    ok = true;
    return 0;
  }
  std::string text;
  if (channel_.ReadVariable(communication_name, kAccessReadTimeoutMs) < 0) {
    message = "CheckSignature failed: " + text + " != " + value;
    return kAccessDeviceCallFailed;
  }
  channel_.GetResultString(0, text, true, 0);
  ok = CompareValues(value, text, kCompareEqual);
  return 0;
}

int AccessChecks::CheckUserRights(bool& granted, std::string& message) {
  granted = false;
  if (channel_.CallMethod(kAccessModeMethod) < 0) return kAccessModeFailed;
  uint32_t level = 0;
  channel_.GetResultValue(0, &level);
  user_level_ = static_cast<int32_t>(level);

  int access = 0;
  if (int rc = keys_.GetUserAccess(user_level_, access)) return rc;
  switch (access) {
    case kAccessGrant:
      granted = true;
      return 0;
    case kAccessDeny:
      return 0;
    case kAccessRule:
      break;
    default:
      return kAccessBadAccessCode;
  }

  int rules = 0;
  if (int rc = keys_.GetRuleCount(user_level_, rules)) return rc;
  if (rules <= 0) return kAccessRuleWithoutRules;
  for (int i = 0; i < rules; ++i) {
    std::vector<std::string> values;
    std::string name;
    int type = 0, datatype = 0, op = 0;
    uint32_t index = 0;
    bool ok = false;
    if (int rc = keys_.GetRule(user_level_, i, values, name, type, index, datatype, op)) return rc;
    if (int rc = CheckRule(values, name, type, index, datatype, op, ok, message)) return rc;
    if (!ok) return 0;
  }
  granted = true;
  return 0;
}

int AccessChecks::CheckRule(const std::vector<std::string>& specified_values,
                            const std::string& communication_name, int type, uint32_t index,
                            int datatype, int op, bool& ok, std::string& message) {
  ok = false;
  if (int rc = CallDevice(type, communication_name)) return rc;
  if (datatype == kRuleString) {
    std::string text;
    channel_.GetResultString(static_cast<int>(index), text, true, 0);
    for (const std::string& specified : specified_values) {
      ok = CompareValues(specified, text, op);
      if (ok) break;
      message = "Rules checking failed: " + text + " != " + specified;
    }
  } else if (datatype >= 1 && datatype <= 3) {
    uint32_t raw = 0;
    channel_.GetResultValue(static_cast<int>(index), &raw);
    const int32_t value = static_cast<int32_t>(raw);
    for (const std::string& specified : specified_values) {
      ok = CompareIntegers(static_cast<int32_t>(TextToUnsigned(specified)), value, op);
      if (ok) break;
      message = "Rules checking failed: " + std::to_string(value) + " != " + specified;
    }
  } else {
    return kAccessBadDatatype;
  }
  if (ok) message.clear();
  return 0;
}

}  // namespace korvo
