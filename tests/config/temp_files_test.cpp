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

// The first name of kKey for this thread, and that name with "-n".
std::string First() { return TempFileName(kKey, "TMP"); }
std::string Next(int n) {
  std::string first = First();
  return first.substr(0, first.size() - 4) + "-" + std::to_string(n) + ".TMP";
}
// The same stem with another "thread id": what an earlier process left.
std::string Earlier(const std::string& tail) {
  std::string first = First();
  return first.substr(0, first.find(std::to_string(CurrentThreadId()))) + tail;
}

class TempFilesTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const std::string& name : made_) fs::remove_all(name);
  }
  // Puts something under `name`, removed again after the test.
  void Made(const std::string& name) { made_.push_back(name); }

  std::vector<std::string> made_;
};

// What is under the first name stays as it was; the file gets the next name
// and goes with its guard.
TEST_F(TempFilesTest, SomethingUnderTheFirstNameStaysAndTheNextNameIsTaken) {
  struct Row {
    const char* what;
    void (*plant)(const std::string& name);
  };
  const Row rows[] = {
      {"a folder", [](const std::string& name) { fs::create_directory(name); }},
#ifndef _WIN32
      {"a link to a file",
       [](const std::string& name) {
         WriteFile("temp_files_victim", "precious");
         fs::create_symlink(fs::absolute("temp_files_victim"), name);
       }},
      {"a dangling link",
       [](const std::string& name) { fs::create_symlink("/nonexistent/x", name); }},
      {"a pipe", [](const std::string& name) { ASSERT_EQ(0, mkfifo(name.c_str(), 0600)); }},
      {"another user's file",
       [](const std::string& name) {
         WriteFile(name, "theirs");
         if (geteuid() == 0) {
           ASSERT_EQ(0, chown(name.c_str(), 65534, 65534));
         }
       }},
#endif
  };
  Made("temp_files_victim");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
#ifndef _WIN32
    if (std::string(row.what) == "another user's file" && geteuid() != 0) {
      continue;
    }
#endif
    Made(First());
    row.plant(First());
    const auto kind = fs::symlink_status(First()).type();
    {
      TempFileGuard guard;
      ASSERT_TRUE(guard.Create(kKey));
      EXPECT_EQ(Next(1), guard.path());
      EXPECT_EQ("", ReadFile(guard.path()));
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(Next(1))));
    EXPECT_EQ(kind, fs::symlink_status(First()).type());
    if (fs::is_symlink(First())) {
      EXPECT_EQ("precious", ReadFile("temp_files_victim"));
    }
    fs::remove_all(First());
  }
}

// Each name of the key that no live process holds is a leftover; every
// other name, and a file something holds, stays.
TEST_F(TempFilesTest, OnlyLeftoversOfTheKeyThatNobodyHoldsAreRemoved) {
  const std::pair<std::string, bool> files[] = {  // name, removed
      {Earlier("1234.TMP"), true},
      {Earlier("1234-7.TMP"), true},
      {Earlier("12x4.TMP"), false},
      {Earlier("1234.tmp"), false},
      {Earlier("1234-.TMP"), false},
      {Earlier(".TMP"), false},
      {TempFileName("KORVO_OTHER_KEY", "TMP"), false},
      {"~" + std::string(kKey) + "1234.TMP", false},  // no computer and user
  };
  for (const auto& [name, removed] : files) {
    Made(name);
    WriteFile(name, "left");
  }
  // Held by a live guard: the first name, taken before the others are looked at.
  TempFileGuard live;
  ASSERT_TRUE(live.Create(kKey));
  Made(Earlier("999.TMP"));
  fs::create_directory(Earlier("999.TMP"));
#ifndef _WIN32
  // Held by another holder of the lock, as another process would.
  Made(Earlier("4321.TMP"));
  WriteFile(Earlier("4321.TMP"), "held");
  UniqueFile held(OpenFileUtf8(Earlier("4321.TMP"), "rb"));
  ASSERT_TRUE(held);
  ASSERT_EQ(0, flock(fileno(held.get()), LOCK_EX));
  Made(Earlier("555.TMP"));
  fs::create_symlink(fs::absolute("temp_files_target"), Earlier("555.TMP"));
  Made("temp_files_target");
  WriteFile("temp_files_target", "target");
#endif
  TempFileGuard next;
  ASSERT_TRUE(next.Create(kKey));
  EXPECT_EQ(Next(1), next.path());
  for (const auto& [name, removed] : files) EXPECT_EQ(!removed, fs::exists(name)) << name;
  EXPECT_TRUE(fs::exists(live.path()));
  EXPECT_TRUE(fs::is_directory(Earlier("999.TMP")));
#ifndef _WIN32
  EXPECT_EQ("held", ReadFile(Earlier("4321.TMP")));
  EXPECT_TRUE(fs::is_symlink(Earlier("555.TMP")));
  EXPECT_EQ("target", ReadFile("temp_files_target"));
#endif
}

// Beside an output, the same for the files that are to replace it.
TEST_F(TempFilesTest, ReplacingOutputCleansOnlyLeftoversOfItsOutput) {
  const std::string output = "temp_files_out.bin";
  const std::pair<std::string, bool> files[] = {
      {output + ".~12-3.TMP", true},
      {output + ".~12-3.tmp", false},
      {output + ".~12.TMP", false},
      {"other.bin.~12-3.TMP", false},
  };
  for (const auto& [name, removed] : files) {
    Made(name);
    WriteFile(name, "left");
  }
  Made(output);
  WriteFile(output, "old");
  {
    ReplacingOutput replacing(output);
    ASSERT_TRUE(replacing.ok());
    EXPECT_NE(output, replacing.path());
    for (const auto& [name, removed] : files) EXPECT_EQ(!removed, fs::exists(name)) << name;
    WriteFile(replacing.path(), "new");
    EXPECT_EQ(0, replacing.Commit());
  }
  EXPECT_EQ("new", ReadFile(output));
  // A live temporary file of ours is written in place, so it keeps its mark.
  TempFileGuard temp;
  ASSERT_TRUE(temp.Create(kKey));
  ReplacingOutput in_place(temp.path());
  EXPECT_EQ(temp.path(), in_place.path());
}

// A kept file is no longer held, so the next creation of its key removes it.
TEST_F(TempFilesTest, AKeptFileGoesWithTheNextCreation) {
  std::string kept;
  {
    TempFileGuard guard;
    ASSERT_TRUE(guard.Create(kKey));
    kept = guard.path();
    guard.Keep();
  }
  Made(kept);
  EXPECT_TRUE(fs::exists(kept));
  TempFileGuard next;
  ASSERT_TRUE(next.Create(kKey));
  EXPECT_EQ(kept, next.path()) << "the name was free again";
}

}  // namespace
}  // namespace korvo
