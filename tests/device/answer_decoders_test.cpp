// Which decoder a communication name selects is pinned through the JVM.
#include <gtest/gtest.h>

#include <string>

#include "device/answer_decoder.h"
#include "device/even_parity.h"
#include "device/keta_answer_decoders.h"
#include "device/serial_answer_decoder.h"

namespace korvo {
namespace {

// Each answer as an identification and as the answer to a login. The COM
// port's login answer is the result text alone; Keta A's starts with a blank.
TEST(AnswerDecoderTest, IdentificationAndAccessStayInsideTheAnswer) {
  SerialAnswerDecoder serial;
  KetaAAnswerDecoder keta;
  const struct {
    const AnswerDecoder& decoder; std::string answer; const char* ident; bool granted;
  } rows[] = {
      {serial, "\x02sRA DeviceIdent A 0123456789ABC\x03", "0123456789", false},
      {serial, "junk\x02sRA DeviceIdent 3 x y\x03", "x y", false},
      {serial, "\x02sRA DeviceIdent ", "", false},  // no count
      {serial, "\x02sRA DeviceIdent zz AB\x03", "", false},
      {serial, "\x02sRA DeviceIdent 5", "", false},  // no blank after the count
      {serial, "\x02sRA DeviceIdent FFFFFFFFFF AB", "AB", false},
      {serial, std::string("\x02sRA DeviceIdent 5 AB\0CDE", 25), "AB", false},  // zero ends it
      {serial, "No Program", "No Program", true}, {serial, "No Progra", "", false},
      {serial, "01 \x03", "", true}, {serial, "00", "", false}, {serial, " 01", "", false},
      {serial, "1", "", false},      {keta, " 3 HELLO", "HEL", false},
      {keta, " 20 SHORT", "SHORT", false}, {keta, " 5", "", false}, {keta, " 5HELLO", "", false},
      {keta, " ZZ HELLO", "", false},      {keta, " 1 more", "m", true}, {keta, " 01", "", true},
      {keta, " 0", "", false},  {keta, " 011", "", false}, {keta, " 02", "", false},
      {keta, "1", "", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE((&row.decoder == &keta ? "Keta A: '" : "COM port: '") + row.answer + "'");
    EXPECT_EQ(row.ident, row.decoder.DecodeIdent(row.answer.data(), row.answer.size()));
    EXPECT_EQ(row.granted, row.decoder.IsAccessGranted(row.answer.data(), row.answer.size()));
  }
  // Only `length` bytes belong to the answer.
  EXPECT_EQ("AB", serial.DecodeIdent("\x02sRA DeviceIdent 5 ABCDE", 21));
  EXPECT_EQ("", serial.DecodeIdent("\x02sRA DeviceIdent 5 ABCDE", 17));
  EXPECT_FALSE(serial.IsAccessGranted("01", 1));
  EXPECT_EQ("HE", keta.DecodeIdent(" 5 HELLO", 5));
  for (const AnswerDecoder* decoder : {static_cast<AnswerDecoder*>(&serial),
                                       static_cast<AnswerDecoder*>(&keta)}) {
    EXPECT_EQ("", decoder->DecodeIdent(nullptr, 10));
    EXPECT_FALSE(decoder->IsAccessGranted(nullptr, 5));
  }
}

TEST(SerialEvenParityTest, OddBytesGainBitSevenEvenOnesStay) {
  EXPECT_EQ("No\xA0Pro\xE7r\xE1\xED", AddEvenParity(std::string("No Program")));
  EXPECT_EQ(std::string("\x00\x03\xA0\xFF\xC3", 5),
            AddEvenParity(std::string("\x00\x03\xA0\xFF\x43", 5)));
}

}  // namespace
}  // namespace korvo
