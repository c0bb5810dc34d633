#include "device/java_device_channel.h"

#include <cstring>
#include <memory>

#include "platform/system.h"

namespace korvo {
namespace {

constexpr char kDeviceIdent[] = "DeviceIdent";
constexpr char kNoProgram[] = "No Program";

int* OrScratch(int* result, int* scratch) { return result ? result : scratch; }

}  // namespace

std::atomic<bool> JavaDeviceChannel::no_program_flag_{false};

JavaDeviceChannel::JavaDeviceChannel(const AnswerDecoder* decoder, CommandSender* sender)
    : sender_(sender), decoder_(decoder) {}

// The lock and the event are members and go with the channel; the owner
// makes sure no delivery is running (DownloadExecutor::ReplaceChannel).
JavaDeviceChannel::~JavaDeviceChannel() = default;

int JavaDeviceChannel::ReceiveAnswer(const std::string& kind, const std::string& name,
                                     uint8_t* bytes, int count) {
  std::unique_ptr<uint8_t[]> owned(bytes);
  if (!bytes || count < 0) count = 0;
  lock_.Enter();
  answer_kind_ = kind;
  answer_name_ = name;
  if (count < kMaxAnswerBytes) {
    if (count > 0) std::memcpy(answer_, bytes, static_cast<size_t>(count));
    answer_[count] = 0;
    answer_length_ = count;
    stored_length_ = count;
  } else {
    answer_length_ = -1;
  }
  lock_.Leave();
  answer_event_.Signal();
  return 0;
}

int JavaDeviceChannel::WaitForAnswer(uint32_t timeout_ms) {
  last_timeout_ms_ = timeout_ms;
  if (wait_limit_ms_ != 0 && timeout_ms > wait_limit_ms_) timeout_ms = wait_limit_ms_;
  // Empty answers say the device is still busy and may each buy another
  // ordinary wait, but never beyond the command's deadline: a device that
  // keeps sending them must not hold the caller for ever.
  const uint32_t start = TickCount();
  const uint32_t deadline = timeout_ms + busy_grace_ms_;
  for (;;) {
    if (!answer_event_.Wait(timeout_ms)) return -1;
    {
      std::lock_guard<std::mutex> hold(lock_.native());
      if (answer_length_ > 0) return 0;
      if (answer_length_ < 0) return -1;
    }
    const uint32_t spent = TickCount() - start;
    if (spent >= deadline) return -1;
    timeout_ms = kCommandTimeoutMs;
    if (wait_limit_ms_ != 0 && timeout_ms > wait_limit_ms_) timeout_ms = wait_limit_ms_;
    if (timeout_ms > deadline - spent) timeout_ms = deadline - spent;
  }
}

bool JavaDeviceChannel::CheckAnswer(AnswerKind kind, const std::string& name) {
  static const char* const kKindTexts[] = {"AN", "RA", "EA"};
  std::lock_guard<std::mutex> hold(lock_.native());
  if (answer_kind_ == "FA") {
    last_answer_.kind = DeviceAnswer::Kind::kError;
    ScanHex(answer_, answer_ + stored_length_, &last_answer_.code);
    return false;
  }
  last_answer_.kind = DeviceAnswer::Kind::kAnswered;
  return answer_kind_ == kKindTexts[static_cast<int>(kind)] && answer_name_ == name;
}

// A command that could not be handed on (`sent` false) gets no answer: it
// fails at once.
bool JavaDeviceChannel::Await(bool sent, AnswerKind kind, const std::string& name,
                              uint32_t timeout_ms) {
  last_answer_ = DeviceAnswer();
  last_answer_.command = name;
  if (!sent) return false;
  const uint32_t start = TickCount();
  if (WaitForAnswer(timeout_ms) < 0) {
    last_answer_.kind = DeviceAnswer::Kind::kSilent;
    last_answer_.waited_ms = TickCount() - start;
    return false;
  }
  return CheckAnswer(kind, name);
}

bool JavaDeviceChannel::SendMethod(const std::string& method) {
  return sender_ && sender_->SendMethodCall(method, parameters_.data(), parameters_.size()) >= 0;
}

int JavaDeviceChannel::RunCommand(const char* method, uint32_t timeout_ms, int* result) {
  if (!Await(SendMethod(method), AnswerKind::kMethod, method, timeout_ms)) return -1;
  // The status is not looked at: the first number counts even when it ends
  // the answer.
  uint32_t value = 0;
  GetResultValue(0, &value);
  *result = static_cast<int>(value);
  return 0;
}

int JavaDeviceChannel::SkipWithoutApplication(int* result) {
  *result = 0;
  return 0;
}

int JavaDeviceChannel::Open() {
  if (!HasApplication()) return 0;
  parameters_.Reset();
  parameters_.AppendNumber(0);
  Await(sender_ && sender_->SendEventRequest("MStrace", parameters_.data(),
                                             parameters_.size()) >= 0,
        AnswerKind::kEvent, "MStrace", kCommandTimeoutMs);
  return 0;  // tracing is optional for the device
}

int JavaDeviceChannel::StartSecondLoader(int, int* result) {
  int scratch;
  result = OrScratch(result, &scratch);
  *result = -1;
  if (!HasApplication()) return SkipWithoutApplication(result);
  parameters_.Reset();
  parameters_.AppendNumber(1);
  return RunCommand("mFDsrt2ndstgldr", kLongCommandTimeoutMs, result);
}

int JavaDeviceChannel::ProgramConfigData(int a, int b, const std::string& name,
                                         const std::string& value, int* result) {
  int scratch;
  result = OrScratch(result, &scratch);
  *result = -1;
  // The boot code only takes the address ranges; any other entry is skipped
  // before its size is looked at.
  if (!HasApplication() && name.find("ADDRESS_RANGE") == std::string::npos)
    return SkipWithoutApplication(result);
  if (name.size() > kMaxConfigNameLength || value.size() > kMaxConfigValueLength) return -1;
  parameters_.Reset();
  parameters_.AppendNumber(static_cast<uint32_t>(a));
  parameters_.AppendNumber(static_cast<uint32_t>(b));
  parameters_.AppendCounted(name);
  parameters_.AppendCounted(value);
  return RunCommand("mFDprgcfgdata", kCommandTimeoutMs, result);
}

int JavaDeviceChannel::ProgramData(int a, int b, int count, const uint8_t* bytes, int* result) {
  int scratch;
  result = OrScratch(result, &scratch);
  *result = -1;
  if (count < 0 || static_cast<size_t>(count) > kMaxProgramBytes || (count > 0 && !bytes))
    return -1;
  parameters_.Reset();
  parameters_.AppendNumber(static_cast<uint32_t>(a));
  parameters_.AppendNumber(static_cast<uint32_t>(b));
  parameters_.AppendNumber(static_cast<uint32_t>(count));
  parameters_.AppendCounted(bytes, static_cast<size_t>(count));
  int rc = RunCommand("mFDprgdata", kCommandTimeoutMs, result);
  if (rc >= 0 && *result == 0) {
    ++traffic_.packages;
    traffic_.bytes += static_cast<uint64_t>(count);
  }
  return rc;
}

int JavaDeviceChannel::ExecuteDeviceDownload(int a, int b, int* result) {
  int scratch;
  result = OrScratch(result, &scratch);
  *result = -1;
  parameters_.Reset();
  parameters_.AppendNumber(static_cast<uint32_t>(a));
  parameters_.AppendNumber(static_cast<uint32_t>(b));
  // The boot code programs the flash itself and takes much longer.
  return RunCommand("mFDexedwnld",
                    NoProgramFlag() ? kBootCodeExecuteTimeoutMs : kLongCommandTimeoutMs, result);
}

#define KORVO_TWO_NUMBER_COMMAND(Operation, method)                    \
  int JavaDeviceChannel::Operation(int a, int b, int* result) {        \
    int scratch;                                                       \
    result = OrScratch(result, &scratch);                              \
    *result = -1;                                                      \
    parameters_.Reset();                                               \
    parameters_.AppendNumber(static_cast<uint32_t>(a));                \
    parameters_.AppendNumber(static_cast<uint32_t>(b));                \
    return RunCommand(method, kCommandTimeoutMs, result);              \
  }

KORVO_TWO_NUMBER_COMMAND(GetDownloadStatus, "mFDstadwnld")
KORVO_TWO_NUMBER_COMMAND(AbortDeviceDownload, "mFDabrtdwnld")
KORVO_TWO_NUMBER_COMMAND(FinishDeviceDownload, "mFDfindwnld")
#undef KORVO_TWO_NUMBER_COMMAND

int JavaDeviceChannel::WriteDeviceLog(int a, const std::string& text, int* result) {
  int scratch;
  result = OrScratch(result, &scratch);
  *result = -1;
  if (!HasApplication()) return SkipWithoutApplication(result);
  parameters_.Reset();
  parameters_.AppendNumber(static_cast<uint32_t>(a));
  parameters_.AppendCounted(text);
  return RunCommand("mFDlogwrite", kCommandTimeoutMs, result);
}

int JavaDeviceChannel::SoftReset(int* result) {
  if (result) *result = 0;
  parameters_.Reset();
  parameters_.AppendNumber(0);
  // The device resets at once and never answers.
  SendMethod("mSCsoftreset");
  return 0;
}

int JavaDeviceChannel::EndDeviceLog(int a, int* result) {
  int scratch;
  result = OrScratch(result, &scratch);
  *result = -1;
  if (!HasApplication()) return SkipWithoutApplication(result);
  parameters_.Reset();
  parameters_.AppendNumber(static_cast<uint32_t>(a));
  return RunCommand("mFDlogend", kCommandTimeoutMs, result);
}

int JavaDeviceChannel::EraseDeviceLog(int a, int* result) {
  int scratch;
  result = OrScratch(result, &scratch);
  *result = -1;
  if (!HasApplication()) return SkipWithoutApplication(result);
  parameters_.Reset();
  parameters_.AppendNumber(static_cast<uint32_t>(a));
  return RunCommand("mFDlogerase", kCommandTimeoutMs, result);
}

int JavaDeviceChannel::GetDeviceLogInfo(int* result) {
  int scratch;
  result = OrScratch(result, &scratch);
  *result = -1;
  if (!HasApplication()) return SkipWithoutApplication(result);
  parameters_.Reset();
  return RunCommand("mFDloginfo", kCommandTimeoutMs, result);
}

int JavaDeviceChannel::CallMethod(const std::string& method) {
  parameters_.Reset();
  if (!Await(SendMethod(method), AnswerKind::kMethod, method, kCommandTimeoutMs)) return -1;
  return 0;
}

int JavaDeviceChannel::ReadVariable(const std::string& variable, int timeout_ms) {
  const bool sent = sender_ && sender_->SendVariableRead(variable) >= 0;
  uint32_t timeout = timeout_ms < 0 ? 0u : static_cast<uint32_t>(timeout_ms);
  if (!Await(sent, AnswerKind::kVariable, variable, timeout)) return -1;
  return 0;
}

std::string JavaDeviceChannel::ReadDeviceIdent() {
  SetNoProgramFlag(false);
  if (ReadVariable(kDeviceIdent, static_cast<int>(kIdentTimeoutMs)) < 0) return std::string();
  std::lock_guard<std::mutex> hold(lock_.native());
  if (answer_length_ <= 0 || !decoder_) return std::string();
  std::string ident = decoder_->DecodeIdent(answer_, static_cast<size_t>(answer_length_));
  if (ContainsText(answer_, answer_ + answer_length_, kNoProgram)) SetNoProgramFlag(true);
  return ident;
}

int JavaDeviceChannel::SetAccessMode(const std::string& user_level, const std::string& password) {
  std::string text = " " + user_level + " " + password;
  parameters_.Reset();
  if (!parameters_.AppendRaw(text.data(), text.size())) return -1;  // would be cut
  if (!Await(SendMethod("SetAccessMode"), AnswerKind::kMethod, "SetAccessMode",
             kCommandTimeoutMs))
    return -1;
  std::lock_guard<std::mutex> hold(lock_.native());
  if (!decoder_) return -1;
  return decoder_->IsAccessGranted(answer_, static_cast<size_t>(stored_length_)) ? 0 : -1;
}

int JavaDeviceChannel::GetResultValue(int index, uint32_t* value) {
  uint32_t scratch = 0;
  if (!value) value = &scratch;
  std::lock_guard<std::mutex> hold(lock_.native());
  const char* end = answer_ + stored_length_;
  // The first token of the answer bytes is not a result value.
  const char* p = answer_;
  if (const char* blank = FindBlank(p, end)) p = blank + 1;
  p = ScanHex(p, end, value);
  const char* blank = FindBlank(p, end);
  if (!blank) return -1;
  p = blank + 1;
  int count = 0;
  for (int i = 0; i < index; ++i) {
    p = ScanHex(p, end, value);
    blank = FindBlank(p, end);
    if (!blank) break;
    ++count;
    p = blank + 1;
  }
  return count == index ? 0 : -1;
}

int JavaDeviceChannel::GetResultString(int index, std::string& text, bool flex, int fixed_length) {
  text.clear();
  std::lock_guard<std::mutex> hold(lock_.native());
  const char* end = answer_ + stored_length_;
  const char* p = answer_;
  if (const char* blank = FindBlank(p, end)) p = blank + 1;
  uint32_t length = fixed_length < 0 ? 0u : static_cast<uint32_t>(fixed_length);
  if (flex) {
    p = ScanHex(p, end, &length);
    const char* blank = FindBlank(p, end);
    if (!blank) return -1;
    p = blank + 1;
  }
  int count = 0;
  for (int i = 0; i < index; ++i) {
    // Past the previous string's bytes (they may hold blanks) to the blank
    // before the next length.
    size_t skip = static_cast<size_t>(end - p);
    if (length < skip) skip = length;
    const char* blank = FindBlank(p + skip, end);
    if (!blank) break;
    p = ScanHex(blank + 1, end, &length);
    blank = FindBlank(p, end);
    if (!blank) break;
    ++count;
    p = blank + 1;
  }
  if (count != index) return -1;
  if (static_cast<size_t>(p - answer_) + length >= ParameterBuffer::kCapacity) return -1;
  // Never beyond the answer: a string cut short yields the bytes present.
  size_t available = static_cast<size_t>(end - p);
  text.assign(p, length < available ? length : available);
  return 0;
}

}  // namespace korvo
