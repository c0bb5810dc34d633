// One operation of each kind at a time, and an unload while operations run
// (the same races from two Java threads: java/test/download/MisuseTest).
#include "interface/download_manager.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config/configuration_builder.h"
#include "config/splay_compressor.h"
#include "config/temp_files.h"
#include "device/first_stage_downloader.h"
#include "download/download_executor.h"
#include "keys/key_document.h"
#include "platform/system.h"
#include "support/answering_host.h"
#include "support/files.h"

namespace korvo {
namespace {

// Answers every command at once through the manager; the first call of
// `hold_at` waits until Release(), or stays unanswered when `silent`.
class HeldDevice final : public test_support::AnsweringHost {
 public:
  DownloadManager* manager = nullptr;
  std::string hold_at = "mFDprgdata";
  bool silent = false;

  void AwaitHeld() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return held_; });
  }
  void Release() {
    std::lock_guard<std::mutex> hold(mutex_);
    released_ = true;
    changed_.notify_all();
  }
  std::string Sent() {
    std::lock_guard<std::mutex> hold(mutex_);
    return sent_;
  }

 private:
  int Answer(const char* kind, const std::string& name) override {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      sent_ += (sent_.empty() ? "" : " ") + name;
      if (name == hold_at && !held_) {
        held_ = true;
        changed_.notify_all();
        if (silent) return 0;
        changed_.wait(lock, [this] { return released_; });
      }
    }
    Reply(kind, name, UsualReply(name));
    return 0;
  }
  void Deliver(const char* kind, const std::string& name, uint8_t* bytes, int count) override {
    manager->RouteAnswer(kind, name, bytes, count);
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  bool held_ = false;
  bool released_ = false;
  std::string sent_;
};

// A configuration with one APP device of FILE data ("ABC" behind its CRC-32), and a key file that
// grants level 3; made once in the current folder.
void MakeFiles() {
  KeyDocument keys;
  ASSERT_EQ(0, keys.Open("manager_keys.xml", false) | keys.AddKeyDevice() |
                   keys.SetDeviceKey(0, "K") | keys.AddKeySignature(0) |
                   keys.SetKeySignatureAttributes(0, 0, ".*", "") |
                   keys.SetKeyUserAccess(0, 0, 3, 0) | keys.Close(true) |
                   keys.Compress("manager_keys.xml", "manager.key"));
  test_support::WriteFile(
      "manager.xml",
      "<download_configuration><Header><System2><NeededDownloaderVersion>2.3"
      "</NeededDownloaderVersion><Logging>false</Logging><Key>K</Key></System2><Device>"
      "<Name>D</Name><DATA_TYPE>FILE</DATA_TYPE>"
      "<ADDRESS_RANGE>0-1</ADDRESS_RANGE><DEVICE_TYPE>APP</DEVICE_TYPE></Device></Header>"
      "<Data><Device>o4MDSEFCQw==</Device></Data></download_configuration>");
  ASSERT_EQ(0, SplayCompressor().Compress("manager.xml", "manager.cfg"));
}

// "operation result" of the manager's last report.
std::string LastSays(const DownloadManager& manager) {
  const std::string report = manager.LastReport();
  auto field = [&](const std::string& name) {
    size_t at = report.find("\"" + name + "\": ");
    if (at == std::string::npos) return std::string("none");
    at += name.size() + 4;
    return report.substr(at, report.find_first_of(",\n", at) - at);
  };
  return field("operation") + " " + field("result");
}

int Download(DownloadManager& manager, int* device_error) {
  bool only_app = false;
  int uploaded = -1;
  std::string info;
  return manager.ExecuteDownload("manager.cfg", "manager.key", device_error, &only_app, &uploaded,
                                 -1, -1, &info);
}

class DownloadManagerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { MakeFiles(); }
  static void TearDownTestSuite() {
    for (const char* f : {"manager_keys.xml", "manager.key", "manager.xml", "manager.cfg"})
      RemoveFile(f);
  }
  void SetUp() override {
    device_.manager = &manager_;
    manager_.GetDownloadExecutor()->set_answer_wait_limit_ms(2000);
  }

  HeldDevice device_;
  DownloadManager manager_{&device_};
};

