#include "download/regex_automaton.h"

namespace korvo {

namespace {

uint64_t g_next_state_id = 1;
uint64_t g_next_mark = 1;

}  // namespace

ByteSet ByteSet::All() {
  ByteSet s;
  for (uint32_t& w : s.words_) w = ~0u;
  return s;
}

void ByteSet::Intersect(const ByteSet& other) {
  for (int i = 0; i < kWordCount; ++i) words_[i] &= other.words_[i];
}

void ByteSet::Subtract(const ByteSet& other) {
  for (int i = 0; i < kWordCount; ++i) words_[i] &= ~other.words_[i];
}

void ByteSet::Unite(const ByteSet& other) {
  for (int i = 0; i < kWordCount; ++i) words_[i] |= other.words_[i];
}

void ByteSet::Complement() {
  for (uint32_t& w : words_) w = ~w;
}

bool ByteSet::operator==(const ByteSet& other) const {
  for (int i = 0; i < kWordCount; ++i)
    if (words_[i] != other.words_[i]) return false;
  return true;
}

ByteSet& RegexAlphabet() {
  static ByteSet alphabet;
  return alphabet;
}

uint64_t NextStateId() { return g_next_state_id++; }

uint64_t NextMarkStamp() { return g_next_mark++; }

void ByteTransition::add(uint8_t b, bool mark_alphabet) {
  byte_ = b;
  if (mark_alphabet) RegexAlphabet().Add(b);
}

void ByteSetTransition::add(uint8_t b, bool mark_alphabet) {
  set_.Add(b);
  if (mark_alphabet) RegexAlphabet().Add(b);
}

std::string ByteSetTransition::text() const {
  std::string out;
  for (int b = 1; b < ByteSet::kTotalBits; ++b)
    if (set_.Contains(static_cast<uint8_t>(b))) out.push_back(static_cast<char>(b));
  return out;
}

void NfaState::AddTransition(std::unique_ptr<Transition> t) {
  switch (t->kind()) {
    case Transition::kByte:
      byte_transitions_.push_back(std::move(t));
      break;
    case Transition::kByteSet:
      set_transitions_.push_back(std::move(t));
      break;
    default:
      empty_transitions_.push_back(std::move(t));
      break;
  }
}

void StateSet::Add(NfaState* s) {
  if (!Contains(s)) AddNew(s);
}

void StateSet::AddNew(NfaState* s) {
  members_.push_back(s);
  sum_ += s->id;
  xor_ ^= s->id;
}

bool StateSet::Contains(const NfaState* s) const {
  for (const NfaState* m : members_)
    if (m == s) return true;
  return false;
}

bool StateSet::Equals(const StateSet& other) const {
  if (members_.empty() || other.members_.empty()) return false;
  if (sum_ != other.sum_ || xor_ != other.xor_ || members_.size() != other.members_.size())
    return false;
  // Members are distinct and the sizes agree, so "every member of other is
  // one of ours" is enough.
  const uint64_t stamp = NextMarkStamp();
  for (NfaState* m : members_) m->mark = stamp;
  for (const NfaState* m : other.members_)
    if (m->mark != stamp) return false;
  return true;
}

DfaState* DfaState::next(uint8_t b) const {
  for (const auto& t : byte_transitions())
    if (t->matches(b)) return static_cast<DfaState*>(t->target);
  for (const auto& t : set_transitions())
    if (t->matches(b)) return static_cast<DfaState*>(t->target);
  return nullptr;
}

}  // namespace korvo
