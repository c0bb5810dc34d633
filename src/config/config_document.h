// Reader of download configuration files: a compressed XML document
// (root download_configuration) with one Header holding the global entries
// (System2, or System in older files) and one Device per device, and one
// Data section holding each device's data as Base64 text.
//
// Devices count from 0 in document order of Header/Device, and of
// Data/Device for the data operations; the two are assumed to be in the
// same order, as the builder writes them. The devices' data texts are kept
// in temporary files beside the tree while the document is loaded (see
// DataTextFiles), so that a payload of any size costs a few kilobytes.
//
// Not thread-safe; one object per user. No exception leaves an operation.
#pragma once

#include <xercesc/dom/DOMDocument.hpp>

#include <functional>
#include <memory>
#include <string>

#include "config/data_text_files.h"
#include "config/splay_compressor.h"
#include "config/xml_access.h"

namespace korvo {

// Result codes of the configuration document band.
constexpr int kConfigNotLoaded = -68;             // query on an unloaded document
constexpr int kConfigBadConstraintNumber = -81;   // constraint number outside 1..9
constexpr int kConfigAlreadyLoaded = -82;         // Load on a loaded document
constexpr int kConfigOutOfMemory = -84;           // OutOfMemoryException
constexpr int kConfigXmlException = -85;          // XMLException (also: not well-formed)
constexpr int kConfigDomException = -86;          // DOMException
constexpr int kConfigOtherException = -87;        // any other exception
constexpr int kConfigUnloadNotLoaded = -88;       // Unload / GetLogText when unloaded
constexpr int kConfigMissing = -89;               // section, device or entry missing or
                                                  // not unique; unknown constraint word;
                                                  // data that is not valid Base64
constexpr int kConfigParserNotCreated = -90;      // parser could not be created
constexpr int kConfigFileError = -91;             // cannot decompress, or output file
                                                  // cannot be opened or fully written
constexpr int kConfigIndexPastEnd = -95;          // past the last Log or transparent entry
constexpr int kConfigNoText = -111;               // the element found has no text child

// What a configuration document code means; "" for a code outside the band.
const char* ConfigResultText(int code);

constexpr int kFirstConstraintNumber = 1;
constexpr int kLastConstraintNumber = 9;

// Where a constraint's device value comes from ("type" attribute).
constexpr int kConstraintMethod = 0;    // "method": call a device method
constexpr int kConstraintVariable = 1;  // "variable": read a device variable
// How the value is compared ("datatype" attribute).
constexpr int kConstraintString = 0;    // "string"
constexpr int kConstraintInteger = 1;   // "int"
// A type or datatype word that is none of the above (GetConstraint then
// returns -89 with the other fields filled).
constexpr int kConstraintUnknownKind = -1;

// One DOWNLOAD_CONSTRAINT[n] element of a device, as GetConstraint reads it.
struct DownloadConstraint {
  bool present = false;
  std::string communicationName;
  std::string operatorText;  // the "operator" attribute, e.g. "=", ">="
  int methodKind = kConstraintMethod;
  std::string comparison;
  int datatypeKind = kConstraintString;
  int strlen = 0;
  int index = 0;
};

// The element name of constraint `number` (1 -> "DOWNLOAD_CONSTRAINT",
// 2..9 -> "DOWNLOAD_CONSTRAINT2".."DOWNLOAD_CONSTRAINT9").
std::string ConstraintElementName(int number);

class ConfigDocument final {
 public:
  ConfigDocument();
  ~ConfigDocument();
  ConfigDocument(const ConfigDocument&) = delete;
  ConfigDocument& operator=(const ConfigDocument&) = delete;

  // Decompresses the file at `path` (UTF-8) into the process's "CONFIG"
  // temporary file, parses it and deletes the temporary file on every path.
  // 0, -82 (already loaded), -91 (cannot decompress, or the data texts
  // cannot be written to their temporary files), -90, -84..-87.
  int Load(const std::string& path);
  // The same from the XML text itself, as it stands after decompression.
  int LoadXml(const std::string& xml);
  // 0, or -88 when not loaded.
  int Unload();
  bool IsLoaded() const { return loaded_; }
  // Why the last Load failed, and where in the decompressed text ("" reason
  // after a successful one).
  const XmlDiagnostic& LoadDiagnostic() const { return diagnostic_; }

  // Number of Header/Device elements. 0, -68, -89 (no single Header).
  int GetDeviceCount(int& count);

  // Text of the single element `name` under Header/Device number `device`.
  // value is cleared first. 0, -68, -89, -111.
  int GetDeviceEntry(int device, const std::string& name, std::string& value);

  // The n-th (from 0) direct child element of the device carrying
  // transparent="true" (exact). 0, -68, -89, -95, -111.
  int GetTransparentEntry(int device, int n, std::string& name, std::string& value);

  // Text of the device's Log element number k (from 0). 0, -88 (not
  // loaded), -89, -95, -111.
  int GetLogText(int device, int k, std::string& value);

  // Constraint `number` (1..9) of the device. present is cleared first; a
  // missing (or repeated) element leaves it false and returns 0.
  // 0, -81, -68, -89 (Header/device missing, or unknown type/datatype word;
  // then present and the other fields are still filled).
  int GetConstraint(int device, int number, DownloadConstraint& constraint);

  // Text of the global entry `name`: from Header/System2 when there is
  // exactly one (legacy false), otherwise from a single Header/System
  // (legacy true). value is cleared and legacy set false first.
  // 0, -68, -89, -111.
  int GetSystemEntry(const std::string& name, std::string& value, bool* legacy = nullptr);

  // Decodes the Base64 text of Data/Device number `device` and writes it to
  // `output_path` (UTF-8), a piece at a time. The Device must hold exactly
  // one child node, a text node, that decodes. On failure no output file is
  // left behind and an existing one is kept. -91 when the output cannot be
  // opened for writing, even if the data is missing too. 0, -68, -89, -91.
  int ExtractData(int device, const std::string& output_path);

  // As ExtractData, but hands the bytes to `take` a piece at a time instead
  // of writing them; `take` returns false to stop. 0, -68, -89, -91 (the
  // text could not be read back, or `take` stopped).
  int DecodeData(int device, const std::function<bool(const uint8_t*, size_t)>& take);

  // As ExtractData, but writes the device's first text child unchanged.
  int ExtractText(int device, const std::string& output_path);

  // The parsed document for read-only walks (tools); null when unloaded.
  xercesc::DOMDocument* Document() const { return document_; }
  // Its elements by name, for those walks.
  ElementIndex& Elements() { return elements_; }
  // Header/Device number `device`; null when there is none.
  xercesc::DOMElement* HeaderDevice(int device);

 private:
  xercesc::DOMElement* DataDevice(int device);
  // Parses with `load(parser, document, texts)` and takes the result.
  template <typename Parse>
  int Adopt(Parse&& load);
  bool ReadText(xercesc::DOMText* node, const std::function<bool(const char*, size_t)>& take);
  int Decode(xercesc::DOMText* text, const std::function<bool(const uint8_t*, size_t)>& take);
  // Runs `write` on a file that replaces the output when `write` returns 0.
  template <typename Write>
  int WriteOutput(const std::string& output_path, Write&& write);

  xercesc::DOMDocument* document_ = nullptr;
  ParserHandle parser_;
  ElementIndex elements_;  // of the loaded document
  std::unique_ptr<DataTextFiles> texts_;  // of the loaded document
  SplayCompressor compressor_;
  bool loaded_ = false;
  XmlDiagnostic diagnostic_;
};

}  // namespace korvo
