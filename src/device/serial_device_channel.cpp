#include "device/serial_device_channel.h"

#include <algorithm>

#include <cstdio>
#include <cstring>

#include "device/even_parity.h"
#include "device/parameter_text.h"
#include "platform/debug_output.h"
#include "platform/system.h"

namespace korvo {

bool SerialDeviceChannel::no_program_flag_ = false;

namespace {

constexpr char kStx = 0x02;
constexpr char kEtx = 0x03;
constexpr char kNoProgram[] = "No Program";
constexpr char kNoProgramErrorCode[] = "FF79";

bool StartsWith(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// True when the `count` bytes hold `needle` anywhere, zero bytes included.
bool BytesContain(const char* bytes, int count, const std::string& needle) {
  return ContainsText(bytes, bytes + count, needle.c_str());
}

// A device that answers at 7 data bits with even parity is read here at 8
// data bits; its blank then arrives as 0xA0 and odd letters with bit 7 set.
const std::string& NoProgramWithParity() {
  // Never destroyed, like every static an operation reaches.
  static const std::string* text = new std::string(AddEvenParity(std::string("No\xA0Program")));
  return *text;
}

}  // namespace

SerialDeviceChannel::SerialDeviceChannel(const AnswerDecoder* decoder,
                                         const std::string& port_name)
    : decoder_(decoder), port_name_(port_name) {}

SerialDeviceChannel::~SerialDeviceChannel() {
  if (port_) Close();
}

int SerialDeviceChannel::Open() {
  if (port_) return -1;
  SerialHandle port = OpenSerialPort(port_name_);
  if (!port) return -1;
  SerialSettings settings;
  // A port that cannot be set up is closed again at once, so that it is
  // neither leaked nor left locked against the next attempt.
  if (!ParseSerialSettings(kLineSettings, &settings) || !ApplySerialSettings(port, settings) ||
      !GetSerialTimeouts(port, &saved_timeouts_) || !SetSerialTimeouts(port, ChannelTimeouts())) {
    CloseSerialPort(port);
    return -1;
  }
  PurgeSerialPort(port);
  port_ = port;
  return 0;
}

SerialTimeouts SerialDeviceChannel::ChannelTimeouts() const {
  SerialTimeouts ours;
  ours.read_interval = read_interval_ms_;
  ours.read_total_multiplier = 0;
  ours.read_total_constant = read_total_ms_;
  ours.write_total_multiplier = kWritePerByteMs;
  ours.write_total_constant = kWriteConstantMs;
  return ours;
}

void SerialDeviceChannel::SetReadTimeouts(uint32_t interval_ms, uint32_t total_ms) {
  read_interval_ms_ = interval_ms != 0 ? interval_ms : kReadIntervalMs;
  read_total_ms_ = total_ms != 0 ? total_ms : kReadTotalMs;
  if (port_) SetSerialTimeouts(port_, ChannelTimeouts());
}

int SerialDeviceChannel::Close() {
  if (!port_) return 0;
  PurgeSerialPort(port_);
  SetSerialTimeouts(port_, saved_timeouts_);
  int closed = CloseSerialPort(port_);
  // Forget the handle: a command after Close must fail, not use a stale one.
  port_ = nullptr;
  return closed;
}

int SerialDeviceChannel::StartSecondLoader(int, int* result) {
  if (result) *result = 0;
  return 0;
}

int SerialDeviceChannel::ProgramConfigData(int, int, const std::string&, const std::string&,
                                           int*) {
  return 0;
}

// No program data reach a device over this line: reporting them taken
// would make a download that wrote nothing look successful.
int SerialDeviceChannel::ProgramData(int, int, int, const uint8_t*, int* result) {
  if (result) *result = -1;
  return -1;
}

int SerialDeviceChannel::ExecuteDeviceDownload(int, int, int* result) {
  if (result) *result = -1;
  return -1;
}

int SerialDeviceChannel::GetDownloadStatus(int, int, int* result) {
  if (result) *result = -1;
  return -1;
}

int SerialDeviceChannel::AbortDeviceDownload(int, int, int* result) {
  if (result) *result = 0;
  return 0;
}

int SerialDeviceChannel::FinishDeviceDownload(int, int, int* result) {
  if (result) *result = 0;
  return 0;
}

int SerialDeviceChannel::WriteDeviceLog(int, const std::string&, int* result) {
  if (result) *result = 0;
  return 0;
}

int SerialDeviceChannel::SoftReset(int* result) {
  if (result) *result = 0;
  return 0;
}

int SerialDeviceChannel::EndDeviceLog(int, int* result) {
  if (result) *result = 0;
  return 0;
}

int SerialDeviceChannel::EraseDeviceLog(int, int* result) {
  if (result) *result = 0;
  return 0;
}

int SerialDeviceChannel::GetDeviceLogInfo(int* result) {
  if (result) *result = 0;
  return 0;
}

int SerialDeviceChannel::CallMethod(const std::string& method) {
  return Exchange("sMN", method, nullptr, 0);
}

int SerialDeviceChannel::ReadVariable(const std::string& variable, int) {
  return Exchange("sRN", variable, nullptr, 0);
}

int SerialDeviceChannel::ReceiveAnswer(const std::string&, const std::string&, uint8_t* bytes,
                                       int) {
  delete[] bytes;
  return 0;
}

std::string SerialDeviceChannel::ReadDeviceIdent() {
  if (ReadVariable("DeviceIdent", kIdentTimeoutMs) < 0 || !decoder_) return std::string();
  std::string ident = decoder_->DecodeIdent(answer_, static_cast<size_t>(answer_length_));
  if (ContainsText(answer_, AnswerEnd(), kNoProgram)) SetNoProgramFlag(true);
  return ident;
}

int SerialDeviceChannel::SetAccessMode(const std::string& user_level,
                                       const std::string& password) {
  std::string params = " " + user_level + " " + password;
  if (Exchange("sMN", "SetAccessMode", params.data(), static_cast<int>(params.size())) < 0)
    return -1;
  if (!decoder_ || !result_) return -1;
  size_t length = static_cast<size_t>(AnswerEnd() - result_);
  return decoder_->IsAccessGranted(result_, length) ? 0 : -1;
}

int SerialDeviceChannel::Exchange(const char* kind, const std::string& name, const char* params,
                                  int param_count) {
  char request[kRequestArea];
  if (!BeginCommand(kind, name, request) || !port_) return -1;
  int request_length = static_cast<int>(std::strlen(request));

  telegram_[0] = kStx;
  std::memcpy(telegram_ + 1, request, static_cast<size_t>(request_length));
  telegram_length_ = 1 + request_length;
  if (params && param_count > 0 &&
      static_cast<size_t>(param_count) < static_cast<size_t>(kBufferSize + 1 - telegram_length_)) {
    std::memcpy(telegram_ + telegram_length_, params, static_cast<size_t>(param_count));
    telegram_length_ += param_count;
  }
  telegram_[telegram_length_++] = kEtx;
  telegram_[telegram_length_] = '\0';

  PurgeSerialPort(port_);
  uint32_t written = 0;
  WriteSerialPort(port_, telegram_, static_cast<uint32_t>(telegram_length_), &written);
  if (written < static_cast<uint32_t>(telegram_length_)) return -1;

  uint32_t got = 0;
  const uint32_t start = TickCount();
  ReadSerialPort(port_, answer_, kBufferSize, &got);
  return TakeRead(request, got, start);
}

bool SerialDeviceChannel::BeginCommand(const char* kind, const std::string& name,
                                       char (&request)[kRequestArea]) {
  result_ = nullptr;  // results of the previous command are gone from here on
  last_answer_ = DeviceAnswer();
  last_answer_.command = name;
  // The name is C text; a name too long for the request area is refused
  // rather than sent cut short as a different name.
  size_t name_length = strnlen(name.c_str(), name.size());
  if (name_length > static_cast<size_t>(kMaxNameLength)) return false;
  std::snprintf(request, sizeof request, "%s %s", kind, name.c_str());
  return true;
}

int SerialDeviceChannel::TakeRead(const char* request, uint32_t got, uint32_t start) {
  if (got > static_cast<uint32_t>(kBufferSize)) got = kBufferSize;
  answer_[got] = '\0';
  answer_length_ = static_cast<int>(got);
  if (got < 1) {
    last_answer_.kind = DeviceAnswer::Kind::kSilent;
    last_answer_.waited_ms = TickCount() - start;
    return -1;
  }
  last_answer_.kind = DeviceAnswer::Kind::kAnswered;  // ParseAnswer tells an error apart
  if (!ParseAnswer(request, static_cast<int>(got))) {
    result_ = nullptr;
    return -1;
  }
  return static_cast<int>(got);
}

int SerialDeviceChannel::TakeAnswer(const char* kind, const std::string& name, const char* bytes,
                                    size_t count) {
  char request[kRequestArea];
  if (!BeginCommand(kind, name, request)) return -1;
  const size_t got = std::min(count, static_cast<size_t>(kBufferSize));
  if (got > 0) std::memcpy(answer_, bytes, got);
  return TakeRead(request, static_cast<uint32_t>(got), TickCount());
}

void SerialDeviceChannel::TakeNoProgramAnswer() {
  // Always at the start of the buffer: there is room for the text whatever
  // the answer looked like, and both answer forms read alike afterwards.
  std::memcpy(answer_, kNoProgram, sizeof kNoProgram);
  answer_length_ = static_cast<int>(sizeof kNoProgram - 1);
  result_ = answer_;
}

bool SerialDeviceChannel::ParseAnswer(const char* request, int count) {
  const char* stx =
      static_cast<const char*>(std::memchr(answer_, kStx, static_cast<size_t>(count - 1)));
  if (!stx) {
    if (BytesContain(answer_, count, kNoProgram) ||
        BytesContain(answer_, count, NoProgramWithParity())) {
      TakeNoProgramAnswer();
      return true;
    }
    return false;
  }
  const char* p = stx + 1;

  if (StartsWith(p, "sFA ")) {
    if (!StartsWith(p + 4, kNoProgramErrorCode)) {
      last_answer_.kind = DeviceAnswer::Kind::kError;
      ScanHex(p + 4, answer_ + count, &last_answer_.code);
      return false;
    }
    TakeNoProgramAnswer();
    return true;
  }

  const char* found = nullptr;
  std::string expected;
  if (StartsWith(request, "sMN")) {
    expected = std::string("sAN ") + (request + 4);
    found = std::strstr(p, "sAN");  // other text may precede it
  } else if (StartsWith(request, "sRN")) {
    expected = std::string("sRA ") + (request + 4);
    found = p;
  } else {
    return false;
  }
  if (!found || !StartsWith(found, expected.c_str())) return false;
  // The name must end here: "sAN SetAccessModeX" does not answer "SetAccessMode".
  const char* after = found + expected.size();
  if (*after != ' ' && *after != kEtx && *after != '\0') return false;
  result_ = *after == ' ' ? after + 1 : after;
  return true;
}

bool SerialDeviceChannel::ResultStartsWithNoProgram() const {
  return result_ && StartsWith(result_, kNoProgram);
}

int SerialDeviceChannel::GetResultValue(int index, uint32_t* value) {
  if (!value) return -1;
  *value = 0;
  if (!result_) return -1;
  const char* end = AnswerEnd();
  const char* after = ScanHex(result_, end, value);
  if (*value == 0) return ResultStartsWithNoProgram() ? 0 : -1;

  const char* blank = FindBlank(after, end);
  if (!blank) return -1;
  int followed = 0;
  for (int i = 0; i < index; ++i) {
    after = ScanHex(blank + 1, end, value);
    blank = FindBlank(after, end);
    if (!blank) break;
    ++followed;
  }
  return followed == index ? 0 : -1;
}

int SerialDeviceChannel::GetResultString(int index, std::string& text, bool flex, int) {
  text.clear();
  if (!flex) {
    DebugPrint("VRT non-flex-string not implemented yet!\n");
    return -1;
  }
  if (!result_) return -1;
  const char* end = AnswerEnd();
  uint32_t length = 0;
  const char* after = ScanHex(result_, end, &length);
  if (length == 0) {
    if (!ResultStartsWithNoProgram()) return -1;
    text = kNoProgram;
    return 0;
  }
  const char* blank = FindBlank(after, end);
  if (!blank) return -1;
  const char* pos = blank + 1;
  for (int i = 0; i < index; ++i) {
    // Skip the previous string by its count: its bytes may hold blanks.
    size_t left = static_cast<size_t>(end - pos);
    pos += length < left ? length : left;
    blank = FindBlank(pos, end);
    if (!blank) return -1;
    after = ScanHex(blank + 1, end, &length);
    blank = FindBlank(after, end);
    if (!blank) return -1;
    pos = blank + 1;
  }
  size_t offset = static_cast<size_t>(pos - answer_);
  if (offset + length >= static_cast<size_t>(kBufferSize)) return -1;
  // A string cut short by the end of the answer is not the device's value.
  if (length > static_cast<size_t>(end - pos)) return -1;
  text.assign(pos, length);
  return 0;
}

}  // namespace korvo
