// korvo inspect [--xml|--json] FILE: a readable summary of a configuration
// file (or, handed on, of a key file); --xml prints the plain XML instead,
// --json the summary for programs.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "config/config_document.h"
#include "config/crc32.h"
#include "config/payload_check.h"
#include "config/splay_compressor.h"
#include "config/temp_files.h"
#include "config/xml_access.h"
#include "platform/system.h"
#include "tools/commands.h"

using namespace xercesc;

namespace korvo::tools {
namespace {

constexpr size_t kShownValueMax = 100;

int Fail(const std::string& file, const std::string& reason) {
  std::fprintf(stderr, "korvo: %s: %s\n", file.c_str(), reason.c_str());
  return 1;
}

// 1 yes, 0 no, -1 cannot read.
int StartsWithMagic(const std::string& path) {
  UniqueFile file(OpenFileUtf8(path, "rb"));
  if (!file) return -1;
  unsigned char head[4] = {};
  size_t got = std::fread(head, 1, sizeof head, file.get());
  uint32_t magic = uint32_t(head[0]) | uint32_t(head[1]) << 8 | uint32_t(head[2]) << 16 |
                   uint32_t(head[3]) << 24;
  return got == sizeof head && magic == kCompressedFileMagic ? 1 : 0;
}

bool CopyToStdout(const std::string& path) {
  UniqueFile file(OpenFileUtf8(path, "rb"));
  if (!file) return false;
  char chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0)
    if (std::fwrite(chunk, 1, got, stdout) != got) return false;
  return !std::ferror(file.get()) && std::fflush(stdout) == 0;
}

// One line, bounded: control characters escaped, long texts cut.
std::string Shown(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (out.size() >= kShownValueMax) {
      // Never leave half a UTF-8 sequence behind.
      if ((static_cast<unsigned char>(out.back()) & 0x80) != 0) {
        while (!out.empty() && (static_cast<unsigned char>(out.back()) & 0xC0) == 0x80)
          out.pop_back();
        if (!out.empty()) out.pop_back();
      }
      out += "... (" + std::to_string(text.size()) + " bytes)";
      break;
    }
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else if (c < 0x20) out += "?";
    else out.push_back(char(c));
  }
  return out;
}

// "FILE: cannot load configuration: WHERE AND WHY (error N)".
int LoadFailure(const ConfigDocument& doc, int rc) {
  XmlDiagnostic why = doc.LoadDiagnostic();
  const std::string file = why.file;
  why.file.clear();
  return Fail(file, "cannot load configuration: " + why.Text() + " (error " + std::to_string(rc) + ")");
}

// How the library reads an entry: its value, or why it cannot.
std::string Reading(int rc, const std::string& value) {
  if (rc == 0) return Shown(value);
  if (rc == kConfigNoText) return "(no text)";
  if (rc == kConfigMissing) return "(not unique: unreadable)";
  return "(error " + std::to_string(rc) + ")";
}

bool IsShownSeparately(const std::string& tag) {
  return tag == "Log" || tag.rfind("DOWNLOAD_CONSTRAINT", 0) == 0;
}

void PrintSystemEntries(ConfigDocument& doc) {
  DOMElement* header = FindSingleElement(doc.Document(), "Header");
  DOMElement* section = FindSingleElement(header, "System2");
  const char* section_name = "System2";
  if (!section) {
    section = FindSingleElement(header, "System");
    section_name = "System, legacy";
  }
  if (!section) {
    std::printf("System entries: none (no single System2 or System section)\n");
    return;
  }
  std::printf("System entries (%s):\n", section_name);
  for (DOMNode* n = section->getFirstChild(); n; n = n->getNextSibling()) {
    DOMElement* entry = AsElement(n);
    if (!entry) continue;
    std::string name, value;
    GetTagName(entry, name);
    int rc = doc.GetSystemEntry(name, value);
    std::printf("  %s = %s\n", name.c_str(), Reading(rc, value).c_str());
  }
}

DOMElement* HeaderDevice(ConfigDocument& doc, int device) { return doc.HeaderDevice(device); }

// The kind as read, or the word the library did not accept.
std::string KindWord(int kind, const char* word0, const char* word1, DOMElement* constraint,
                     const char* attribute) {
  if (kind == 0) return word0;
  if (kind == 1) return word1;
  std::string raw(attribute);
  GetAttributeValue(constraint, raw);
  return "'" + Shown(raw) + "'?";
}

