#include "tools/std_streams.h"

#include <cstdio>
#include <system_error>

#include "platform/system.h"

namespace korvo::tools {
namespace {

namespace fs = std::filesystem;

bool Copy(std::FILE* from, std::FILE* to) {
  char chunk[65536];
  for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, from)) > 0;)
    if (std::fwrite(chunk, 1, got, to) != got) return false;
  return !std::ferror(from) && std::fflush(to) == 0;
}

}  // namespace

StdStreamFiles::~StdStreamFiles() {
  std::error_code ec;
  if (!dir_.empty()) fs::remove_all(dir_, ec);
}

bool StdStreamFiles::MakeFolder() {
  if (!dir_.empty()) return true;
  std::error_code ec;
  const fs::path base = fs::temp_directory_path(ec);
  for (int attempt = 0; !ec && attempt < 100; ++attempt) {
    fs::path dir = base / ("korvo-" + std::to_string(CurrentThreadId()) + "-" +
                           std::to_string(attempt));
    if (fs::create_directory(dir, ec)) {
      dir_ = dir;
      return true;
    }
  }
  std::fprintf(stderr, "korvo: cannot create a temporary folder for standard input or output\n");
  return false;
}

bool StdStreamFiles::Substitute(Use use, std::vector<std::string>& args) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] != "-" || use == kNone) continue;
    const bool output = use == kInputOutput && i == 1 && args.size() == 2;
    if (use == kInputOutput && (args.size() != 2 || i > 1)) continue;
    if (!MakeFolder()) return false;
    const std::string path = (dir_ / (output ? "standard-output" : "standard-input")).string();
    args[i] = path;
    if (output) {
      output_ = path;
      continue;
    }
    UniqueFile file(OpenFileUtf8(path, "wb"));
    if (!file || !Copy(stdin, file.get())) {
      std::fprintf(stderr, "korvo: cannot save standard input in %s\n", path.c_str());
      return false;
    }
  }
  return true;
}

bool StdStreamFiles::CopyOutput() {
  if (output_.empty()) return true;
  UniqueFile file(OpenFileUtf8(output_, "rb"));
  if (file && Copy(file.get(), stdout)) return true;
  std::fprintf(stderr, "korvo: cannot write standard output\n");
  return false;
}

}  // namespace korvo::tools
