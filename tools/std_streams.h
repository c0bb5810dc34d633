// "-" for standard input or output: the commands work on files, so standard
// input is saved into a private temporary folder first, and an output
// written there is copied to standard output once the command succeeded.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace korvo::tools {

class StdStreamFiles final {
 public:
  enum Use {
    kNone,
    kInput,        // the file argument may be "-"
    kInputOutput,  // IN OUT: either may be "-"
  };

  StdStreamFiles() = default;
  ~StdStreamFiles();  // removes the private folder and its files
  StdStreamFiles(const StdStreamFiles&) = delete;
  StdStreamFiles& operator=(const StdStreamFiles&) = delete;

  // Replaces each "-" that `use` allows in `args` by a file in the private
  // folder. False, with a message on standard error, when standard input
  // cannot be saved.
  bool Substitute(Use use, std::vector<std::string>& args);
  // Copies the output file (if "-" was given) to standard output. False,
  // with a message, when that fails.
  bool CopyOutput();

 private:
  bool MakeFolder();

  std::filesystem::path dir_;
  std::string output_;
};

}  // namespace korvo::tools
