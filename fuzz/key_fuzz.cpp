// Key files, opened from memory as from a file. The input is a key file,
// then after a zero byte a value. The file is read through every reader;
// saved and opened again it must still parse; one opened without content
// has nothing to save. The value, stored in a rule of a new document that
// declares ISO-8859-1 or UTF-8, reads back exactly (when it is text XML
// can hold at all). Each parse has a fixed cost that dwarfs reading a small
// file, so reopening what was saved runs on one input in three, the value
// on one in four.
#include "keys/key_document.h"
#include "fuzz_support.h"

using namespace korvo;
using namespace korvo::fuzz;

namespace {

// Valid UTF-8 of characters XML 1.0 allows (CR excepted: parsers turn it
// into LF), so that a value can be expected to read back unchanged.
bool XmlSafeUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    uint32_t cp;
    size_t n;
    if (c < 0x80) { cp = c; n = 1; }
    else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; n = 2; }
    else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; n = 3; }
    else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; n = 4; }
    else return false;
    if (i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[n]) return false;
    bool allowed = cp == 0x9 || cp == 0xA || (cp >= 0x20 && cp <= 0xD7FF) ||
                   (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
    if (!allowed) return false;
    i += n;
  }
  return true;
}

// Every Key="..." text of the file, for SelectDevice.
std::vector<std::string> KeysIn(const std::string& text) {
  std::vector<std::string> keys;
  for (size_t at = text.find("Key=\""); at != std::string::npos && keys.size() < 4;
       at = text.find("Key=\"", at + 1)) {
    size_t end = text.find('"', at + 5);
    if (end == std::string::npos) break;
    keys.push_back(text.substr(at + 5, end - at - 5));
  }
  return keys;
}

void ReadEverything(KeyDocument& keys, const std::vector<std::string>& device_keys) {
  for (const std::string& key : device_keys) {
    if (keys.SelectDevice(key) != 0) continue;
    int count = 0;
    std::string value, name;
    int type = 0;
    uint32_t index = 0;
    if (keys.GetIdentificationCount(count) == 0)
      for (int i = 0; i < std::min(count, 16); ++i) keys.GetIdentification(i, value, name, type, index);
    int signatures = 0;
    if (keys.GetSignatureCount(signatures) != 0) continue;
    for (int s = 0; s < std::min(signatures, 8); ++s) {
      keys.GetSignature(s, value, name);
      if (keys.SelectSignature(s) != 0) continue;
      for (int level = 0; level < 4; ++level) {
        int access = 0, rules = 0;
        keys.GetUserAccess(level, access);
        if (keys.GetRuleCount(level, rules) != 0) continue;
        for (int r = 0; r < std::min(rules, 16); ++r) {
          std::vector<std::string> values;
          int datatype = 0, op = 0;
          keys.GetRule(level, r, values, name, type, index, datatype, op);
        }
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  InitialiseXerces();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One document for all inputs, as the manager keeps one.
  static KeyDocument keys;
  auto [file, value] = SplitAt(data, size, '\0');
  {
    if (keys.OpenXml(file) == 0) {
      ReadEverything(keys, KeysIn(file));
      std::string saved;
      int rc = keys.SaveXml(saved);
      keys.Close(false);
      if (rc != kKeyNotFound) Check(rc == 0, "saving failed: " + std::to_string(rc));
      if (rc == 0 && OneIn(3, data, size)) {
        Check(keys.OpenXml(saved) == 0, "saved text does not open");
        Check(!keys.LoadDiagnostic().failed(), "saved text did not parse again");
        keys.Close(false);
      }
    }
  }
  if (!value.empty() && OneIn(4, data, size) && XmlSafeUtf8(value)) {
    Check(keys.OpenXml(std::string("<?xml version=\"1.0\" encoding=\"") +
                       (size % 2 ? "ISO-8859-1" : "UTF-8") + "\"?><download_keys/>") == 0,
          "open the new document");
    Check(keys.AddKeyDevice() == 0 && keys.SetDeviceKey(0, "DEV") == 0 &&
              keys.AddKeySignature(0) == 0 && keys.SetKeyUserAccess(0, 0, 1, kAccessRule) == 0 &&
              keys.AddKeyUserRule(0, 0, 1, kRuleString, 0, value, value, 0, 0) == 0,
          "editing failed");
    std::string saved;
    Check(keys.SaveXml(saved) == 0, "save the new document");
    keys.Close(false);
    Check(keys.OpenXml(saved) == 0 && keys.SelectDevice("DEV") == 0 &&
              keys.SelectSignature(0) == 0,
          "reopen the new document");
    std::vector<std::string> values;
    std::string name;
    int type = 0, datatype = 0, op = 0;
    uint32_t index = 0;
    Check(keys.GetRule(1, 0, values, name, type, index, datatype, op) == 0, "rule not read");
    Check(values.size() == 1 && values[0] == value, "value did not read back");
    Check(name == value, "communication name did not read back");
    keys.Close(false);
  }
  return 0;
}
