// CBrekDownload's entry-point names as clang decorates them per ABI, against the binding's
// tables and BrekLoad.dll's exports. Linux only.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "device/boot_loader_symbols.h"
#include "platform/system.h"
#include "support/files.h"

namespace korvo {
namespace {

using test_support::ReadFile;

// Every call the bridge makes, so that the compiler declares each entry point.
constexpr char kCalls[] = R"(#include "bootloader/brek_download.h"
void Calls(CBrekDownload* d) {
  CBrekDownload made(nullptr, nullptr, nullptr, nullptr, nullptr);
  d->OpenDownloadFile("", false);
  d->IsFileOpen();
  d->CloseDownloadFile();
  d->GetBootModePara();
  d->IsInBootMode();
  d->SetDownloadBaudrate("");
  d->ExecuteDownload();
}
)";

// The CBrekDownload names clang declares for `target`.
std::set<std::string> CompilerNames(const std::string& target) {
  const std::string base = "boot_loader_names_" + std::to_string(getpid());
  test_support::WriteFile(base + ".cpp", kCalls);
  std::string command = "clang-14 --target=" + target +
                        " -DBREK_API= -I'" KORVO_SOURCE_DIR "' -S -emit-llvm -o " + base + ".ll " +
                        base + ".cpp";
  EXPECT_EQ(0, std::system(command.c_str())) << command;
  std::istringstream ir(ReadFile(base + ".ll"));
  RemoveFile(base + ".cpp");
  RemoveFile(base + ".ll");
  std::set<std::string> names;
  const std::regex declared(R"re(^declare [^@]*@"?([^"(]*CBrekDownload[^"(]*)"?\()re");
  std::smatch m;
  for (std::string line; std::getline(ir, line);)
    if (std::regex_search(line, m, declared)) names.insert(m[1]);
  return names;
}

std::set<std::string> TableNames(const BootLoaderSymbols& table) {
  return std::set<std::string>(std::begin(table.names), std::end(table.names));
}

TEST(BootLoaderNamesTest, EachTableHoldsWhatTheCompilerDeclaresInEntryOrder) {
  // What each member's name holds, in entry order after the constructor and destructor.
  const char* const members[] = {"OpenDownloadFile", "IsFileOpen",   "CloseDownloadFile",
                                 "GetBootModePara",  "IsInBootMode", "SetDownloadBaudrate",
                                 "ExecuteDownload"};
  static_assert(std::size(members) == kBootLoaderEntries - 2);
  const struct {
    const char* target; const BootLoaderSymbols& table; const char* structors[2];
  } abis[] = {
      {"x86_64-linux-gnu", kItaniumSymbols, {"CBrekDownloadC1E", "CBrekDownloadD1E"}},
      {"i686-pc-windows-msvc", kMicrosoftSymbols, {"??0CBrekDownload@@", "??1CBrekDownload@@"}},
  };
  for (const auto& abi : abis) {
    EXPECT_EQ(CompilerNames(abi.target), TableNames(abi.table)) << abi.target;
    for (int i = 0; i < kBootLoaderEntries; ++i) {
      const char* want = i < 2 ? abi.structors[i] : members[i - 2];
      EXPECT_NE(std::string::npos, std::string(abi.table.names[i]).find(want))
          << abi.target << " entry " << i << ": " << abi.table.names[i];
    }
  }
}

TEST(BootLoaderNamesTest, OurBrekLoadDllExportsTheMicrosoftNames) {
  std::istringstream def(ReadFile(std::string(KORVO_SOURCE_DIR) + "/bootloader/BrekLoad.def"));
  std::set<std::string> exported;
  const std::regex entry(R"re(^\s*"([^"]+)"\s*=\s*\w+\s*$)re");
  std::smatch m;
  for (std::string line; std::getline(def, line);)
    if (std::regex_match(line, m, entry)) exported.insert(m[1]);
  EXPECT_EQ(TableNames(kMicrosoftSymbols), exported);
}

}  // namespace
}  // namespace korvo
