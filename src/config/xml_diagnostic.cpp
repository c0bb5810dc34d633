#include "config/xml_diagnostic.h"

#include <xercesc/sax/SAXParseException.hpp>

#include "config/xml_access.h"

namespace korvo {

std::string XmlDiagnostic::Text() const {
  std::string text = file;
  auto add = [&text](const std::string& part) { text += (text.empty() ? "" : ": ") + part; };
  if (line > 0)
    add("line " + std::to_string(line) + (column > 0 ? ", column " + std::to_string(column) : ""));
  if (!reason.empty()) add(reason);
  return text;
}

XmlErrorRecorder::XmlErrorRecorder(XmlDiagnostic& diagnostic, const std::string& file)
    : diagnostic_(diagnostic) {
  diagnostic_ = XmlDiagnostic();
  diagnostic_.file = file;
}

void XmlErrorRecorder::Take(const xercesc::SAXParseException& e) {
  if (diagnostic_.failed()) return;
  diagnostic_.line = uint64_t(e.getLineNumber());
  diagnostic_.column = uint64_t(e.getColumnNumber());
  diagnostic_.reason = NarrowText(e.getMessage());
  if (diagnostic_.reason.empty()) diagnostic_.reason = "not well-formed XML";
}

void XmlErrorRecorder::FileNotRead(InputFileError why) {
  switch (why) {
    case InputFileError::kNotFound: diagnostic_.reason = "no such file"; break;
    case InputFileError::kNotRegular:
      diagnostic_.reason = "not a regular file (a folder, a device or a pipe)";
      break;
    case InputFileError::kTooLarge:
      diagnostic_.reason = "too large (an XML document may have at most " +
                           std::to_string(kMaxXmlDocumentBytes >> 20) + " MiB)";
      break;
    default: diagnostic_.reason = "cannot be opened"; break;
  }
}

void XmlErrorRecorder::EntityRefused(const std::string& name, uint64_t line, uint64_t column) {
  diagnostic_.line = line;
  diagnostic_.column = column;
  diagnostic_.reason =
      "the document type declares the entity '" + name + "', and entity declarations are refused";
}

void XmlErrorRecorder::ParseFailed(uint64_t file_size) {
  if (file_size == 0) {
    diagnostic_.line = diagnostic_.column = 0;
    diagnostic_.reason = "the file is empty";
  } else if (!diagnostic_.failed()) {
    diagnostic_.reason = "not well-formed XML";
  }
}

void XmlErrorRecorder::LibraryFailed(int code) {
  if (!diagnostic_.failed())
    diagnostic_.reason = "the XML library failed (error " + std::to_string(code) + ")";
}

}  // namespace korvo
