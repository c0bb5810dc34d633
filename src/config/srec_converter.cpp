#include "config/srec_converter.h"

namespace korvo {

SrecToBrekConverter::SrecToBrekConverter() = default;
SrecToBrekConverter::~SrecToBrekConverter() = default;

std::string SrecToBrekConverter::GetAddressRangeText() const { return ""; }
void SrecToBrekConverter::SetStreams(std::FILE* input, std::FILE* output) {
  input_ = input;
  output_ = output;
}
int SrecToBrekConverter::Convert() { return -1; }
uint8_t SrecToBrekConverter::ReadHexByte() { return 0; }
void SrecToBrekConverter::FinishBlock() {}
void SrecToBrekConverter::WriteByte(uint8_t) {}
void SrecToBrekConverter::WriteU32(uint32_t) {}

int FilterAddressRange(const std::string&, const std::string&, const std::string&,
                       const std::string&) {
  return kSrecFileError;
}

int ConvertSrecToBrek(SrecToBrekConverter&, const std::string&, const AddressRangeSelection*,
                      std::string&, const std::string&, const std::string&) {
  return kSrecFileError;
}

int EmbedDataFile(xercesc::DOMDocument*, xercesc::DOMElement*, xercesc::DOMElement*,
                  const std::string&, const std::string&, const std::string&, unsigned long) {
  return kSrecFileError;
}

int EmbedRawFile(xercesc::DOMDocument*, xercesc::DOMElement*, xercesc::DOMElement*,
                 const std::string&) {
  return kSrecFileError;
}

}  // namespace korvo
