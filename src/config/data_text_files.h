// The data texts of a download configuration (the text directly inside each
// root/Data/Device element: a device's payload, Base64-encoded), kept beside
// the tree while the configuration is loaded, so that a payload of any size
// costs the loader little memory: small texts stay in memory up to a budget
// of about a megabyte, every other one goes to a temporary file.
//
// Each holds the first run of text of one such element as UTF-8, as the
// tree would have held it; the tree holds an empty text node in its place.
// A later run of text in the same element (after a comment or an element)
// gets an empty node and is not kept: such a device has no sole text node,
// so nobody reads it. Text anywhere else stays in the tree.
//
// The texts and files live as long as the object. Not thread-safe.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "config/temp_files.h"
#include "config/xml_access.h"
#include "platform/system.h"

namespace korvo {

class DataTextFiles final : public TextDiversion {
 public:
  // A text of at most `memory_per_text` bytes stays in memory while all
  // those kept there come to at most `memory_total` bytes.
  explicit DataTextFiles(size_t memory_per_text = 64 * 1024, size_t memory_total = 1 << 20);
  ~DataTextFiles() override;
  DataTextFiles(const DataTextFiles&) = delete;
  DataTextFiles& operator=(const DataTextFiles&) = delete;

  bool Diverts(const std::vector<std::u16string>& path) override;
  void Begin() override;
  void Append(const XMLCh* chars, size_t length) override;
  void End(xercesc::DOMText* placeholder) override;

  // False when a file could not be created or fully written, or a run was
  // left open: then the texts are not what the document holds.
  bool ok() const { return !failed_ && !open_; }

  // Whether `node` stands for a text kept here.
  bool Holds(const xercesc::DOMNode* node) const;
  // Hands the text `node` stands for to `take(data, size)` piece by piece.
  // False when it is not kept here, its file cannot be read, or `take`
  // refuses a piece.
  bool Read(const xercesc::DOMNode* node,
            const std::function<bool(const char*, size_t)>& take) const;

 private:
  struct Text {
    std::unique_ptr<TempFileGuard> file;  // null while the text is in memory
    std::string bytes;                    // the text, when in memory
  };
  bool Flush();
  bool MoveToFile(Text& text);

  const size_t memory_per_text_, memory_total_;
  size_t in_memory_ = 0;  // bytes of the texts kept in memory
  std::vector<Text> texts_;
  std::map<const xercesc::DOMNode*, size_t> placeholders_;  // to texts_
  bool taking_ = false;      // the open run is kept
  UniqueFile writing_;       // the file of the open run, once it has one
  std::string buffer_;       // its UTF-8 text not yet written
  char16_t high_surrogate_ = 0;  // the last character, when it may be half a pair
  bool open_ = false;        // a run was begun and not ended
  bool first_run_ = false;   // the next run is the first of its element
  bool failed_ = false;
};

}  // namespace korvo
