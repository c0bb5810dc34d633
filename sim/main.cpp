// korvo-sim: a simulated device on a pseudo-terminal and on a TCP port of
// the loopback interface. See `korvo-sim --help` and docs/simulator.md.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "sim/boot_device.h"
#include "sim/firmware_device.h"
#include "sim/paced_line.h"
#include "sim/profile.h"

#ifndef KORVO_VERSION
#define KORVO_VERSION "unknown"
#endif

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

const char kUsage[] =
    "usage: korvo-sim [--profile FILE] [--KEY VALUE]... [--tcp PORT | --no-tcp]\n"
    "                 [--no-pty | --line PATH] [--summary FILE]\n"
    "                 [--ident TEXT] [--var NAME=VALUE] [--method NAME=RESULT]\n"
    "                 [--image FILE] [--baud N] [--never-boot] [--drop-frame N]\n"
    "                 [--corrupt-frame N] [--stop-at-frame N] [--exit-after-download]\n"
    "                 [--line-rate N]\n"
    "       korvo-sim --help | --version\n"
    "\n"
    "Plays one device until SIGINT or SIGTERM. On start it prints the pseudo-\n"
    "terminal's path, then \"tcp 127.0.0.1:PORT\" (PORT 0, the default, takes a\n"
    "free port), one per line. Every TCP client is served at once.\n"
    "--KEY VALUE sets any profile key (docs/simulator.md), after the profile file:\n"
    "  --application false, --silent-from 'mFDprgdata 3', --hang-up-at 40,\n"
    "  --fail '7 at mFDprgdata 2', --storing-step 10, --max-device-bytes N ...\n"
    "--summary FILE is rewritten after every finished or aborted download, soft\n"
    "reset and at exit; without it the summary goes to standard output at exit.\n"
    "The boot-loader options serve a download after \"download standard\".\n"
    "--line-rate N carries at most N bytes per second each way on the pseudo-\n"
    "terminal and on every TCP connection (11520 plays a 115200-baud line).\n";

int Usage(const std::string& why) {
  std::fprintf(stderr, "korvo-sim: %s\n%s", why.c_str(), kUsage);
  return 2;
}

