#include "config/payload_embedding.h"

#include <memory>
#include <vector>

#include "config/base64_stream.h"
#include "config/crc32.h"
#include "config/data_file.h"
#include "config/srec_converter.h"

using namespace xercesc;

namespace korvo {
namespace {

// A multiple of 3, so that no bytes wait in the encoder between pieces.
constexpr size_t kPiece = 3 * 16 * 1024;

// The builder's lookups never ask for these names, so its index need not
// hear of them.
void AppendEntry(DOMDocument*, DOMElement* parent, const std::string& name,
                 const std::string& text) {
  AppendElement(nullptr, parent, name, &text)
      ->setAttribute(XmlText("transparent"), XmlText("true"));
}

DOMText* AppendPlaceholder(DOMDocument* document, DOMElement* data_device) {
  DOMText* placeholder = document->createTextNode(XmlText(""));
  data_device->appendChild(placeholder);
  return placeholder;
}

bool WriteOut(XMLFormatTarget& out, std::string& text) {
  out.writeChars(reinterpret_cast<const XMLByte*>(text.data()), text.size(), nullptr);
  text.clear();
  return true;
}

}  // namespace

EmbeddedPayloads::EmbeddedPayloads() = default;

EmbeddedPayloads::~EmbeddedPayloads() = default;

void EmbeddedPayloads::KeepUntilWritten(std::unique_ptr<TempFileGuard> file) {
  kept_.push_back(std::move(file));
}

void EmbeddedPayloads::Add(const DOMNode* node, const std::string& path, UniqueFile file,
                           uint64_t size, const std::string& prefix, const uint32_t* crc) {
  Payload& payload = payloads_[node];
  payload.path = path;
  payload.file = std::move(file);
  payload.size = size;
  payload.prefix = prefix;
  payload.check_crc = crc != nullptr;
  payload.crc = crc ? *crc : 0;
}

uint64_t EmbeddedPayloads::TextBytes() const {
  uint64_t total = 0;
  for (const auto& entry : payloads_) {
    // Four characters for every three bytes begun, and a line feed ending
    // every line of up to 60 of them.
    const uint64_t characters = (entry.second.prefix.size() + entry.second.size + 2) / 3 * 4;
    total += characters + (characters + 59) / 60;
  }
  return total;
}

bool EmbeddedPayloads::WriteText(const DOMNode* node, XMLFormatTarget& out) {
  auto it = payloads_.find(node);
  if (it == payloads_.end()) return false;
  // After a failure the output is thrown away: nothing more is read.
  if (ok() && it->second.file && !Stream(it->second, out)) {
    if (failure_.empty()) failure_ = it->second.path + ": cannot be read";
  }
  it->second.file.reset();
  return true;
}

bool EmbeddedPayloads::Stream(Payload& payload, XMLFormatTarget& out) {
  Base64Encoder encoder;
  std::string text;
  encoder.Add(reinterpret_cast<const uint8_t*>(payload.prefix.data()), payload.prefix.size(), text);
  // Not cleared first: only what fread filled is used.
  std::unique_ptr<uint8_t[]> piece(new uint8_t[kPiece]);
  uint64_t read = 0;
  uint32_t crc = 0;
  while (read < payload.size) {
    const size_t want = size_t(std::min<uint64_t>(kPiece, payload.size - read));
    const size_t got = std::fread(piece.get(), 1, want, payload.file.get());
    if (got == 0) break;
    read += got;
    if (payload.check_crc) crc = Crc32(piece.get(), got, crc);
    encoder.Add(piece.get(), got, text);
    WriteOut(out, text);
  }
  if (std::ferror(payload.file.get())) return false;
  // What is embedded must be what the entries written before it describe.
  if (read != payload.size || std::fgetc(payload.file.get()) != EOF ||
      (payload.check_crc && crc != payload.crc)) {
    failure_ = payload.path + ": changed while the configuration was being built";
    return false;
  }
  encoder.Finish(text);
  return WriteOut(out, text);
}

int EmbedDataFile(DOMDocument* document, DOMElement* header_device, DOMElement* data_device,
                  const std::string& file_path, const std::string& data_type,
                  const std::string& range_text, unsigned long partial_size,
                  EmbeddedPayloads& payloads, std::string* why) {
  // An S-record file is the image itself; a block stream was bounded by
  // the conversion that wrote it.
  const uint64_t bound = data_type == "SREC" ? kMaxImageBytes : UINT64_MAX;
  uint64_t size = 0;
  UniqueFile file(OpenDataFile(file_path, why, &size, bound));
  if (!file) return kSrecFileError;
  if (!range_text.empty()) AppendEntry(document, header_device, "ADDRESS_RANGE", range_text);
  AppendEntry(document, header_device, "PROGRAM_MEMORY_SIZE",
              std::to_string(partial_size != 0 ? uint64_t(partial_size) : size));
  AppendEntry(document, header_device, "DATA_TYPE", data_type);
  // An empty file gives no text at all.
  if (size != 0)
    payloads.Add(AppendPlaceholder(document, data_device), file_path, std::move(file), size, "",
                 nullptr);
  return 0;
}

int EmbedRawFile(DOMDocument* document, DOMElement* header_device, DOMElement* data_device,
                 const std::string& file_path, EmbeddedPayloads& payloads, std::string* why) {
  uint64_t size = 0;
  UniqueFile file(OpenDataFile(file_path, why, &size));
  if (!file) return kSrecFileError;
  // The CRC goes in front of the data, so the file is read for it first.
  uint32_t crc = 0;
  uint64_t read = 0;
  std::unique_ptr<uint8_t[]> piece(new uint8_t[kPiece]);
  for (size_t got; (got = std::fread(piece.get(), 1, kPiece, file.get())) > 0;) {
    crc = Crc32(piece.get(), got, crc);
    read += got;
  }
  if (std::ferror(file.get()) || read != size || std::fseek(file.get(), 0, SEEK_SET) != 0) {
    if (why) *why = "cannot be read";
    return kSrecFileError;
  }
  AppendEntry(document, header_device, "PROGRAM_MEMORY_SIZE", std::to_string(size + 4));
  AppendEntry(document, header_device, "DATA_TYPE", "FILE");
  // Even an empty file carries its CRC, so the payload matches the size given.
  const std::string prefix{char(crc >> 24), char(crc >> 16), char(crc >> 8), char(crc)};
  payloads.Add(AppendPlaceholder(document, data_device), file_path, std::move(file), size, prefix,
               &crc);
  return 0;
}

}  // namespace korvo
