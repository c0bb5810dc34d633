// The pattern engine against std::regex (whole-value match) on random patterns of the
// syntax both read alike: literals, ".", classes, one repetition per atom, groups.
#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <string>

#include "download/regex.h"

namespace korvo {
namespace {

class PatternMaker {
 public:
  explicit PatternMaker(uint32_t seed) : rng_(seed) {}

  std::string Pattern() { return Sequence(0); }

  std::string Value() {
    std::string v(size_t(Pick(7)), ' ');
    for (char& c : v) c = "abcd019."[Pick(7)];
    return v;
  }

 private:
  // Uniform in 0..n.
  int Pick(int n) { return std::uniform_int_distribution<int>(0, n)(rng_); }

  std::string Sequence(int depth) {
    std::string s;
    for (int atoms = 1 + Pick(3); atoms > 0; --atoms) {
      s += Atom(depth);
      const int repeat = Pick(5);
      if (repeat < 3) s += "*+?"[repeat];
    }
    return s;
  }

  std::string Atom(int depth) {
    const int kind = Pick(9);
    if (kind == 0) return ".";
    if (kind == 1) return "\\.";
    if (kind < 4) return Class();
    if (kind < 6) return depth < 3 ? "(" + Sequence(depth + 1) + ")" : "a";
    return std::string(1, "abcd01"[Pick(5)]);
  }

  std::string Class() {
    std::string s = "[";
    if (Pick(3) == 0) s += '^';
    for (int items = 1 + Pick(2); items > 0; --items) {
      const int item = Pick(3);
      s += item < 3 ? std::string(&"a-c0-5b-d"[3 * item], 3) : std::string(1, "ad9"[Pick(2)]);
    }
    return s + "]";
  }

  std::mt19937 rng_;
};

TEST(RegexDifferentialTest, AgreesWithStdRegex) {
  PatternMaker maker(20070611u);
  int compared = 0, matched = 0;
  for (int p = 0; p < 3000; ++p) {
    const std::string pattern = maker.Pattern();
    Regex ours(pattern.c_str());
    ASSERT_EQ(kRegexCompiled, ours.status()) << pattern;
    const std::regex reference(pattern, std::regex::ECMAScript);
    for (int v = 0; v < 12; ++v) {
      const std::string value = maker.Value();
      const bool expected = std::regex_match(value, reference);
      ASSERT_EQ(expected, ours.match(value.data(), value.size()))
          << "pattern '" << pattern << "' value '" << value << "'";
      ++compared;
      matched += expected;
    }
  }
  // The comparison means little unless both outcomes occur often.
  EXPECT_GT(matched, compared / 20);
  EXPECT_LT(matched, compared - compared / 20);
}

}  // namespace
}  // namespace korvo