// Replaced whole, so a reader never sees half a summary.
void WriteSummary(const std::string& path, const std::string& text) {
  std::string temporary = path + ".tmp";
  std::FILE* out = std::fopen(temporary.c_str(), "w");
  bool ok = out && std::fwrite(text.data(), 1, text.size(), out) == text.size();
  if (out) ok = std::fclose(out) == 0 && ok;
  if (!ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    std::fprintf(stderr, "korvo-sim: cannot write the summary %s\n", path.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  using korvo::sim::ApplySetting;
  korvo::sim::BootDeviceOptions options;
  korvo::sim::Profile profile;
  std::string line_path, summary_path, error;
  bool exit_after_download = false, pty = true, tcp = true;
  long tcp_port = 0;
  unsigned long line_rate = 0;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value = i + 1 < argc ? argv[i + 1] : "";
    bool ok = true;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--version") {
      std::printf("korvo-sim %s\n", KORVO_VERSION);
      return 0;
    } else if (arg == "--never-boot") {
      options.never_boot = true;
      continue;
    } else if (arg == "--exit-after-download") {
      exit_after_download = true;
      continue;
    } else if (arg == "--no-pty") {
      pty = false;
      continue;
    } else if (arg == "--no-tcp") {
      tcp = false;
      continue;
    } else if (i + 1 >= argc || arg.compare(0, 2, "--") != 0) {
      return Usage("unknown or incomplete option " + arg);
    }
    ++i;
    size_t eq = value.find('=');
    if (arg == "--profile") {
      ok = LoadProfile(value, profile, error);
      if (!ok) return Usage(error);
    } else if (arg == "--line") {
      line_path = value;
    } else if (arg == "--tcp") {
      char* end = nullptr;
      tcp_port = std::strtol(value.c_str(), &end, 10);
      ok = *end == '\0' && tcp_port >= 0 && tcp_port <= 65535;
    } else if (arg == "--line-rate") {
      char* end = nullptr;
      line_rate = std::strtoul(value.c_str(), &end, 10);
      ok = !value.empty() && value[0] != '-' && *end == '\0' && line_rate > 0 && line_rate <= 100000000;
    } else if (arg == "--summary") {
      summary_path = value;
    } else if (arg == "--image") {
      options.image_file = value;
    } else if (arg == "--baud") {
      options.line_baud = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
    } else if (arg == "--drop-frame") {
      options.drop_data_frame = std::atoi(value.c_str());
    } else if (arg == "--corrupt-frame") {
      options.corrupt_data_frame = std::atoi(value.c_str());
    } else if (arg == "--stop-at-frame") {
      options.stop_at_data_frame = std::atoi(value.c_str());
    } else if (arg == "--var" || arg == "--method") {
      ok = eq != std::string::npos && eq > 0 &&
           ApplySetting((arg == "--var" ? "variable " : "method ") + value.substr(0, eq) + " = " +
                            value.substr(eq + 1), profile, error);
    } else {
      ok = ApplySetting(arg.substr(2) + " = " + value, profile, error);
    }
    if (!ok) return Usage(arg + " " + value + (error.empty() ? "" : ": " + error));
  }

  korvo::sim::FirmwareDevice firmware(profile);
  if (!summary_path.empty())
    firmware.OnChange([&] { WriteSummary(summary_path, firmware.Summary()); });
  options.firmware = &firmware;

  // Before the ready lines: a caller may stop the simulator as soon as it
  // has read them, and must still get the summary.
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
#ifdef SIGPIPE
  std::signal(SIGPIPE, SIG_IGN);  // a peer that went away is seen by the write
#endif
  std::unique_ptr<korvo::sim::Line> line;
  if (pty || !line_path.empty()) {
    line = line_path.empty() ? korvo::sim::OpenPseudoTerminal() : korvo::sim::OpenTerminal(line_path);
    if (!line) {
      std::fprintf(stderr, "korvo-sim: cannot open the line %s\n", line_path.c_str());
      return 1;
    }
    if (line_path.empty()) std::printf("%s\n", line->peer_path().c_str());
    line = korvo::sim::PaceLine(std::move(line), static_cast<uint32_t>(line_rate));
  }
  std::unique_ptr<korvo::sim::Listener> listener;
  if (tcp) {
    listener = korvo::sim::ListenOnLoopback(static_cast<uint16_t>(tcp_port), error);
    if (!listener) {
      std::fprintf(stderr, "korvo-sim: cannot listen on 127.0.0.1:%ld: %s\n", tcp_port,
                   error.c_str());
      return 1;
    }
    std::printf("tcp 127.0.0.1:%u\n", listener->port());
  }
  std::fflush(stdout);

  std::atomic<bool> booted{false};
  std::unique_ptr<korvo::sim::BootDevice> device;
  if (line) {
    device = std::make_unique<korvo::sim::BootDevice>(*line, options);
    device->Start();
  }
  std::thread server;
  if (listener) {
    // Every connection is served at once, each on a thread of its own, so
    // that a client that connects and stays idle shuts out nobody.
    server = std::thread([&] {
      korvo::sim::BootDeviceOptions connection = options;
      connection.can_hang_up = true;
      struct Peer {
        std::unique_ptr<korvo::sim::Line> line;
        std::unique_ptr<korvo::sim::BootDevice> device;
      };
      std::vector<Peer> peers;
      auto ended = [&](Peer& peer) {
        if (!g_stop && !peer.device->ended()) return false;
        peer.device->Stop();
        if (peer.device->image_verified()) booted = true;
        return true;
      };
      while (!g_stop) {
        std::unique_ptr<korvo::sim::Line> line = listener->Accept(100);
        if (line) {
          Peer peer{korvo::sim::PaceLine(std::move(line), static_cast<uint32_t>(line_rate)), nullptr};
          peer.device = std::make_unique<korvo::sim::BootDevice>(*peer.line, connection);
          peer.device->Start();
          peers.push_back(std::move(peer));
        }
        peers.erase(std::remove_if(peers.begin(), peers.end(), ended), peers.end());
      }
      for (Peer& peer : peers) ended(peer);
    });
  }
  while (!g_stop && !(exit_after_download && (booted || (device && device->image_verified()))))
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  g_stop = 1;
  if (server.joinable()) server.join();
  if (device) device->Stop();
  if (summary_path.empty()) {
    std::fputs(firmware.Summary().c_str(), stdout);
  } else {
    WriteSummary(summary_path, firmware.Summary());
  }
  return 0;
}
