// korvo compress IN OUT / korvo decompress IN OUT
#include <cstdio>
#include <string>

#include "config/splay_compressor.h"
#include "config/temp_files.h"
#include "platform/system.h"
#include "tools/commands.h"

namespace korvo::tools {
namespace {

int Error(const char* command, const std::string& file, const char* reason) {
  std::fprintf(stderr, "korvo %s: %s: %s\n", command, file.c_str(), reason);
  return 1;
}

enum class Magic { kPresent, kAbsent, kUnreadable };

// Checked before the output is touched, so a plain file given by mistake
// does not cost the user an existing output file.
Magic CheckMagic(const std::string& path) {
  UniqueFile f(OpenFileUtf8(path, "rb"));
  if (!f) return Magic::kUnreadable;
  unsigned char bytes[4];
  if (std::fread(bytes, 1, 4, f.get()) != 4) return Magic::kAbsent;
  uint32_t value = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (uint32_t{bytes[3]} << 24);
  return value == kCompressedFileMagic ? Magic::kPresent : Magic::kAbsent;
}

// Reports a failed run; the output was not touched (see Run).
int ReportFailure(const char* command, SplayFailure why, const std::string& in,
                  const std::string& out) {
  switch (why) {
    case SplayFailure::kOpenInput:
      return Error(command, in, "cannot open input file");
    case SplayFailure::kInputNotFile:
      return Error(command, in, "not a regular file (a folder, device or pipe)");
    case SplayFailure::kInputTooLarge:
      return Error(command, in, "larger than 512 MiB");
    case SplayFailure::kStopped:
      return Error(command, in, "stopped");
    case SplayFailure::kCreateOutput:
      return Error(command, out, "cannot create output file");
    case SplayFailure::kBadMagic:
      return Error(command, in, "not a compressed file (wrong magic number)");
    case SplayFailure::kTruncated:
      return Error(command, in, "truncated compressed data (no end mark)");
    case SplayFailure::kRead:
      return Error(command, in, "read error");
    default:
      return Error(command, out, "write error");
  }
}

// Runs one direction into a file beside the output that replaces it only on
// success: a failure leaves an existing output (or a link's target) as it was.
int Run(const char* command, int (SplayCompressor::*step)(const std::string&, const std::string&),
        const std::string& in, const std::string& out) {
  if (SameFile(in, out)) return Error(command, out, "output is the input file");
  ReplacingOutput output(out);
  if (!output.ok()) return ReportFailure(command, SplayFailure::kCreateOutput, in, out);
  SplayCompressor compressor;
  if ((compressor.*step)(in, output.path()) != 0)
    return ReportFailure(command, compressor.last_failure(), in, out);
  if (output.Commit() != 0) return Error(command, out, "cannot replace the output file");
  return 0;
}

bool CheckArgs(const char* command, const std::vector<std::string>& args) {
  if (args.size() == 2) return true;
  std::fprintf(stderr, "usage: korvo %s IN OUT\n", command);
  return false;
}

}  // namespace

int RunCompress(const std::vector<std::string>& args) {
  const char* command = "compress";
  if (!CheckArgs(command, args)) return 2;
  const std::string& in = args[0];
  const std::string& out = args[1];
  return Run(command, &SplayCompressor::Compress, in, out);
}

int RunDecompress(const std::vector<std::string>& args) {
  const char* command = "decompress";
  if (!CheckArgs(command, args)) return 2;
  const std::string& in = args[0];
  const std::string& out = args[1];
  switch (CheckMagic(in)) {
    case Magic::kUnreadable:
      return Error(command, in, "cannot open input file");
    case Magic::kAbsent:
      return Error(command, in, "not a compressed file (wrong magic number)");
    case Magic::kPresent:
      break;
  }
  return Run(command, &SplayCompressor::Decompress, in, out);
}

}  // namespace korvo::tools
