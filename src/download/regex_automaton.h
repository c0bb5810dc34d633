// Building blocks of the pattern engine: byte sets, transitions, the states
// of the nondeterministic and deterministic automata, and the small
// containers the subset construction works with.
//
// Ownership: a Regex owns every state it creates; a state owns its
// transitions; a DfaState owns its member set (but not the members).
//
// Thread safety: none. The state-id counter and RegexAlphabet are
// process-wide and unguarded; compile patterns from one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace korvo {

// A set of the 256 byte values, bit b of word w standing for 32*w + b.
class ByteSet {
 public:
  static constexpr int kWordCount = 8;
  static constexpr int kBitsPerWord = 32;
  static constexpr int kTotalBits = kWordCount * kBitsPerWord;

  constexpr ByteSet() : words_{} {}
  static ByteSet All();

  bool Contains(uint8_t b) const { return (words_[b >> 5] >> (b & 31)) & 1u; }
  void Add(uint8_t b) { words_[b >> 5] |= 1u << (b & 31); }
  void Intersect(const ByteSet& other);
  // Intersects with the complement of `other`: removes its members.
  void Subtract(const ByteSet& other);
  void Unite(const ByteSet& other);
  void Complement();
  bool operator==(const ByteSet& other) const;
  bool operator!=(const ByteSet& other) const { return !(*this == other); }

 private:
  uint32_t words_[kWordCount];
};

// Every byte that some transition built so far accepts. Only grows; the
// subset construction tries no byte outside it.
ByteSet& RegexAlphabet();

// Next value of the process-wide state-id counter (first id is 1).
uint64_t NextStateId();

class NfaState;

class Transition {
 public:
  static constexpr int kByte = 0;
  static constexpr int kByteSet = 1;
  static constexpr int kEmpty = 2;

  explicit Transition(NfaState* to) : target(to) {}
  virtual ~Transition() = default;
  Transition(const Transition&) = delete;
  Transition& operator=(const Transition&) = delete;

  virtual bool matches(uint8_t b) const = 0;
  // Makes the transition accept `b`; with mark_alphabet also records the
  // byte in RegexAlphabet.
  virtual void add(uint8_t b, bool mark_alphabet) = 0;
  virtual int kind() const = 0;
  // The accepted bytes as text, for tracing only.
  virtual std::string text() const = 0;

  NfaState* target;
};

class ByteTransition final : public Transition {
 public:
  ByteTransition(NfaState* to, uint8_t b) : Transition(to), byte_(b) {}
  bool matches(uint8_t b) const override { return b == byte_; }
  void add(uint8_t b, bool mark_alphabet) override;
  int kind() const override { return kByte; }
  std::string text() const override { return std::string(1, static_cast<char>(byte_)); }
  uint8_t byte() const { return byte_; }

 private:
  uint8_t byte_;
};

class ByteSetTransition final : public Transition {
 public:
  explicit ByteSetTransition(NfaState* to) : Transition(to) {}
  ByteSetTransition(NfaState* to, const ByteSet& set) : Transition(to), set_(set) {}
  bool matches(uint8_t b) const override { return set_.Contains(b); }
  void add(uint8_t b, bool mark_alphabet) override;
  int kind() const override { return kByteSet; }
  std::string text() const override;  // members 1..255, ascending
  const ByteSet& set() const { return set_; }
  ByteSet& set() { return set_; }

 private:
  ByteSet set_;
};

class EmptyTransition final : public Transition {
 public:
  explicit EmptyTransition(NfaState* to) : Transition(to) {}
  bool matches(uint8_t) const override { return true; }
  void add(uint8_t, bool) override {}
  int kind() const override { return kEmpty; }
  std::string text() const override { return std::string(); }
};

using TransitionList = std::vector<std::unique_ptr<Transition>>;

class NfaState {
 public:
  NfaState() : id(NextStateId()) {}
  virtual ~NfaState() = default;
  NfaState(const NfaState&) = delete;
  NfaState& operator=(const NfaState&) = delete;

  // Appends to the list of the transition's kind.
  void AddTransition(std::unique_ptr<Transition> t);
  const TransitionList& byte_transitions() const { return byte_transitions_; }
  const TransitionList& set_transitions() const { return set_transitions_; }
  const TransitionList& empty_transitions() const { return empty_transitions_; }

  const uint64_t id;
  bool accepting = false;
  // Scratch stamp for set building and comparison (see StateSet).
  uint64_t mark = 0;

 private:
  TransitionList byte_transitions_;
  TransitionList set_transitions_;
  TransitionList empty_transitions_;
};

// Distinct NFA states in insertion order, with the sum and XOR of their ids
// for a quick inequality test.
class StateSet {
 public:
  // Appends `s` unless it is a member already.
  void Add(NfaState* s);
  // Appends `s`, which the caller knows is not a member yet.
  void AddNew(NfaState* s);
  bool Contains(const NfaState* s) const;
  // Same states (in any order); an empty set equals nothing.
  bool Equals(const StateSet& other) const;
  void Clear() {
    members_.clear();
    sum_ = xor_ = 0;
  }

  size_t size() const { return members_.size(); }
  bool empty() const { return members_.empty(); }
  uint64_t sum() const { return sum_; }
  uint64_t xor_value() const { return xor_; }
  const std::vector<NfaState*>& members() const { return members_; }

  // Visits every member's byte transitions in member order, then every
  // member's set transitions in member order.
  template <typename Visit>
  void ForEachTransition(Visit&& visit) const {
    for (NfaState* s : members_)
      for (const auto& t : s->byte_transitions()) visit(*t);
    for (NfaState* s : members_)
      for (const auto& t : s->set_transitions()) visit(*t);
  }

 private:
  std::vector<NfaState*> members_;
  uint64_t sum_ = 0;
  uint64_t xor_ = 0;
};

// Fresh value for NfaState::mark; each use of the marks takes a new one.
uint64_t NextMarkStamp();

class DfaState final : public NfaState {
 public:
  explicit DfaState(StateSet members) : members_(std::move(members)) {}
  const StateSet& members() const { return members_; }
  // Target of the first matching byte transition, else of the first
  // matching set transition, else null.
  DfaState* next(uint8_t b) const;

 private:
  StateSet members_;
};

// Last-in first-out list of deterministic states; also serves as the list
// of all deterministic states in creation order.
class StateStack {
 public:
  void push(DfaState* s) { items_.push_back(s); }
  DfaState* pop() {
    DfaState* s = items_.back();
    items_.pop_back();
    return s;
  }
  bool empty() const { return items_.empty(); }
  size_t size() const { return items_.size(); }
  DfaState* front() const { return items_.empty() ? nullptr : items_.front(); }
  const std::vector<DfaState*>& items() const { return items_; }

 private:
  std::vector<DfaState*> items_;
};

// A piece of automaton under construction; both null means no fragment.
struct Fragment {
  NfaState* start = nullptr;
  NfaState* end = nullptr;
  bool complete() const { return start != nullptr && end != nullptr; }
};

}  // namespace korvo
