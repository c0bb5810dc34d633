// korvo: command-line access to the library's file formats.
#include <xercesc/util/PlatformUtils.hpp>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/temp_files.h"
#include "config/xml_access.h"
#include "platform/system.h"
#include "tools/commands.h"
#include "tools/std_streams.h"

#ifndef KORVO_VERSION
#define KORVO_VERSION "unknown"
#endif

namespace {

using korvo::tools::StdStreamFiles;

struct Command {
  const char* name;
  const char* usage;
  const char* summary;
  const char* description;  // paragraphs separated by blank lines
  int (*run)(const std::vector<std::string>& args);
  StdStreamFiles::Use streams;  // which arguments may be "-"
};

const Command kCommands[] = {
    {"compress", "compress IN OUT", "compress a file behind the 0xFF02AA55 magic number",
     "Compresses IN into OUT the way configuration and key files are stored. OUT is replaced "
     "only when the run succeeds; it may not be IN. Either may be - for standard input or "
     "output.",
     korvo::tools::RunCompress, StdStreamFiles::kInputOutput},
    {"decompress", "decompress IN OUT", "restore a compressed file",
     "Decompresses IN, which must start with the 0xFF02AA55 magic number, into OUT. A damaged "
     "or truncated IN is reported and leaves no OUT behind. Either may be - for standard input "
     "or output.",
     korvo::tools::RunDecompress, StdStreamFiles::kInputOutput},
    {"inspect", "inspect [--xml|--json] FILE", "summarise a configuration or key file",
     "Prints what a download would read from FILE: the system entries and, per device, its "
     "entries, constraints, log texts and payload (type, size, CRC-32) with the memory map of "
     "block streams (every block's start, end and size, and the gaps between them). Key files "
     "A payload whose check bytes, CRC-32 or record checksums are wrong is shown as damaged, "
     "and the exit status is 1. Key files "
     "are summarised too: devices, identification rules, signatures and rights.\n\n"
     "--xml prints the plain XML instead; --json prints the summary as one JSON object "
     "(kind, system, devices with entries, data_type, payload_bytes, crc32, damaged, blocks by address, "
     "warnings; for a key file its devices). A file that is not well-formed XML is refused "
     "with its line, column and the parser's reason. FILE may be - for standard input.",
     korvo::tools::RunInspect, StdStreamFiles::kInput},
    {"match", "match [--hex] PATTERN VALUE...", "test values against a pattern",
     "Tells for each VALUE whether it matches PATTERN as a whole, as a download judges "
     "identification values, signatures and constraints; with --hex each VALUE is given as "
     "pairs of hex digits (blanks and colons may separate bytes). Exit status 0 when all "
     "match, 1 when some do not, 2 on error.\n\n"
     "Pattern syntax: a byte stands for itself; . is any byte; [...] is a class with the "
     "ranges a-z, A-Z and 0-9, negated by ^ anywhere inside; *, + and ? repeat the atom "
     "before them; (...) groups; | separates alternatives; \\ makes the next byte literal and "
     "\\0 is the byte 0. An empty pattern, or one whose automaton would be too large, matches "
     "nothing.",
     korvo::tools::RunMatch, StdStreamFiles::kNone},
    {"build", "build [--json] PROJECT.xml", "build a download configuration from a project",
     "Converts each device's data file as the project says (S-records into the block stream, "
     "S-record or raw files embedded) and stores the compressed configuration under the "
     "project's FirmwarePackageFilename. It and each DataFilename are taken relative to the "
     "project's folder, also when they start with / or \\; only a drive (C:\\...) or a "
     "network share (\\\\host\\...) leaves it. Prints the output path and each device's "
     "payload, or with --json the output's summary as korvo inspect --json does.\n\n"
     "A refusal says where and why first: the device, the missing entry, the file that cannot "
     "be opened, the line and column of a project that is not well-formed, or the line of an "
     "S-record file and its fault (Intel HEX and ELF files are named, with how to convert "
     "them); then the code and its meaning. With --json a refusal is printed as one JSON "
     "object too (error: code, text, message, device, file, line, column). Doubtful input "
     "(repeated, overlapping or descending records, no data records, an SRECXML file that is "
     "not S-record text or that a part-by-part download could not send) is built and warned "
     "about on standard error. Temporary files are made in the current folder.",
     korvo::tools::RunBuild, StdStreamFiles::kNone},
};

const Command* Find(const std::string& name) {
  for (const Command& c : kCommands)
    if (name == c.name) return &c;
  return nullptr;
}

void PrintOverview(std::FILE* to) {
  std::fprintf(to,
               "usage: korvo COMMAND [ARGS]\n"
               "       korvo help [COMMAND] | --help | --version\n\n"
               "Packaging and checking tool of the Korvo firmware download manager.\n\n"
               "Commands:\n");
  for (const Command& c : kCommands) std::fprintf(to, "  %-33s %s\n", c.usage, c.summary);
  std::fprintf(to, "\nkorvo help COMMAND describes one command.\n");
}

void PrintCommandHelp(const Command& c) {
  std::printf("usage: korvo %s\n\n%s\n", c.usage, c.description);
}

// Backslashes and hyphens escaped for roff; blank lines become paragraphs.
std::string Roff(const std::string& text) {
  std::string out;
  for (char ch : text) {
    if (ch == '\\') out += "\\e";
    else if (ch == '-') out += "\\-";
    else out += ch;
  }
  std::string result;
  size_t start = 0;
  for (size_t end; (end = out.find("\n\n", start)) != std::string::npos; start = end + 2)
    result += out.substr(start, end - start) + "\n.PP\n";
  return result + out.substr(start);
}

// The manual page, made from the same texts as the help.
void PrintManPage() {
  std::printf(".TH KORVO 1 \"\" \"korvo %s\" \"User Commands\"\n.SH NAME\n"
              "korvo \\- firmware download configuration tool\n.SH SYNOPSIS\n",
              KORVO_VERSION);
  for (const Command& c : kCommands) std::printf(".B korvo\n%s\n.br\n", Roff(c.usage).c_str());
  std::printf(".SH DESCRIPTION\nPackaging and checking tool of the Korvo firmware download "
              "manager. Errors go to standard error with the file, the place and the reason.\n"
              ".SH COMMANDS\n");
  for (const Command& c : kCommands)
    std::printf(".TP\n.B %s\n%s\n", Roff(c.usage).c_str(), Roff(c.description).c_str());
  std::printf(".SH EXIT STATUS\n0 on success, 1 on failure, 2 for a usage error "
              "(korvo match: 1 when some value does not match).\n");
}

int Help(const std::vector<std::string>& args) {
  if (args.empty()) {
    PrintOverview(stdout);
    return 0;
  }
  if (args[0] == "--man") {
    PrintManPage();
    return 0;
  }
  const Command* c = Find(args[0]);
  if (!c || args.size() > 1) {
    std::fprintf(stderr, "korvo help: unknown command '%s'\n", args[0].c_str());
    return 2;
  }
  PrintCommandHelp(*c);
  return 0;
}

bool AsksForHelp(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--") return false;
    if (arg == "--help") return true;
  }
  return !args.empty() && args[0] == "-h";
}

int Run(const Command& c, std::vector<std::string> args) {
  if (AsksForHelp(args)) {
    PrintCommandHelp(c);
    return 0;
  }
  StdStreamFiles streams;
  if (!streams.Substitute(c.streams, args)) return 1;
  xercesc::XMLPlatformUtils::Initialize();
  int rc = c.run(args);
  korvo::DropKeptParser();
  xercesc::XMLPlatformUtils::Terminate();
  if (rc == 0 && !streams.CopyOutput()) return 1;
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  // An interrupted run takes its temporary files with it.
  korvo::RunOnTerminationSignals(korvo::RemoveGuardedFilesInSignalHandler);
  if (argc < 2) {
    PrintOverview(stderr);
    return 2;
  }
  const std::string first = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (first == "--help" || first == "-h") return Help({});
  if (first == "help") return Help(args);
  if (first == "--version") {
    std::printf("korvo %s\n", KORVO_VERSION);
    return 0;
  }
  if (const Command* c = Find(first)) return Run(*c, args);
  std::fprintf(stderr, "korvo: unknown command '%s' (korvo --help lists them)\n", first.c_str());
  return 2;
}
