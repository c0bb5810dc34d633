// Comparison primitives shared by the download-constraint check and the
// access checks, and the whole-value pattern match they rest on.
//
// Strings are byte strings with explicit lengths; a null pointer counts as
// the empty string. Patterns are zero-terminated: a pattern ends at its
// first zero byte (write "\0" inside a pattern for the byte 0).
//
// Thread safety: none. Pattern compilation shares process-wide state (the
// state-id counter and the byte alphabet); call from one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace korvo {

// Operator codes as stored in key files and constraints. Any other code
// makes a comparison false.
enum CompareOp : int {
  kCompareEqual = 0,         // strings: actual fully matches the pattern `specified`
  kCompareNotEqual = 1,      // strings: the byte strings differ
  kCompareGreaterEqual = 2,  // strings: toInt(specified) >= toInt(actual)
  kCompareLessEqual = 3,
  kCompareGreater = 4,
  kCompareLess = 5,
};

// "=", "!=", ">=", "<=", ">" or "<"; "?" for any other code.
const char* CompareOpText(int op);

// True when all `length` bytes of `text` are matched by `pattern` as a whole.
// An invalid pattern matches nothing, not even the empty text.
bool RegexMatches(const char* text, size_t length, const char* pattern);
bool RegexMatches(const std::string& text, const std::string& pattern);

// Writes "Comparing <actual> against <specified>" to standard output, then
// compares by `op` (specified on the left for the ordering operators).
bool CompareValues(const char* specified, size_t specified_length, const char* actual,
                   size_t actual_length, int op);
bool CompareValues(const std::string& specified, const std::string& actual, int op);

// Signed 32-bit comparison "left op right".
bool CompareIntegers(int32_t left, int32_t right, int op);

}  // namespace korvo
