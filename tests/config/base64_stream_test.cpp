// The streaming coder against Xerces' own Base64, fed in random pieces.
#include "config/base64_stream.h"

#include <gtest/gtest.h>
#include <xercesc/util/Base64.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include <random>
#include <string>

namespace korvo {
namespace {

using xercesc::XMLPlatformUtils;

std::string XercesEncode(const std::string& data) {
  XMLSize_t length = 0;
  XMLByte* text = xercesc::Base64::encode(reinterpret_cast<const XMLByte*>(data.data()),
                                          data.size(), &length);
  std::string out = text ? std::string(reinterpret_cast<char*>(text), length) : "";
  XMLPlatformUtils::fgMemoryManager->deallocate(text);
  return out;
}

// The decoded bytes, or "<invalid>".
std::string XercesDecode(const std::string& text) {
  std::u16string wide(text.begin(), text.end());
  XMLSize_t length = 0;
  XMLByte* bytes = xercesc::Base64::decodeToXMLByte(reinterpret_cast<const XMLCh*>(wide.c_str()),
                                                    &length, XMLPlatformUtils::fgMemoryManager,
                                                    xercesc::Base64::Conf_RFC2045);
  std::string out = bytes ? std::string(reinterpret_cast<char*>(bytes), length) : "<invalid>";
  XMLPlatformUtils::fgMemoryManager->deallocate(bytes);
  return out;
}

// `text` cut at random places, the way files and the parser hand it over.
template <typename Feed>
void InPieces(const std::string& text, std::mt19937& random, Feed&& feed) {
  for (size_t at = 0; at < text.size();) {
    const size_t n = std::min<size_t>(text.size() - at, random() % 3 == 0 ? 1 : random() % 200);
    feed(text.data() + at, n);
    at += n;
  }
}

std::string Encode(const std::string& data, std::mt19937& random) {
  Base64Encoder encoder;
  std::string out;
  InPieces(data, random, [&](const char* p, size_t n) {
    encoder.Add(reinterpret_cast<const uint8_t*>(p), n, out);
  });
  encoder.Finish(out);
  return out;
}

std::string Decode(const std::string& text, std::mt19937& random) {
  Base64Decoder decoder;
  std::string out;
  bool ok = true;
  InPieces(text, random, [&](const char* p, size_t n) { ok = decoder.Add(p, n, out) && ok; });
  return decoder.Finish() && ok ? out : "<invalid>";
}

std::string RandomBytes(size_t n, std::mt19937& random) {
  std::string s(n, '\0');
  for (char& c : s) c = char(random());
  return s;
}

TEST(Base64StreamTest, EncodesDecodesAndRefusesAsXercesDoes) {
  std::mt19937 random(1213);
  for (size_t n : {0, 1, 2, 3, 44, 45, 46, 89, 90, 91, 300, 100000}) {
    const std::string data = RandomBytes(n, random);
    ASSERT_EQ(XercesEncode(data), Encode(data, random)) << n;
  }
  std::vector<std::string> texts = {
      "", " ", "\r\n", "QUJD", "QUJ", "QUI=", "QUJ=", "QR==", "QQ==", "Q===", "====", "=",
      "QUJD====", "QU=D", "QUJDQQ==QUJD", "QQ==QQ==", "QQ= =", " Q U\tJ\rD\n", "QUJD\f", "QUJD\v", "QUJ\x01D",
      "QUJD=", "QUJDQ", "QQ==\n \n", "QUJ=\n", "-_AA", "QU.D"};
  const char kNoise[] = " \t\r\n=A/+.\x7F";
  for (int round = 0; round < 4000; ++round) {
    std::string text = XercesEncode(RandomBytes(random() % 120, random));
    // Blanks anywhere, a character lost or changed, the end cut off.
    for (int k = int(random() % 4); k > 0; --k) {
      const size_t at = text.empty() ? 0 : random() % (text.size() + 1);
      switch (random() % 4) {
        case 0: text.insert(at, 1, " \t\r\n"[random() % 4]); break;
        case 1: if (at < text.size()) text.erase(at, 1); break;
        case 2: if (at < text.size()) text[at] = kNoise[random() % (sizeof kNoise - 1)]; break;
        default: text.resize(at); break;
      }
    }
    texts.push_back(text);
  }
  int valid = 0;
  for (const std::string& text : texts) {
    const std::string expected = XercesDecode(text);
    ASSERT_EQ(expected, Decode(text, random)) << "[" << text << "]";
    valid += expected != "<invalid>";
  }
  EXPECT_LT(500, valid);  // both kinds are well represented
  EXPECT_LT(500, int(texts.size()) - valid);
}

}  // namespace
}  // namespace korvo
