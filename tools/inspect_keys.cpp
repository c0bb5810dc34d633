// The key file part of `korvo inspect`: devices with their keys,
// identification rules, signatures, and per signature the rights of each
// user level with their rules. Entries are read by the same rules as the
// access checks; what those could not use is marked.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "config/numbers.h"
#include "config/xml_access.h"
#include "keys/key_document.h"
#include "tools/commands.h"

using namespace xercesc;

namespace korvo::tools {
namespace {

constexpr size_t kShownMax = 100;
constexpr const char* kOperators[] = {"=", "!=", ">=", "<=", ">", "<"};

// Quoted, on one line, bounded.
std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (out.size() > kShownMax) {
      out += "...(" + std::to_string(text.size()) + " characters)";
      break;
    }
    if (c == '\n') out += "\\n";
    else if (c < 0x20) out += "?";
    else out.push_back(char(c));
  }
  return out + "\"";
}

std::vector<DOMElement*> Named(DOMElement* scope, const char* name) {
  return ElementsNamed(scope, name);
}

bool IsOneOf(const std::string& text, std::initializer_list<const char*> texts) {
  for (const char* t : texts)
    if (text == t) return true;
  return false;
}

// "RN FirmwareVersion [index 1]", marking a type the checks refuse.
std::string DeviceValue(const std::string& type, const std::string& name,
                        const std::string& index) {
  std::string out = IsOneOf(type, {"MN", "RN"}) ? type : Quoted(type) + " (unknown type)";
  out += " " + Quoted(name);
  out += " [index " + std::to_string(TextToUnsigned(index)) + "]";
  return out;
}

void PrintIdentifications(DOMElement* device) {
  std::vector<DOMElement*> rules = Named(device, "Identification");
  if (rules.empty()) {
    std::printf("  Identification: none\n");
    return;
  }
  std::printf("  Identification:\n");
  for (size_t i = 0; i < rules.size(); ++i) {
    DOMElement* r = rules[i];
    std::printf("    %zu: %s must match %s\n", i,
                DeviceValue(Attribute(r, "TAVISType"), Attribute(r, "CommunicationName"),
                            Attribute(r, "index"))
                    .c_str(),
                Quoted(Attribute(r, "Value")).c_str());
  }
}

// "Rule 0 (int): "0x10" or "7" > RN "HW" [index 1]": the key file's values
// stand on the left, the device value on the right.
void PrintRule(size_t n, DOMElement* rule) {
  std::string datatype = Attribute(rule, "datatype");
  std::string op = Attribute(rule, "operator");
  std::string line = "          Rule " + std::to_string(n) + " (";
  line += IsOneOf(datatype, {"string", "int"}) ? datatype : Quoted(datatype) + ", unknown datatype";
  line += "):";
  std::vector<DOMElement*> values = Named(rule, "SpecifiedValue");
  if (values.empty()) line += " (no specified value)";
  for (size_t i = 0; i < values.size(); ++i) {
    std::string value;
    line += i == 0 ? " " : " or ";
    line += GetCdataContent(values[i], value) == 0 ? Quoted(value) : "(value not in CDATA)";
  }
  bool op_known = false;
  for (const char* o : kOperators) op_known = op_known || op == o;
  line += " " + (op_known ? op : Quoted(op) + " (unknown operator)") + " ";
  std::vector<DOMElement*> names = Named(rule, "CommunicationName");
  std::string name;
  if (names.empty() || GetCdataContent(names[0], name) != 0)
    line += "(no communication name in CDATA)";
  else
    line += DeviceValue(Attribute(names[0], "TAVISType"), name, Attribute(names[0], "index"));
  std::printf("%s\n", line.c_str());
}

void PrintUser(DOMElement* user, std::set<std::string>& levels_seen) {
  std::string level = Attribute(user, "level");
  std::string access = Attribute(user, "access");
  std::string note;
  const int32_t number = TextToInt(level);
  if (level != std::to_string(number))
    note = " (level text never matches)";
  else if (!levels_seen.insert(level).second)
    note = " (level repeated: never read)";
  std::printf("        Level %s: %s%s\n", level.c_str(),
              IsOneOf(access, {"grant", "deny", "rule"})
                  ? access.c_str()
                  : (Quoted(access) + " (unknown access)").c_str(),
              note.c_str());
  std::vector<DOMElement*> rules = Named(user, "Rule");
  for (size_t i = 0; i < rules.size(); ++i) PrintRule(i, rules[i]);
  if (access == "rule" && rules.empty()) std::printf("          no rules\n");
}

void PrintSignature(size_t n, DOMElement* signature) {
  std::string name = Attribute(signature, "CommunicationName");
  if (name.empty())
    std::printf("    Signature %zu: any device (no communication name)\n", n);
  else
    std::printf("    Signature %zu: RN %s must match %s\n", n, Quoted(name).c_str(),
                Quoted(Attribute(signature, "Value")).c_str());
  std::vector<DOMElement*> rights = Named(signature, "Rights");
  if (rights.size() != 1) {
    std::printf(rights.empty() ? "      Rights: none\n"
                               : "      Rights: repeated %zu times, unreadable\n",
                rights.size());
    return;
  }
  std::vector<DOMElement*> users = Named(rights[0], "User");
  std::printf(users.empty() ? "      Rights: no user levels\n" : "      Rights:\n");
  std::set<std::string> levels_seen;
  for (DOMElement* user : users) PrintUser(user, levels_seen);
}

void PrintDevice(size_t n, DOMElement* device, std::set<std::string>& keys_seen) {
  std::string key = Attribute(device, "Key");
  bool repeated = !keys_seen.insert(key).second;
  std::printf("Device %zu: key %s%s\n", n, Quoted(key).c_str(),
              repeated ? " (key repeated: never selected)" : "");
  PrintIdentifications(device);
  std::vector<DOMElement*> signatures = Named(device, "Signature");
  if (signatures.empty()) {
    std::printf("  Signatures: none\n");
    return;
  }
  std::printf("  Signatures: %zu\n", signatures.size());
  for (size_t i = 0; i < signatures.size(); ++i) PrintSignature(i, signatures[i]);
}

}  // namespace

int PrintKeyFileSummary(const std::string& xml_path, const std::string& shown_name) {
  std::unique_ptr<ConfigParser> parser;
  DOMDocument* document = nullptr;
  DOMElement* root = nullptr;
  if (LoadXmlDocument(xml_path, parser, document) == 0) root = document->getDocumentElement();
  if (!root) {
    std::fprintf(stderr, "korvo: %s: key file is not well-formed XML\n", shown_name.c_str());
    return 1;
  }
  std::vector<DOMElement*> devices = Named(root, "Device");
  std::printf("Key file: %s\n", shown_name.c_str());
  std::printf("Devices: %zu\n", devices.size());
  std::set<std::string> keys_seen;
  for (size_t i = 0; i < devices.size(); ++i) PrintDevice(i, devices[i], keys_seen);
  return 0;
}

}  // namespace korvo::tools
