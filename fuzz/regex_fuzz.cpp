// The pattern engine: a pattern, a zero byte, a subject. Compiling is
// bounded in states and work; matching never reads past the subject, and a
// pattern that did not compile matches nothing.
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
  Regex regex(pattern.c_str());
  // The subject in a buffer of its own exact size.
  std::vector<char> bytes(subject.begin(), subject.end());
  bool matched = regex.match(bytes.data(), bytes.size());
  if (regex.status() != kRegexCompiled) Check(!matched, "uncompiled pattern matched");
  Check(regex.dfa_state_count() <= Regex::kMaxDfaStates, "too many states");
  std::string z(subject);
  RegexMatches(z.c_str(), z.size(), pattern.c_str());
  TextToInt(bytes.data(), bytes.size());
  return 0;
}
