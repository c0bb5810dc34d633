// A scripted DeviceChannel for tests: answers come from a script, every call
// is recorded. Header-only; drive it from one thread.
//
// Replies are queued per key: the method or variable name for CallMethod and
// ReadVariable, the operation's own name ("ProgramData", ...) otherwise. Each
// call takes the next reply of its key; the last one stays for later calls.
// A reply's values and strings are what GetResultValue / GetResultString read
// until the next scripted call. Unscripted CallMethod / ReadVariable fail with
// -1 and leave no answer; other unscripted operations give `default_reply`.
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
  std::vector<uint32_t> values;
  std::vector<std::string> strings;
  int read_status = 0;  // when negative, what reading values or strings returns

  static Reply Fail(int status = -1) { return Reply{status, -1, {}, {}, 0}; }
  static Reply Values(std::vector<uint32_t> vs) { return Reply{0, 0, std::move(vs), {}, 0}; }
  static Reply Texts(std::vector<std::string> ss) { return Reply{0, 0, {}, std::move(ss), 0}; }
};

struct CallRecord {
  std::string operation;     // "CallMethod", "GetResultString", ...
  std::string name;          // method / variable name or first text argument
  std::vector<int> numbers;  // numeric arguments in order
  std::string text;          // second text argument, or the bytes passed
  bool flex = false;         // GetResultString's flex flag
  std::string kind;          // ReceiveAnswer's answer kind
};

class ScriptedChannel : public DeviceChannel {
 public:
  ScriptedChannel& Script(const std::string& key, Reply reply) {
    script_[key].push_back(std::move(reply));
    return *this;
  }
  ScriptedChannel& Script(const std::string& key, std::vector<Reply> replies) {
    for (Reply& r : replies) Script(key, std::move(r));
    return *this;
  }

  Reply default_reply;
  std::string ident;            // returned by ReadDeviceIdent
  bool has_application = true;  // returned by HasApplication

  const std::vector<CallRecord>& calls() const { return calls_; }
  std::vector<CallRecord> CallsOf(const std::string& operation) const {
    std::vector<CallRecord> out;
    for (const CallRecord& c : calls_)
      if (c.operation == operation) out.push_back(c);
    return out;
  }
  int CountOf(const std::string& operation) const {
    return static_cast<int>(CallsOf(operation).size());
  }

  // Operations keyed by their own name (__func__).
  int Open() override { return Op(__func__, {}, nullptr); }
  int Close() override { return Op(__func__, {}, nullptr); }
  int StartSecondLoader(int n, int* r) override { return Op(__func__, {n}, r); }
  int ProgramConfigData(int a, int b, const std::string& name, const std::string& value,
                        int* r) override {
    return Op(__func__, {a, b}, r, name, value);
  }
  int ProgramData(int a, int b, int count, const uint8_t* bytes, int* r) override {
    return Op(__func__, {a, b, count}, r, "", Bytes(bytes, count));
  }
  int ExecuteDeviceDownload(int a, int b, int* r) override { return Op(__func__, {a, b}, r); }
  int GetDownloadStatus(int a, int b, int* r) override { return Op(__func__, {a, b}, r); }
  int AbortDeviceDownload(int a, int b, int* r) override { return Op(__func__, {a, b}, r); }
  int FinishDeviceDownload(int a, int b, int* r) override { return Op(__func__, {a, b}, r); }
  int WriteDeviceLog(int a, const std::string& text, int* r) override {
    return Op(__func__, {a}, r, "", text);
  }
  int SoftReset(int* r) override { return Op(__func__, {}, r); }
  int EndDeviceLog(int a, int* r) override { return Op(__func__, {a}, r); }
  int EraseDeviceLog(int a, int* r) override { return Op(__func__, {a}, r); }
  int GetDeviceLogInfo(int* r) override { return Op(__func__, {}, r); }
  int SetAccessMode(const std::string& user_level, const std::string& password) override {
    return Op(__func__, {}, nullptr, user_level, password);
  }
  // Keyed by the method or variable name.
  int CallMethod(const std::string& method) override {
    Record(__func__, method, {});
    return Answer(method, nullptr, true);
  }
  int ReadVariable(const std::string& variable, int timeout_ms) override {
    Record(__func__, variable, {timeout_ms});
    return Answer(variable, nullptr, true);
  }
  int ReceiveAnswer(const std::string& kind, const std::string& name, uint8_t* bytes,
                    int count) override {
    Record(__func__, name, {count}, Bytes(bytes, count)).kind = kind;
    delete[] bytes;
    return 0;
  }
  std::string ReadDeviceIdent() override {
    Record(__func__, "", {});
    return ident;
  }
  int GetResultValue(int index, uint32_t* value) override {
    Record(__func__, "", {index});
    *value = 0;
    const int status = Readable(index, last_.values.size());
    if (status == 0) *value = last_.values[index];
    return status;
  }
  int GetResultString(int index, std::string& text, bool flex, int fixed_length) override {
    Record(__func__, "", {index, fixed_length}).flex = flex;
    text.clear();
    const int status = Readable(index, last_.strings.size());
    if (status == 0) text = last_.strings[index];
    return status;
  }
  bool HasApplication() override {
    Record(__func__, "", {});
    return has_application;
  }

 private:
  static std::string Bytes(const uint8_t* bytes, int count) {
    if (bytes == nullptr || count <= 0) return std::string();
    return std::string(reinterpret_cast<const char*>(bytes), count);
  }

  CallRecord& Record(const std::string& operation, const std::string& name,
                     std::vector<int> numbers, std::string text = std::string()) {
    calls_.push_back(CallRecord{operation, name, std::move(numbers), std::move(text), false, ""});
    return calls_.back();
  }

  int Op(const std::string& operation, std::vector<int> numbers, int* result,
         const std::string& name = "", const std::string& text = "") {
    Record(operation, name, std::move(numbers), text);
    return Answer(operation, result, false);
  }

  int Readable(int index, size_t size) const {
    if (!has_answer_) return -1;
    if (last_.read_status < 0) return last_.read_status;
    return index >= 0 && index < static_cast<int>(size) ? 0 : -1;
  }

  // Takes the next reply of `key`, makes it the last answer and returns its status.
  int Answer(const std::string& key, int* result, bool fail_unscripted) {
    if (result != nullptr) *result = -1;
    auto it = script_.find(key);
    Reply reply = default_reply;
    if (it != script_.end() && !it->second.empty()) {
      reply = it->second.front();
      if (it->second.size() > 1) it->second.pop_front();
    } else if (fail_unscripted) {
      has_answer_ = false;
      last_ = Reply();
      return -1;
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
