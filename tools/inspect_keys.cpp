// The key file part of `korvo inspect`: devices with their keys,
// identification rules, signatures, and per signature the rights of each
// user level with their rules. Entries are read by the same rules as the
// access checks; what those could not use is marked. The file is read once
// into a JSON value, which --json prints and the text is written from.
#include <nlohmann/json.hpp>

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
using nlohmann::json;

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

bool IsOperator(const std::string& op) {
  for (const char* o : kOperators)
    if (op == o) return true;
  return false;
}

// ---- reading the file into a JSON value ----

// Gathers what the checks could not use, each naming where it is.
struct Reader {
  std::vector<std::string> warnings;
  void Warn(const std::string& where, const std::string& what) {
    warnings.push_back(where + ": " + what);
  }
};

json DeviceValue(const std::string& type, const std::string& name, const std::string& index,
                 const std::string& where, Reader& reader) {
  if (!IsOneOf(type, {"MN", "RN"})) reader.Warn(where, "unknown type " + Quoted(type));
  return {{"type", type}, {"name", name}, {"index", TextToUnsigned(index)}};
}

json Identifications(DOMElement* device, const std::string& where, Reader& reader) {
  json out = json::array();
  std::vector<DOMElement*> rules = Named(device, "Identification");
  for (size_t i = 0; i < rules.size(); ++i) {
    DOMElement* r = rules[i];
    json rule = DeviceValue(Attribute(r, "TAVISType"), Attribute(r, "CommunicationName"),
                            Attribute(r, "index"),
                            where + ", identification " + std::to_string(i), reader);
    rule["value"] = Attribute(r, "Value");
    out.push_back(rule);
  }
  return out;
}

// The key file's values stand on the left, the device value on the right.
json Rule(DOMElement* rule, const std::string& where, Reader& reader) {
  const std::string datatype = Attribute(rule, "datatype"), op = Attribute(rule, "operator");
  if (!IsOneOf(datatype, {"string", "int"})) reader.Warn(where, "unknown datatype " + Quoted(datatype));
  if (!IsOperator(op)) reader.Warn(where, "unknown operator " + Quoted(op));
  json values = json::array();
  for (DOMElement* v : Named(rule, "SpecifiedValue")) {
    std::string value;
    values.push_back(GetCdataContent(v, value) == 0 ? json(value) : json());
    if (values.back().is_null()) reader.Warn(where, "a specified value is not in CDATA");
  }
  std::vector<DOMElement*> names = Named(rule, "CommunicationName");
  std::string name;
  json device_value;
  if (names.empty() || GetCdataContent(names[0], name) != 0)
    reader.Warn(where, "no communication name in CDATA");
  else
    device_value = DeviceValue(Attribute(names[0], "TAVISType"), name,
                               Attribute(names[0], "index"), where, reader);
  return {{"datatype", datatype}, {"values", values}, {"operator", op},
          {"device_value", device_value}};
}

json User(DOMElement* user, std::set<std::string>& levels_seen, const std::string& where,
          Reader& reader) {
  const std::string level = Attribute(user, "level"), access = Attribute(user, "access");
  const std::string at = where + ", level " + level;
  std::string note;
  long long number = std::atoll(level.c_str());
  if (level != std::to_string(number) || number < INT32_MIN || number > INT32_MAX)
    note = "level text never matches";
  else if (!levels_seen.insert(level).second)
    note = "level repeated: never read";
  if (!note.empty()) reader.Warn(at, note);
  if (!IsOneOf(access, {"grant", "deny", "rule"})) reader.Warn(at, "unknown access " + Quoted(access));
  json rules = json::array();
  std::vector<DOMElement*> elements = Named(user, "Rule");
  for (size_t i = 0; i < elements.size(); ++i)
    rules.push_back(Rule(elements[i], at + ", rule " + std::to_string(i), reader));
  if (access == "rule" && rules.empty()) reader.Warn(at, "access by rule, and no rules");
  return {{"level", level}, {"access", access}, {"note", note}, {"rules", rules}};
}

json Signature(DOMElement* signature, const std::string& where, Reader& reader) {
  json out = {{"communication_name", Attribute(signature, "CommunicationName")},
              {"value", Attribute(signature, "Value")}};
  std::vector<DOMElement*> rights = Named(signature, "Rights");
  out["rights_sections"] = rights.size();
  json users = json::array();
  if (rights.size() > 1) reader.Warn(where, "Rights repeated, unreadable");
  std::set<std::string> levels_seen;
  if (rights.size() == 1)
    for (DOMElement* user : Named(rights[0], "User"))
      users.push_back(User(user, levels_seen, where, reader));
  out["users"] = users;
  return out;
}

json Device(size_t n, DOMElement* device, std::set<std::string>& keys_seen, Reader& reader) {
  const std::string key = Attribute(device, "Key"), where = "device " + std::to_string(n);
  const bool repeated = !keys_seen.insert(key).second;
  if (repeated) reader.Warn(where, "key repeated: never selected");
  json identifications = Identifications(device, where, reader);
  json signatures = json::array();
  std::vector<DOMElement*> elements = Named(device, "Signature");
  for (size_t i = 0; i < elements.size(); ++i)
    signatures.push_back(Signature(elements[i], where + ", signature " + std::to_string(i), reader));
  return {{"index", n},
          {"key", key},
          {"key_repeated", repeated},
          {"identifications", identifications},
          {"signatures", signatures}};
}

