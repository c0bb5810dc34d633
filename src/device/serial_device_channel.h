// A stand-alone device channel on a serial line: it frames each command
// itself as ASCII text between STX and ETX ("sMN name params" / "sRN name")
// and reads the device's answer from the port. It carries identification,
// login, method calls and variable reads. Program data cannot travel on it
// (such devices take their data through the boot loader): ProgramData,
// ExecuteDeviceDownload and GetDownloadStatus fail, so that a download that
// would move data this way fails instead of reporting success. The other
// firmware-download operations are stubs that report success.
//
// Ownership: the decoder is borrowed. A port still open is closed when the
// channel is released. Thread safety: none; one thread, one command at a
// time. Results of a command (GetResultValue / GetResultString) are valid
// until the next command.
#pragma once

#include <cstdint>
#include <string>

#include "device/answer_decoder.h"
#include "device/device_channel.h"
#include "device/serial_answer_decoder.h"
#include "platform/serial_port.h"

namespace korvo {

class SerialDeviceChannel final : public DeviceChannel {
 public:
  // Telegram text before the ETX, and answer bytes read per command.
  static constexpr int kBufferSize = 1600;
  // The request text "sMN " / "sRN " and the name share this work area.
  static constexpr int kRequestArea = 1024;
  static constexpr int kMaxNameLength = kRequestArea - 5;
  static constexpr int kIdentTimeoutMs = 20000;
  // Line and time-outs set by Open: an answer ends after 1000 ms without a
  // byte or 2000 ms after the read started, whichever comes first.
  static constexpr char kLineSettings[] = "9600,n,8,1";
  static constexpr uint32_t kReadIntervalMs = 1000;
  static constexpr uint32_t kReadTotalMs = 2000;
  static constexpr uint32_t kWritePerByteMs = 10;
  static constexpr uint32_t kWriteConstantMs = 100;

  // `port_name` names the COM port; `decoder` may be null (then
  // identification is "" and login fails).
  SerialDeviceChannel(const AnswerDecoder* decoder, const std::string& port_name);
  ~SerialDeviceChannel() override;
  SerialDeviceChannel(const SerialDeviceChannel&) = delete;
  SerialDeviceChannel& operator=(const SerialDeviceChannel&) = delete;

  // 0 when the port is open at 9600 8N1 with the channel's time-outs; -1
  // otherwise (also when it is open already), leaving no port open.
  int Open() override;
  // Restores the time-outs found by Open and closes the port: non-zero when
  // it was closed cleanly, 0 when closing failed or nothing was open.
  int Close() override;

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

  // Both return the count of answer bytes read, or -1. ReadVariable's
  // time-out is not used: the port's time-outs bound every read.
  int CallMethod(const std::string& method) override;
  int ReadVariable(const std::string& variable, int timeout_ms) override;
  // Reads `bytes` as the answer to "<kind> <name>" exactly as a command reads
  // what the port gave it, without the port: the answer parsing fed from
  // memory (fuzzing). The count of bytes taken, or -1; results as after a
  // command.
  int TakeAnswer(const char* kind, const std::string& name, const char* bytes, size_t count);
  // Answers arrive from the port, not from outside: the bytes are released.
  int ReceiveAnswer(const std::string& kind, const std::string& name, uint8_t* bytes,
                    int count) override;
  std::string ReadDeviceIdent() override;
  // 0 when the device granted the access, -1 otherwise.
  int SetAccessMode(const std::string& user_level, const std::string& password) override;
  // *value is 0 on every failure that happens before a number is read.
  int GetResultValue(int index, uint32_t* value) override;
  // Flex strings only; `text` is emptied first.
  int GetResultString(int index, std::string& text, bool flex, int fixed_length) override;
  bool HasApplication() override { return !NoProgramFlag(); }
  DeviceAnswer LastAnswer() const override { return last_answer_; }

  // Process-wide: set once a device identified itself with "No Program"
  // (only its boot code runs). The channel never clears it.
  static bool NoProgramFlag() { return no_program_flag_; }
  static void SetNoProgramFlag(bool set) { no_program_flag_ = set; }

  // Replaces the read time-outs (now, and for later Opens), for lines that
  // answer faster than the 1000 ms gap allows for. Zero keeps the default.
  void SetReadTimeouts(uint32_t interval_ms, uint32_t total_ms);

  const std::string& port_name() const { return port_name_; }
  bool is_open() const { return port_ != nullptr; }

 private:
  // Sends "<kind> <name>" with `params` appended and reads the answer.
  int Exchange(const char* kind, const std::string& name, const char* params, int param_count);
  bool BeginCommand(const char* kind, const std::string& name, char (&request)[kRequestArea]);
  int TakeRead(const char* request, uint32_t got, uint32_t start);
  bool ParseAnswer(const char* request, int count);
  void TakeNoProgramAnswer();
  SerialTimeouts ChannelTimeouts() const;
  const char* AnswerEnd() const { return answer_ + answer_length_; }
  bool ResultStartsWithNoProgram() const;

  char telegram_[kBufferSize + 2] = {};  // + ETX + zero
  int telegram_length_ = 0;
  char answer_[kBufferSize + 1] = {};    // always zero-terminated
  int answer_length_ = 0;                // bytes of the answer, zero excluded
  const AnswerDecoder* decoder_;
  const char* result_ = nullptr;  // first result value of the last answer
  SerialHandle port_ = nullptr;
  SerialTimeouts saved_timeouts_;
  uint32_t read_interval_ms_ = kReadIntervalMs;
  uint32_t read_total_ms_ = kReadTotalMs;
  std::string port_name_;
  DeviceAnswer last_answer_;

  static bool no_program_flag_;
};

}  // namespace korvo
