// A DeviceChannel that records every call; CallMethod and ReadVariable give the reply first
// scripted for their name (unscripted: -1, nothing to read); every other call succeeds.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "device/device_channel.h"

namespace korvo::test_support {

struct Reply {
  int status = 0;  // the call's return value
  std::vector<uint32_t> values;
  std::vector<std::string> strings;
  int read_status = 0;  // when negative, what reading values or strings returns

  static Reply Fail() { return Reply{-1, {}, {}, -1}; }
  static Reply Values(std::vector<uint32_t> vs) { return Reply{0, std::move(vs), {}, 0}; }
  static Reply Texts(std::vector<std::string> ss) { return Reply{0, {}, std::move(ss), 0}; }
};

using Replies = std::vector<std::pair<const char*, Reply>>;

class ScriptedChannel : public DeviceChannel {
 public:
  explicit ScriptedChannel(const Replies& replies = {}) {
    for (const auto& [key, reply] : replies) Script(key, reply);
  }
  void Script(const std::string& key, Reply reply) { script_.emplace(key, std::move(reply)); }

  // "Operation name numbers [flex]" per call, "|" between calls.
  std::string trace;

  int Open() override { return Op(__func__); }
  int Close() override { return Op(__func__); }
  int StartSecondLoader(int, int* r) override { return Op(__func__, r); }
  int ProgramConfigData(int, int, const std::string&, const std::string&, int* r) override {
    return Op(__func__, r);
  }
  int ProgramData(int, int, int, const uint8_t*, int* r) override { return Op(__func__, r); }
  int ExecuteDeviceDownload(int, int, int* r) override { return Op(__func__, r); }
  int GetDownloadStatus(int, int, int* r) override { return Op(__func__, r); }
  int AbortDeviceDownload(int, int, int* r) override { return Op(__func__, r); }
  int FinishDeviceDownload(int, int, int* r) override { return Op(__func__, r); }
  int WriteDeviceLog(int, const std::string&, int* r) override { return Op(__func__, r); }
  int SoftReset(int* r) override { return Op(__func__, r); }
  int EndDeviceLog(int, int* r) override { return Op(__func__, r); }
  int EraseDeviceLog(int, int* r) override { return Op(__func__, r); }
  int GetDeviceLogInfo(int* r) override { return Op(__func__, r); }
  bool HasApplication() override { return Op(__func__) == 0; }
  std::string ReadDeviceIdent() override { return Op<std::string>(__func__); }
  int SetAccessMode(const std::string&, const std::string&) override { return Op(__func__); }
  int ReceiveAnswer(const std::string&, const std::string&, uint8_t* bytes, int) override {
    delete[] bytes;
    return Op(__func__);
  }
  int CallMethod(const std::string& method) override {
    Record(__func__ + (" " + method));
    return Answer(method);
  }
  int ReadVariable(const std::string& variable, int timeout_ms) override {
    Record(__func__ + (" " + variable + " " + std::to_string(timeout_ms)));
    return Answer(variable);
  }
  int GetResultValue(int index, uint32_t* value) override {
    Record(__func__ + (" " + std::to_string(index)));
    const int status = Readable(index, last_.values.size());
    *value = status == 0 ? last_.values[index] : 0;
    return status;
  }
  int GetResultString(int index, std::string& text, bool flex, int fixed_length) override {
    Record(__func__ + (" " + std::to_string(index) + " " + std::to_string(fixed_length)) +
           (flex ? " flex" : ""));
    const int status = Readable(index, last_.strings.size());
    text = status == 0 ? last_.strings[index] : "";
    return status;
  }

 private:
  void Record(const std::string& call) { trace += (trace.empty() ? "" : "|") + call; }

  template <typename T = int>
  T Op(const char* operation, int* result = nullptr) {
    Record(operation);
    if (result != nullptr) *result = 0;
    return T();
  }

  int Readable(int index, size_t size) const {
    if (last_.read_status < 0) return last_.read_status;
    return index >= 0 && index < int(size) ? 0 : -1;
  }

  // Makes the reply of `key` the last answer and returns its status.
  int Answer(const std::string& key) {
    auto it = script_.find(key);
    last_ = it == script_.end() ? Reply::Fail() : it->second;
    const int status = last_.status;
    if (status < 0) last_ = Reply::Fail();  // a failed call leaves nothing to read
    return status;
  }

  std::map<std::string, Reply> script_;
  Reply last_ = Reply::Fail();
};

}  // namespace korvo::test_support
