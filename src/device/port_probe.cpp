#include "device/port_probe.h"

#include <nlohmann/json.hpp>

#include <algorithm>

#include "device/even_parity.h"
#include "device/parameter_text.h"
#include "device/serial_answer_decoder.h"
#include "device/serial_device_channel.h"
#include "platform/serial_port.h"
#include "platform/system.h"
#include "platform/unicode.h"

namespace korvo {
namespace {

using Outcome = PortProbe::Outcome;

constexpr char kStx = 0x02;
constexpr char kEtx = 0x03;
constexpr char kRequest[] = "\x02sRN DeviceIdent\x03";
constexpr char kNoProgram[] = "No Program";
// An answer without framing (a device without application at 7 data bits)
// has ended when nothing more comes for this long.
constexpr uint32_t kGapMs = 100;
constexpr size_t kMaxAnswer = SerialDeviceChannel::kBufferSize;

struct PortCloser {
  SerialHandle port;
  ~PortCloser() { CloseSerialPort(port); }
};

std::string WhyNotOpened(SerialOpenError error, const std::string& detail) {
  switch (error) {
    case SerialOpenError::kNotFound: return "no such port";
    case SerialOpenError::kDenied: return "permission denied";
    case SerialOpenError::kNotSerial: return "not a serial port";
    default: return detail.empty() ? "it could not be opened" : detail;
  }
}

bool Framed(const std::string& bytes) {
  size_t stx = bytes.find(kStx);
  return stx != std::string::npos && bytes.find(kEtx, stx) != std::string::npos;
}

// Reads until the answer is whole, a gap after it, or the time-out.
void ReadAnswer(SerialHandle port, uint32_t timeout_ms, PortProbe* probe) {
  const uint32_t start = TickCount();
  char buffer[256];
  for (;;) {
    uint32_t elapsed = TickCount() - start;
    if (elapsed >= timeout_ms || Framed(probe->received) || probe->received.size() >= kMaxAnswer)
      break;
    uint32_t wait = timeout_ms - elapsed;
    if (!probe->received.empty()) wait = std::min(wait, kGapMs);
    SetSerialTimeouts(port, SerialTimeouts{kSerialNoWait, kSerialNoWait, wait, 0, 0});
    uint32_t got = 0;
    bool ok = ReadSerialPort(port, buffer, sizeof buffer, &got);
    probe->received.append(buffer, got);
    if (!ok || (got == 0 && !probe->received.empty())) break;  // a gap, or the line is gone
  }
  probe->elapsed_ms = TickCount() - start;
}

// What the answer says, read as the serial channel reads it.
void Classify(uint32_t timeout_ms, PortProbe* probe) {
  const std::string& bytes = probe->received;
  if (bytes.empty()) {
    probe->outcome = Outcome::kSilent;
    probe->detail = "no answer within " + std::to_string(timeout_ms) + " ms";
    return;
  }
  size_t stx = bytes.find(kStx);
  std::string text = stx == std::string::npos ? std::string() : bytes.substr(stx + 1);
  text = text.substr(0, text.find(kEtx));
  const char* p = text.c_str();
  if (stx == std::string::npos) {
    const char* end = bytes.data() + bytes.size();
    if (ContainsText(bytes.data(), end, kNoProgram) ||
        ContainsText(bytes.data(), end, AddEvenParity(std::string("No\xA0Program")).c_str())) {
      probe->outcome = Outcome::kAnswered;
      probe->ident = kNoProgram;
      return;
    }
  } else if (text.compare(0, 4, "sFA ") == 0) {
    if (text.compare(4, 4, "FF79") == 0) {
      probe->outcome = Outcome::kAnswered;
      probe->ident = kNoProgram;
    } else {
      probe->outcome = Outcome::kErrorAnswer;
      ScanHex(p + 4, p + text.size(), &probe->code);
    }
    return;
  } else if (text.compare(0, 16, "sRA DeviceIdent ") == 0) {
    std::string whole = kStx + text;
    probe->ident = SerialAnswerDecoder().DecodeIdent(whole.c_str(), whole.size());
    if (!probe->ident.empty()) {
      probe->outcome = Outcome::kAnswered;
      return;
    }
  }
  probe->outcome = Outcome::kNotUnderstood;
  probe->detail = std::to_string(bytes.size()) + " bytes that are no identification";
}

// Each byte as the character of the same number, so that any bytes pass
// through JSON (which must be UTF-8) and come out as they were.
std::string BytesAsText(const std::string& bytes) {
  std::u16string units(bytes.begin(), bytes.end());
  for (char16_t& u : units) u &= 0xFF;
  return Utf16ToUtf8(units);
}

// Identifications read as the connect gives them: UTF-8 where they are.
std::string TextAsText(const std::string& text) { return Utf16ToUtf8(Utf8ToUtf16(text)); }

}  // namespace

PortProbe ProbePort(const std::string& name, uint32_t timeout_ms) {
  PortProbe probe;
  SerialOpenError error = SerialOpenError::kNone;
  std::string detail;
  SerialHandle port = OpenSerialPort(name, &error, &detail);
  if (!port) {
    probe.outcome = error == SerialOpenError::kBusy ? Outcome::kInUse : Outcome::kUnavailable;
    probe.detail = WhyNotOpened(error, detail);
    return probe;
  }
  PortCloser closer{port};
  SerialSettings settings;
  if (!ParseSerialSettings(SerialDeviceChannel::kLineSettings, &settings) ||
      !ApplySerialSettings(port, settings)) {
    probe.detail = std::string("it refused the line settings ") + SerialDeviceChannel::kLineSettings;
    return probe;
  }
  PurgeSerialPort(port);
  SetSerialTimeouts(port, SerialTimeouts{0, 0, 0, SerialDeviceChannel::kWritePerByteMs,
                                         SerialDeviceChannel::kWriteConstantMs});
  uint32_t written = 0;
  WriteSerialPort(port, kRequest, sizeof kRequest - 1, &written);
  probe.sent.assign(kRequest, written);
  if (written < sizeof kRequest - 1) {
    probe.detail = "the request could not be written";
    return probe;
  }
  ReadAnswer(port, timeout_ms, &probe);
  Classify(timeout_ms, &probe);
  return probe;
}

const char* PortProbeOutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kAnswered: return "answered";
    case Outcome::kErrorAnswer: return "error answer";
    case Outcome::kNotUnderstood: return "not understood";
    case Outcome::kSilent: return "silent";
    case Outcome::kInUse: return "in use";
    case Outcome::kUnavailable: return "unavailable";
  }
  return "";
}

std::string PortProbeJson(const std::string& port, const PortProbe& probe) {
  nlohmann::ordered_json j;
  j["port"] = TextAsText(port);
  j["outcome"] = PortProbeOutcomeName(probe.outcome);
  j["ident"] = TextAsText(probe.ident);
  j["code"] = probe.code;
  j["detail"] = TextAsText(probe.detail);
  j["sent"] = BytesAsText(probe.sent);
  j["received"] = BytesAsText(probe.received);
  j["ms"] = probe.elapsed_ms;
  return j.dump();
}

std::string SerialPortsJson(const std::vector<SerialPortInfo>& ports) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const SerialPortInfo& port : ports) {
    nlohmann::ordered_json j;
    j["path"] = TextAsText(port.path);
    j["aliases"] = nlohmann::ordered_json::array();
    for (const std::string& alias : port.aliases) j["aliases"].push_back(TextAsText(alias));
    j["description"] = TextAsText(port.description);
    list.push_back(j);
  }
  return list.dump();
}

}  // namespace korvo