// While one runs, each call of its kind (and SetupJNI) is refused at once, leaving
// its report; other kinds run. The download then ends as if nothing had happened.
TEST_F(DownloadManagerTest, ACallOfARunningKindIsRefusedAndTheRunningOneGoesOn) {
  DownloadExecutor* executor = manager_.GetDownloadExecutor();
  int device_error = -7, result = -7;
  std::thread download([&] { result = Download(manager_, &device_error); });
  device_.AwaitHeld();
  int second_error = 55;
  EXPECT_EQ(kExecuteBusy, Download(manager_, &second_error));
  EXPECT_EQ(55, second_error) << "a refused download writes no output";
  std::string info = "untouched";
  EXPECT_EQ(kExecuteBusy, manager_.DryRunDownload("manager.cfg", "manager.key", -1, -1, &info));
  EXPECT_EQ("untouched", info);
  EXPECT_EQ("\"dry run\" -6", LastSays(manager_));
  EXPECT_EQ(kFirstStageBusy, manager_.ExecuteFirstStageDownload("manager.cfg", &second_error));
  EXPECT_EQ("\"first stage\" -144", LastSays(manager_));
  EXPECT_EQ("", manager_.ConnectDevice());
  EXPECT_EQ(-1, manager_.LoginDevice("3", "secret"));
  EXPECT_FALSE(manager_.Setup("Keta B", ConnectionSettings{}));
  EXPECT_NE(kBuildBusy, manager_.CreateConfigFile("no_such_project.xml")) << "another kind";
  EXPECT_EQ(1, manager_.Exclusive(OperationKind::kKeys, "keys", -1, [] { return 1; }));
  device_.Release();
  download.join();
  EXPECT_EQ(0, result);
  EXPECT_EQ(0, device_error);
  EXPECT_EQ("\"download\" 0", LastSays(manager_));
  EXPECT_EQ(executor, manager_.GetDownloadExecutor()) << "the refused SetupJNI changed nothing";
  const std::string sent = device_.Sent();
  EXPECT_EQ(sent.find("mFDsrt2ndstgldr"), sent.rfind("mFDsrt2ndstgldr")) << sent;
  EXPECT_EQ(std::string::npos, sent.find("SetAccessMode")) << sent;
  EXPECT_EQ(std::string::npos, sent.find("DeviceIdent")) << sent;
  EXPECT_NE(std::string::npos, sent.find("mFDfindwnld mSCsoftreset")) << sent;

  // The other kinds, held by the generic guard the natives use.
  // The second's result: its busy value, or 1 when it ran.
  const struct { OperationKind held, second; int expected; } rows[] = {
      {OperationKind::kBuild, OperationKind::kBuild, kProjectBusy},
      {OperationKind::kBuild, OperationKind::kKeys, 1},
      {OperationKind::kBuild, OperationKind::kDevice, 1},
      {OperationKind::kKeys, OperationKind::kKeys, kKeyBusy},
      {OperationKind::kKeys, OperationKind::kBuild, 1},
      {OperationKind::kKeys, OperationKind::kAll, kKeyBusy},
      {OperationKind::kAll, OperationKind::kDevice, kKeyBusy},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(&row - rows));
    std::mutex m;
    std::condition_variable cv;
    bool entered = false, released = false;
    std::thread held([&] {
      manager_.Exclusive(row.held, "held", 0, [&] {
        std::unique_lock<std::mutex> lock(m);
        entered = true;
        cv.notify_all();
        cv.wait(lock, [&] { return released; });
        return 0;
      });
    });
    {
      std::unique_lock<std::mutex> lock(m);
      cv.wait(lock, [&] { return entered; });
    }
    EXPECT_EQ(row.expected,
              manager_.Exclusive(row.second, "second", row.expected, [] { return 1; }));
    if (row.held == OperationKind::kBuild) {
      EXPECT_EQ(kBuildBusy, manager_.CreateConfigFile("no_such_project.xml"));
      EXPECT_EQ("\"build\" -54", LastSays(manager_));
    }
    {
      std::lock_guard<std::mutex> lock(m);
      released = true;
      cv.notify_all();
    }
    held.join();
  }
}

// An unload while a download waits for a silent device and a 96 MiB compression
// runs: both stop, fail and clean up before the objects go. In a child process,
// since the stop ends every wait of the process for good.
TEST_F(DownloadManagerTest, AnUnloadEndsRunningOperationsAndReleasesAfterThem) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  device_.silent = true;
  EXPECT_EXIT(
      {
        {
          UniqueFile big(OpenFileUtf8("manager_big.bin", "wb"));
          std::string noise(1 << 20, '\0');
          uint32_t seed = 26;
          for (int block = 0; block < 96; ++block) {
            for (char& c : noise) c = char((seed = seed * 1103515245u + 12345u) >> 24);
            std::fwrite(noise.data(), 1, noise.size(), big.get());
          }
        }
        manager_.GetDownloadExecutor()->set_answer_wait_limit_ms(0);  // the real 20 s
        int compressed = 0;
        std::thread compress([&] {
          compressed = manager_.Exclusive(OperationKind::kKeys, "CompressIF", kKeyBusy, [&] {
            return manager_.GetKeyDocument()->Compress("manager_big.bin", "manager_big.out");
          });
        });
        bool released = false;
        std::thread unload([&] {
          // The file that is to replace the output exists once compressing starts.
          std::vector<std::string> names;
          auto compressing = [&] {
            ListFolder("", &names);
            for (const std::string& name : names)
              if (name.compare(0, 17, "manager_big.out.~") == 0) return true;
            return false;
          };
          device_.AwaitHeld();
          while (!compressing()) SleepMs(5);
          released = manager_.Shutdown(1000);
        });
        int device_error = 0;
        int result = Download(manager_, &device_error);
        unload.join();
        compress.join();
        RemoveFile("manager_big.bin");
        std::fprintf(stderr, "download %d, compress %d, released %d, left %zu, output %s\n", result,
                     compressed, int(released), test_support::TempFilesLeft(kTempDownloadData).size(),
                     test_support::ReadFile("manager_big.out").substr(0, 9).c_str());
        std::exit(released && !manager_.GetDownloadExecutor() ? 0 : 1);
      },
      testing::ExitedWithCode(0), "download -12, compress -1, released 1, left 0, output <missing>");
}

}  // namespace
}  // namespace korvo
