#include "download/access_checks.h"

#include "config/config_document.h"
#include "config/numbers.h"
#include "device/device_channel.h"
#include "download/compare.h"
#include "keys/key_document.h"

namespace korvo {
namespace {

constexpr const char* kAccessModeMethod = "GetAccessMode";
// User levels looked at when telling a refused user which levels would do.
constexpr int kHighestLevelShown = 31;

const char* KeyText(int rc) {
  const char* text = KeyResultText(rc);
  return *text ? text : ConfigResultText(rc);
}

std::string Level(int32_t level) { return "level " + std::to_string(level); }

std::string Joined(const std::vector<std::string>& values, const char* separator) {
  std::string out;
  for (const std::string& v : values) out += (out.empty() ? "" : separator) + v;
  return out;
}

}  // namespace

const char* AccessResultText(int code) {
  switch (code) {
    case kAccessRuleWithoutRules: return "the user level has access \"rule\" but no rules";
    case kAccessBadDatatype: return "a key-file rule datatype above 3";
    case kAccessModeFailed: return "the device's access mode could not be read";
    case kAccessDeviceCallFailed:
      return "an identification, signature or rule call to the device failed";
    case kAccessBadCommandType: return "a key-file command type other than MN or RN";
    case kAccessNoSignatures: return "the key file's device entry has no signatures";
    case kAccessNoSignatureMatches: return "no signature of the key file matches the device";
    case kAccessIdentificationFailed:
      return "the device does not match the key file's identification";
    case kAccessBadAccessCode: return "an access code other than grant, deny or rule";
    default: return "";
  }
}

int AccessChecks::Record(CheckRecord record) {
  const int code = record.code;
  if (trace_) trace_->push_back(std::move(record));
  return code;
}

// "4, 5 (rules)": the levels of the current signature that grant access,
// with or without rules; "" when none does.
std::string AccessChecks::GrantingLevels() {
  std::string out;
  for (int level = 0; level <= kHighestLevelShown; ++level) {
    int access = -1;
    if (keys_.GetUserAccess(level, access) != 0 || access == kAccessDeny) continue;
    out += (out.empty() ? "" : ", ") + std::to_string(level) +
           (access == kAccessRule ? " (rules)" : "");
  }
  return out;
}

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
  const char* kKeyWanted = "a Device entry with this Key in the key file";
  if (int rc = config_.GetSystemEntry("Key", key))
    return Record({"key", "Key", "", "the configuration's Key entry", false, rc, KeyText(rc)});
  if (int rc = keys_.SelectDevice(key))
    return Record({"key", "Key", key, kKeyWanted, false, rc, KeyText(rc)});
  Record({"key", "Key", key, kKeyWanted, true, 0, ""});

  int identifications = 0;
  if (int rc = keys_.GetIdentificationCount(identifications))
    return Record({"identification", "", "", "", false, rc, KeyText(rc)});
  for (int i = 0; i < identifications; ++i) {
    std::string value, name;
    int type = 0;
    uint32_t index = 0;
    bool ok = false;
    if (int rc = keys_.GetIdentification(i, value, name, type, index))
      return Record({"identification", "", "", "", false, rc, KeyText(rc)});
    if (int rc = CheckIdentification(value, name, type, index, ok, message)) return rc;
    if (!ok) return kAccessIdentificationFailed;
  }

  int signatures = 0;
  if (int rc = keys_.GetSignatureCount(signatures))
    return Record({"signature", "", "", "", false, rc, KeyText(rc)});
  if (signatures <= 0)
    return Record({"signature", "", "", "", false, kAccessNoSignatures,
                   AccessResultText(kAccessNoSignatures)});
  int matched = -1;
  for (int j = 0; j < signatures && matched < 0; ++j) {
    std::string value, name;
    bool ok = false;
    if (int rc = keys_.GetSignature(j, value, name))
      return Record({"signature", "", "", "", false, rc, KeyText(rc)});
    if (int rc = CheckSignature(value, name, ok, message)) return rc;
    if (ok) matched = j;
  }
  if (matched < 0) return kAccessNoSignatureMatches;

  if (int rc = keys_.SelectSignature(matched))
    return Record({"signature", "", "", "", false, rc, KeyText(rc)});
  return CheckUserRights(granted, message);
}

int AccessChecks::CheckIdentification(const std::string& value,
                                      const std::string& communication_name, int type,
                                      uint32_t index, bool& ok, std::string& message) {
  ok = false;
  if (int rc = CallDevice(type, communication_name))
    return Record({"identification", communication_name, "", value, false, rc,
                   AccessResultText(rc)});
  std::string text;
  channel_.GetResultString(static_cast<int>(index), text, true, 0);
  ok = CompareValues(value, text, kCompareEqual);
  if (!ok) message = "Identification failed: " + text + " is not equal to " + value;
  Record({"identification", communication_name, text, value, ok, 0, ""});
  return 0;
}

