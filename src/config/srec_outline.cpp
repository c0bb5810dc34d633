#include "config/srec_outline.h"

#include <cctype>
#include <cstdio>
#include <vector>

#include "platform/system.h"

namespace korvo {

std::string FileHead(const std::string& path, size_t n) {
  UniqueFile file(OpenFileUtf8(path, "rb"));
  if (!file) return std::string();
  std::string head(n, '\0');
  head.resize(std::fread(&head[0], 1, n, file.get()));
  return head;
}

bool StartsWithRecord(const std::string& head) {
  size_t i = head.find_first_not_of(" \t\r\n");
  return i != std::string::npos && i + 1 < head.size() && head[i] == 'S' &&
         std::isdigit(static_cast<unsigned char>(head[i + 1]));
}

std::string ForeignFormatHint(const std::string& head) {
  if (head.compare(0, 4, "\x7F" "ELF") == 0)
    return "this is an ELF file, not S-records; convert it with objcopy -O srec IN OUT.s19";
  size_t i = head.find_first_not_of(" \t\r\n");
  if (i != std::string::npos && head[i] == ':')
    return "this is an Intel HEX file, not S-records; convert it with objcopy -I ihex -O srec"
           " IN OUT.s19 (or srec_cat IN -intel -o OUT.s19 -motorola -disable=data-count"
           " -execution-start-address ADDRESS)";
  return std::string();
}

bool ScanSrecLineTypes(const std::string& path, SrecLineTypes& out) {
  out = SrecLineTypes();
  UniqueFile file(OpenFileUtf8(path, "rb"));
  if (!file) return false;
  std::vector<char> chunk(size_t(1) << 20);
  // 0 at the start of a line, 1 after an 'S' there, 2 in the rest of it.
  int column = 0;
  for (size_t got; (got = std::fread(chunk.data(), 1, chunk.size(), file.get())) > 0;) {
    for (size_t i = 0; i < got; ++i) {
      const char c = chunk[i];
      if (c == '\r' || c == '\n') {
        column = 0;
      } else if (column == 0) {
        column = c == 'S' ? 1 : 2;
      } else if (column == 1) {
        column = 2;
        if (c == '7') out.s7 = true;
        if (c >= '7' && c <= '9' && out.first_end == 0) out.first_end = c;
        if (c == '1' || c == '2') out.short_data = true;
      }
    }
  }
  return !std::ferror(file.get());
}

}  // namespace korvo
