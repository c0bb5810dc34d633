// The abstract device channel: every conversation with a field device goes
// through one of these. Operations return 0 or more on success and -1 on
// failure; where a `result` out-parameter exists it carries the device's own
// result number and is first set to -1 (see each implementation).
//
// Ownership: the download executor owns its channel; checks and the device
// update only call it. Thread safety: one command at a time; only
// ReceiveAnswer may come from another thread (Java channel).
#pragma once

#include <cstdint>
#include <string>

namespace korvo {

// What the device said to the last command a channel sent, beside the
// result numbers (which stay -1 for every failure): for reports only.
struct DeviceAnswer {
  enum class Kind { kNone, kAnswered, kError, kSilent };
  std::string command;  // method or variable name; "" before the first command
  Kind kind = Kind::kNone;
  uint32_t code = 0;       // the device's own code of an error answer ("sFA 7": 7)
  uint32_t waited_ms = 0;  // how long a silent device was waited for
};

// Program data a device took: successful ProgramData calls and their bytes.
struct ChannelTraffic {
  uint64_t packages = 0;
  uint64_t bytes = 0;
};

class DeviceChannel {
 public:
  virtual ~DeviceChannel() = default;

  virtual int Open() = 0;
  virtual int Close() = 0;
  virtual int StartSecondLoader(int number, int* result) = 0;
  virtual int ProgramConfigData(int a, int b, const std::string& name,
                                const std::string& value, int* result) = 0;
  virtual int ProgramData(int a, int b, int count, const uint8_t* bytes, int* result) = 0;
  virtual int ExecuteDeviceDownload(int a, int b, int* result) = 0;
  virtual int GetDownloadStatus(int a, int b, int* result) = 0;
  virtual int AbortDeviceDownload(int a, int b, int* result) = 0;
  virtual int FinishDeviceDownload(int a, int b, int* result) = 0;
  virtual int WriteDeviceLog(int a, const std::string& text, int* result) = 0;
  virtual int SoftReset(int* result) = 0;
  virtual int EndDeviceLog(int a, int* result) = 0;
  virtual int EraseDeviceLog(int a, int* result) = 0;
  virtual int GetDeviceLogInfo(int* result) = 0;
  virtual int CallMethod(const std::string& method) = 0;
  virtual int ReadVariable(const std::string& variable, int timeout_ms) = 0;
  // Takes ownership of `bytes` (allocated with new[]; may be null when count is 0).
  virtual int ReceiveAnswer(const std::string& kind, const std::string& name, uint8_t* bytes,
                            int count) = 0;
  virtual std::string ReadDeviceIdent() = 0;
  virtual int SetAccessMode(const std::string& user_level, const std::string& password) = 0;
  // Result values of the last answer, counted from 0.
  virtual int GetResultValue(int index, uint32_t* value) = 0;
  virtual int GetResultString(int index, std::string& text, bool flex, int fixed_length) = 0;
  virtual bool HasApplication() = 0;

  // Not operations of the device: what the last command got back and what
  // program data went out so far. Channels that keep no record say nothing.
  virtual DeviceAnswer LastAnswer() const { return DeviceAnswer(); }
  virtual ChannelTraffic Traffic() const { return ChannelTraffic(); }
};

}  // namespace korvo