// ---- the text, written from the value ----

std::string DeviceValueText(const json& v) {
  const std::string type = v["type"];
  std::string out = IsOneOf(type, {"MN", "RN"}) ? type : Quoted(type) + " (unknown type)";
  return out + " " + Quoted(v["name"]) + " [index " + std::to_string(v["index"].get<uint32_t>()) + "]";
}

void PrintRule(size_t n, const json& rule) {
  const std::string datatype = rule["datatype"], op = rule["operator"];
  std::string line = "          Rule " + std::to_string(n) + " (";
  line += IsOneOf(datatype, {"string", "int"}) ? datatype : Quoted(datatype) + ", unknown datatype";
  line += "):";
  const json& values = rule["values"];
  if (values.empty()) line += " (no specified value)";
  for (size_t i = 0; i < values.size(); ++i) {
    line += i == 0 ? " " : " or ";
    line += values[i].is_null() ? "(value not in CDATA)" : Quoted(values[i]);
  }
  line += " " + (IsOperator(op) ? op : Quoted(op) + " (unknown operator)") + " ";
  line += rule["device_value"].is_null() ? "(no communication name in CDATA)"
                                         : DeviceValueText(rule["device_value"]);
  std::printf("%s\n", line.c_str());
}

void PrintUser(const json& user) {
  const std::string level = user["level"], access = user["access"], note = user["note"];
  std::printf("        Level %s: %s%s\n", level.c_str(),
              IsOneOf(access, {"grant", "deny", "rule"})
                  ? access.c_str()
                  : (Quoted(access) + " (unknown access)").c_str(),
              note.empty() ? "" : (" (" + note + ")").c_str());
  const json& rules = user["rules"];
  for (size_t i = 0; i < rules.size(); ++i) PrintRule(i, rules[i]);
  if (access == "rule" && rules.empty()) std::printf("          no rules\n");
}

void PrintSignature(size_t n, const json& signature) {
  const std::string name = signature["communication_name"];
  if (name.empty())
    std::printf("    Signature %zu: any device (no communication name)\n", n);
  else
    std::printf("    Signature %zu: RN %s must match %s\n", n, Quoted(name).c_str(),
                Quoted(signature["value"]).c_str());
  const size_t rights = signature["rights_sections"].get<size_t>();
  if (rights != 1) {
    std::printf(rights == 0 ? "      Rights: none\n" : "      Rights: repeated %zu times, unreadable\n",
                rights);
    return;
  }
  const json& users = signature["users"];
  std::printf(users.empty() ? "      Rights: no user levels\n" : "      Rights:\n");
  for (const json& user : users) PrintUser(user);
}

void PrintDevice(const json& device) {
  std::printf("Device %zu: key %s%s\n", device["index"].get<size_t>(),
              Quoted(device["key"]).c_str(),
              device["key_repeated"].get<bool>() ? " (key repeated: never selected)" : "");
  const json& identifications = device["identifications"];
  std::printf(identifications.empty() ? "  Identification: none\n" : "  Identification:\n");
  for (size_t i = 0; i < identifications.size(); ++i) {
    std::printf("    %zu: %s must match %s\n", i, DeviceValueText(identifications[i]).c_str(),
                Quoted(identifications[i]["value"]).c_str());
  }
  const json& signatures = device["signatures"];
  if (signatures.empty()) {
    std::printf("  Signatures: none\n");
    return;
  }
  std::printf("  Signatures: %zu\n", signatures.size());
  for (size_t i = 0; i < signatures.size(); ++i) PrintSignature(i, signatures[i]);
}

}  // namespace

int PrintKeyFileSummary(const std::string& xml_path, const std::string& shown_name, bool as_json) {
  ParserHandle parser;
  DOMDocument* document = nullptr;
  XmlDiagnostic why;
  if (LoadXmlDocument(xml_path, parser, document, nullptr, &why) != 0) {
    why.file.clear();
    std::fprintf(stderr, "korvo: %s: key file is not well-formed XML: %s\n", shown_name.c_str(),
                 why.Text().c_str());
    return 1;
  }
  Reader reader;
  std::set<std::string> keys_seen;
  json devices = json::array();
  std::vector<DOMElement*> elements = Named(document->getDocumentElement(), "Device");
  for (size_t i = 0; i < elements.size(); ++i)
    devices.push_back(Device(i, elements[i], keys_seen, reader));
  if (as_json) {
    json out = {{"file", shown_name}, {"kind", "key file"}, {"devices", devices},
                {"warnings", reader.warnings}};
    std::printf("%s\n", out.dump(2, ' ', false, json::error_handler_t::replace).c_str());
    return 0;
  }
  std::printf("Key file: %s\n", shown_name.c_str());
  std::printf("Devices: %zu\n", devices.size());
  for (const json& device : devices) PrintDevice(device);
  return 0;
}

}  // namespace korvo::tools
