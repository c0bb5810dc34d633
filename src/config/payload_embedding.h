// Embedding a device's payload in the configuration being built: the
// transparent entries that describe it go into the device's Header/Device,
// and the payload itself into its Data/Device as Base64 text. The text is
// not put into the tree: the tree holds an empty text node, and the
// payload is read from its file and written into the output as Base64
// lines while the document is serialised (EmbeddedPayloads), so that a
// payload of any size costs the build a few kilobytes of memory. The
// output is the same byte for byte as with the text in the tree.
#pragma once

#include <xercesc/dom/DOM.hpp>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "config/temp_files.h"
#include "config/xml_access.h"
#include "platform/system.h"

namespace korvo {

// The payloads of one document being built, with the files they are read
// from, open from embedding until written (a data file changed in between
// fails the build rather than give the device something else). Not
// thread-safe; lives as long as one build.
class EmbeddedPayloads final : public TextSource {
 public:
  EmbeddedPayloads();
  ~EmbeddedPayloads() override;
  EmbeddedPayloads(const EmbeddedPayloads&) = delete;
  EmbeddedPayloads& operator=(const EmbeddedPayloads&) = delete;

  // Writes the payload `node` stands for as Base64 lines, once.
  bool WriteText(const xercesc::DOMNode* node, xercesc::XMLFormatTarget& out) override;

  // Whether every payload written was read whole and unchanged; when not,
  // failure() names the file and says why.
  bool ok() const { return failure_.empty(); }
  const std::string& failure() const { return failure_; }

  // Bytes of Base64 text the payloads make together.
  uint64_t TextBytes() const;

  // Keeps a temporary file (a converted block stream) until the payloads go.
  void KeepUntilWritten(std::unique_ptr<TempFileGuard> file);

  // Takes `file` (open at its start, `size` bytes) as the payload of the
  // placeholder `node`, after `prefix`. With `crc` (not null), the file's
  // bytes must have that CRC-32 when they are written.
  void Add(const xercesc::DOMNode* node, const std::string& path, UniqueFile file, uint64_t size,
           const std::string& prefix, const uint32_t* crc);

 private:
  struct Payload {
    std::string path;
    UniqueFile file;
    uint64_t size = 0;
    std::string prefix;
    bool check_crc = false;
    uint32_t crc = 0;
  };
  bool Stream(Payload& payload, xercesc::XMLFormatTarget& out);

  // Before the payloads, so that their files are closed when the guards
  // remove them: Windows does not remove a file that is still open.
  std::vector<std::unique_ptr<TempFileGuard>> kept_;
  std::map<const xercesc::DOMNode*, Payload> payloads_;
  std::string failure_;
};

// Adds to `header_device` (the device's Header/Device element) ADDRESS_RANGE
// (only when range_text is not empty), PROGRAM_MEMORY_SIZE (partial_size
// when not 0, else the file size) and DATA_TYPE (data_type: "BREK",
// "BREKBIN" or "SREC"), each with transparent="true", and to `data_device`
// (its Data/Device element) the placeholder of the file's Base64 text, which
// `payloads` writes. Elements are created in `document`. 0, or -42 when the
// file cannot be opened, is not a regular file or is larger than an image
// may be (then nothing is added and `*why`, when not null, says which).
// Xerces exceptions and std::bad_alloc pass through to the caller's mapping.
int EmbedDataFile(xercesc::DOMDocument* document, xercesc::DOMElement* header_device,
                  xercesc::DOMElement* data_device, const std::string& file_path,
                  const std::string& data_type, const std::string& range_text,
                  unsigned long partial_size, EmbeddedPayloads& payloads,
                  std::string* why = nullptr);

// "FILE" type: PROGRAM_MEMORY_SIZE (file size + 4) and DATA_TYPE "FILE"
// into `header_device`, and into `data_device` the placeholder of the Base64
// text of the file's CRC-32 (most significant byte first) followed by the
// file. Return codes and exceptions as for EmbedDataFile; -42 also when the
// file cannot be read for its CRC.
int EmbedRawFile(xercesc::DOMDocument* document, xercesc::DOMElement* header_device,
                 xercesc::DOMElement* data_device, const std::string& file_path,
                 EmbeddedPayloads& payloads, std::string* why = nullptr);

}  // namespace korvo
