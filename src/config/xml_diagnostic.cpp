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

void XmlErrorRecorder::Take(const xercesc::SAXParseException& e) {
  if (diagnostic_.failed()) return;
  diagnostic_.line = uint64_t(e.getLineNumber());
  diagnostic_.column = uint64_t(e.getColumnNumber());
  diagnostic_.reason = NarrowText(e.getMessage());
  if (diagnostic_.reason.empty()) diagnostic_.reason = "not well-formed XML";
}

}  // namespace korvo
