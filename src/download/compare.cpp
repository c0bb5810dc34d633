#include "download/compare.h"

#include <cstdio>
#include <limits>

#include "config/numbers.h"
#include "download/regex.h"
#include "platform/debug_output.h"

namespace korvo {

namespace {

// Length up to the first zero byte, as a C string would print.
int PrintLength(const char* text, size_t length) {
  if (text == nullptr) return 0;
  size_t n = 0;
  while (n < length && text[n] != '\0') ++n;
  return n > static_cast<size_t>(std::numeric_limits<int>::max())
             ? std::numeric_limits<int>::max()
             : static_cast<int>(n);
}

}  // namespace

const char* CompareOpText(int op) {
  static const char* const kTexts[] = {"=", "!=", ">=", "<=", ">", "<"};
  return op >= 0 && op < 6 ? kTexts[op] : "?";
}


bool RegexMatches(const char* text, size_t length, const char* pattern) {
  Regex regex(pattern);
  return regex.match(text != nullptr ? text : "", text != nullptr ? length : 0);
}

bool RegexMatches(const std::string& text, const std::string& pattern) {
  return RegexMatches(text.data(), text.size(), pattern.c_str());
}

bool CompareValues(const char* specified, size_t specified_length, const char* actual,
                   size_t actual_length, int op) {
  DebugPrint("Comparing %.*s against %.*s\n", PrintLength(actual, actual_length),
              actual != nullptr ? actual : "", PrintLength(specified, specified_length),
              specified != nullptr ? specified : "");
  if (specified == nullptr) specified_length = 0;
  if (actual == nullptr) actual_length = 0;
  switch (op) {
    case kCompareEqual: {
      // The pattern ends at its first zero byte, as a stored text would.
      const std::string pattern(specified != nullptr ? specified : "", specified_length);
      return RegexMatches(actual, actual_length, pattern.c_str());
    }
    case kCompareNotEqual:
      return specified_length != actual_length ||
             (specified_length != 0 &&
              std::char_traits<char>::compare(specified, actual, specified_length) != 0);
    case kCompareGreaterEqual:
      return TextToInt(specified, specified_length) >= TextToInt(actual, actual_length);
    case kCompareLessEqual:
      return TextToInt(specified, specified_length) <= TextToInt(actual, actual_length);
    case kCompareGreater:
      return TextToInt(specified, specified_length) > TextToInt(actual, actual_length);
    case kCompareLess:
      return TextToInt(specified, specified_length) < TextToInt(actual, actual_length);
    default:
      return false;
  }
}

bool CompareValues(const std::string& specified, const std::string& actual, int op) {
  return CompareValues(specified.data(), specified.size(), actual.data(), actual.size(), op);
}

bool CompareIntegers(int32_t left, int32_t right, int op) {
  switch (op) {
    case kCompareEqual:
      return left == right;
    case kCompareNotEqual:
      return left != right;
    case kCompareGreaterEqual:
      return left >= right;
    case kCompareLessEqual:
      return left <= right;
    case kCompareGreater:
      return left > right;
    case kCompareLess:
      return left < right;
    default:
      return false;
  }
}

}  // namespace korvo
