#include "download/regex.h"

#include <cstring>
#include <unordered_map>
#include <utility>

namespace korvo {

namespace {

bool IsRepetition(uint8_t c) { return c == '+' || c == '*' || c == '?'; }
bool IsLower(uint8_t c) { return c >= 'a' && c <= 'z'; }
bool IsUpper(uint8_t c) { return c >= 'A' && c <= 'Z'; }
bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }
bool IsAlnum(uint8_t c) { return IsLower(c) || IsUpper(c) || IsDigit(c); }

void AddEmpty(NfaState* from, NfaState* to) {
  from->AddTransition(std::make_unique<EmptyTransition>(to));
}

void Join(Fragment& result, const Fragment& atom) {
  if (result.start == nullptr && result.end == nullptr) {
    result = atom;
    return;
  }
  AddEmpty(result.end, atom.start);
  result.end = atom.end;
}

// Joins an atom that carries a star: the atom's end is where both the skip
// and the loop meet.
void JoinStar(Fragment& result, const Fragment& atom) {
  if (result.start == nullptr && result.end == nullptr) {
    result = Fragment{atom.end, atom.end};
    return;
  }
  AddEmpty(result.end, atom.end);
  result.end = atom.end;
}

}  // namespace

const char* RegexStatusText(int status) {
  switch (status) {
    case kRegexCompiled:
      return "compiled";
    case kRegexBadRange:
      return "class range whose ends are not both lowercase letters, both uppercase letters "
             "or both digits";
    case kRegexUnbalanced:
      return "unbalanced group or class";
    case kRegexRepeatedRepetition:
      return "repetition operator right after a repetition operator";
    case kRegexBadStart:
      return "expression begins with '+', '*', '?', ')', '|' or ']'";
    case kRegexNoAutomaton:
      return "pattern produces no automaton (empty, or too large)";
    default:
      return "not compiled";
  }
}

// One invocation of the recursive-descent parser, kept on an explicit stack
// so that deep nesting cannot overflow the call stack.
struct Regex::ParseFrame {
  enum Phase { kStart, kLoop, kAfterGroup, kAfterAlternative };
  explicit ParseFrame(bool is_top) : top(is_top) {}
  bool top;
  Phase phase = kStart;
  Fragment result;
  Fragment atom;
  bool atom_is_group = false;
  uint8_t c = 0;
  bool escaped = false;
};

// Finds deterministic states by member set; sum, XOR and size form the key.
struct Regex::DfaIndex {
  static uint64_t Key(const StateSet& s) {
    return (s.sum() * 0x9E3779B97F4A7C15ull) ^ (s.xor_value() << 1) ^
           (static_cast<uint64_t>(s.size()) << 40);
  }
  DfaState* Find(const StateSet& s) const {
    auto range = map.equal_range(Key(s));
    for (auto it = range.first; it != range.second; ++it)
      if (it->second->members().Equals(s)) return it->second;
    return nullptr;
  }
  void Insert(DfaState* d) { map.emplace(Key(d->members()), d); }

  std::unordered_multimap<uint64_t, DfaState*> map;
};

Regex::Regex(const char* pattern, const RegexLimits& limits)
    : pattern_(pattern != nullptr ? pattern : ""), limits_(limits) {
  length_ = std::strlen(pattern_);
  Fragment f = parse();
  if (too_large_) {
    if (status_ == kRegexCompiling) status_ = kRegexNoAutomaton;
    Discard();
  } else if (f.complete() && status_ == kRegexCompiling) {
    if (BuildAutomaton(f.start)) {
      status_ = kRegexCompiled;
    } else {
      status_ = kRegexNoAutomaton;
      Discard();
    }
  } else if (status_ == kRegexCompiling) {
    status_ = kRegexNoAutomaton;
  }
  pattern_ = nullptr;  // the caller's text need not outlive construction
}

Regex::~Regex() = default;

void Regex::Discard() {
  dfa_states_ = StateStack();
  states_.clear();
  states_.shrink_to_fit();
}

