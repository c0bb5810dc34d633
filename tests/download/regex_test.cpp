#include "download/regex.h"

#include <gtest/gtest.h>

#include <string>

#include "download/compare.h"

namespace korvo {
namespace {

TEST(RegexTest, MatchesWholeValues) {
  // Plain syntax is compared with std::regex in regex_differential_test.cpp;
  // these rows hold what that comparison leaves out.
  const struct { const char* pattern; std::string value; bool expected; } cases[] = {
      {".", std::string(1, '\0'), true}, {"\\0", std::string(1, '\0'), true}, {"\\0", "0", false},
      {"[z-a]", "z", true},  {"[z-a]", "a", false}, {"[a-]", "a", true},     {"[a-]", "-", false},
      {"[-a]", "-", true},   {"[-a]", "a", true},   {"\\*", "*", true},      {"\\**", "", true},
      {"\\**", "***", true}, {"ab|cd", "ab", true}, {"ab|cd", "cd", true},   {"ab|cd", "ad", false},
      {"a*|b", "ab", true},  {"a*|b", "ba", true},  {"x(a|b)y", "xby", true}, {"x(a|b)y", "xy", false},
      {"a|b|c", "c", true},  {"[a^b]", "c", true},  {"[a^b]", "a", false},  {"[^a]", "\xFF", true},
      {"[a\\]b]", "]b]", true}, {"[a\\]b]", "]", false},  // an escaped "]" still ends the class
      {"\xE9t\xE9", "\xE9t\xE9", true},
      // Skipping a group must not enter its inner loop.
      {"(1a*)*", "aaa", false},  {"(1a*)*", "1aa1a", true},  {"(1a*)*", "", true},
      {"(a*b)?", "aa", false},   {"(a*b)?", "aab", true},    {"x(1a*)?", "xa", false},
      {"(0(1+d?.*)*)", "09d.cb", false},                     {"(0(1+d?.*)*)", "01d.cb1", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.expected, Regex(c.pattern).match(c.value.data(), c.value.size()))
        << "pattern '" << c.pattern << "' value '" << c.value << "'";
}

TEST(RegexTest, Statuses) {
  const struct { const char* pattern; int status; } cases[] = {
      {"[a-Z]", kRegexBadRange},   {"[0-z]", kRegexBadRange},   {"a**", kRegexRepeatedRepetition},
      {"a+?", kRegexRepeatedRepetition}, {"a*+", kRegexRepeatedRepetition}, {"*a", kRegexBadStart},
      {"|a", kRegexBadStart},      {"a|*b", kRegexBadStart},    {"()", kRegexBadStart},
      {"]a", kRegexBadStart},      {"(a", kRegexUnbalanced},    {"a)", kRegexUnbalanced},
      {"[ab", kRegexUnbalanced},   {"(a\\", kRegexUnbalanced},  {"[a\\", kRegexUnbalanced},
      {"", kRegexNoAutomaton},     {"a", kRegexCompiled},
  };
  for (const auto& c : cases) {
    Regex r(c.pattern);
    EXPECT_EQ(c.status, r.status()) << "pattern '" << c.pattern << "'";
    EXPECT_FALSE(r.match("", 0)) << c.pattern;
    EXPECT_EQ(c.status == kRegexCompiled, r.match("a", 1)) << c.pattern;
  }
  EXPECT_EQ(kRegexNoAutomaton, Regex(nullptr).status());
}

// Deterministic states are found again by their set of states.
TEST(RegexTest, StateSetsEqualRegardlessOfOrderAndIdsAreNeverReused) {
  NfaState s1, s2, s3;
  StateSet x, y, empty1, empty2;
  for (NfaState* s : {&s1, &s2, &s1}) x.Add(s);
  for (NfaState* s : {&s2, &s1}) y.Add(s);
  EXPECT_TRUE(x.Equals(y));
  y.Add(&s3);
  EXPECT_FALSE(x.Equals(y));
  EXPECT_FALSE(empty1.Equals(empty2));

  const uint64_t before = NextStateId();
  Regex r("ab");
  EXPECT_GT(NextStateId(), before + r.nfa_state_count() + r.dfa_state_count());
}

TEST(RegexTest, AlikeBytesShareOneSetTransition) {
  Regex r("[a-z]+");
  ASSERT_EQ(kRegexCompiled, r.status());
  for (DfaState* d : r.dfa_states().items()) {
    EXPECT_TRUE(d->byte_transitions().empty());
    EXPECT_LE(d->set_transitions().size(), 1u);
  }
  EXPECT_EQ(2u, r.dfa_state_count());
}

std::string Repeat(const std::string& piece, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += piece;
  return out;
}

// Patterns from a file must neither exhaust memory nor crash.
TEST(RegexTest, LargeAndDeepPatterns) {
  // The k-th byte from the end must be 'a': 2^(k+1) deterministic states.
  const std::string small = "(a|b)*a" + Repeat("[ab]", 8);
  Regex ok(small.c_str());
  ASSERT_EQ(kRegexCompiled, ok.status());
  EXPECT_TRUE(ok.match("bbabbbbbbbb", 11));
  EXPECT_FALSE(ok.match("bbbabbbbbbb", 11));
  // Each limit refuses the pattern once it is below what the pattern needs.
  const struct { size_t RegexLimits::*bound; size_t needed; } limits[] = {
                {&RegexLimits::nfa_states, ok.nfa_state_count()},
                {&RegexLimits::dfa_states, ok.dfa_state_count()}};
  for (const auto& row : limits) {
    RegexLimits tight;
    tight.*row.bound = row.needed;
    EXPECT_EQ(kRegexCompiled, Regex(small.c_str(), tight).status()) << row.needed;
    tight.*row.bound = row.needed - 1;
    EXPECT_EQ(kRegexNoAutomaton, Regex(small.c_str(), tight).status()) << row.needed;
  }
  RegexLimits no_room, no_work;
  no_room.construction_size = 10;
  no_work.construction_work = 10;
  EXPECT_EQ(kRegexNoAutomaton, Regex(small.c_str(), no_room).status());
  EXPECT_EQ(kRegexNoAutomaton, Regex(small.c_str(), no_work).status());
  const std::string huge = "(a|b)*a" + Repeat(".", 24);
  EXPECT_EQ(kRegexNoAutomaton, Regex(huge.c_str()).status());
  EXPECT_FALSE(RegexMatches(Repeat("a", 25), huge));
  // Longer than the deterministic-state bound allows.
  EXPECT_EQ(kRegexNoAutomaton, Regex(Repeat("z", 20000).c_str()).status());

  EXPECT_EQ(kRegexUnbalanced, Regex(Repeat("(", 100000).c_str()).status());
  const std::string nested = Repeat("(", 60000) + "a" + Repeat(")", 60000);
  Regex deep(nested.c_str());
  ASSERT_EQ(kRegexCompiled, deep.status());
  EXPECT_TRUE(deep.match("a", 1));
  EXPECT_FALSE(deep.match("aa", 2));
  const std::string alternatives = Repeat("ab|", 30000) + "c";
  EXPECT_TRUE(RegexMatches("c", alternatives));
  EXPECT_TRUE(RegexMatches("ab", alternatives));
  const std::string literal = Repeat("xy", 2000);
  EXPECT_TRUE(RegexMatches(literal, literal));
}

}  // namespace
}  // namespace korvo
