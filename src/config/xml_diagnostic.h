// Why a document did not load, and where, for people to read: the parser's
// first error with its line and column, or why the file could not be read.
// Result codes stay what they are; this only explains them. Documents keep
// the diagnostic of their last load.
#pragma once

#include <xercesc/sax/ErrorHandler.hpp>

#include <cstdint>
#include <string>

#include "platform/system.h"

namespace korvo {

struct XmlDiagnostic {
  std::string file;     // the file as the caller named it
  uint64_t line = 0;    // 1-based; 0 when the fault has no place in the text
  uint64_t column = 0;  // 1-based; 0 when unknown
  std::string reason;   // "" when nothing failed

  bool failed() const { return !reason.empty(); }
  // "FILE: line L, column C: REASON", leaving out what is unknown.
  std::string Text() const;
};

// Fills a diagnostic during one load of `file`: as the parser's error
// handler it takes the first error the parser reports (a fatal one ends the
// parse; warnings are no faults of the document), and the loader tells it
// the failures the parser does not see.
class XmlErrorRecorder final : public xercesc::ErrorHandler {
 public:
  XmlErrorRecorder(XmlDiagnostic& diagnostic, const std::string& file);

  void warning(const xercesc::SAXParseException&) override {}
  void error(const xercesc::SAXParseException& e) override { Take(e); }
  void fatalError(const xercesc::SAXParseException& e) override { Take(e); }
  void resetErrors() override {}

  void FileNotRead(InputFileError why);
  void EntityRefused(const std::string& name, uint64_t line, uint64_t column);
  // After a parse that failed: the parser's error, or a plainer reason.
  void ParseFailed(uint64_t file_size);
  // After an exception out of the XML library, when nothing else was said.
  void LibraryFailed(int code);

 private:
  void Take(const xercesc::SAXParseException& e);
  XmlDiagnostic& diagnostic_;
};

}  // namespace korvo