bool Regex::match(const char* bytes, size_t length) const {
  if (status_ != kRegexCompiled) return false;
  const DfaState* s = dfa_states_.front();
  for (size_t i = 0; i < length; ++i) {
    s = s->next(static_cast<uint8_t>(bytes[i]));
    if (s == nullptr) return false;
  }
  return s->accepting;
}

uint8_t Regex::next() {
  if (cursor_ >= length_) return 0;
  return static_cast<uint8_t>(pattern_[cursor_++]);
}

uint8_t Regex::peek() const {
  if (cursor_ >= length_) return 0;
  return static_cast<uint8_t>(pattern_[cursor_]);
}

NfaState* Regex::NewNfaState() {
  states_.push_back(std::make_unique<NfaState>());
  if (states_.size() > limits_.nfa_states) too_large_ = true;
  return states_.back().get();
}

DfaState* Regex::NewDfaState(StateSet members, bool accepting) {
  construction_size_ += members.size();
  auto d = std::make_unique<DfaState>(std::move(members));
  d->accepting = accepting;
  DfaState* raw = d.get();
  states_.push_back(std::move(d));
  return raw;
}

Fragment Regex::NewFragment() {
  Fragment f;
  f.start = NewNfaState();
  f.end = NewNfaState();
  return f;
}

Fragment Regex::parse() {
  std::vector<ParseFrame> frames;
  frames.emplace_back(true);
  Fragment returned;  // what the last finished frame gave back
  while (true) {
    if (too_large_) return Fragment();
    ParseFrame& f = frames.back();
    bool go_on = true;
    switch (f.phase) {
      case ParseFrame::kStart: {
        const uint8_t p = peek();
        if (IsRepetition(p) || p == ')' || p == '|' || p == ']') {
          status_ = kRegexBadStart;
          f.result = Fragment();
          go_on = false;
        } else {
          f.phase = ParseFrame::kLoop;
        }
        break;
      }
      case ParseFrame::kAfterGroup:
        f.phase = ParseFrame::kLoop;
        f.atom = returned;
        f.atom_is_group = true;
        go_on = LoopGoesOn(f);
        break;
      case ParseFrame::kAfterAlternative:
        f.phase = ParseFrame::kLoop;
        if (returned.complete() && f.result.complete()) {
          AddEmpty(f.result.start, returned.start);
          AddEmpty(returned.end, f.result.end);
        }
        f.c = 0;
        go_on = LoopGoesOn(f);
        break;
      case ParseFrame::kLoop: {
        f.escaped = false;
        f.c = next();
        if (f.c == '(') {
          f.phase = ParseFrame::kAfterGroup;
          frames.emplace_back(false);  // invalidates f
          if (frames.size() + states_.size() > limits_.nfa_states) too_large_ = true;
          continue;
        }
        if (f.c == '|') {
          if (f.top && f.result.end != nullptr) f.result.end->accepting = true;
          f.phase = ParseFrame::kAfterAlternative;
          const bool top = f.top;
          frames.emplace_back(top);  // invalidates f
          if (frames.size() + states_.size() > limits_.nfa_states) too_large_ = true;
          continue;
        }
        ActOn(f);
        go_on = LoopGoesOn(f);
        break;
      }
    }
    if (go_on) continue;
    returned = frames.back().result;
    frames.pop_back();
    if (frames.empty()) return returned;
  }
}

