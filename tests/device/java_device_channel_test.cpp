// What reaches Java byte for byte is pinned by the JVM tests.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "device/channel_result.h"
#include "device/java_command_table.h"
#include "device/java_device_channel.h"
#include "device/keta_answer_decoders.h"

namespace korvo {
namespace {

void Deliver(JavaDeviceChannel& ch, const std::string& kind, const std::string& name,
             const std::string& bytes) {
  auto* copy = new uint8_t[bytes.size() + 1];
  std::memcpy(copy, bytes.data(), bytes.size());
  ch.ReceiveAnswer(kind, name, copy, static_cast<int>(bytes.size()));
}

// Records each command ("MN name parameters") and answers at once, as Java
// would: `kind` (none: silent), `name` (or the command's own) and `bytes`.
struct ScriptedLine final : CommandSender {
  int SendMethodCall(const std::string& m, const uint8_t* b, size_t n) override {
    return Take("MN " + m, b, n);
  }
  int SendVariableRead(const std::string& v) override { return Take("RN " + v, nullptr, 0); }
  int SendEventRequest(const std::string& e, const uint8_t* b, size_t n) override {
    return Take("EN " + e, b, n);
  }
  int Take(const std::string& command, const uint8_t* b, size_t n) {
    sent.push_back(command + (b ? std::string(reinterpret_cast<const char*>(b), n) : ""));
    if (!kind.empty()) Deliver(*channel, kind, name.empty() ? command.substr(3) : name, bytes);
    return unsent ? -1 : 0;
  }
  void Answer(std::string k, std::string b, std::string n = "") { kind = k; bytes = b; name = n; }

  std::string kind, bytes, name;
  bool unsent = false;  // report every command as not handed on
  std::vector<std::string> sent;
  JavaDeviceChannel* channel = nullptr;
};

class JavaChannelTest : public ::testing::Test {
 protected:
  JavaChannelTest() { line.channel = &channel; JavaDeviceChannel::SetNoProgramFlag(false); }
  ~JavaChannelTest() override { JavaDeviceChannel::SetNoProgramFlag(false); }

  std::string Result(int index) { return testing_channel::ResultAt(channel, index); }