int AccessChecks::CheckSignature(const std::string& value, const std::string& communication_name,
                                 bool& ok, std::string& message) {
  ok = false;
  if (communication_name.empty()) {
    ok = true;
    Record({"signature", "", "", value, true, 0, "no CommunicationName: matches every device"});
    return 0;
  }
  std::string text;
  if (channel_.ReadVariable(communication_name, kAccessReadTimeoutMs) < 0) {
    message = "CheckSignature failed: " + text + " != " + value;
    return Record({"signature", communication_name, "", value, false, kAccessDeviceCallFailed,
                   AccessResultText(kAccessDeviceCallFailed)});
  }
  channel_.GetResultString(0, text, true, 0);
  ok = CompareValues(value, text, kCompareEqual);
  Record({"signature", communication_name, text, value, ok, 0, ""});
  return 0;
}

int AccessChecks::CheckUserRights(bool& granted, std::string& message) {
  granted = false;
  if (channel_.CallMethod(kAccessModeMethod) < 0)
    return Record({"rights", kAccessModeMethod, "", "", false, kAccessModeFailed,
                   AccessResultText(kAccessModeFailed)});
  uint32_t level = 0;
  channel_.GetResultValue(0, &level);
  user_level_ = static_cast<int32_t>(level);
  const std::string granting = trace_ ? GrantingLevels() : std::string();
  const std::string wanted = granting.empty() ? "no level is granted" : "level " + granting;

  int access = 0;
  if (int rc = keys_.GetUserAccess(user_level_, access))
    return Record(
        {"rights", kAccessModeMethod, Level(user_level_), wanted, false, rc, KeyText(rc)});
  switch (access) {
    case kAccessGrant:
      granted = true;
      Record({"rights", kAccessModeMethod, Level(user_level_), wanted, true, 0, "grant"});
      return 0;
    case kAccessDeny:
      Record({"rights", kAccessModeMethod, Level(user_level_), wanted, false, 0, "deny"});
      return 0;
    case kAccessRule:
      Record({"rights", kAccessModeMethod, Level(user_level_), wanted, true, 0, "rule"});
      break;
    default:
      return Record({"rights", kAccessModeMethod, Level(user_level_), wanted, false,
                     kAccessBadAccessCode, AccessResultText(kAccessBadAccessCode)});
  }

  int rules = 0;
  if (int rc = keys_.GetRuleCount(user_level_, rules))
    return Record({"rule", "", "", "", false, rc, KeyText(rc)});
  if (rules <= 0)
    return Record({"rule", "", "", "", false, kAccessRuleWithoutRules,
                   AccessResultText(kAccessRuleWithoutRules)});
  for (int i = 0; i < rules; ++i) {
    std::vector<std::string> values;
    std::string name;
    int type = 0, datatype = 0, op = 0;
    uint32_t index = 0;
    bool ok = false;
    if (int rc = keys_.GetRule(user_level_, i, values, name, type, index, datatype, op))
      return Record({"rule", "", "", "", false, rc, KeyText(rc)});
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
  // The key file's value stands on the left: "5 >= device value".
  const std::string expected =
      Joined(specified_values, " or ") + " " + CompareOpText(op) + " the device's value";
  if (int rc = CallDevice(type, communication_name))
    return Record({"rule", communication_name, "", expected, false, rc, AccessResultText(rc)});
  std::string read;
  if (datatype == kRuleString) {
    std::string text;
    channel_.GetResultString(static_cast<int>(index), text, true, 0);
    read = text;
    for (const std::string& specified : specified_values) {
      ok = CompareValues(specified, text, op);
      if (ok) break;
      message = "Rules checking failed: " + text + " != " + specified;
    }
  } else if (datatype >= 1 && datatype <= 3) {
    uint32_t raw = 0;
    channel_.GetResultValue(static_cast<int>(index), &raw);
    const int32_t value = static_cast<int32_t>(raw);
    read = std::to_string(value);
    for (const std::string& specified : specified_values) {
      ok = CompareIntegers(static_cast<int32_t>(TextToUnsigned(specified)), value, op);
      if (ok) break;
      message = "Rules checking failed: " + std::to_string(value) + " != " + specified;
    }
  } else {
    return Record({"rule", communication_name, "", expected, false, kAccessBadDatatype,
                   AccessResultText(kAccessBadDatatype)});
  }
  if (ok) message.clear();
  Record({"rule", communication_name, read, expected, ok, 0, ""});
  return 0;
}

}  // namespace korvo