// Acts on the byte just read, except "(" and "|", which need a nested parse.
void Regex::ActOn(ParseFrame& f) {
  bool nul = false;
  switch (f.c) {
    case 0:
      if (!f.top) {
        status_ = kRegexUnbalanced;
      } else if (f.result.end != nullptr) {
        f.result.end->accepting = true;
      }
      break;
    case ')':
      if (f.top) status_ = kRegexUnbalanced;
      f.c = 0;
      break;
    case '*':
    case '+':
    case '?':
      if (!f.atom.complete()) {
        f.c = 0;
        break;
      }
      if (f.c != '+' && f.atom_is_group) {
        // A group may end (or begin) at the loop point of an inner
        // repetition; an edge that skips the group must not lead into that
        // loop, or '(1a*)*' would match 'aaa'. Fresh boundary states keep
        // the skip outside.
        Fragment inner = f.atom;
        f.atom = NewFragment();
        AddEmpty(f.atom.start, inner.start);
        AddEmpty(inner.end, f.atom.end);
        f.atom_is_group = false;
      }
      if (f.c == '?') {
        AddEmpty(f.atom.start, f.atom.end);
      } else {
        AddEmpty(f.atom.end, f.atom.start);
      }
      if (f.c == '*') {
        JoinStar(f.result, f.atom);
      } else {
        Join(f.result, f.atom);
      }
      if (IsRepetition(peek())) {
        status_ = kRegexRepeatedRepetition;
        f.c = 0;
      }
      break;
    case '.': {
      f.atom_is_group = false;
      f.atom = NewFragment();
      f.atom.start->AddTransition(std::make_unique<ByteSetTransition>(f.atom.end, ByteSet::All()));
      RegexAlphabet() = ByteSet::All();
      break;
    }
    case '[':
      f.atom_is_group = false;
      f.atom = parseClass();
      break;
    default: {
      if (f.c == '\\') {
        f.c = next();
        // An escape that swallows the end of the pattern must not close a
        // group: "(a" followed by a lone backslash is as unbalanced as "(a".
        if (f.c == 0 && !f.top) status_ = kRegexUnbalanced;
        if (f.c == '0') {
          nul = true;
          f.c = '\\';
        }
        f.escaped = IsRepetition(f.c);
      }
      const uint8_t literal = nul ? 0 : f.c;
      f.atom_is_group = false;
      f.atom = NewFragment();
      f.atom.start->AddTransition(std::make_unique<ByteTransition>(f.atom.end, literal));
      RegexAlphabet().Add(literal);
      break;
    }
  }
}

// Decides after each byte whether the frame reads on; false ends it.
bool Regex::LoopGoesOn(ParseFrame& f) {
  if (!f.atom.complete() || f.c == 0) return false;
  if (IsRepetition(peek())) return true;  // the operator applies to the atom
  if (IsRepetition(f.c) && !f.escaped) return true;  // joined already
  Join(f.result, f.atom);
  return true;
}

Fragment Regex::parseClass() {
  Fragment f = NewFragment();
  auto owned = std::make_unique<ByteSetTransition>(f.end);
  ByteSet& set = owned->set();
  f.start->AddTransition(std::move(owned));
  uint8_t prev = '-';
  bool negate = false;
  bool range = false;
  while (true) {
    bool nul = false;
    uint8_t c = next();
    if (c == '^') {
      negate = true;
    } else if (c == ']') {
      break;
    } else if (c == '-') {
      if (IsAlnum(prev)) {
        range = true;
      } else {
        set.Add('-');
        prev = '-';
      }
    } else {
      if (c == '\\') {
        c = next();
        if (c == '0') {
          nul = true;
          c = '\\';
        }
      }
      if (range) {
        if ((IsLower(prev) && IsLower(c)) || (IsUpper(prev) && IsUpper(c)) ||
            (IsDigit(prev) && IsDigit(c))) {
          for (int b = prev; b <= c; ++b) set.Add(static_cast<uint8_t>(b));
        } else {
          status_ = kRegexBadRange;
        }
        range = false;
        prev = '-';
      } else {
        set.Add(nul ? 0 : c);
        prev = c;
      }
    }
    if (c == ']') break;  // also an escaped one, after it was added
    if (c == 0) {
      status_ = kRegexUnbalanced;
      break;
    }
  }
  if (negate) set.Complement();
  RegexAlphabet().Unite(set);
  return f;
}

