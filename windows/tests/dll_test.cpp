// Korvo.dll as a front end meets it: loaded at run time, its plain exports
// found by name, and the example project built through one of them.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fs = std::filesystem;

namespace {

using CreateConfigFileFn = int (*)(const char*);

class KorvoDllTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = fs::current_path();
    dir_ = fs::temp_directory_path() / ("korvo-dll-" + std::to_string(GetCurrentProcessId()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    for (const char* name : {"project.xml", "firmware.s19", "parameters.bin"})
      fs::copy_file(fs::path(KORVO_SOURCE_DIR) / "examples" / name, dir_ / name);
    fs::current_path(dir_);
    dll_ = LoadLibraryW((fs::path(KORVO_DLL_DIR) / "Korvo.dll").wstring().c_str());
    ASSERT_NE(nullptr, dll_) << GetLastError();
  }
  void TearDown() override {
    if (dll_) FreeLibrary(dll_);
    fs::current_path(home_);
    fs::remove_all(dir_);
  }

  FARPROC Export(const char* name) { return GetProcAddress(dll_, name); }

  HMODULE dll_ = nullptr;
  fs::path home_;
  fs::path dir_;
};

TEST_F(KorvoDllTest, PlainExportsAndNativesAreFoundByTheirNames) {
  for (const char* name : {"CreateConfigFile", "ExecuteDownload", "ExecuteFirstStageDownload",
                           "Java_quarnel_firmwaredownload_TAVISInterface_SetupJNI",
                           "Java_quarnel_firmwaredownload_Executor_ExecuteDownloadIF"})
    EXPECT_NE(nullptr, Export(name)) << name;
  EXPECT_EQ(nullptr, Export("Java_quarnel_firmwaredownload_TAVISInterface_SetupJNI@12"));
}

TEST_F(KorvoDllTest, BuildsTheExampleProject) {
  auto create = reinterpret_cast<CreateConfigFileFn>(reinterpret_cast<void*>(Export("CreateConfigFile")));
  ASSERT_NE(nullptr, create);
  EXPECT_LT(create("no-such-project.xml"), 0);
  ASSERT_EQ(0, create("project.xml"));
  std::ifstream in(dir_ / "example.cfg", std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(std::string("\x55\xAA\x02\xFF"), bytes.substr(0, 4));
}

}  // namespace
