// Load time of a configuration holding an 8 MiB payload: decompression,
// parsing and extraction together (goal: 0.5 s or less), and each step on
// its own to show where the time goes.
#include <benchmark/benchmark.h>
#include <xercesc/util/Base64.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "config/config_document.h"
#include "config/splay_compressor.h"
#include "config/temp_files.h"
#include "config/xml_access.h"
#include "platform/system.h"

namespace {

const char kPlain[] = "config_load_bench.xml";
const char kPacked[] = "config_load_bench.cfg";
const char kPayloadOut[] = "config_load_bench.bin";
constexpr size_t kPayloadSize = 8u << 20;

void WriteFile(const std::string& path, const std::string& bytes) {
  korvo::UniqueFile f(korvo::OpenFileUtf8(path, "wb"));
  if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f.get()) != bytes.size()) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::exit(1);
  }
}

// Firmware-like payload: runs of filler between stretches of varied code.
std::string Payload() {
  std::mt19937 random(42);
  std::string data;
  data.reserve(kPayloadSize);
  while (data.size() < kPayloadSize) {
    if (random() % 4 == 0) data.append(random() % 512, '\xFF');
    for (int i = 0, n = int(random() % 2048); i < n; ++i) data.push_back(char(random() % 64));
  }
  data.resize(kPayloadSize);
  return data;
}

std::string Base64Of(const std::string& bytes) {
  XMLSize_t length = 0;
  XMLByte* encoded = xercesc::Base64::encode(reinterpret_cast<const XMLByte*>(bytes.data()),
                                             bytes.size(), &length,
                                             xercesc::XMLPlatformUtils::fgMemoryManager);
  std::string text(reinterpret_cast<char*>(encoded), length);
  xercesc::XMLPlatformUtils::fgMemoryManager->deallocate(encoded);
  return text;
}

// Writes the plain and the compressed configuration once.
void PrepareFiles() {
  static bool done = false;
  if (done) return;
  done = true;
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?>\n"
      "<download_configuration>\n  <Header>\n    <System2>\n"
      "      <TavisDevice>true</TavisDevice>\n    </System2>\n    <Device>\n"
      "      <PROGRAM_MEMORY_SIZE transparent=\"true\">8388608</PROGRAM_MEMORY_SIZE>\n"
      "      <DATA_TYPE transparent=\"true\">FILE</DATA_TYPE>\n"
      "      <Name>bench</Name>\n    </Device>\n  </Header>\n  <Data>\n    <Device>" +
      Base64Of(Payload()) + "</Device>\n  </Data>\n</download_configuration>\n";
  WriteFile(kPlain, xml);
  korvo::SplayCompressor compressor;
  if (compressor.Compress(kPlain, kPacked) != 0) {
    std::fprintf(stderr, "cannot compress the bench configuration\n");
    std::exit(1);
  }
}

void BM_LoadAndExtract(benchmark::State& state) {
  PrepareFiles();
  for (auto _ : state) {
    korvo::ConfigDocument doc;
    if (doc.Load(kPacked) != 0 || doc.ExtractData(0, kPayloadOut) != 0) {
      state.SkipWithError("load or extract failed");
      break;
    }
    doc.Unload();
  }
  korvo::RemoveFile(kPayloadOut);
}
BENCHMARK(BM_LoadAndExtract)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_DecompressOnly(benchmark::State& state) {
  PrepareFiles();
  korvo::SplayCompressor compressor;
  korvo::TempFileGuard out;
  out.Create(korvo::kTempConfig);
  for (auto _ : state) {
    if (compressor.Decompress(kPacked, out.path()) != 0) {
      state.SkipWithError("decompress failed");
      break;
    }
  }
}
BENCHMARK(BM_DecompressOnly)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_ParseOnly(benchmark::State& state) {
  PrepareFiles();
  for (auto _ : state) {
    korvo::ParserHandle parser;
    xercesc::DOMDocument* document = nullptr;
    if (korvo::LoadXmlDocument(kPlain, parser, document) != 0) {
      state.SkipWithError("parse failed");
      break;
    }
  }
}
BENCHMARK(BM_ParseOnly)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_ExtractOnly(benchmark::State& state) {
  PrepareFiles();
  korvo::ConfigDocument doc;
  if (doc.Load(kPacked) != 0) {
    state.SkipWithError("load failed");
    return;
  }
  for (auto _ : state) {
    if (doc.ExtractData(0, kPayloadOut) != 0) {
      state.SkipWithError("extract failed");
      break;
    }
  }
  korvo::RemoveFile(kPayloadOut);
}
BENCHMARK(BM_ExtractOnly)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

int main(int argc, char** argv) {
  xercesc::XMLPlatformUtils::Initialize();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  korvo::RemoveFile(kPlain);
  korvo::RemoveFile(kPacked);
  xercesc::XMLPlatformUtils::Terminate();
  return 0;
}
