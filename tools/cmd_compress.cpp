// korvo compress IN OUT / korvo decompress IN OUT
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "config/splay_compressor.h"
#include "platform/system.h"
#include "tools/commands.h"

namespace korvo::tools {
namespace {

int Error(const char* command, const std::string& file, const char* reason) {
  std::fprintf(stderr, "korvo %s: %s: %s\n", command, file.c_str(), reason);
  return 1;
}

// Writing the output over the input would destroy the input before it is read.
bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  return std::filesystem::equivalent(std::filesystem::u8path(a), std::filesystem::u8path(b), ec);
}

// Only a plain file the run wrote is taken away again: never a device such
// as /dev/full, nor whatever a symbolic link such as /dev/stdout points at.
void RemovePartialOutput(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::symlink_status(std::filesystem::u8path(path), ec).type() ==
      std::filesystem::file_type::regular)
    RemoveFile(path);
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

// Reports a failed run; a partly written output is removed, never left
// looking like a result.
int ReportFailure(const char* command, SplayFailure why, const std::string& in,
                  const std::string& out) {
  switch (why) {
    case SplayFailure::kOpenInput:
      return Error(command, in, "cannot open input file");
    case SplayFailure::kCreateOutput:
      return Error(command, out, "cannot create output file");
    default:
      break;
  }
  RemovePartialOutput(out);
  switch (why) {
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
  if (SameFile(in, out)) return Error(command, out, "output is the input file");
  SplayCompressor compressor;
  if (compressor.Compress(in, out) == 0) return 0;
  return ReportFailure(command, compressor.last_failure(), in, out);
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
  if (SameFile(in, out)) return Error(command, out, "output is the input file");
  SplayCompressor compressor;
  if (compressor.Decompress(in, out) == 0) return 0;
  return ReportFailure(command, compressor.last_failure(), in, out);
}

}  // namespace korvo::tools
