#include "download/download_executor.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

#include "download/device_update.h"
#include "support/scripted_channel.h"

namespace korvo {
namespace {

using test_support::Reply;
using test_support::ScriptedChannel;

DownloadExecutor Executor(const std::string& name, const std::string& port = "") {
  return DownloadExecutor(name, nullptr, ConnectionSettings{port, ""});
}

ScriptedChannel* Install(DownloadExecutor& e) {
  auto owned = std::make_unique<ScriptedChannel>();
  ScriptedChannel* channel = owned.get();
  e.ReplaceChannel(std::move(owned));
  return channel;
}

TEST(DownloadExecutor, ConnectKeepsTheJavaChannelWithOrWithoutAnIdentification) {
  for (const char* ident : {"SCANNER", ""}) {
    SCOPED_TRACE(ident);
    DownloadExecutor e = Executor("Keta A");
    ScriptedChannel* channel = Install(e);
    channel->ident = ident;
    EXPECT_EQ(ident, e.ConnectDevice());
    EXPECT_EQ(channel, e.channel());
    EXPECT_EQ(1, e.use_java_channel());
    EXPECT_EQ(0, channel->CountOf("Open")) << "connect does not open the Java line";
  }
}

TEST(DownloadExecutor, LoginGoesToTheHeldChannel) {
  DownloadExecutor e = Executor("Keta A");
  ScriptedChannel* channel = Install(e);
  channel->Script("SetAccessMode", {Reply(), Reply::Fail()});
  EXPECT_EQ(0, e.LoginDevice("3", "secret"));
  EXPECT_EQ(-1, e.LoginDevice("4", "wrong"));
  ASSERT_EQ(2, channel->CountOf("SetAccessMode"));
  EXPECT_EQ("4", channel->CallsOf("SetAccessMode")[1].name);
  EXPECT_EQ("wrong", channel->CallsOf("SetAccessMode")[1].text);
}

TEST(DownloadExecutor, ASerialLoginWithoutAPortFailsAndKeepsNoChannel) {
  DownloadExecutor e = Executor("Keta A", "/nonexistent/korvo-port");
  e.set_use_java_channel(0);
  EXPECT_EQ(-1, e.LoginDevice("3", "secret"));
  EXPECT_EQ(nullptr, e.channel());
}

TEST(DownloadExecutor, AnswersGoToTheCurrentChannelOrAreDropped) {
  DownloadExecutor e = Executor("Keta A");
  EXPECT_EQ(-1, e.DeliverAnswer("AN", "m", new uint8_t[2]{' ', '1'}, 2));
  ScriptedChannel* channel = Install(e);
  EXPECT_EQ(0, e.DeliverAnswer("AN", "m", new uint8_t[2]{' ', '1'}, 2));
  ASSERT_EQ(1, channel->CountOf("ReceiveAnswer"));
  EXPECT_EQ("AN", channel->calls()[0].kind);
  EXPECT_EQ(" 1", channel->calls()[0].text);
}

// Tools print these texts instead of keeping a table of numbers of their own.
TEST(DownloadExecutor, EveryResultCodeHasATextOfItsOwn) {
  std::set<std::string> texts;
  for (int code : {0, kExecuteFailed, kExecuteNoChannel, kExecuteAccessRefused,
                   kExecuteNoSecondLoader, kUpdateConfigDataFailed, kUpdateUnknownDataType,
                   kUpdateTransferFailed, kExecuteFinishFailed, kExecuteLogFailed,
                   kExecuteBadVersion, kExecuteTooNew, -3})
    EXPECT_TRUE(texts.insert(ExecuteResultText(code)).second) << code;
  EXPECT_EQ(1u, texts.count("")) << "an unknown code has no text";
}

}  // namespace
}  // namespace korvo
