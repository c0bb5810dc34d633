// Throughput of file compression on the kind of text configuration files
// carry: Base64 of binary firmware, in 76-character lines.
#include <benchmark/benchmark.h>
#include <xercesc/util/Base64.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "config/splay_compressor.h"
#include "platform/system.h"

namespace {

const char kPlain[] = "splay_bench_plain.txt";
const char kPacked[] = "splay_bench_packed.kvz";
const char kUnpacked[] = "splay_bench_unpacked.txt";

size_t g_plain_size = 0;

// 8 MiB of seeded random bytes, Base64-encoded by Xerces (which breaks
// lines every 76 characters), about 11 MB.
bool WriteInput() {
  std::vector<unsigned char> binary(8u << 20);
  std::mt19937 gen(20240601);
  for (auto& b : binary) b = static_cast<unsigned char>(gen());
  XMLSize_t length = 0;
  XMLByte* text = xercesc::Base64::encode(binary.data(), binary.size(), &length,
                                          xercesc::XMLPlatformUtils::fgMemoryManager);
  if (!text) return false;
  korvo::UniqueFile f(korvo::OpenFileUtf8(kPlain, "wb"));
  bool ok = f && std::fwrite(text, 1, length, f.get()) == length;
  xercesc::XMLPlatformUtils::fgMemoryManager->deallocate(text);
  g_plain_size = length;
  return ok;
}

void BM_Compress(benchmark::State& state) {
  korvo::SplayCompressor compressor;
  for (auto _ : state) {
    if (compressor.Compress(kPlain, kPacked) != 0) state.SkipWithError("compress failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_plain_size));
}

// Rated by the plain bytes produced, like compression.
void BM_Decompress(benchmark::State& state) {
  korvo::SplayCompressor compressor;
  if (compressor.Compress(kPlain, kPacked) != 0) state.SkipWithError("compress failed");
  for (auto _ : state) {
    if (compressor.Decompress(kPacked, kUnpacked) != 0) state.SkipWithError("decompress failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_plain_size));
}

BENCHMARK(BM_Compress)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decompress)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  xercesc::XMLPlatformUtils::Initialize();
  int rc = 1;
  if (WriteInput()) {
    benchmark::RunSpecifiedBenchmarks();
    rc = 0;
  } else {
    std::fprintf(stderr, "cannot write %s\n", kPlain);
  }
  for (const char* p : {kPlain, kPacked, kUnpacked}) korvo::RemoveFile(p);
  xercesc::XMLPlatformUtils::Terminate();
  benchmark::Shutdown();
  return rc;
}
