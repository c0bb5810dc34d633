// The data texts of a download configuration (the text directly inside each
// root/Data/Device element: a device's payload, Base64-encoded), kept in
// temporary files while the configuration is loaded instead of in its tree,
// so that a payload of any size costs the loader a few kilobytes of memory.
//
// Each file holds the first run of text of one such element as UTF-8, as
// the tree would have held it; the tree holds an empty text node in its
// place. A later run of text in the same element (after a comment or an
// element) gets an empty node but no file: such a device has no sole text
// node, so nobody reads it. Text anywhere else stays in the tree.
//
// The files live as long as the object. Not thread-safe.
#pragma once

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
  DataTextFiles();
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

  // The file holding the text `node` stands for; null for any other node.
  const std::string* FileOf(const xercesc::DOMNode* node) const;

 private:
  bool Flush();

  std::vector<std::unique_ptr<TempFileGuard>> files_;
  std::map<const xercesc::DOMNode*, size_t> placeholders_;  // to files_
  UniqueFile writing_;       // the file of the open run; null when discarded
  std::string buffer_;       // its UTF-8 text not yet written
  char16_t high_surrogate_ = 0;  // the last character, when it may be half a pair
  bool open_ = false;        // a run was begun and not ended
  bool first_run_ = false;   // the next run is the first of its element
  bool failed_ = false;
};

}  // namespace korvo
