#include "sim/profile.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace korvo::sim {
namespace {

std::string Trim(const std::string& s) {
  size_t from = s.find_first_not_of(" \t\r");
  if (from == std::string::npos) return std::string();
  return s.substr(from, s.find_last_not_of(" \t\r") - from + 1);
}

// A decimal number within [low, high].
bool Number(const std::string& text, long low, long high, long& out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < low || v > high) return false;
  out = v;
  return true;
}

// "N", "COMMAND" or "COMMAND N".
bool ParseTrigger(const std::string& text, Trigger& out) {
  std::istringstream in(text);
  std::string first, second, rest;
  in >> first >> second >> rest;
  if (first.empty() || !rest.empty()) return false;
  out = Trigger();
  if (Number(first, 1, 1L << 30, out.nth)) return second.empty();
  out.command = first;
  out.nth = 1;
  return second.empty() || Number(second, 1, 1L << 30, out.nth);
}

bool Flag(const std::string& text, bool& out) {
  if (text != "true" && text != "false") return false;
  out = text == "true";
  return true;
}

}  // namespace

bool ApplySetting(const std::string& line, Profile& p, std::string& error) {
  size_t eq = line.find('=');
  if (eq == std::string::npos) {
    error = "expected \"key = value\"";
    return false;
  }
  std::string key = Trim(line.substr(0, eq)), value = Trim(line.substr(eq + 1));
  std::string word = key.substr(0, key.find(' '));
  std::string arg = key.size() > word.size() ? Trim(key.substr(word.size())) : std::string();
  long n = 0;
  bool ok = true;
  const long kMax = 1L << 30;
  if (!arg.empty() && word != "password" && word != "variable" && word != "method") {
    ok = false;
  } else if (word == "ident") {
    p.ident = value;
  } else if (word == "application") {
    ok = Flag(value, p.application);
  } else if (word == "access-level") {
    ok = Number(value, 0, 255, n) && ((p.access_level = int(n)), true);
  } else if (word == "password") {
    long level = 0;
    ok = Number(arg, 0, 255, level) && ((p.passwords[int(level)] = value), true);
  } else if (word == "variable" || word == "method") {
    ok = !arg.empty() && arg.find(' ') == std::string::npos;
    if (ok) (word == "variable" ? p.variables : p.methods)[arg] = value;
  } else if (word == "reboot-ms") {
    ok = Number(value, 0, 600000, n) && ((p.reboot_ms = int(n)), true);
  } else if (word == "max-telegram") {
    ok = Number(value, 16, 1 << 20, n) && ((p.max_telegram = size_t(n)), true);
  } else if (word == "max-device-bytes") {
    ok = Number(value, 0, kMax, n) && ((p.max_device_bytes = size_t(n)), true);
  } else if (word == "max-devices") {
    ok = Number(value, 1, 255, n) && ((p.max_devices = int(n)), true);
  } else if (word == "max-log-bytes") {
    ok = Number(value, 0, kMax, n) && ((p.max_log_bytes = size_t(n)), true);
  } else if (word == "silent-from") {
    ok = ParseTrigger(value, p.faults.silent_from);
  } else if (word == "hang-up-at") {
    ok = ParseTrigger(value, p.faults.hang_up_at);
  } else if (word == "storing-step") {
    ok = Number(value, 1, 100, n) && ((p.faults.storing_step = int(n)), true);
  } else if (word == "fail") {
    // "CODE at TRIGGER"
    size_t at = value.find(" at ");
    std::string code = value.substr(0, at);
    ok = at != std::string::npos && !code.empty() &&
         code.find_first_not_of("0123456789ABCDEF") == std::string::npos &&
         ParseTrigger(value.substr(at + 4), p.faults.fail);
    p.faults.fail_code = code;
  } else {
    error = "unknown key \"" + key + "\"";
    return false;
  }
  if (!ok) error = "bad value for \"" + key + "\": \"" + value + "\"";
  return ok;
}

bool LoadProfile(const std::string& path, Profile& profile, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = path + ": cannot be read";
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    std::string text = Trim(line);
    if (text.empty() || text[0] == '#') continue;
    if (!ApplySetting(text, profile, error)) {
      error = path + ":" + std::to_string(number) + ": " + error;
      return false;
    }
  }
  return true;
}

}  // namespace korvo::sim
