#include "platform/unicode.h"

#include <gtest/gtest.h>

#include <string>

namespace korvo {
namespace {

// What is not well-formed UTF-8 keeps its bytes as Latin-1 characters, one
// each, so that nothing is lost or merged into a neighbour.
TEST(UnicodeTest, WellFormedSequencesDecodeAndEveryOtherByteStandsForItself) {
  // Well-formed: and so encoded back the same.
  const struct { std::string in; std::u16string out; bool well_formed; } rows[] = {
      {"A\xC3\xA4", u"A\u00E4", true},
      {"\xE2\x82\xAC", u"\u20AC", true},
      {"\xF0\x9F\x98\x80", u"\U0001F600", true},
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF", true},                // the last code point
      {"\xF4\x90\x80\x80", u"\u00F4\u0090\u0080\u0080", false},  // past it
      {"\xF0\x8F\xBF\xBF", u"\u00F0\u008F\u00BF\u00BF", false},  // overlong, four bytes
      {"\xF5\x80\x80\x80", u"\u00F5\u0080\u0080\u0080", false},  // no such lead byte
      {"\xE0\x9F\xBF", u"\u00E0\u009F\u00BF", false},            // overlong, three bytes
      {"\xC1\xBF", u"\u00C1\u00BF", false},                      // overlong, two bytes
      {"\xF0\x9F\x98", u"\u00F0\u009F\u0098", false},            // cut short
      {"\xF0\x9F\x98Z", u"\u00F0\u009F\u0098Z", false},          // not continued
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.out, Utf8ToUtf16(row.in)) << row.in;
    if (row.well_formed) {
      EXPECT_EQ(row.in, Utf16ToUtf8(row.out)) << row.in;
    }
  }
}

}  // namespace
}  // namespace korvo
