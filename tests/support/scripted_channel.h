// A scripted DeviceChannel for tests: answers come from a script, every call
// is recorded. Header-only.
//
// Scripting. Replies are queued per key: for CallMethod and ReadVariable the
// key is the method or variable name, for every other operation its own name
// ("ProgramData", "GetDownloadStatus", "SetAccessMode", ...). Each call takes
// the next reply of its key; the last reply of a queue stays and answers all
// later calls. A reply's values and strings become the "last answer" read by
// GetResultValue / GetResultString, until the next scripted call.
//
// Unscripted keys: CallMethod and ReadVariable fail with -1 (the device knows
// no such name) and leave no answer; every other operation answers with
// `default_reply` (status 0, result 0 unless changed).
//
// Not thread-safe: drive it from one thread.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "device/device_channel.h"

namespace korvo::test_support {

struct Reply {
  int status = 0;  // the operation's return value
  int result = 0;  // the device result number, where the operation has one
  std::vector<uint32_t> values;      // GetResultValue(index) reads values[index]
  std::vector<std::string> strings;  // GetResultString(index) reads strings[index]
  // When negative, GetResultValue / GetResultString return it although
  // values or strings exist (the answer could not be read).
  int read_status = 0;

  static Reply Fail(int status = -1) {
    Reply r;
    r.status = status;
    r.result = -1;
    return r;
  }
  static Reply Value(uint32_t v) {
    Reply r;
    r.values.push_back(v);
    return r;
  }
  static Reply Values(std::vector<uint32_t> vs) {
    Reply r;
    r.values = std::move(vs);
    return r;
  }
  static Reply Text(std::string s) {
    Reply r;
    r.strings.push_back(std::move(s));
    return r;
  }
  static Reply Texts(std::vector<std::string> ss) {
    Reply r;
    r.strings = std::move(ss);
    return r;
  }
};

struct CallRecord {
  std::string operation;     // "CallMethod", "GetResultString", ...
  std::string name;          // method / variable name or first text argument
  std::vector<int> numbers;  // numeric arguments in order (index, time-out, a, b, count, length)
  std::string text;          // second text argument, or the bytes of ProgramData
  bool flex = false;         // GetResultString's flex flag
  std::string kind;          // ReceiveAnswer's answer kind
};

class ScriptedChannel : public DeviceChannel {
 public:
  // Queues a reply for a key (see above). Returns *this for chaining.
  ScriptedChannel& Script(const std::string& key, Reply reply) {
    script_[key].push_back(std::move(reply));
    return *this;
  }
  ScriptedChannel& Script(const std::string& key, std::vector<Reply> replies) {
    for (Reply& r : replies) Script(key, std::move(r));
    return *this;
  }

  Reply default_reply;
  std::string ident;             // returned by ReadDeviceIdent
  bool has_application = true;   // returned by HasApplication

  const std::vector<CallRecord>& calls() const { return calls_; }
  void ClearCalls() { calls_.clear(); }

  // Records of one operation, in call order.
  std::vector<CallRecord> CallsOf(const std::string& operation) const {
    std::vector<CallRecord> out;
    for (const CallRecord& c : calls_)
      if (c.operation == operation) out.push_back(c);
    return out;
  }
  int CountOf(const std::string& operation) const {
    return static_cast<int>(CallsOf(operation).size());
  }
  // Operation names in call order, e.g. {"ReadVariable", "GetResultString"}.
  std::vector<std::string> Operations() const {
    std::vector<std::string> out;
    for (const CallRecord& c : calls_) out.push_back(c.operation);
    return out;
  }

