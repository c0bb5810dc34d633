// korvo match [--hex] PATTERN VALUE...: tells for each value whether it
// fully matches PATTERN, as a download judges identification values and
// constraints. Exit status as grep's: 0 all match, 1 some do not, 2 error.
#include <cstdio>
#include <string>
#include <vector>

#include "download/regex.h"
#include "tools/commands.h"

namespace korvo::tools {

namespace {

constexpr int kAllMatch = 0;
constexpr int kSomeDoNotMatch = 1;
constexpr int kError = 2;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Pairs of hexadecimal digits; blanks, tabs and colons may separate bytes.
bool ParseHex(const std::string& text, std::string& bytes) {
  bytes.clear();
  size_t i = 0;
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) i = 2;
  while (i < text.size()) {
    const char c = text[i];
    if (c == ' ' || c == '\t' || c == ':') {
      ++i;
      continue;
    }
    if (i + 1 >= text.size()) return false;
    const int high = HexDigit(c);
    const int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return true;
}

int Usage() {
  std::fprintf(stderr, "usage: korvo match [--hex] PATTERN VALUE...\n");
  return kError;
}

}  // namespace

int RunMatch(const std::vector<std::string>& args) {
  bool hex = false;
  size_t i = 0;
  for (; i < args.size() && args[i].size() >= 2 && args[i].compare(0, 2, "--") == 0; ++i) {
    if (args[i] == "--") {
      ++i;
      break;
    }
    if (args[i] != "--hex") {
      std::fprintf(stderr, "korvo match: unknown option '%s'\n", args[i].c_str());
      return Usage();
    }
    hex = true;
  }
  if (args.size() - i < 2) return Usage();
  const std::string& pattern = args[i++];

  std::vector<std::string> values;
  for (; i < args.size(); ++i) {
    std::string value = args[i];
    if (hex && !ParseHex(args[i], value)) {
      std::fprintf(stderr, "korvo match: '%s' is not a sequence of hexadecimal bytes\n",
                   args[i].c_str());
      return kError;
    }
    values.push_back(value);
  }

  const Regex regex(pattern.c_str());
  if (regex.status() != kRegexCompiled) {
    std::fprintf(stderr, "korvo match: invalid pattern, status %d: %s\n", regex.status(),
                RegexStatusText(regex.status()));
    return kError;
  }
  int rc = kAllMatch;
  for (size_t v = 0; v < values.size(); ++v) {
    const bool ok = regex.match(values[v].data(), values[v].size());
    if (!ok) rc = kSomeDoNotMatch;
    const std::string& shown = args[args.size() - values.size() + v];
    std::printf("%s\t%s\n", ok ? "match" : "no match", shown.c_str());
  }
  return rc;
}

}  // namespace korvo::tools
