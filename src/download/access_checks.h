// Access checks: may the logged-in user load this device? The configuration
// names the device key; the key file's entry for that key lists the
// identification rules the device must satisfy, the signatures one of which
// it must carry, and per signature the rights of each user level.
//
// Device values are read through the executor's channel and compared with
// the key file's values, which always stand on the left of the comparison
// (a rule ">=" with value 5 holds when 5 >= the device value).
//
// A mismatch is not an error: the check returns 0 with the flag false, or
// -22 / -23 from CheckAccessRights. Codes of the configuration and key
// documents pass through unchanged. Runs on the executor's thread; keeps no
// state beyond the references it is given.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "download/operation_report.h"

namespace korvo {

class ConfigDocument;
class DeviceChannel;
class KeyDocument;

// Result codes of the access checks.
constexpr int kAccessRuleWithoutRules = -1;      // level has access "rule" but no rules
constexpr int kAccessBadDatatype = -11;          // a rule's datatype code is above 3
constexpr int kAccessModeFailed = -15;           // "GetAccessMode" failed
constexpr int kAccessDeviceCallFailed = -18;     // an identification, signature or rule call failed
constexpr int kAccessBadCommandType = -20;       // a command type other than "MN" / "RN"
constexpr int kAccessNoSignatures = -21;         // the device entry has no signatures
constexpr int kAccessNoSignatureMatches = -22;
constexpr int kAccessIdentificationFailed = -23;
constexpr int kAccessBadAccessCode = -92;

// What an access-check code means; "" for codes of other bands.
const char* AccessResultText(int code);

// Time-out of a device variable read during the access checks.
constexpr int kAccessReadTimeoutMs = 20000;

class AccessChecks final {
 public:
  // `keys` must be open; its cursor is left on the matched device and
  // signature. `user_level` receives the level the device reports.
  AccessChecks(ConfigDocument& config, KeyDocument& keys, DeviceChannel& channel,
               int32_t& user_level)
      : config_(config), keys_(keys), channel_(channel), user_level_(user_level) {}

  // Every check made from now on is appended to `trace` (borrowed; null
  // records nothing).
  void set_trace(std::vector<CheckRecord>* trace) { trace_ = trace; }

  // The whole check. `granted` is false unless the user may load the
  // device; `message` receives the reason of the last mismatch.
  int CheckAccessRights(bool& granted, std::string& message);

  // The device value named by (type, communication_name, index) must fully
  // match `value` taken as a pattern.
  int CheckIdentification(const std::string& value, const std::string& communication_name,
                          int type, uint32_t index, bool& ok, std::string& message);

  // The device variable `communication_name` must fully match `value`; an
  // empty name matches every device.
  int CheckSignature(const std::string& value, const std::string& communication_name, bool& ok,
                     std::string& message);

  // Reads the user level from the device and applies the current
  // signature's rights for it: grant, deny, or every rule must hold.
  int CheckUserRights(bool& granted, std::string& message);

  // Holds when any one of `specified_values` compares true with the device
  // value by `op`: as text for datatype 0, as integers (key file values read
  // with automatic base) for datatypes 1 to 3.
  int CheckRule(const std::vector<std::string>& specified_values,
                const std::string& communication_name, int type, uint32_t index, int datatype,
                int op, bool& ok, std::string& message);

 private:
  int CallDevice(int type, const std::string& communication_name);
  int Record(CheckRecord record);
  std::string GrantingLevels();

  ConfigDocument& config_;
  KeyDocument& keys_;
  DeviceChannel& channel_;
  int32_t& user_level_;
  std::vector<CheckRecord>* trace_ = nullptr;
};

}  // namespace korvo
