#include <gtest/gtest.h>
#include <xercesc/util/Base64.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include "config/srec_converter.h"
#include "config/srec_test_util.h"
#include "config/xml_access.h"

namespace korvo {
namespace {

namespace fs = std::filesystem;
using namespace xercesc;

class SrecEmbedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = srectest::FreshDir("embed");
    impl_ = CoreImplementation();
    ASSERT_NE(nullptr, impl_);
    doc_ = CreateXmlDocument(impl_, "download_configuration");
    DOMElement* header = doc_->createElement(XmlText("Header"));
    DOMElement* data = doc_->createElement(XmlText("Data"));
    doc_->getDocumentElement()->appendChild(header);
    doc_->getDocumentElement()->appendChild(data);
    header_device_ = doc_->createElement(XmlText("Device"));
    data_device_ = doc_->createElement(XmlText("Device"));
    header->appendChild(header_device_);
    data->appendChild(data_device_);
  }
  void TearDown() override {
    doc_->release();
    fs::remove_all(dir_);
  }

  std::string File(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::string path = (dir_ / name).string();
    srectest::WriteText(path, std::string(bytes.begin(), bytes.end()));
    return path;
  }

  // "NAME=text" for every entry of the header device, in order.
  std::vector<std::string> Entries() {
    std::vector<std::string> out;
    for (DOMNode* n = header_device_->getFirstChild(); n; n = n->getNextSibling()) {
      DOMElement* e = AsElement(n);
      if (!e) continue;
      std::string name, text, transparent = "transparent";
      GetTagName(e, name);
      GetElementText(e, text);
      GetAttributeValue(e, transparent);
      EXPECT_EQ("true", transparent) << name;
      out.push_back(name + "=" + text);
    }
    return out;
  }

  std::vector<uint8_t> Payload() {
    EXPECT_EQ(1u, data_device_->getChildNodes()->getLength());
    std::string text;
    if (GetElementText(data_device_, text) != 0) return {};
    XMLSize_t length = 0;
    XMLByte* decoded =
        Base64::decodeToXMLByte(XmlText(text), &length, XMLPlatformUtils::fgMemoryManager);
    EXPECT_NE(nullptr, decoded);
    if (!decoded) return {};
    std::vector<uint8_t> out(decoded, decoded + length);
    XMLPlatformUtils::fgMemoryManager->deallocate(decoded);
    return out;
  }

  fs::path dir_;
  DOMImplementation* impl_ = nullptr;
  DOMDocument* doc_ = nullptr;
  DOMElement* header_device_ = nullptr;
  DOMElement* data_device_ = nullptr;
};

TEST_F(SrecEmbedTest, DataFileEntriesAndPayload) {
  auto bytes = srectest::Bytes(100000, 4);  // many Base64 lines
  std::string path = File("a.brek", bytes);
  ASSERT_EQ(0, EmbedDataFile(doc_, header_device_, data_device_, path, "BREKBIN",
                             "00001000-00001020", 0));
  EXPECT_EQ((std::vector<std::string>{"ADDRESS_RANGE=00001000-00001020",
                                      "PROGRAM_MEMORY_SIZE=100000", "DATA_TYPE=BREKBIN"}),
            Entries());
  EXPECT_EQ(bytes, Payload());
}

TEST_F(SrecEmbedTest, PartialSizeReplacesFileSize) {
  std::string path = File("b.srec", {'S', '9'});
  ASSERT_EQ(0, EmbedDataFile(doc_, header_device_, data_device_, path, "SREC", "", 65536));
  EXPECT_EQ((std::vector<std::string>{"PROGRAM_MEMORY_SIZE=65536", "DATA_TYPE=SREC"}), Entries());
  EXPECT_EQ((std::vector<uint8_t>{'S', '9'}), Payload());
}

TEST_F(SrecEmbedTest, RawFileCarriesItsCrcFirst) {
  std::string path = File("ten", {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'});
  ASSERT_EQ(0, EmbedRawFile(doc_, header_device_, data_device_, path));
  EXPECT_EQ((std::vector<std::string>{"PROGRAM_MEMORY_SIZE=14", "DATA_TYPE=FILE"}), Entries());
  EXPECT_EQ((std::vector<uint8_t>{0xA6, 0x84, 0xC7, 0xC6, '0', '1', '2', '3', '4', '5', '6', '7',
                                  '8', '9'}),
            Payload());
}

TEST_F(SrecEmbedTest, EmptyRawFileStillCarriesItsCrcAndMissingFilesAddNothing) {
  std::string missing = (dir_ / "missing").string();
  EXPECT_EQ(kSrecFileError,
            EmbedDataFile(doc_, header_device_, data_device_, missing, "BREK", "0-1", 0));
  EXPECT_EQ(kSrecFileError, EmbedRawFile(doc_, header_device_, data_device_, missing));
  EXPECT_FALSE(header_device_->hasChildNodes());
  EXPECT_FALSE(data_device_->hasChildNodes());
  ASSERT_EQ(0, EmbedRawFile(doc_, header_device_, data_device_, File("empty", {})));
  EXPECT_EQ((std::vector<std::string>{"PROGRAM_MEMORY_SIZE=4", "DATA_TYPE=FILE"}), Entries());
  EXPECT_EQ((std::vector<uint8_t>{0, 0, 0, 0}), Payload());
}

}  // namespace
}  // namespace korvo
