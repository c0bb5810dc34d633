// Serial ports from sysfs: a terminal with a device behind it is a port,
// except the placeholders the 8250 driver registers for ports that have no
// hardware (their UART type is 0, "unknown"); virtual terminals, pseudo-
// terminals and consoles have no device link.

#include "platform/serial_port_list.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace korvo {
namespace {

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return names;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  return names;
}

bool Exists(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0;
}

std::string RealPath(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  std::string text = real ? real : "";
  std::free(real);
  return text;
}

std::string FirstLine(const std::string& path) {
  char text[256] = {};
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (f && !std::fgets(text, sizeof text, f)) text[0] = '\0';
  if (f) std::fclose(f);
  std::string line = text;
  return line.substr(0, line.find('\n'));
}

// A USB port's maker and product, as the device tells them: from the first
// folder above the tty's device that has them.
std::string Description(const std::string& device) {
  std::string folder = RealPath(device);
  for (int up = 0; up < 4 && folder.size() > 1; ++up, folder = folder.substr(0, folder.rfind('/'))) {
    std::string product = FirstLine(folder + "/product");
    if (product.empty()) continue;
    std::string maker = FirstLine(folder + "/manufacturer");
    return maker.empty() ? product : maker + " " + product;
  }
  return std::string();
}

bool IsPlaceholder(const std::string& tty) {
  std::FILE* f = std::fopen((tty + "/type").c_str(), "r");
  if (!f) return false;
  int type = -1;
  bool unknown = std::fscanf(f, "%d", &type) == 1 && type == 0;
  std::fclose(f);
  return unknown;
}

// "ttyS10" sorts after "ttyS2": the name without its number, then the number.
bool CountedBefore(const SerialPortInfo& a, const SerialPortInfo& b) {
  auto split = [](const std::string& s) {
    size_t digits = s.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(s[digits - 1]))) --digits;
    unsigned long n = digits < s.size() ? std::strtoul(s.c_str() + digits, nullptr, 10) : 0;
    return std::make_pair(s.substr(0, digits), n);
  };
  return split(a.path) < split(b.path);
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts(const std::string& root) {
  const std::string classes = root + "/sys/class/tty";
  const std::string by_id = root + "/dev/serial/by-id";
  std::multimap<std::string, std::string> aliases;  // real path, link
  for (const std::string& link : Entries(by_id))
    aliases.emplace(RealPath(by_id + "/" + link), by_id + "/" + link);

  std::vector<SerialPortInfo> ports;
  for (const std::string& name : Entries(classes)) {
    std::string tty = classes + "/" + name;
    std::string path = root + "/dev/" + name;
    if (!Exists(tty + "/device") || IsPlaceholder(tty) || !Exists(path)) continue;
    SerialPortInfo port;
    port.path = path;
    port.description = Description(tty + "/device");
    auto range = aliases.equal_range(RealPath(path));
    for (auto it = range.first; it != range.second; ++it) port.aliases.push_back(it->second);
    std::sort(port.aliases.begin(), port.aliases.end());
    ports.push_back(port);
  }
  std::sort(ports.begin(), ports.end(), CountedBefore);
  return ports;
}

}  // namespace korvo
