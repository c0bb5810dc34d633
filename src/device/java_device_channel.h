// The normal device channel: every command is handed to the Java front end
// (SendCommandMN / SendCommandRN / SendCommandEN), and the device's answer
// comes back on another thread through ReceiveAnswer (the ReceiveBytes
// native). The issuing thread blocks on an auto-reset event until the answer
// is there or the command's time-out has passed.
//
// Thread safety: one command at a time from one thread; ReceiveAnswer may be
// called from any thread at any time. The answer (bytes, kind, name) is
// stored and read under the channel's lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "device/answer_decoder.h"
#include "device/device_channel.h"
#include "device/host_interfaces.h"
#include "device/parameter_text.h"
#include "platform/sync.h"

namespace korvo {

class JavaDeviceChannel final : public DeviceChannel {
 public:
  // Answers of this many bytes or more are refused.
  static constexpr int kMaxAnswerBytes = 1599;
  static constexpr uint32_t kIdentTimeoutMs = 5000;
  static constexpr uint32_t kCommandTimeoutMs = 20000;
  static constexpr uint32_t kLongCommandTimeoutMs = 30000;
  static constexpr uint32_t kBootCodeExecuteTimeoutMs = 120000;
  // How much longer than its time-out empty answers may keep a command
  // waiting in all: three more ordinary waits, far more than a device needs
  // to say it is busy, and a bound on the caller's wait (80 s for an
  // ordinary command).
  static constexpr uint32_t kBusyGraceMs = 60000;
  static constexpr size_t kMaxProgramBytes = 1024;
  static constexpr size_t kMaxConfigNameLength = 63;
  static constexpr size_t kMaxConfigValueLength = 255;

  // `decoder` is borrowed and may be null (no identification, no login).
  // `sender` is borrowed and may be null: then nothing is sent and every
  // command fails at once, as does one the sender could not hand on.
  JavaDeviceChannel(const AnswerDecoder* decoder, CommandSender* sender);
  ~JavaDeviceChannel() override;
  JavaDeviceChannel(const JavaDeviceChannel&) = delete;
  JavaDeviceChannel& operator=(const JavaDeviceChannel&) = delete;

  int Open() override;
  int Close() override { return 0; }
  int StartSecondLoader(int number, int* result) override;
  int ProgramConfigData(int a, int b, const std::string& name, const std::string& value,
                        int* result) override;
  int ProgramData(int a, int b, int count, const uint8_t* bytes, int* result) override;
  int ExecuteDeviceDownload(int a, int b, int* result) override;
  int GetDownloadStatus(int a, int b, int* result) override;
  int AbortDeviceDownload(int a, int b, int* result) override;
  int FinishDeviceDownload(int a, int b, int* result) override;
  int WriteDeviceLog(int a, const std::string& text, int* result) override;
  int SoftReset(int* result) override;
  int EndDeviceLog(int a, int* result) override;
  int EraseDeviceLog(int a, int* result) override;
  int GetDeviceLogInfo(int* result) override;
  int CallMethod(const std::string& method) override;
  int ReadVariable(const std::string& variable, int timeout_ms) override;
  int ReceiveAnswer(const std::string& kind, const std::string& name, uint8_t* bytes,
                    int count) override;
  std::string ReadDeviceIdent() override;
  int SetAccessMode(const std::string& user_level, const std::string& password) override;
  int GetResultValue(int index, uint32_t* value) override;
  int GetResultString(int index, std::string& text, bool flex, int fixed_length) override;
  bool HasApplication() override { return !NoProgramFlag(); }
  DeviceAnswer LastAnswer() const override { return last_answer_; }
  ChannelTraffic Traffic() const override { return traffic_; }

  // Process-wide: set when an identification answer contained "No Program"
  // (the device runs only its boot code); cleared by every ReadDeviceIdent.
  static bool NoProgramFlag() { return no_program_flag_.load(); }
  static void SetNoProgramFlag(bool set) { no_program_flag_.store(set); }

  // The time-out of the last wait for an answer, for diagnostics.
  uint32_t last_timeout_ms() const { return last_timeout_ms_; }

  // Caps every wait for an answer (0, the default: the time-outs above), so
  // that tests of a silent device need not wait 20 s per command.
  void set_wait_limit_ms(uint32_t ms) { wait_limit_ms_ = ms; }
  // Replaces kBusyGraceMs, for tests.
  void set_busy_grace_ms(uint32_t ms) { busy_grace_ms_ = ms; }

 private:
  enum class AnswerKind { kMethod = 0, kVariable = 1, kEvent = 2 };

  int WaitForAnswer(uint32_t timeout_ms);
  bool CheckAnswer(AnswerKind kind, const std::string& name);
  // Waits for the answer to command `name` (when it was sent) and checks it;
  // records in last_answer_ what came.
  bool Await(bool sent, AnswerKind kind, const std::string& name, uint32_t timeout_ms);
  // Sends the parameter text as a call of `method`, waits, checks the answer
  // and stores its first result number in *result.
  int RunCommand(const char* method, uint32_t timeout_ms, int* result);
  bool SendMethod(const std::string& method);  // the parameter text as a call of `method`
  int SkipWithoutApplication(int* result);

  CommandSender* sender_;
  const AnswerDecoder* decoder_;
  ParameterBuffer parameters_;

  CriticalSection lock_;  // guards the answer fields below
  Event answer_event_;
  char answer_[ParameterBuffer::kCapacity + 1] = {};
  int answer_length_ = 0;  // of the last answer; -1 when it was too long
  int stored_length_ = 0;  // bytes in answer_ (a refused answer keeps the old ones)
  std::string answer_kind_;
  std::string answer_name_;

  uint32_t last_timeout_ms_ = 0;
  uint32_t wait_limit_ms_ = 0;
  uint32_t busy_grace_ms_ = kBusyGraceMs;
  DeviceAnswer last_answer_;  // issuing thread only
  ChannelTraffic traffic_;

  static std::atomic<bool> no_program_flag_;
};

}  // namespace korvo