void PrintConstraints(ConfigDocument& doc, int device) {
  bool any = false;
  for (int n = kFirstConstraintNumber; n <= kLastConstraintNumber; ++n) {
    DownloadConstraint c;
    int rc = doc.GetConstraint(device, n, c);
    if (!c.present) continue;
    if (!any) std::printf("  Constraints:\n");
    any = true;
    DOMElement* element = FindSingleElement(HeaderDevice(doc, device), ConstraintElementName(n));
    std::string type = KindWord(c.methodKind, "method", "variable", element, "type");
    std::string datatype = KindWord(c.datatypeKind, "string", "int", element, "datatype");
    std::printf("    %d: %s %s %s \"%s\" (%s, index %d, strlen %d)%s\n", n, type.c_str(),
                Shown(c.communicationName).c_str(), Shown(c.operatorText).c_str(),
                Shown(c.comparison).c_str(), datatype.c_str(), c.index, c.strlen,
                rc == kConfigMissing ? "  [unknown type or datatype word]" : "");
  }
  if (!any) std::printf("  Constraints: none\n");
}

void PrintLogTexts(ConfigDocument& doc, int device) {
  std::string value;
  int k = 0;
  for (;; ++k) {
    int rc = doc.GetLogText(device, k, value);
    if (rc == kConfigIndexPastEnd || rc == kConfigMissing) break;
    if (k == 0) std::printf("  Log:\n");
    std::printf("    %d: %s\n", k, Reading(rc, value).c_str());
  }
  if (k == 0) std::printf("  Log: none\n");
}

// A device's decoded payload, whether it is whole and, for block streams,
// its memory map.
struct Payload {
  std::string type;  // DATA_TYPE, "" when unreadable
  int rc = 0;        // of the decoding
  uint64_t size = 0;
  uint32_t crc = 0;
  std::string damage;    // why it is not whole; "" when it is
  bool has_map = false;  // a block stream
  std::vector<BrekBlock> blocks;
};

Payload ReadPayload(ConfigDocument& doc, int device) {
  Payload p;
  if (doc.GetDeviceEntry(device, "DATA_TYPE", p.type) != 0) p.type.clear();
  p.has_map = p.type == "BREK" || p.type == "BREKBIN";
  PayloadCheck check(p.type, &p.blocks);
  // Read to the end even when damaged: size and CRC-32 are of all of it.
  p.rc = doc.DecodeData(device, [&](const uint8_t* data, size_t size) {
    p.size += size;
    p.crc = Crc32(data, size, p.crc);
    check.Add(data, size);
    return true;
  });
  if (p.rc == 0) p.damage = check.Finish();
  return p;
}

std::string Hex8(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "%08" PRIX64, value);
  return text;
}

// A block of the map, by address, so that gaps and overlaps show.
struct MapBlock {
  uint64_t start, end;
  size_t stream_index;  // its place in the block stream
  uint64_t gap_before;  // bytes between it and the blocks before it
  bool overlaps;        // it starts inside the blocks before it
};

std::vector<MapBlock> MemoryMap(const Payload& p) {
  std::vector<MapBlock> map;
  for (size_t i = 0; i < p.blocks.size(); ++i)
    map.push_back({p.blocks[i].address, uint64_t(p.blocks[i].address) + p.blocks[i].length, i, 0,
                   false});
  std::stable_sort(map.begin(), map.end(),
                   [](const MapBlock& a, const MapBlock& b) { return a.start < b.start; });
  uint64_t previous_end = 0;
  for (size_t i = 0; i < map.size(); ++i) {
    if (i > 0 && map[i].start > previous_end) map[i].gap_before = map[i].start - previous_end;
    map[i].overlaps = i > 0 && map[i].start < previous_end;
    previous_end = std::max(previous_end, map[i].end);
  }
  return map;
}

// What the map shows that a download would not want, one text each.
std::vector<std::string> PayloadWarnings(const Payload& p, int device) {
  const std::string where = "device " + std::to_string(device + 1) + ": ";
  std::vector<std::string> warnings;
  if (p.rc == kConfigMissing) warnings.push_back(where + "data: no single valid Base64 text");
  else if (p.rc != 0) warnings.push_back(where + "data: not readable (error " + std::to_string(p.rc) + ")");
  for (const MapBlock& b : MemoryMap(p))
    if (b.overlaps)
      warnings.push_back(where + "block " + Hex8(b.start) + "-" + Hex8(b.end) +
                         " overlaps the block before");
  if (p.has_map && p.rc == 0 && !p.damage.empty())
    warnings.push_back(where + "block stream damaged after " + std::to_string(p.blocks.size()) +
                       " blocks");
  return warnings;
}

