// Boot-loader download efficiency: a 256 KiB image through the bridge, our
// library and the simulated device, which paces itself to a 115200-baud
// line. Goal: at most 1.15 times the time the raw bytes need on that line.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "config/temp_files.h"
#include "device/brek_bridge.h"
#include "platform/system.h"
#include "sim/boot_device.h"

namespace {

constexpr size_t kImageBytes = 256 * 1024;
constexpr uint32_t kDownloadBaud = 115200;
constexpr double kGoal = 1.15;

}  // namespace

int main() {
  namespace fs = std::filesystem;
  fs::path home = fs::current_path();
  fs::path work = fs::temp_directory_path() / ("korvo-brek-bench-" + std::to_string(getpid()));
  fs::create_directories(work);
  fs::current_path(work);

  std::string image(kImageBytes, '\0');
  std::mt19937 random(7);
  for (size_t i = 0; i < image.size(); i += 2) image[i] = static_cast<char>(random());
  {
    korvo::UniqueFile data(korvo::OpenFileUtf8("image.bin", "wb"));
    std::fwrite(image.data(), 1, image.size(), data.get());
  }

  auto line = korvo::sim::OpenPseudoTerminal();
  korvo::sim::BootDeviceOptions options;
  options.line_baud = 9600;  // the boot line; the download switches it
  korvo::sim::BootDevice device(*line, options);
  device.Start();

  korvo::BrekDownloadRequest request{"image.bin", line->peer_path(),
                                     std::to_string(kDownloadBaud), "BENCH", "0-3FFFF",
                                     KORVO_BOOT_LOADER};
  int result_code = 0;
  auto start = std::chrono::steady_clock::now();
  int code = korvo::RunBrekDownload(request, &result_code, nullptr);
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  device.Stop();
  auto stored = device.image();
  bool intact = std::string(stored.begin(), stored.end()) == image && device.image_verified();

  double raw = kImageBytes * 10.0 / kDownloadBaud;
  double ratio = seconds / raw;
  std::printf("BrekDownload 256 KiB at %u baud: %.2f s, raw bytes %.2f s, ratio %.3f (goal %.2f)%s\n",
              kDownloadBaud, seconds, raw, ratio, kGoal,
              code == 0 && intact ? "" : " DOWNLOAD FAILED");

  fs::current_path(home);
  fs::remove_all(work);
  return code == 0 && intact && ratio <= kGoal ? 0 : 1;
}
