// Whole configuration build of a project whose S-record file describes an
// image of 8 or 64 MiB. Targets: the peak memory growth of a build at most
// 2 times the image (aim: a few MB whatever the size), and a build at most
// 0.7 times as long as srec_cat takes to turn the same file into binary.
// Both are reported as counters; the input files are written in small
// pieces, so that the peaks are the builds' own.
#include <benchmark/benchmark.h>
#include <xercesc/util/PlatformUtils.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>

#include "config/configuration_builder.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kImageBase = 0x00100000;
constexpr uint32_t kRecordData = 32;
const fs::path kWork = "build_bench_work";

// A /proc/self/status figure in bytes (0 when unknown).
double StatusBytes(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::strtod(line.c_str() + 6, nullptr) * 1024.0;
  }
  return 0;
}

// Restarts the peak resident size at the current one.
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

void AppendHex(std::string& out, uint32_t value, int digits) {
  static const char kDigits[] = "0123456789ABCDEF";
  for (int i = digits - 1; i >= 0; --i) out.push_back(kDigits[(value >> (4 * i)) & 15]);
}

// Firmware-like image as S3 records of 32 bytes, written record by record.
void WriteSrecFile(const fs::path& path, uint32_t image_size) {
  std::ofstream out(path, std::ios::binary);
  std::mt19937 random(7);
  std::string line;
  out << "S00600004844521B\n";  // header "HDR"
  unsigned char data[kRecordData];
  uint32_t filler = 0;
  for (uint32_t offset = 0; offset < image_size; offset += kRecordData) {
    for (unsigned char& b : data) {
      if (filler > 0) {
        b = 0xFF;
        --filler;
      } else {
        b = static_cast<unsigned char>(random() % 64);
        if (random() % 2048 == 0) filler = random() % 512;
      }
    }
    uint32_t address = kImageBase + offset;
    uint8_t count = 4 + kRecordData + 1;
    uint8_t sum = count;
    line = "S3";
    AppendHex(line, count, 2);
    AppendHex(line, address, 8);
    for (int shift = 24; shift >= 0; shift -= 8) sum = uint8_t(sum + (address >> shift));
    for (unsigned char b : data) {
      sum = uint8_t(sum + b);
      AppendHex(line, b, 2);
    }
    AppendHex(line, uint8_t(~sum), 2);
    line.push_back('\n');
    out << line;
  }
  out << "S70500100000EA\n";
}

// The project of an image of `mib` MiB, written once.
std::string PrepareProject(uint32_t mib) {
  const fs::path dir = kWork / std::to_string(mib);
  if (!fs::exists(dir / "project.xml")) {
    fs::create_directories(dir);
    WriteSrecFile(dir / "image.s19", mib << 20);
    std::ofstream(dir / "project.xml")
        << "<download_project>\n"
           "  <FirmwarePackageFilename>image.cfg</FirmwarePackageFilename>\n"
           "  <System2><TavisDevice>true</TavisDevice><Logging>false</Logging>"
           "<NeededDownloaderVersion>2.3</NeededDownloaderVersion><Key>BENCH</Key></System2>\n"
           "  <Device>\n"
           "    <Configuration><Name>Image</Name><DEVICE_TYPE>APP</DEVICE_TYPE></Configuration>\n"
           "    <Conversion><ConversionType>SRECToBrekXML</ConversionType>"
           "<DataFilename>image.s19</DataFilename></Conversion>\n"
           "  </Device>\n"
           "</download_project>\n";
  }
  return (dir / "project.xml").string();
}

// srec_cat's time to turn the file into binary, the best of three runs; 0
// when it is not installed.
double SrecCatSeconds(const fs::path& srec) {
  if (std::system("command -v srec_cat >/dev/null 2>&1") != 0) return 0;
  const std::string command = "srec_cat '" + srec.string() + "' -o '" +
                              (srec.parent_path() / "image.bin").string() + "' -binary";
  double best = 0;
  for (int run = 0; run < 3; ++run) {
    auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) return 0;
    const double seconds = Seconds(std::chrono::steady_clock::now() - start);
    if (run == 0 || seconds < best) best = seconds;
  }
  fs::remove(srec.parent_path() / "image.bin");
  return best;
}

void BM_BuildSrecImage(benchmark::State& state) {
  const uint32_t mib = uint32_t(state.range(0));
  const std::string project = PrepareProject(mib);
  korvo::ConfigurationBuilder builder;
  // The first build's growth is what one `korvo build` needs; later builds
  // in one process reuse what the allocator kept. The benchmark may be run
  // more than once per size: the first run measures.
  static std::map<uint32_t, double> growth_of, srec_cat_of;
  if (!growth_of.count(mib)) {
    ResetPeak();
    const double before = StatusBytes("VmRSS:");
    if (int rc = builder.Build(project); rc != 0) {
      state.SkipWithError(("build failed with " + std::to_string(rc)).c_str());
      return;
    }
    growth_of[mib] = StatusBytes("VmHWM:") - before;
    srec_cat_of[mib] = SrecCatSeconds(fs::path(project).parent_path() / "image.s19");
  }
  auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    int rc = builder.Build(project);
    if (rc != 0) {
      state.SkipWithError(("build failed with " + std::to_string(rc)).c_str());
      break;
    }
  }
  const double per_build =
      Seconds(std::chrono::steady_clock::now() - start) / double(state.iterations());
  const double growth = growth_of[mib], srec_cat = srec_cat_of[mib];
  state.counters["growth_MiB"] = growth / (1 << 20);
  state.counters["growth_x_image"] = growth / double(mib << 20);
  if (srec_cat > 0) state.counters["x_srec_cat"] = per_build / srec_cat;
}
BENCHMARK(BM_BuildSrecImage)->Arg(8)->Arg(64)->Unit(benchmark::kMillisecond)->MinTime(3.0)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  xercesc::XMLPlatformUtils::Initialize();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  fs::remove_all(kWork);
  xercesc::XMLPlatformUtils::Terminate();
  return 0;
}
