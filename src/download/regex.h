// The pattern engine used for identification values, signatures and
// download constraints. A pattern is compiled at once into a deterministic
// automaton and matched against a whole value.
//
// Syntax: literal bytes; "." any byte; "[...]" a class with ranges a-z,
// A-Z, 0-9 and "^" (anywhere) for negation; "*", "+", "?" after an atom;
// "(...)" groups; "|" alternatives; "\" makes the next byte literal and
// "\0" stands for the byte 0.
//
// Bounds: a pattern whose automata would grow beyond its RegexLimits is
// treated as producing no automaton (status kRegexNoAutomaton) and matches
// nothing, so a pattern read from a file can neither exhaust memory nor
// stall a download.
//
// Thread safety: none (see regex_automaton.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "download/regex_automaton.h"

namespace korvo {

enum RegexStatus : int {
  kRegexCompiled = 0,
  kRegexBadRange = 1,      // class range ends not both lower, both upper or both digits
  kRegexUnbalanced = 2,    // end inside a group or class, or ")" at top level
  kRegexRepeatedRepetition = 3,  // repetition operator right after another
  kRegexBadStart = 4,      // (sub)expression begins with + * ? ) | ]
  kRegexNoAutomaton = 5,   // empty pattern, or an automaton too large
  kRegexCompiling = 6,     // only while compiling
};

// One-line explanation of a status, for people writing patterns.
const char* RegexStatusText(int status);

// How far a construction may grow before the pattern counts as too large.
struct RegexLimits {
  size_t nfa_states = 250000;
  size_t dfa_states = 10000;
  // Member entries of all deterministic states plus their transitions:
  // bounds the memory of the construction.
  size_t construction_size = 4000000;
  // Transitions examined and states visited: bounds its time.
  uint64_t construction_work = 30000000;
};

class Regex final {
 public:
  // Compiles the zero-terminated `pattern` (which need live only during
  // construction); status() tells the outcome. Every pattern from a file
  // is compiled with the default limits; smaller ones let a fuzzer spend
  // its time on more patterns.
  explicit Regex(const char* pattern, const RegexLimits& limits = RegexLimits());
  ~Regex();
  Regex(const Regex&) = delete;
  Regex& operator=(const Regex&) = delete;

  int status() const { return status_; }
  // True when all `length` bytes are consumed and the state reached accepts.
  // Always false unless the status is kRegexCompiled.
  bool match(const char* bytes, size_t length) const;

  size_t nfa_state_count() const { return states_.size() - dfa_states_.size(); }
  size_t dfa_state_count() const { return dfa_states_.size(); }
  const StateStack& dfa_states() const { return dfa_states_; }

 private:
  struct ParseFrame;
  struct DfaIndex;

  uint8_t next();
  uint8_t peek() const;
  Fragment parse();
  Fragment parseClass();
  void ActOn(ParseFrame& frame);
  bool LoopGoesOn(ParseFrame& frame);
  Fragment NewFragment();
  NfaState* NewNfaState();
  DfaState* NewDfaState(StateSet members, bool accepting);
  bool OverBudget();
  bool BuildAutomaton(NfaState* start);
  bool step(DfaState* d, uint8_t c, ByteSet& remaining, DfaIndex& index, DfaState** created);
  void Closure(NfaState* s, StateSet& into, uint64_t stamp, bool* accepting);
  void Discard();

  const char* pattern_;
  const RegexLimits limits_;
  size_t cursor_ = 0;
  size_t length_ = 0;
  int status_ = kRegexCompiling;
  bool too_large_ = false;
  uint64_t work_ = 0;
  size_t construction_size_ = 0;
  std::vector<std::unique_ptr<NfaState>> states_;  // every state, NFA and DFA
  StateStack dfa_states_;                          // creation order; front is the start
  std::vector<NfaState*> closure_stack_;
  StateSet step_set_;
};

}  // namespace korvo
