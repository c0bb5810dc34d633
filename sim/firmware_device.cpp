#include "sim/firmware_device.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "bootloader/brek_frame.h"

namespace korvo::sim {
namespace {

using Clock = std::chrono::steady_clock;

std::string Hex(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "%X", v);
  return text;
}

std::string Hex8(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", v);
  return text;
}

uint32_t Crc(const std::string& bytes) {
  return brek::Crc32(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  return (c | 0x20) - 'a' + 10;
}

// Reads the parameter text: " %X" numbers and " %X " counted byte strings.
class Params {
 public:
  explicit Params(const std::string& text) : text_(text) {}
  bool Number(uint32_t& out) {
    if (at_ >= text_.size() || text_[at_] != ' ') return false;
    size_t start = ++at_;
    uint64_t v = 0;
    while (at_ < text_.size() && std::isxdigit(static_cast<unsigned char>(text_[at_])) &&
           at_ - start < 8)
      v = v * 16 + uint64_t(HexDigit(text_[at_++]));
    out = uint32_t(v);
    return at_ > start && (at_ == text_.size() || text_[at_] == ' ');
  }
  bool Counted(std::string& out) {
    uint32_t length = 0;
    if (!Number(length) || at_ >= text_.size() || text_.size() - at_ - 1 < length) return false;
    out = text_.substr(at_ + 1, length);
    at_ += 1 + length;
    return true;
  }
  bool AtEnd() const { return at_ == text_.size(); }

 private:
  const std::string& text_;
  size_t at_ = 0;
};

std::string Base64Decode(const std::string& text) {
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  for (char ch : text) {
    int v;
    if (ch >= 'A' && ch <= 'Z') v = ch - 'A';
    else if (ch >= 'a' && ch <= 'z') v = ch - 'a' + 26;
    else if (ch >= '0' && ch <= '9') v = ch - '0' + 52;
    else if (ch == '+') v = 62;
    else if (ch == '/') v = 63;
    else continue;  // line breaks and padding
    bits = bits << 6 | uint32_t(v);
    if (++count == 4) {
      out.push_back(char(bits >> 16));
      out.push_back(char(bits >> 8));
      out.push_back(char(bits));
      bits = 0;
      count = 0;
    }
  }
  if (count == 3) {
    out.push_back(char(bits >> 10));
    out.push_back(char(bits >> 2));
  } else if (count == 2) {
    out.push_back(char(bits >> 4));
  }
  return out;
}

// Base64 text, as the library sends encoded parts: nothing but the
// alphabet, padding and line breaks. A raw block stream holds byte 1.
bool LooksLikeBase64(const std::string& text) {
  for (char ch : text) {
    const bool alphabet = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') ||
                          (ch >= '0' && ch <= '9') || ch == '+' || ch == '/' || ch == '=';
    if (!alphabet && ch != '\r' && ch != '\n') return false;
  }
  return !text.empty();
}

uint32_t U32(const std::string& s, size_t at) {
  return uint32_t(uint8_t(s[at])) << 24 | uint32_t(uint8_t(s[at + 1])) << 16 |
         uint32_t(uint8_t(s[at + 2])) << 8 | uint8_t(s[at + 3]);
}

// The data bytes of a block stream; each check byte makes the sum of the
// block's length, address and data bytes so far zero.
std::string BrekImage(const std::string& s, std::string& note) {
  std::string image;
  size_t pos = 0, blocks = 0;
  while (pos + 9 <= s.size() && s[pos] == 0x01) {
    uint32_t length = U32(s, pos + 1), address = U32(s, pos + 5);
    if (length == 0 && address == 0x4252454B) {  // "BREK" closes the stream
      note = std::to_string(blocks) + " blocks, check bytes right";
      if (pos + 10 != s.size()) note = "bytes after the closing block";
      return image;
    }
    uint8_t sum = 0;
    for (size_t i = pos + 1; i < pos + 9; ++i) sum = uint8_t(sum + uint8_t(s[i]));
    size_t at = pos + 9;
    for (uint32_t done = 0; done < length;) {
      uint32_t piece = std::min<uint32_t>(1024, length - done);
      if (s.size() - at < piece + 1) {
        note = "block at " + Hex8(address) + " cut short";
        return image;
      }
      for (uint32_t i = 0; i < piece; ++i) sum = uint8_t(sum + uint8_t(s[at + i]));
      image.append(s, at, piece);
      if (uint8_t(sum + uint8_t(s[at + piece])) != 0) {
        note = "wrong check byte in the block at " + Hex8(address);
        return image;
      }
      at += piece + 1;
      done += piece;
    }
    pos = at;
    ++blocks;
  }
  note = "no closing block";
  return image;
}

}  // namespace

std::string DecodeImage(const std::string& type, const std::string& payload, std::string& note) {
  note.clear();
  if (type == "BREK" || type == "BREKBIN") return BrekImage(payload, note);
  if (type == "FILE") {
    if (payload.size() < 4) {
      note = "shorter than its CRC-32";
      return std::string();
    }
    std::string file = payload.substr(4);
    note = Crc(file) == U32(payload, 0) ? "CRC-32 right" : "CRC-32 wrong";
    return file;
  }
  return payload;
}

FirmwareDevice::FirmwareDevice(Profile profile)
    : profile_(std::move(profile)), level_(profile_.access_level),
      application_(profile_.application) {}

std::string FirmwareDevice::Fail(int code) { return "sFA " + Hex(uint32_t(code)); }

DeviceReply FirmwareDevice::Oversized(size_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++telegrams_;
  errors_.push_back("telegram " + std::to_string(telegrams_) + " of " + std::to_string(length) +
                    " bytes refused (limit " + std::to_string(profile_.max_telegram) + ")");
  return {Fail(kSimLimit), false};
}

DeviceReply FirmwareDevice::Handle(const std::string& text) {
  bool changed = false;
  DeviceReply reply;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    long number = ++telegrams_;
    const Faults& f = profile_.faults;
    std::string kind = text.substr(0, 4);
    size_t name_end = text.find(' ', 4);
    std::string name = text.size() < 4 ? std::string() : text.substr(4, name_end == std::string::npos ? std::string::npos : name_end - 4);
    std::string params = name_end == std::string::npos ? std::string() : text.substr(name_end);
    long call = ++calls_[name];
    silenced_ = silenced_ || f.silent_from.Hit(number, name, call);  // for good
    if (Clock::now() < deaf_until_ || silenced_) return reply;
    if (f.hang_up_at.Hit(number, name, call) && !hung_up_) {
      hung_up_ = true;  // once: the device itself lives on
      reply.hang_up = true;
      return reply;
    }
    if (f.fail.Hit(number, name, call)) {
      reply.answer = "sFA " + f.fail_code;
    } else if (kind == "sRN ") {
      reply.answer = Answer(name);
    } else if (kind == "sEN ") {
      reply.answer = name == "MStrace" ? "sEA MStrace 0" : Fail(kSimUnknownCommand);
    } else if (kind == "sMN ") {
      reply = Method(name, params, changed);
    } else {
      reply.answer = Fail(kSimUnknownCommand);
    }
  }
  if (changed && on_change_) on_change_();
  return reply;
}

