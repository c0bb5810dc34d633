#include "platform/debug_output.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace korvo {
namespace {

std::vector<std::string> taken;

TEST(DebugOutputTest, ASinkTakesEachTextWholeFromAnyThreadAndWhatItPrintsGoesToTheStream) {
  taken.clear();
  testing::internal::CaptureStdout();
  SetDebugSink([](const char* text, size_t length) {
    taken.emplace_back(text, length);
    DebugPrint("from the sink\n");
  });
  const std::string long_line(3000, 'x');  // longer than the sink's first buffer
  DebugPrint("AbortDownload Res:%d Ret:%d\n", -1, 7);
  DebugPrint("%s\n", long_line.c_str());
  std::thread([] { DebugPrint("thread %d", 2); }).join();
  SetDebugSink(nullptr);
  DebugPrint("back on the stream\n");
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ((std::vector<std::string>{"AbortDownload Res:-1 Ret:7\n", long_line + "\n", "thread 2"}),
            taken);
  EXPECT_EQ("from the sink\nfrom the sink\nfrom the sink\nback on the stream\n", printed);
}

}  // namespace
}  // namespace korvo