void PrintMemoryMap(const Payload& p) {
  std::printf("  Memory map: %zu block%s%s\n", p.blocks.size(), p.blocks.size() == 1 ? "" : "s",
              p.damage.empty() ? "" : " (stream damaged after these)");
  const std::vector<MapBlock> map = MemoryMap(p);
  for (size_t i = 0; i < map.size(); ++i) {
    if (map[i].gap_before)
      std::printf("    gap   %s-%s %10" PRIu64 " bytes\n", Hex8(map[i].start - map[i].gap_before).c_str(),
                  Hex8(map[i].start).c_str(), map[i].gap_before);
    else if (map[i].overlaps)
      std::printf("    (overlaps the block before)\n");
    std::printf("    block %s-%s %10" PRIu64 " bytes\n", Hex8(map[i].start).c_str(),
                Hex8(map[i].end).c_str(), map[i].end - map[i].start);
  }
}

// Why the payload is damaged; "" when it is not.
std::string PrintData(ConfigDocument& doc, int device) {
  Payload p = ReadPayload(doc, device);
  std::string shown_type = p.type.empty() ? "unknown" : Shown(p.type);
  if (p.rc == 0)
    std::printf("  Data: %s, %" PRIu64 " bytes decoded, CRC-32 %08X%s%s\n", shown_type.c_str(),
                p.size, p.crc, p.damage.empty() ? "" : ", damaged: ", p.damage.c_str());
  else if (p.rc == kConfigMissing)
    std::printf("  Data: %s, no single valid Base64 text\n", shown_type.c_str());
  else
    std::printf("  Data: %s, not readable (error %d)\n", shown_type.c_str(), p.rc);
  if (p.has_map) PrintMemoryMap(p);
  return p.damage;
}

// Devices are numbered from 1 as the device, korvo-fe and korvo-sim number
// them; the JSON form also gives the index the natives take.
std::string PrintDevice(ConfigDocument& doc, int device) {
  std::printf("Device %d:\n", device + 1);
  DOMElement* element = HeaderDevice(doc, device);
  std::printf("  Entries:\n");
  for (DOMNode* n = element ? element->getFirstChild() : nullptr; n; n = n->getNextSibling()) {
    DOMElement* entry = AsElement(n);
    if (!entry) continue;
    std::string name, value, transparent = "transparent";
    GetTagName(entry, name);
    if (IsShownSeparately(name)) continue;
    GetAttributeValue(entry, transparent);
    int rc = doc.GetDeviceEntry(device, name, value);
    std::printf("    %s = %s%s\n", name.c_str(), Reading(rc, value).c_str(),
                transparent == "true" ? "  [transparent]" : "");
  }
  PrintConstraints(doc, device);
  PrintLogTexts(doc, device);
  return PrintData(doc, device);
}

nlohmann::json DeviceJson(ConfigDocument& doc, int device, std::vector<std::string>& warnings) {
  nlohmann::json entries = nlohmann::json::object();
  DOMElement* element = HeaderDevice(doc, device);
  for (DOMNode* n = element ? element->getFirstChild() : nullptr; n; n = n->getNextSibling()) {
    DOMElement* entry = AsElement(n);
    std::string name, value;
    if (!entry) continue;
    GetTagName(entry, name);
    if (doc.GetDeviceEntry(device, name, value) == 0) entries[name] = value;
  }
  Payload p = ReadPayload(doc, device);
  for (std::string& warning : PayloadWarnings(p, device)) warnings.push_back(std::move(warning));
  nlohmann::json out = {{"number", device + 1}, {"index", device}, {"entries", entries},
                        {"data_type", p.type}};
  if (p.rc != 0) {
    out["payload_error"] = p.rc;
    return out;
  }
  out["payload_bytes"] = p.size;
  out["crc32"] = Hex8(p.crc);
  if (!p.damage.empty()) out["damaged"] = p.damage;
  if (!p.has_map) return out;
  // In the text's order, by address; "stream_index" keeps the stream's.
  nlohmann::json blocks = nlohmann::json::array();
  for (const MapBlock& b : MemoryMap(p))
    blocks.push_back({{"start", Hex8(b.start)},
                      {"end", Hex8(b.end)},
                      {"bytes", b.end - b.start},
                      {"stream_index", b.stream_index}});
  out["blocks"] = blocks;
  out["blocks_complete"] = p.damage.empty();
  return out;
}

// A download would refuse the file: the first damaged payload says why.
std::string Damaged(int device, const std::string& why) {
  return "damaged: the data of device " + std::to_string(device + 1) + ": " + why;
}

