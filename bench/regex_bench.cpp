// Compile-and-match time of typical identification patterns, as every
// comparison of a download compiles its pattern anew.
#include <benchmark/benchmark.h>

#include <string>

#include "download/compare.h"
#include "download/regex.h"

namespace {

struct Sample {
  const char* pattern;
  const char* value;
};

const Sample kSamples[] = {
    {"LMS[0-9]+[A-Z]*", "LMS511PRO"},
    {"TIM3[0-9][0-9]-[0-9]+", "TIM361-2134101"},
    {"1\\.[0-9]+", "1.23"},
    {"(LMS|TIM|MRS)[0-9]+(-[0-9A-F]+)?", "MRS1000-1A2B"},
    {"V[0-9]+\\.[0-9]+\\.[0-9]+ *[a-zA-Z_]*", "V2.10.3 release_candidate"},
    {"[^ ]+ [0-9a-f]+", "serial 00a1b2c3d4e5f6"},
};

void BM_CompileAndMatch(benchmark::State& state) {
  const Sample& s = kSamples[state.range(0)];
  const std::string value = s.value;
  for (auto _ : state) benchmark::DoNotOptimize(korvo::RegexMatches(value, s.pattern));
  state.SetLabel(s.pattern);
}
BENCHMARK(BM_CompileAndMatch)->DenseRange(0, 5);

void BM_MatchOnly(benchmark::State& state) {
  const Sample& s = kSamples[state.range(0)];
  const std::string value = s.value;
  const korvo::Regex regex(s.pattern);
  for (auto _ : state) benchmark::DoNotOptimize(regex.match(value.data(), value.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * value.size());
  state.SetLabel(s.pattern);
}
BENCHMARK(BM_MatchOnly)->DenseRange(0, 5);

// A long value through a compiled class loop: the per-byte walk.
void BM_MatchLongValue(benchmark::State& state) {
  const korvo::Regex regex("[a-zA-Z0-9_.]*");
  const std::string value(4096, 'x');
  for (auto _ : state) benchmark::DoNotOptimize(regex.match(value.data(), value.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * value.size());
}
BENCHMARK(BM_MatchLongValue);

// A pattern whose automaton would explode: how long it takes to refuse it.
void BM_RefuseExplodingPattern(benchmark::State& state) {
  std::string pattern = "(a|b)*a";
  for (int i = 0; i < 24; ++i) pattern += "[ab]";
  for (auto _ : state) {
    const korvo::Regex regex(pattern.c_str());
    benchmark::DoNotOptimize(regex.status());
  }
}
BENCHMARK(BM_RefuseExplodingPattern)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