  KetaAAnswerDecoder decoder;
  ScriptedLine line;
  JavaDeviceChannel channel{&decoder, &line};
};

// Method calls and variable reads take only their own answer too; their
// successes are pinned through the JVM.
TEST_F(JavaChannelTest, EveryCommandFailsOnErrorKindOrNameAnswers) {
  const std::pair<std::string, std::string> bad[] = {{"FA", ""}, {"RA", ""}, {"AN", "Other"}};
  for (const testing_commands::CommandCase& cc : testing_commands::FirmwareCommands()) {
    for (const auto& [kind, name] : bad) {
      SCOPED_TRACE(std::string(cc.label) + " answered " + kind + " " + name);
      line.Answer(kind, " 5 ", name);
      int result = 0;
      EXPECT_EQ(-1, cc.run(channel, &result));
      EXPECT_EQ(-1, result);
    }
  }
  for (const auto& [kind, name] : {bad[1], bad[2]}) {
    line.Answer(kind, " 1 ", name);
    EXPECT_EQ(-1, channel.CallMethod("Run")) << kind << name;
  }
  for (const auto& [kind, name] : {std::pair<std::string, std::string>{"AN", ""}, bad[2]}) {
    line.Answer(kind, " 1 ", name);
    EXPECT_EQ(-1, channel.ReadVariable("Run", 2000)) << kind << name;
  }
}

// Beside the -1 of every failure the channel keeps what the device said,
// and counts only the program data the device took.
TEST_F(JavaChannelTest, LastAnswerAndTrafficSayWhatTheDeviceDid) {
  using Kind = DeviceAnswer::Kind;
  const struct { const char* kind; const char* bytes; Kind want; uint32_t code; } rows[] = {
      {"AN", " 0", Kind::kAnswered, 0},  {"FA", " 1A", Kind::kError, 0x1A},
              {"FA", " FFFE", Kind::kError, 0xFFFE}, {"AN", " 5", Kind::kAnswered, 0},
              {"", "", Kind::kSilent, 0}};
  channel.set_wait_limit_ms(20);
  const uint8_t data[3] = {1, 2, 3};
  for (const auto& row : rows) {
    line.Answer(row.kind, row.bytes);
    int result = 0;
    channel.ProgramData(1, 1, 3, data, &result);
    DeviceAnswer answer = channel.LastAnswer();
    EXPECT_EQ("mFDprgdata", answer.command) << row.bytes;
    EXPECT_EQ(row.want, answer.kind) << row.bytes;
    EXPECT_EQ(row.code, answer.code) << row.bytes;
    EXPECT_TRUE(row.want != Kind::kSilent || answer.waited_ms >= 15u) << answer.waited_ms;
  }
  // Only the first package was taken (result 0); result 5 is a refusal.
  EXPECT_EQ(1u, channel.Traffic().packages);
  EXPECT_EQ(3u, channel.Traffic().bytes);
}

// A command the line could not hand on gets no answer: it is not waited for,
// not even when an answer to it is there already.
TEST_F(JavaChannelTest, ACommandThatCouldNotBeSentFailsAtOnce) {
  line.Answer("AN", " 1 ");
  line.unsent = true;
  for (const testing_commands::CommandCase& cc : testing_commands::FirmwareCommands()) {
    SCOPED_TRACE(cc.label);
    int result = 0;
    EXPECT_EQ(-1, cc.run(channel, &result));
  }
  EXPECT_EQ(-1, channel.CallMethod("Ping"));
  EXPECT_EQ("Ping", channel.LastAnswer().command) << "no earlier answer is kept for it";
  EXPECT_EQ(DeviceAnswer::Kind::kNone, channel.LastAnswer().kind);
  EXPECT_EQ(-1, channel.SetAccessMode("3", "pw"));
  line.Answer("RA", " 3 ABC");
  EXPECT_EQ("", channel.ReadDeviceIdent());
  EXPECT_EQ(-1, channel.ReadVariable("Var", 2000));
  EXPECT_EQ(0, channel.Open()) << "tracing stays optional";
  JavaDeviceChannel unbound(&decoder, nullptr);
  EXPECT_EQ(-1, unbound.CallMethod("Ping"));
  // Nor is there an identification without a decoder.
  JavaDeviceChannel bare(nullptr, &line);
  line.channel = &bare;
  line.unsent = false;
  line.Answer("RA", " 3 ABC");
  EXPECT_EQ("", bare.ReadDeviceIdent());
}

TEST_F(JavaChannelTest, WithoutApplicationOnlyTheAllowedCommandsAreSent) {
  line.Answer("RA", " 2 OK No Program");  // anywhere in the answer counts
  ASSERT_EQ("OK", channel.ReadDeviceIdent());
  ASSERT_FALSE(channel.HasApplication());
  line.Answer("AN", " 3 ");
  const std::string skipped = "mFDsrt2ndstgldr mFDlogwrite mFDlogend mFDlogerase mFDloginfo";
  for (const testing_commands::CommandCase& cc : testing_commands::FirmwareCommands()) {
    SCOPED_TRACE(cc.label);
    line.sent.clear();
    int result = -7;
    EXPECT_EQ(0, cc.run(channel, &result));
    bool skip = skipped.find(cc.method) != std::string::npos;
    EXPECT_EQ(skip ? 0 : 3, result);
    EXPECT_EQ(skip ? 0u : 1u, line.sent.size());
  }
  int result = -7;
  EXPECT_EQ(0, channel.ExecuteDeviceDownload(0, 1, &result));
  EXPECT_EQ(120000u, channel.last_timeout_ms()) << "the boot code takes longer";
  // Only address ranges reach the boot code; others go before their size is looked at.
  EXPECT_EQ(0, channel.ProgramConfigData(0, 1, std::string(64, 'n'), "1", &result));
  EXPECT_EQ(0, result);
  EXPECT_EQ(-1, channel.ProgramConfigData(0, 1, "APP_ADDRESS_RANGE", std::string(256, 'v'),
                                          &result));
  EXPECT_EQ(1u, line.sent.size()) << "only the download command";

  // Every identification clears the flag, a refused one too.
  line.Answer("FA", " 3 ABC");
  EXPECT_EQ("", channel.ReadDeviceIdent());
  EXPECT_TRUE(channel.HasApplication());
  EXPECT_EQ(0, channel.Open());
  EXPECT_EQ("EN MStrace 0", line.sent.back());
}

TEST_F(JavaChannelTest, OversizedPiecesAreRefusedBeforeSending) {
  line.Answer("AN", " 0 ");
  std::vector<uint8_t> data(1025, 1);
  int result = 5;
  EXPECT_EQ(-1, channel.ProgramData(0, 1, 1025, data.data(), &result));
  EXPECT_EQ(-1, result);
  EXPECT_EQ(-1, channel.ProgramData(0, 1, -1, data.data(), &result));
  EXPECT_EQ(-1, channel.ProgramData(0, 1, 4, nullptr, &result));
  EXPECT_EQ(-1, channel.ProgramConfigData(0, 1, std::string(64, 'n'), "v", &result));
  EXPECT_EQ(-1, channel.ProgramConfigData(0, 1, "n", std::string(256, 'v'), &result));
  EXPECT_EQ(-1, channel.SetAccessMode("3", std::string(1600, 'p')));  // never sent cut short
  EXPECT_TRUE(line.sent.empty());
  EXPECT_EQ(0, channel.ProgramConfigData(0, 1, std::string(63, 'n'), std::string(255, 'v'),
                                         &result));
  EXPECT_EQ(0, channel.ProgramData(0, 1, 0, nullptr, &result));
  EXPECT_EQ(2u, line.sent.size());
}

TEST_F(JavaChannelTest, AWaitTakesOneHandOverPastEmptyAnswersAndSoftResetTakesNone) {
  Deliver(channel, "AN", "mFDstadwnld", "");
  std::thread late([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Deliver(channel, "AN", "mFDstadwnld", " 2A ");
  });
  int result = 0;
  EXPECT_EQ(0, channel.GetDownloadStatus(0, 1, &result));
  late.join();
  EXPECT_EQ(0x2A, result);
  // Two answers before a wait wake it once. A soft reset takes none: the
  // device resets at once and never answers.
  channel.set_wait_limit_ms(100);
  Deliver(channel, "AN", "Ping", " 1 ");
  Deliver(channel, "AN", "Ping", " 1 ");
  EXPECT_EQ(0, channel.SoftReset(&result));
  EXPECT_EQ(0, result);
  EXPECT_EQ(0, channel.CallMethod("Ping"));
  EXPECT_EQ(-1, channel.CallMethod("Ping"));

  // A device that only ever says it is busy: the command gives up at its
  // deadline, long before the device stops.
  channel.set_wait_limit_ms(40);
  channel.set_busy_grace_ms(100);
  std::atomic<bool> done{false};
  std::atomic<int> sent{0};
  std::thread busy([&] {
    for (; !done && sent < 2000; ++sent) {
      Deliver(channel, "AN", "Ping", "");
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  EXPECT_EQ(-1, channel.CallMethod("Ping"));
  const int before_deadline = sent;
  done = true;
  busy.join();
  EXPECT_LT(before_deadline, 2000) << "waited for as long as the device kept busy";
}

TEST_F(JavaChannelTest, ARefusedOverlongAnswerLeavesTheStoredOneAnEmptyOneDoesNot) {
  const std::string tail(1595, 'x');
  line.Answer("AN", " 1 " + tail);  // 1598 bytes
  EXPECT_EQ(0, channel.CallMethod("Ping"));
  line.Answer("AN", " 2 " + tail + "x");
  EXPECT_EQ(-1, channel.CallMethod("Ping"));
  EXPECT_EQ("0 1 0 x", Result(0));
  // No bytes, or a count below zero, make an empty answer.
  EXPECT_EQ(0, channel.ReceiveAnswer("AN", "Ping", nullptr, 12));
  EXPECT_EQ("-1 0 -1 ", Result(0));
  EXPECT_EQ(0, channel.ReceiveAnswer("AN", "Ping", new uint8_t[1], -3));
}

// The first token is the answer's own, not a result.
TEST_F(JavaChannelTest, ResultsFollowTheFirstBlankAndStayInsideTheAnswer) {
  const struct { const char* answer; int index; const char* result; } rows[] = {
      {"name 5", 0, "-1 5 -1 "},     {"name 5 ", 0, "0 5 0 "},  // a string cut short
      {" 5 7 ", 1, "0 7 -1 "},       {" 5 7", 1, "-1 7 -1 "},       {"5", 0, "-1 5 -1 "},
      {" ZZ 1 ", 0, "0 0 0 "},       {" 3 abc", 0, "0 3 0 abc"},    {" 3", 0, "-1 3 -1 "},
      {" 20 short", 0, "0 20 0 short"}, {" 3 a b 2 cd", 1, "0 A 0 cd"},  // blanks go with a string
      {" 3 a b 2 cd", 2, "0 B -1 "}, {" 700 x", 0, "0 700 -1 "},  // past the 1600-byte buffer
  };
  for (const auto& row : rows) {
    Deliver(channel, "AN", "m", row.answer);
    EXPECT_EQ(row.result, Result(row.index)) << "'" << row.answer << "' #" << row.index;
  }
  Deliver(channel, "AN", "m", " abcdef");
  std::string text;
  EXPECT_EQ(0, channel.GetResultString(0, text, false, 4));
  EXPECT_EQ("abcd", text);
}

}  // namespace
}  // namespace korvo
