// Why a document did not load, and where, for people to read: the parser's
// first error with its line and column, or why the file could not be read.
// Result codes stay what they are; this only explains them. Documents keep
// the diagnostic of their last load.
#pragma once

#include <xercesc/sax/ErrorHandler.hpp>

#include <cstdint>
#include <string>

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

// The parser's error handler during a load: takes the first error it
// reports (a fatal one ends the parse) into `diagnostic`; warnings are not
// faults of the document.
class XmlErrorRecorder final : public xercesc::ErrorHandler {
 public:
  explicit XmlErrorRecorder(XmlDiagnostic& diagnostic) : diagnostic_(diagnostic) {}
  void warning(const xercesc::SAXParseException&) override {}
  void error(const xercesc::SAXParseException& e) override { Take(e); }
  void fatalError(const xercesc::SAXParseException& e) override { Take(e); }
  void resetErrors() override {}

 private:
  void Take(const xercesc::SAXParseException& e);
  XmlDiagnostic& diagnostic_;
};

}  // namespace korvo
