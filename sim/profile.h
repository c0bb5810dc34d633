// What a simulated device is: its identification, access levels, the
// answers its variables and methods give, its limits and its scripted
// faults. Read from a profile file (format in docs/simulator.md) and from
// korvo-sim's command line, which overrides the file line by line.
#pragma once

#include <cstddef>
#include <map>
#include <string>

namespace korvo::sim {

// The nth telegram (counted from 1), or the nth call of a command; off
// while nth is 0.
struct Trigger {
  std::string command;  // "" counts every telegram
  long nth = 0;
  bool Hit(long telegram, const std::string& name, long call) const {
    return nth > 0 && (command.empty() ? telegram >= nth : name == command && call >= nth);
  }
};

struct Faults {
  Trigger silent_from;  // no answer from here on
  Trigger hang_up_at;   // the connection is dropped here, and silence follows
  Trigger fail;         // answered "sFA <fail_code>" from here on
  std::string fail_code = "5";
  int storing_step = 100;  // progress added per download status request
};

struct Profile {
  std::string ident = "KORVO-SIM";
  bool application = true;
  int access_level = 0;                     // before any login
  std::map<int, std::string> passwords;     // level -> password
  std::map<std::string, std::string> variables;  // name -> answer text after the name
  std::map<std::string, std::string> methods;
  int reboot_ms = 300;                      // deaf after a soft reset
  size_t max_telegram = 2048;               // bytes between STX and ETX
  size_t max_device_bytes = size_t(64) << 20;
  int max_devices = 255;
  size_t max_log_bytes = size_t(1) << 20;
  Faults faults;
};

// One "key = value" setting (a profile line without comment). False with
// `error` set when the key is unknown or the value does not fit it.
bool ApplySetting(const std::string& line, Profile& profile, std::string& error);

// A whole profile file; `error` names the line and the reason.
bool LoadProfile(const std::string& path, Profile& profile, std::string& error);

}  // namespace korvo::sim