  // DeviceChannel.
  int Open() override { return Simple("Open", {}); }
  int Close() override { return Simple("Close", {}); }
  int StartSecondLoader(int number, int* result) override {
    return WithResult("StartSecondLoader", {number}, result);
  }
  int ProgramConfigData(int a, int b, const std::string& name, const std::string& value,
                        int* result) override {
    Record("ProgramConfigData", name, {a, b}, value);
    return Answer("ProgramConfigData", result, false);
  }
  int ProgramData(int a, int b, int count, const uint8_t* bytes, int* result) override {
    std::string data;
    if (bytes != nullptr && count > 0) data.assign(reinterpret_cast<const char*>(bytes), count);
    Record("ProgramData", "", {a, b, count}, data);
    return Answer("ProgramData", result, false);
  }
  int ExecuteDeviceDownload(int a, int b, int* result) override {
    return WithResult("ExecuteDeviceDownload", {a, b}, result);
  }
  int GetDownloadStatus(int a, int b, int* result) override {
    return WithResult("GetDownloadStatus", {a, b}, result);
  }
  int AbortDeviceDownload(int a, int b, int* result) override {
    return WithResult("AbortDeviceDownload", {a, b}, result);
  }
  int FinishDeviceDownload(int a, int b, int* result) override {
    return WithResult("FinishDeviceDownload", {a, b}, result);
  }
  int WriteDeviceLog(int a, const std::string& text, int* result) override {
    Record("WriteDeviceLog", "", {a}, text);
    return Answer("WriteDeviceLog", result, false);
  }
  int SoftReset(int* result) override { return WithResult("SoftReset", {}, result); }
  int EndDeviceLog(int a, int* result) override { return WithResult("EndDeviceLog", {a}, result); }
  int EraseDeviceLog(int a, int* result) override {
    return WithResult("EraseDeviceLog", {a}, result);
  }
  int GetDeviceLogInfo(int* result) override { return WithResult("GetDeviceLogInfo", {}, result); }
  int CallMethod(const std::string& method) override {
    Record("CallMethod", method, {});
    return Answer(method, nullptr, true);
  }
  int ReadVariable(const std::string& variable, int timeout_ms) override {
    Record("ReadVariable", variable, {timeout_ms});
    return Answer(variable, nullptr, true);
  }
  int ReceiveAnswer(const std::string& kind, const std::string& name, uint8_t* bytes,
                    int count) override {
    std::string data;
    if (bytes != nullptr && count > 0) data.assign(reinterpret_cast<const char*>(bytes), count);
    delete[] bytes;
    Record("ReceiveAnswer", name, {count}, data);
    calls_.back().kind = kind;
    return 0;
  }
  std::string ReadDeviceIdent() override {
    Record("ReadDeviceIdent", "", {});
    return ident;
  }
  int SetAccessMode(const std::string& user_level, const std::string& password) override {
    Record("SetAccessMode", user_level, {}, password);
    return Answer("SetAccessMode", nullptr, false);
  }
  int GetResultValue(int index, uint32_t* value) override {
    Record("GetResultValue", "", {index});
    *value = 0;
    if (!has_answer_) return -1;
    if (last_.read_status < 0) return last_.read_status;
    if (index < 0 || index >= static_cast<int>(last_.values.size())) return -1;
    *value = last_.values[index];
    return 0;
  }
  int GetResultString(int index, std::string& text, bool flex, int fixed_length) override {
    Record("GetResultString", "", {index, fixed_length});
    calls_.back().flex = flex;
    text.clear();
    if (!has_answer_) return -1;
    if (last_.read_status < 0) return last_.read_status;
    if (index < 0 || index >= static_cast<int>(last_.strings.size())) return -1;
    text = last_.strings[index];
    return 0;
  }
  bool HasApplication() override {
    Record("HasApplication", "", {});
    return has_application;
  }

 private:
  void Record(const std::string& operation, const std::string& name, std::vector<int> numbers,
              std::string text = std::string()) {
    CallRecord c;
    c.operation = operation;
    c.name = name;
    c.numbers = std::move(numbers);
    c.text = std::move(text);
    calls_.push_back(std::move(c));
  }

  int Simple(const std::string& operation, std::vector<int> numbers) {
    Record(operation, "", std::move(numbers));
    return Answer(operation, nullptr, false);
  }
  int WithResult(const std::string& operation, std::vector<int> numbers, int* result) {
    Record(operation, "", std::move(numbers));
    return Answer(operation, result, false);
  }

  // Takes the next reply of `key`, makes it the last answer and returns its status.
  int Answer(const std::string& key, int* result, bool fail_unscripted) {
    if (result != nullptr) *result = -1;
    auto it = script_.find(key);
    Reply reply;
    if (it == script_.end() || it->second.empty()) {
      if (fail_unscripted) {
        has_answer_ = false;
        last_ = Reply();
        return -1;
      }
      reply = default_reply;
    } else {
      reply = it->second.front();
      if (it->second.size() > 1) it->second.pop_front();
    }
    if (result != nullptr) *result = reply.result;
    has_answer_ = reply.status >= 0;
    last_ = has_answer_ ? reply : Reply();
    return reply.status;
  }

  std::map<std::string, std::deque<Reply>> script_;
  std::vector<CallRecord> calls_;
  Reply last_;
  bool has_answer_ = false;
};

}  // namespace korvo::test_support
