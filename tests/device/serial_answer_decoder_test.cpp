#include "device/serial_answer_decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "device/even_parity.h"

namespace korvo {
namespace {

std::string Decode(const std::string& answer) {
  return SerialAnswerDecoder().DecodeIdent(answer.c_str(), answer.size());
}

TEST(SerialAnswerDecoderTest, IdentificationIsTheCountedStringAfterTheName) {
  EXPECT_EQ("LMS511", Decode("\x02sRA DeviceIdent 6 LMS511\x03"));
  EXPECT_EQ("0123456789", Decode("\x02sRA DeviceIdent A 0123456789ABC\x03"));
  EXPECT_EQ("x y", Decode("junk\x02sRA DeviceIdent 3 x y\x03"));
}

TEST(SerialAnswerDecoderTest, IdentificationWithoutCount) {
  EXPECT_EQ("No Program", Decode("No Program"));
  EXPECT_EQ("", Decode("No Progra"));
  EXPECT_EQ("", Decode(""));
  EXPECT_EQ("", Decode("\x02sRA DeviceIdent"));  // shorter than the header
  EXPECT_EQ("", Decode("\x02sRA DeviceIdent "));
  EXPECT_EQ("", Decode("\x02sRA DeviceIdent 0 \x03"));
  EXPECT_EQ("", Decode("\x02sRA DeviceIdent zz AB\x03"));
  EXPECT_EQ("", SerialAnswerDecoder().DecodeIdent(nullptr, 10));
}

TEST(SerialAnswerDecoderTest, IdentificationStaysInsideTheAnswer) {
  EXPECT_EQ("", Decode("\x02sRA DeviceIdent 5"));  // no blank after the count
  EXPECT_EQ("AB", Decode("\x02sRA DeviceIdent FFFFFFFFFF AB"));
  // Only `length` bytes belong to the answer, and nothing after a zero byte.
  std::string answer = "\x02sRA DeviceIdent 5 ABCDE";
  EXPECT_EQ("AB", SerialAnswerDecoder().DecodeIdent(answer.c_str(), answer.size() - 3));
  EXPECT_EQ("", SerialAnswerDecoder().DecodeIdent(answer.c_str(), 17));
  const char with_zero[] = "\x02sRA DeviceIdent 5 AB\0CDE";
  EXPECT_EQ("AB", SerialAnswerDecoder().DecodeIdent(with_zero, sizeof with_zero - 1));
}

TEST(SerialAnswerDecoderTest, AccessIsGrantedForZeroOneAndNoProgram) {
  SerialAnswerDecoder decoder;
  auto granted = [&](const std::string& text) {
    return decoder.IsAccessGranted(text.c_str(), text.size());
  };
  EXPECT_TRUE(granted("01"));
  EXPECT_TRUE(granted("01 \x03"));
  EXPECT_TRUE(granted("No Program"));
  EXPECT_FALSE(granted("1"));
  EXPECT_FALSE(granted("00"));
  EXPECT_FALSE(granted(" 01"));
  EXPECT_FALSE(granted(""));
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

}  // namespace
}  // namespace korvo