std::string FirmwareDevice::Answer(const std::string& name) {
  auto it = profile_.variables.find(name);
  if (it != profile_.variables.end()) return "sRA " + name + " " + it->second;
  if (name == "DeviceIdent") {
    std::string ident = application_ ? profile_.ident : "No Program";
    return "sRA DeviceIdent " + Hex(uint32_t(ident.size())) + " " + ident;
  }
  return Fail(kSimUnknownCommand);
}

DeviceReply FirmwareDevice::Method(const std::string& name, const std::string& params,
                                   bool& changed) {
  DeviceReply reply;
  auto it = profile_.methods.find(name);
  if (it != profile_.methods.end()) {
    reply.answer = "sAN " + name + " " + it->second;  // the profile's answer wins
  } else if (name == "SetAccessMode") {
    // " LEVEL PASSWORD", sent verbatim
    size_t blank = params.find(' ', 1);
    int level = std::atoi(params.c_str());
    std::string password = blank == std::string::npos ? std::string() : params.substr(blank + 1);
    auto known = profile_.passwords.find(level);
    bool granted = known != profile_.passwords.end() && known->second == password;
    if (granted) level_ = level;
    reply.answer = std::string("sAN SetAccessMode ") + (granted ? "01" : "00");
  } else if (name == "GetAccessMode") {
    reply.answer = "sAN GetAccessMode " + Hex(uint32_t(level_));
  } else if (name == "mSCsoftreset") {
    // A rebooting device does not answer; it comes back with its application.
    deaf_until_ = Clock::now() + std::chrono::milliseconds(profile_.reboot_ms);
    level_ = profile_.access_level;
    session_ = 0;
    if (gets_application_) application_ = true;
    reply.hang_up = true;
    changed = true;
  } else if (name.compare(0, 3, "mFD") == 0) {
    reply.answer = Download(name, params, changed);
  } else {
    reply.answer = Fail(kSimUnknownCommand);
  }
  return reply;
}

