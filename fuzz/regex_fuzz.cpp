// The pattern engine: a pattern, a zero byte, a subject. Compiling is
// bounded in states and work; matching never reads past the subject, and a
// pattern that did not compile matches nothing. Limits far below those
// patterns from files get keep the fuzzer from spending its time on the
// patterns that blow up (they fail through the same checks, sooner); a
// small automaton matches alike with the defaults.
#include <cstring>
#include <vector>

#include "config/numbers.h"
#include "download/compare.h"
#include "download/regex.h"
#include "fuzz_support.h"

using namespace korvo;
using namespace korvo::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto [pattern, subject] = SplitAt(data, size, '\0');
  RegexLimits limits;
  limits.nfa_states /= 4000;
  limits.dfa_states = 25;
  limits.construction_size /= 4000;
  limits.construction_work /= 4000;
  Regex regex(pattern.c_str(), limits);
  // The subject in a buffer of its own exact size.
  std::vector<char> bytes(subject.begin(), subject.end());
  bool matched = regex.match(bytes.data(), bytes.size());
  if (regex.status() != kRegexCompiled) Check(!matched, "uncompiled pattern matched");
  Check(regex.dfa_state_count() <= limits.dfa_states, "too many states");
  // Compiling again costs as much as the first time: a sample.
  if (regex.status() == kRegexCompiled && regex.dfa_state_count() <= 10 &&
      OneIn(4, data, size)) {
    std::string z(subject);
    Check(RegexMatches(z.c_str(), z.size(), pattern.c_str()) == matched,
          "the default limits match otherwise");
  }
  TextToInt(bytes.data(), bytes.size());
  return 0;
}
