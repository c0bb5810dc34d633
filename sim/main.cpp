// korvo-sim: a simulated device on a serial line. For now it plays a device
// that answers identification telegrams and takes a boot-loader download.
//
//   korvo-sim [--line PATH] [--image FILE] [--baud N] [--ident TEXT]
//             [--var NAME=VALUE] [--method NAME=RESULT]
//             [--never-boot] [--drop-frame N] [--corrupt-frame N]
//             [--stop-at-frame N] [--exit-after-download]
//
// --var and --method give the answer text after the name ("sRA NAME VALUE",
// "sAN NAME RESULT"); --ident TEXT is --var DeviceIdent with TEXT counted.
// Without --line it creates a pseudo-terminal and prints the path the host
// opens on the first line of standard output.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <chrono>
#include <thread>

#include "sim/boot_device.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

int Usage() {
  std::fprintf(stderr,
               "usage: korvo-sim [--line PATH] [--image FILE] [--baud N] [--ident TEXT]\n"
               "                 [--var NAME=VALUE] [--method NAME=RESULT]\n"
               "                 [--never-boot] [--drop-frame N] [--corrupt-frame N]\n"
               "                 [--stop-at-frame N] [--exit-after-download]\n");
  return 2;
}

// "NAME=TEXT" into the table; false without '='.
bool AddEntry(const std::string& entry, std::map<std::string, std::string>* table) {
  size_t eq = entry.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  (*table)[entry.substr(0, eq)] = entry.substr(eq + 1);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  korvo::sim::BootDeviceOptions options;
  std::string line_path;
  bool exit_after_download = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool has_value = i + 1 < argc;
    if (arg == "--never-boot") {
      options.never_boot = true;
    } else if (arg == "--exit-after-download") {
      exit_after_download = true;
    } else if (!has_value) {
      return Usage();
    } else if (arg == "--line") {
      line_path = argv[++i];
    } else if (arg == "--image") {
      options.image_file = argv[++i];
    } else if (arg == "--baud") {
      options.line_baud = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (arg == "--ident") {
      options.variables["DeviceIdent"] = korvo::sim::FlexText(argv[++i]);
    } else if (arg == "--var") {
      if (!AddEntry(argv[++i], &options.variables)) return Usage();
    } else if (arg == "--method") {
      if (!AddEntry(argv[++i], &options.methods)) return Usage();
    } else if (arg == "--drop-frame") {
      options.drop_data_frame = std::atoi(argv[++i]);
    } else if (arg == "--corrupt-frame") {
      options.corrupt_data_frame = std::atoi(argv[++i]);
    } else if (arg == "--stop-at-frame") {
      options.stop_at_data_frame = std::atoi(argv[++i]);
    } else {
      return Usage();
    }
  }
  auto line = line_path.empty() ? korvo::sim::OpenPseudoTerminal()
                                : korvo::sim::OpenTerminal(line_path);
  if (!line) {
    std::fprintf(stderr, "korvo-sim: cannot open the line\n");
    return 1;
  }
  if (line_path.empty()) std::printf("%s\n", line->peer_path().c_str());
  std::fflush(stdout);

  korvo::sim::BootDevice device(*line, options);
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  device.Start();
  while (!g_stop && !(exit_after_download && device.image_verified()))
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  device.Stop();
  return 0;
}