void Regex::Closure(NfaState* s, StateSet& into, uint64_t stamp, bool* accepting) {
  if (s->mark == stamp) return;  // already collected, with its closure
  s->mark = stamp;
  closure_stack_.clear();
  closure_stack_.push_back(s);
  while (!closure_stack_.empty()) {
    NfaState* x = closure_stack_.back();
    closure_stack_.pop_back();
    into.AddNew(x);
    ++work_;
    if (x->accepting) *accepting = true;
    for (const auto& e : x->empty_transitions()) {
      if (e->target->mark == stamp) continue;
      e->target->mark = stamp;
      closure_stack_.push_back(e->target);
    }
  }
}

bool Regex::OverBudget() {
  return work_ > limits_.construction_work || construction_size_ > limits_.construction_size ||
         dfa_states_.size() > limits_.dfa_states;
}

bool Regex::BuildAutomaton(NfaState* start) {
  DfaIndex index;
  StateSet t0;
  bool accepting = false;
  Closure(start, t0, NextMarkStamp(), &accepting);
  DfaState* d0 = NewDfaState(std::move(t0), accepting);
  index.Insert(d0);
  StateStack work;
  work.push(d0);
  dfa_states_.push(d0);
  while (!work.empty()) {
    DfaState* d = work.pop();
    // Bytes no member transition accepts lead nowhere; skip them early.
    ByteSet possible;
    d->members().ForEachTransition([&possible](const Transition& t) {
      if (t.kind() == Transition::kByte) {
        possible.Add(static_cast<const ByteTransition&>(t).byte());
      } else {
        possible.Unite(static_cast<const ByteSetTransition&>(t).set());
      }
    });
    ByteSet remaining = RegexAlphabet();
    remaining.Intersect(possible);
    for (int c = 0; c < ByteSet::kTotalBits; ++c) {
      if (!remaining.Contains(static_cast<uint8_t>(c))) continue;
      DfaState* created = nullptr;
      if (!step(d, static_cast<uint8_t>(c), remaining, index, &created)) return false;
      if (created != nullptr) {
        work.push(created);
        dfa_states_.push(created);
      }
      if (OverBudget()) {
        too_large_ = true;
        return false;
      }
    }
  }
  return true;
}

bool Regex::step(DfaState* d, uint8_t c, ByteSet& remaining, DfaIndex& index,
                 DfaState** created) {
  // Most steps reach a state that exists: their set is built in reused room.
  StateSet& t = step_set_;
  t.Clear();
  bool found = false;
  bool accepting = false;
  bool single = false;
  ByteSet a = ByteSet::All();
  ByteSet b;
  const uint64_t stamp = NextMarkStamp();
  d->members().ForEachTransition([&](const Transition& tr) {
    ++work_;
    if (tr.matches(c)) {
      found = true;
      Closure(tr.target, t, stamp, &accepting);
      if (single) return;
      if (tr.kind() == Transition::kByte) {
        single = true;
      } else {
        a.Intersect(static_cast<const ByteSetTransition&>(tr).set());
      }
    } else if (!single) {
      if (tr.kind() == Transition::kByteSet) {
        a.Subtract(static_cast<const ByteSetTransition&>(tr).set());
      } else {
        b.Add(static_cast<const ByteTransition&>(tr).byte());
      }
    }
  });
  if (!found) return true;

  DfaState* target = index.Find(t);
  if (target == nullptr) {
    if (dfa_states_.size() >= limits_.dfa_states) {
      too_large_ = true;
      return false;
    }
    target = NewDfaState(std::move(t), accepting);
    t = StateSet();
    index.Insert(target);
    *created = target;
  }
  ++construction_size_;
  if (single) {
    d->AddTransition(std::make_unique<ByteTransition>(target, c));
  } else {
    // a: the bytes that behave exactly like c in d; handle them once.
    a.Subtract(b);
    remaining.Subtract(a);
    d->AddTransition(std::make_unique<ByteSetTransition>(target, a));
  }
  return true;
}

}  // namespace korvo