// The JSON form of the summary, for programs.
int PrintConfigurationJsonFile(const std::string& file, std::vector<std::string> warnings) {
  ConfigDocument doc;
  int rc = doc.Load(file);
  if (rc != 0) return LoadFailure(doc, rc);
  int count = 0;
  if (doc.GetDeviceCount(count) != 0) return Fail(file, "no single Header section");
  nlohmann::json system = nlohmann::json::object();
  DOMElement* section = FindSingleElement(FindSingleElement(doc.Document(), "Header"), "System2");
  for (DOMNode* n = section ? section->getFirstChild() : nullptr; n; n = n->getNextSibling()) {
    std::string name, value;
    if (!AsElement(n)) continue;
    GetTagName(AsElement(n), name);
    if (doc.GetSystemEntry(name, value) == 0) system[name] = value;
  }
  nlohmann::json devices = nlohmann::json::array();
  std::string damage;
  for (int d = 0; d < count; ++d) {
    devices.push_back(DeviceJson(doc, d, warnings));
    if (damage.empty() && devices.back().contains("damaged"))
      damage = Damaged(d, devices.back()["damaged"].get<std::string>());
  }
  nlohmann::json out = {
      {"file", file}, {"kind", "configuration"}, {"system", system}, {"devices", devices},
      {"warnings", warnings}};
  std::printf("%s\n", out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  return damage.empty() ? 0 : Fail(file, damage);
}

int PrintConfigurationSummary(const std::string& file) {
  ConfigDocument doc;
  int rc = doc.Load(file);
  if (rc != 0) return LoadFailure(doc, rc);
  int count = 0;
  rc = doc.GetDeviceCount(count);
  if (rc != 0) return Fail(file, "no single Header section");
  std::printf("Configuration file: %s\n", file.c_str());
  PrintSystemEntries(doc);
  std::printf("Devices: %d\n", count);
  std::string damage;
  for (int d = 0; d < count; ++d) {
    std::string why = PrintDevice(doc, d);
    if (damage.empty() && !why.empty()) damage = Damaged(d, why);
  }
  return damage.empty() ? 0 : Fail(file, damage);
}

enum class Format { kText, kXml, kJson };

int Inspect(Format format, const std::string& file) {
  const bool xml_only = format == Format::kXml;
  int compressed = StartsWithMagic(file);
  if (compressed < 0) return Fail(file, "cannot open file");
  TempFileGuard plain;
  const std::string& xml_path = compressed ? plain.path() : file;
  if (compressed) {
    if (!plain.Create("KORVO_INSPECT"))
      return Fail(file, "cannot write a temporary file in the current directory");
    SplayCompressor compressor;
    if (compressor.Decompress(file, xml_path) != 0)
      return Fail(file, "cannot decompress (damaged or truncated)");
  }
  std::string root;
  {
    ParserHandle parser;
    DOMDocument* document = nullptr;
    XmlDiagnostic why;
    if (LoadXmlDocument(xml_path, parser, document, nullptr, &why) != 0) {
      why.file.clear();
      return Fail(file, std::string(compressed ? "decompressed content is not well-formed XML"
                                               : "not compressed and not well-formed XML") +
                            ": " + why.Text());
    }
    GetTagName(document->getDocumentElement(), root);
  }
  if (root == "download_keys") {
    if (xml_only) return CopyToStdout(xml_path) ? 0 : Fail(file, "cannot print XML");
    return PrintKeyFileSummary(xml_path, file, format == Format::kJson);
  }
  if (root != "download_configuration")
    return Fail(file, "not a configuration file (root element '" + root + "')");
  if (!compressed) return Fail(file, "not compressed (configuration files are stored compressed)");
  if (xml_only) return CopyToStdout(xml_path) ? 0 : Fail(file, "cannot print XML");
  if (format == Format::kJson) return PrintConfigurationJsonFile(file, {});
  return PrintConfigurationSummary(file);
}

int InspectUsage() {
  std::fprintf(stderr, "usage: korvo inspect [--xml|--json] FILE\n");
  return 2;
}

}  // namespace

int PrintConfigurationJson(const std::string& file, const std::vector<std::string>& warnings) {
  int rc = GuardXml([&] { return PrintConfigurationJsonFile(file, warnings); }, -1, -1, -1, -1);
  return rc < 0 ? Fail(file, "unexpected error while reading") : rc;
}

int RunInspect(const std::vector<std::string>& args) {
  Format format = Format::kText;
  std::string file;
  for (const std::string& arg : args) {
    if ((arg == "--xml" || arg == "--json") && format == Format::kText) {
      format = arg == "--xml" ? Format::kXml : Format::kJson;
    } else if (file.empty() && !arg.empty() && (arg[0] != '-' || arg == "-")) {
      file = arg;
    } else {
      return InspectUsage();
    }
  }
  if (file.empty()) return InspectUsage();
  // Nothing from the XML library may escape as a crash.
  int rc = GuardXml([&] { return Inspect(format, file); }, -1, -1, -1, -1);
  return rc < 0 ? Fail(file, "unexpected error while reading") : rc;
}

}  // namespace korvo::tools
