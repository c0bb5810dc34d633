// Temporary files are created new, never over what is there, and what a
// killed process left is cleaned by the next one, but only that.
#include "config/temp_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/system.h"
#include "support/files.h"

namespace korvo {
namespace {

namespace fs = std::filesystem;
using test_support::ReadFile;
using test_support::WriteFile;

constexpr char kKey[] = "KORVO_TEMP_TEST";

// The key's name for this thread with `tail` in place of the thread id.
std::string Name(const std::string& tail) {
  const std::string first = TempFileName(kKey, "TMP");
  return first.substr(0, first.size() - 4 - std::to_string(CurrentThreadId()).size()) + tail;
}
std::string First() { return TempFileName(kKey, "TMP"); }
std::string Next() { return Name(std::to_string(CurrentThreadId()) + "-1.TMP"); }

// What is under the first name stays; the file gets the next name. Under the key's names,
// what no live process holds is a leftover and goes first.
TEST(TempFilesTest, NothingThereIsOpenedOrFollowedAndOnlyUnheldLeftoversGo) {
  // What: "file", "folder", "link", "pipe", "theirs" or "held".
  struct Row { std::string name; const char* what; bool removed; };
  std::vector<Row> rows = {
      {First(), "folder", false},          {Name("1234.TMP"), "file", true},
      {Name("1234-7.TMP"), "file", true},  {Name("12x4.TMP"), "file", false},
      {Name("1234-.TMP"), "file", false},
      {Name(".TMP"), "file", false},       {TempFileName("KORVO_OTHER_KEY", "TMP"), "file", false},
      {"~" + std::string(kKey) + "1234.TMP", "file", false},  // no computer and user
#ifndef _WIN32  // Windows' names ignore case, and links need rights there
      {Name("1234.tmp"), "file", false},
      {Name("555.TMP"), "link", false},    {Name("556.TMP"), "pipe", false},
      {Name("557.TMP"), "held", false},    {Name("558.TMP"), "theirs", geteuid() != 0},
#endif
  };
  WriteFile("temp_files_target", "target");
  std::vector<UniqueFile> holds;
  for (const Row& row : rows) {
    const std::string what = row.what;
    if (what == "folder") fs::create_directory(row.name);
    if (what == "file" || what == "held" || what == "theirs") WriteFile(row.name, "left");
#ifndef _WIN32
    if (what == "link") fs::create_symlink(fs::absolute("temp_files_target"), row.name);
    if (what == "pipe") {
      ASSERT_EQ(0, mkfifo(row.name.c_str(), 0600));
    }
    if (what == "theirs" && geteuid() == 0) {
      ASSERT_EQ(0, chown(row.name.c_str(), 65534, 65534));
    }
    if (what == "held") {  // as a live process holds its file
      holds.emplace_back(OpenFileUtf8(row.name, "rb"));
      ASSERT_EQ(0, flock(fileno(holds.back().get()), LOCK_EX));
    }
#endif
  }
  {
    TempFileGuard guard;
    ASSERT_TRUE(guard.Create(kKey));
    EXPECT_EQ(Next(), guard.path());
    EXPECT_EQ("", ReadFile(guard.path()));
    TempFileGuard second;
    ASSERT_TRUE(second.Create(kKey));
    EXPECT_EQ(Name(std::to_string(CurrentThreadId()) + "-2.TMP"), second.path());
    EXPECT_TRUE(fs::exists(guard.path())) << "a live guard's file is held";
    for (const Row& row : rows)
      EXPECT_EQ(row.removed, !fs::exists(fs::symlink_status(row.name))) << row.name;
  }
  EXPECT_FALSE(fs::exists(Next()));
  EXPECT_EQ("target", ReadFile("temp_files_target"));
  holds.clear();
  for (const Row& row : rows) fs::remove_all(row.name);
  RemoveFile("temp_files_target");
}

// The same beside an output; a live temporary file of ours is written in place (it keeps
// its hold), and a kept one is no longer held, so the next creation removes it.
TEST(TempFilesTest, ReplacingOutputCleansItsOwnLeftoversAndAKeptFileGoesNextTime) {
  const std::string output = "temp_files_out.bin";
  const std::pair<std::string, bool> files[] = {
      {output + ".~12-3.TMP", true}, {output + ".~12.TMP", false},
      {"other.bin.~12-3.TMP", false},
#ifndef _WIN32  // a name of another case is the same file there
      {output + ".~12-3.tmp", false},
#endif
  };
  for (const auto& [name, removed] : files) WriteFile(name, "left");
  WriteFile(output, "old");
  {
    ReplacingOutput replacing(output);
    ASSERT_TRUE(replacing.ok());
    for (const auto& [name, removed] : files) EXPECT_EQ(!removed, fs::exists(name)) << name;
    WriteFile(replacing.path(), "new");
    EXPECT_EQ(0, replacing.Commit());
  }
  EXPECT_EQ("new", ReadFile(output));
  for (const auto& [name, removed] : files) RemoveFile(name);
  RemoveFile(output);

  std::string kept;
  {
    TempFileGuard guard;
    ASSERT_TRUE(guard.Create(kKey));
    EXPECT_EQ(guard.path(), ReplacingOutput(guard.path()).path());
    kept = guard.path();
    guard.Keep();
  }
  EXPECT_TRUE(fs::exists(kept));
  TempFileGuard next;
  ASSERT_TRUE(next.Create(kKey));
  EXPECT_EQ(kept, next.path()) << "the name was free again";
}

}  // namespace
}  // namespace korvo
