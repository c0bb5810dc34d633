// The answer decoders: the COM port's and the two Java-line ones.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "device/even_parity.h"
#include "device/keta_answer_decoders.h"
#include "device/serial_answer_decoder.h"

namespace korvo {
namespace {

TEST(SerialAnswerDecoderTest, IdentificationIsTheCountedStringAfterTheName) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"\x02sRA DeviceIdent 6 LMS511\x03", "LMS511"},
      {"\x02sRA DeviceIdent A 0123456789ABC\x03", "0123456789"},
      {"junk\x02sRA DeviceIdent 3 x y\x03", "x y"},
      {"No Program", "No Program"}, {"No Progra", ""}, {"", ""},
      {"\x02sRA DeviceIdent", ""}, {"\x02sRA DeviceIdent ", ""},  // no count
      {"\x02sRA DeviceIdent 0 \x03", ""}, {"\x02sRA DeviceIdent zz AB\x03", ""},
      {"\x02sRA DeviceIdent 5", ""},  // no blank after the count
      {"\x02sRA DeviceIdent FFFFFFFFFF AB", "AB"},
      {std::string("\x02sRA DeviceIdent 5 AB\0CDE", 25), "AB"},  // nothing after a zero byte
  };
  SerialAnswerDecoder decoder;
  for (const auto& [answer, ident] : rows) {
    EXPECT_EQ(ident, decoder.DecodeIdent(answer.c_str(), answer.size())) << answer;
  }
  // Only `length` bytes belong to the answer.
  std::string answer = "\x02sRA DeviceIdent 5 ABCDE";
  EXPECT_EQ("AB", decoder.DecodeIdent(answer.c_str(), answer.size() - 3));
  EXPECT_EQ("", decoder.DecodeIdent(answer.c_str(), 17));
  EXPECT_EQ("", decoder.DecodeIdent(nullptr, 10));
}

TEST(SerialAnswerDecoderTest, AccessIsGrantedForZeroOneAndNoProgram) {
  SerialAnswerDecoder decoder;
  for (const char* yes : {"01", "01 \x03", "No Program"}) {
    EXPECT_TRUE(decoder.IsAccessGranted(yes, std::strlen(yes))) << yes;
  }
  for (const char* no : {"1", "00", " 01", ""}) {
    EXPECT_FALSE(decoder.IsAccessGranted(no, std::strlen(no))) << no;
  }
  EXPECT_FALSE(decoder.IsAccessGranted("01", 1));
  EXPECT_FALSE(decoder.IsAccessGranted(nullptr, 2));
}

TEST(SerialEvenParityTest, OddBytesGainBitSeven) {
  EXPECT_EQ(std::string("No\xA0Pro\xE7r\xE1\xED"), AddEvenParity(std::string("No Program")));
  // Bytes already even, and bytes with bit 7 that make them even, stay.
  const std::string even("\x00\x03\xA0\xFF\x43", 5);
  EXPECT_EQ(std::string("\x00\x03\xA0\xFF\xC3", 5), AddEvenParity(even));
  std::string once = AddEvenParity(std::string("Program 7"));
  EXPECT_EQ(once, AddEvenParity(once));
}

TEST(SerialEvenParityTest, InPlaceFormStopsAtTheZeroByte) {
  char text[] = "a\0a";
  AddEvenParity(text);
  EXPECT_EQ('\xE1', text[0]);
  EXPECT_EQ('a', text[2]);
  AddEvenParity(static_cast<char*>(nullptr));
}

TEST(KetaADecoder, AccessGrantedOnlyForOneOrZeroOne) {
  KetaAAnswerDecoder d;
  for (const char* yes : {" 1", " 1 trailing", " 01"}) {
    EXPECT_TRUE(d.IsAccessGranted(yes, std::strlen(yes))) << yes;
  }
  for (const char* no : {" 0", " 011", " 02", "1", ""}) {
    EXPECT_FALSE(d.IsAccessGranted(no, std::strlen(no))) << no;
  }
  EXPECT_FALSE(d.IsAccessGranted(nullptr, 5));
}

TEST(KetaADecoder, IdentificationNeverReadsBeyondTheAnswer) {
  KetaAAnswerDecoder d;
  const std::vector<std::pair<std::string, std::string>> rows = {
      {" 5 HELLO", "HELLO"}, {" 3 HELLO", "HEL"}, {" A No Program", "No Program"},
      {" 20 SHORT", "SHORT"}, {" 5", ""}, {" 5HELLO", ""}, {" ZZ HELLO", ""}, {"", ""}, {" ", ""}};
  for (const auto& [answer, ident] : rows) {
    EXPECT_EQ(ident, d.DecodeIdent(answer.data(), answer.size())) << "'" << answer << "'";
  }
  // A count written against a buffer cut short: only the given bytes count.
  EXPECT_EQ("HE", d.DecodeIdent(" 5 HELLO", 5));
}

TEST(KetaDecoders, ChosenByTheExactCommunicationName) {
  const std::string granted = " 1";
  EXPECT_FALSE(MakeKetaAnswerDecoder("Keta B")->IsAccessGranted(granted.c_str(), 2));
  EXPECT_EQ("", MakeKetaAnswerDecoder("Keta B")->DecodeIdent(" 2 AB", 5));
  for (const char* name : {"Keta A", "", "keta B", "Keta B ", "KETA B"}) {
    EXPECT_TRUE(MakeKetaAnswerDecoder(name)->IsAccessGranted(granted.c_str(), 2)) << name;
  }
}

}  // namespace
}  // namespace korvo
