// The key file document (root "download_keys"): which identification rules a
// device must satisfy, which signatures it may carry, and per signature which
// user levels may download under which rules.
//
// The manager's instance is edited by the KeyFile natives; the download
// executor opens its own (decompressing) and reads it through the cursor
// readers. Every operation returns 0 or a code of the band below and never
// throws. Not thread-safe: one thread at a time per instance, and opens with
// decompression share one temporary file per process, so they must not
// overlap.
//
// Positions are 0-based in document order among the descendants named, so a
// "User" nested anywhere under "Rights" counts.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config/splay_compressor.h"
#include "config/xml_access.h"
#include "config/xml_diagnostic.h"

XERCES_CPP_NAMESPACE_BEGIN
class DOMDocument;
class DOMElement;
class DOMImplementation;
XERCES_CPP_NAMESPACE_END

namespace korvo {

// Result codes of the key document.
constexpr int kKeyManagerMissing = -1;  // KeyFile natives only
constexpr int kKeyNotFound = -111;      // position, "Rights" count, CDATA content
constexpr int kKeyAlreadyOpen = -112;
constexpr int kKeyParserNotCreated = -113;
constexpr int kKeyOutOfMemory = -114;
constexpr int kKeyXmlException = -115;  // also: an existing file that cannot be read, a failed save
constexpr int kKeyDomException = -116;
constexpr int kKeyOtherException = -117;
constexpr int kKeyNotOpen = -118;
constexpr int kKeyBadAccess = -119;
constexpr int kKeyNoSuchUser = -120;
constexpr int kKeyBadDatatype = -121;
constexpr int kKeyBadOperator = -122;
constexpr int kKeyBadType = -123;
constexpr int kKeyNoSuchDevice = -124;
constexpr int kKeyNoCurrentDevice = -125;
constexpr int kKeyNoImplementation = -126;
constexpr int kKeyNoCurrentSignature = -127;
constexpr int kKeyDecompressFailed = -128;
constexpr int kKeyBusy = -129;  // a key-file or compression call runs (or SetupJNI); natives only

// What a key document code means; "" for a code outside the band.
const char* KeyResultText(int code);

// "access" of a "User".
enum AccessCode : int { kAccessGrant = 0, kAccessDeny = 1, kAccessRule = 2 };

// "TAVISType": how a communication name reaches the device.
enum CommandType : int { kCommandMethod = 0 /* "MN" */, kCommandVariable = 1 /* "RN" */ };

// "datatype" of a "Rule"; 1 and 2 are never written.
enum RuleDatatype : int { kRuleString = 0, kRuleInt = 3 };

// Content of the first CDATA child of `element` (joined with the CDATA
// sections directly after it, which is how a value holding "]]>" is stored);
// -111 when there is none. A plain text child does not count.
int GetCdataContent(xercesc::DOMElement* element, std::string& out);

class KeyDocument final {
 public:
  KeyDocument();
  ~KeyDocument();
  KeyDocument(const KeyDocument&) = delete;
  KeyDocument& operator=(const KeyDocument&) = delete;

  // Opens the key file at `path`; with `decompress` the file is first
  // decompressed into the process's "KEYFILE_TMP" file, which is deleted on
  // every way out. A path without a file starts a new empty document; a
  // file that is there but cannot be read gives -115 and stays closed.
  // A file that is not well-formed opens without content (0): the readers
  // and editors then report -111 and Close(true) writes nothing.
  int Open(const std::string& path, bool decompress);

  // Writes the document as plain pretty-printed XML to the opened path when
  // `save`, then releases it. A failed write gives -115 and leaves the
  // document open, the file on disk untouched.
  int Close(bool save);

  // Opens key-file text held in memory, read as Open reads a file. The
  // document has no path: Close(true) cannot write it (-115), SaveXml can.
  int OpenXml(const std::string& xml);
  // The text Close(true) would write; -111 when the document opened without
  // content, `out` then untouched.
  int SaveXml(std::string& out);

  bool IsOpen() const { return open_; }
  const std::string& path() const { return path_; }
  // Why the last Open did not read the file's content, and where ("" reason
  // when it did, or when it started a new document).
  const XmlDiagnostic& LoadDiagnostic() const { return diagnostic_; }

  // File-to-file compression; 0 or -1. No open document needed. On failure
  // an existing output file is left as it was.
  int Compress(const std::string& input_path, const std::string& output_path);
  int Decompress(const std::string& input_path, const std::string& output_path);

  // Editing. Each checks open (-118) and the DOM implementation (-126) first;
  // SetKeyUserAccess checks its access code (-119) before both. Elements
  // appended before a later check fails stay in the document.
  int AddKeyDevice();
  int SetDeviceKey(int device, const std::string& key);
  int AddKeySignature(int device);
  int SetKeySignatureAttributes(int device, int signature, const std::string& value,
                                const std::string& communication_name);
  int AddKeyIdentficationRule(int device, int type, const std::string& communication_name,
                              const std::string& value, int index);
  int SetKeyUserAccess(int device, int signature, int level, int access);
  int AddKeyUserRule(int device, int signature, int level, int datatype, int op,
                     const std::string& specified_value, const std::string& communication_name,
                     int type, int index);

  // Cursor readers. The cursor (current device, current signature) is set
  // only by SelectDevice / SelectSignature and cleared when the document is
  // released, so select a device after every open. Outputs are untouched on
  // failure.
  int SelectDevice(const std::string& key);
  int GetIdentificationCount(int& count);
  int GetSignatureCount(int& count);
  int GetIdentification(int n, std::string& value, std::string& communication_name, int& type,
                        uint32_t& index);
  int GetSignature(int n, std::string& value, std::string& communication_name);
  // A position that does not exist clears the current signature and gives -111.
  int SelectSignature(int n);
  int GetUserAccess(int level, int& access);
  int GetRuleCount(int level, int& count);
  // Appends the rule's specified values to `specified_values`.
  int GetRule(int level, int n, std::vector<std::string>& specified_values,
              std::string& communication_name, int& type, uint32_t& index, int& datatype,
              int& op);

 private:
  template <typename Body>
  int Guard(Body&& body);
  int TakeParsed(int rc, ParserHandle parser, xercesc::DOMDocument* parsed);
  int CheckEditable();
  int Release();
  int FindDevice(int device, xercesc::DOMElement*& out);
  int FindSignature(int device, int signature, xercesc::DOMElement*& out);
  int FindUser(int level, xercesc::DOMElement*& out);
  xercesc::DOMElement* FirstUserWithLevel(xercesc::DOMElement* rights, int level);

  xercesc::DOMImplementation* implementation_ = nullptr;
  ParserHandle parser_;
  xercesc::DOMDocument* document_ = nullptr;  // owned by parser_, or by us when new
  bool owns_document_ = false;
  SplayCompressor compressor_;
  bool open_ = false;
  std::string path_;
  XmlDiagnostic diagnostic_;
  xercesc::DOMElement* current_device_ = nullptr;
  xercesc::DOMElement* current_signature_ = nullptr;
  ElementIndex elements_;  // of document_
  struct UserMemo {
    xercesc::DOMElement* rights = nullptr;
    int level = 0;
    xercesc::DOMElement* user = nullptr;
  } user_memo_;  // the last FirstUserWithLevel
};

}  // namespace korvo