std::string FirmwareDevice::Download(const std::string& name, const std::string& params,
                                     bool& changed) {
  Params in(params);
  uint32_t a = 0, b = 0;
  std::string ok = "sAN " + name + " 0";
  if (name == "mFDsrt2ndstgldr") {
    if (!in.Number(a) || !in.AtEnd()) return Fail(kSimBadParameters);
    session_ = ++last_session_;
    return "sAN " + name + " " + Hex(session_);
  }
  if (name == "mFDloginfo") return ok;
  if (!in.Number(a)) return Fail(kSimBadParameters);
  if (a != 0 && a != session_) return Fail(kSimWrongSession);
  if (name == "mFDlogwrite") {
    std::string line;
    if (!in.Counted(line) || !in.AtEnd()) return Fail(kSimBadParameters);
    if (log_bytes_ + line.size() > profile_.max_log_bytes) return Fail(kSimLimit);
    log_bytes_ += line.size();
    log_.push_back(line);
    return ok;
  }
  if (name == "mFDlogerase") {
    log_.clear();
    log_bytes_ = 0;
    return ok;
  }
  if (name == "mFDlogend") return ok;
  if (!in.Number(b)) return Fail(kSimBadParameters);
  if (b > uint32_t(profile_.max_devices)) return Fail(kSimLimit);
  if (name == "mFDfindwnld" || name == "mFDabrtdwnld") {
    bool finish = name == "mFDfindwnld";
    for (auto& [number, device] : devices_) {
      if ((b == 0 || uint32_t(number) == b) && device.state == "receiving")
        device.state = finish ? "finished" : "aborted";
      if (finish && device.state == "finished" && !device.payload.empty() && !application_)
        gets_application_ = true;
    }
    changed = b == 0 || !finish;
    return in.AtEnd() ? ok : Fail(kSimBadParameters);
  }
  if (b == 0) return Fail(kSimBadParameters);
  Device& device = devices_[int(b)];
  if (name == "mFDprgcfgdata") {
    std::string key, value;
    if (!in.Counted(key) || !in.Counted(value) || !in.AtEnd()) return Fail(kSimBadParameters);
    if (device.data_started || device.state != "receiving") device = Device();
    if (device.entries.size() >= 1000) return Fail(kSimLimit);
    device.entries.emplace_back(key, value);
    return ok;
  }
  if (name == "mFDprgdata") {
    uint32_t count = 0;
    std::string bytes;
    if (!in.Number(count) || !in.Counted(bytes) || !in.AtEnd() || bytes.size() != count ||
        count > 1024)
      return Fail(kSimBadParameters);
    if (device.state != "receiving") device = Device();
    if (device.payload.size() + device.pending.size() + count > profile_.max_device_bytes)
      return Fail(kSimLimit);
    device.data_started = true;
    device.pending += bytes;
    return ok;
  }
  if (name == "mFDexedwnld") {
    // Each part arrives encoded on its own; SREC lines come as they are, and
    // so does a first-stage download's block stream (no DATA_TYPE then).
    std::string type;
    for (auto& [key, value] : device.entries) if (key == "DATA_TYPE") type = value;
    bool encoded = type == "BREK" || type == "BREKBIN" || type == "FILE" ||
                   (type.empty() && LooksLikeBase64(device.pending) && device.pending[0] != 'S');
    device.payload += encoded ? Base64Decode(device.pending) : device.pending;
    device.pending.clear();
    device.progress = 0;
    return in.AtEnd() ? ok : Fail(kSimBadParameters);
  }
  if (name == "mFDstadwnld") {
    device.progress = std::min(100, device.progress + profile_.faults.storing_step);
    return "sAN " + name + " " + Hex(uint32_t(device.progress));
  }
  return Fail(kSimUnknownCommand);
}

void FirmwareDevice::ApplicationInstalled() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    application_ = true;
  }
  if (on_change_) on_change_();
}

std::string FirmwareDevice::Summary() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string out = "korvo-sim summary: " + std::to_string(telegrams_) + " telegrams, application " +
                    (application_ ? "yes" : "no") + "\n";
  for (const auto& [number, device] : devices_) {
    std::string type = "?", device_name;
    for (auto& [key, value] : device.entries) {
      if (key == "DATA_TYPE") type = value;
      if (key == "Name") device_name = value;
    }
    // Without application only ADDRESS_RANGE arrives: a block stream shows itself.
    std::string as = type == "?" && !device.payload.empty() && device.payload[0] == 1 ? "BREK" : type;
    std::string note;
    std::string image = DecodeImage(as, device.payload, note);
    char line[512];
    std::snprintf(line, sizeof line,
                  "device %d: %s, type %s, %zu entries, payload %zu bytes CRC-32 %s, image %zu "
                  "bytes CRC-32 %s%s%s\n",
                  number, device.state.c_str(), type.c_str(), device.entries.size(),
                  device.payload.size(), Hex8(Crc(device.payload)).c_str(), image.size(),
                  Hex8(Crc(image)).c_str(), note.empty() ? "" : ", ", note.c_str());
    out += line;
    for (auto& [key, value] : device.entries)
      out += "  entry " + key + " = " + value.substr(0, 120) + "\n";
  }
  out += "log: " + std::to_string(log_.size()) + " lines\n";
  for (const std::string& l : log_) {
    std::string shown = l.substr(0, l.find_last_not_of("\r\n") + 1);
    out += "  " + shown + "\n";
  }
  for (const std::string& e : errors_) out += "error: " + e + "\n";
  return out;
}

}  // namespace korvo::sim
