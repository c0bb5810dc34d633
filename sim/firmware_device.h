// The application side of a simulated device: answers the telegrams of
// identification, login and the firmware-download command set, and keeps
// what each device number received (configuration entries, program data,
// log lines) for the summary that tests and people check the download by.
//
// Thread safety: every public member may be called from any thread (a pty
// and a TCP connection may talk to the same device).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sim/profile.h"

namespace korvo::sim {

// Error codes the device answers with ("sFA <code>", hexadecimal).
constexpr int kSimUnknownCommand = 1;
constexpr int kSimBadParameters = 2;
constexpr int kSimLimit = 3;
constexpr int kSimWrongSession = 4;

struct DeviceReply {
  std::string answer;    // telegram text; empty: no answer
  bool hang_up = false;  // drop the connection after answering
};

class FirmwareDevice {
 public:
  explicit FirmwareDevice(Profile profile);

  // One telegram's text (between STX and ETX, unescaped).
  DeviceReply Handle(const std::string& text);
  // A telegram longer than the profile allows: counted, refused.
  DeviceReply Oversized(size_t length);

  // Called (outside the lock) after a download finished or was aborted and
  // after a soft reset, so the summary on disk is current.
  void OnChange(std::function<void()> callback) { on_change_ = std::move(callback); }

  // The boot loader stored a verified image: the device runs it from now on.
  void ApplicationInstalled();

  std::string Summary() const;
  const Profile& profile() const { return profile_; }

 private:
  struct Device {
    std::vector<std::pair<std::string, std::string>> entries;
    std::string pending;   // program data since the last execute
    std::string payload;   // program data executed
    int progress = 100;
    std::string state = "receiving";
    bool data_started = false;
  };

  std::string Answer(const std::string& name);
  DeviceReply Method(const std::string& name, const std::string& params, bool& changed);
  std::string Download(const std::string& name, const std::string& params, bool& changed);
  static std::string Fail(int code);

  Profile profile_;
  std::function<void()> on_change_;

  mutable std::mutex mutex_;
  long telegrams_ = 0;
  std::map<std::string, long> calls_;
  int level_;
  bool application_;
  bool gets_application_ = false;
  bool hung_up_ = false;
  bool silenced_ = false;
  uint32_t session_ = 0;
  uint32_t last_session_ = 0;
  std::chrono::steady_clock::time_point deaf_until_{};
  std::map<int, Device> devices_;
  std::vector<std::string> log_;
  size_t log_bytes_ = 0;
  std::vector<std::string> errors_;
};

// What a device holds, decoded by its DATA_TYPE: a BREK block stream gives
// its blocks' data bytes, a FILE its file after the checked CRC-32; other
// types give the payload itself. `note` says what was checked or wrong.
std::string DecodeImage(const std::string& type, const std::string& payload, std::string& note);

}  // namespace korvo::sim
