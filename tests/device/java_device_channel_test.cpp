#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "device/java_device_channel.h"
#include "device/java_command_table.h"
#include "device/keta_answer_decoders.h"

namespace korvo {
namespace {

struct Sent {
  std::string type, name, parameters;  // type: "MN", "RN" or "EN"
};
struct Reply {
  std::string kind, name, bytes;
};

void Deliver(JavaDeviceChannel& ch, const std::string& kind, const std::string& name,
             const std::string& bytes) {
  auto* copy = new uint8_t[bytes.size() + 1];
  std::memcpy(copy, bytes.data(), bytes.size());
  ch.ReceiveAnswer(kind, name, copy, static_cast<int>(bytes.size()));
}

// Records every command and answers it at once through ReceiveAnswer, as
// the Java side would (the event keeps the signal for the waiting call).
class ScriptedLine final : public CommandSender {
 public:
  std::function<std::optional<Reply>(const Sent&)> respond = [](const Sent&) {
    return std::optional<Reply>();
  };
  std::vector<Sent> sent;
  JavaDeviceChannel* channel = nullptr;

  int SendMethodCall(const std::string& m, const uint8_t* b, size_t n) override {
    return Take({"MN", m, std::string(reinterpret_cast<const char*>(b), n)});
  }
  int SendVariableRead(const std::string& v) override { return Take({"RN", v, ""}); }
  int SendEventRequest(const std::string& e, const uint8_t* b, size_t n) override {
    return Take({"EN", e, std::string(reinterpret_cast<const char*>(b), n)});
  }

  // Answers every command with `kind`, its own name and `bytes`.
  void AnswerAll(const std::string& kind, const std::string& bytes) {
    respond = [kind, bytes](const Sent& s) { return std::optional<Reply>({kind, s.name, bytes}); };
  }

 private:
  int Take(Sent s) {
    sent.push_back(s);
    if (auto r = respond(s)) Deliver(*channel, r->kind, r->name, r->bytes);
    return 0;
  }
};

class JavaChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    JavaDeviceChannel::SetNoProgramFlag(false);
    line.channel = &channel;
  }
  void TearDown() override { JavaDeviceChannel::SetNoProgramFlag(false); }

  KetaAAnswerDecoder decoder;
  ScriptedLine line;
  JavaDeviceChannel channel{&decoder, &line};
};

TEST_F(JavaChannelTest, EveryFirmwareCommandFailsOnErrorKindOrNameAnswers) {
  const std::vector<std::pair<std::string, std::string>> bad = {
      {"FA", ""}, {"RA", ""}, {"EA", ""}, {"AN", "x"}, {"", ""}};
  for (const testing_commands::CommandCase& cc : testing_commands::FirmwareCommands()) {
    for (const auto& [kind, suffix] : bad) {
      SCOPED_TRACE(std::string(cc.label) + " answered " + kind + suffix);
      line.respond = [kind = kind, suffix = suffix](const Sent& s) {
        return std::optional<Reply>({kind, s.name + suffix, " 5 "});
      };
      int result = 0;
      EXPECT_EQ(-1, cc.run(channel, &result));
      EXPECT_EQ(-1, result);
    }
  }
}

TEST_F(JavaChannelTest, WithoutApplicationOnlyTheAllowedCommandsAreSent) {
  line.AnswerAll("RA", " A No Program");
  ASSERT_EQ("No Program", channel.ReadDeviceIdent());
  ASSERT_FALSE(channel.HasApplication());
  line.sent.clear();
  const std::vector<std::function<int(int*)>> skipped = {
      [&](int* r) { return channel.StartSecondLoader(1, r); },
      [&](int* r) { return channel.WriteDeviceLog(0, "x", r); },
      [&](int* r) { return channel.EndDeviceLog(0, r); },
      [&](int* r) { return channel.EraseDeviceLog(0, r); },
      [&](int* r) { return channel.GetDeviceLogInfo(r); },
      [&](int* r) { return channel.ProgramConfigData(0, 1, "SERIAL", "1", r); },
      // An entry the boot code never gets is skipped, not refused.
      [&](int* r) { return channel.ProgramConfigData(0, 1, std::string(64, 'n'), "1", r); },
  };
  for (size_t i = 0; i < skipped.size(); ++i) {
    SCOPED_TRACE(i);
    int result = -7;
    EXPECT_EQ(0, skipped[i](&result));
    EXPECT_EQ(0, result);
  }
  int result = 0;
  EXPECT_EQ(-1, channel.ProgramConfigData(0, 1, "ADDRESS_RANGE", std::string(256, 'v'), &result));
  EXPECT_EQ(0, channel.Open());
  EXPECT_TRUE(line.sent.empty()) << line.sent.size() << " commands sent, first " << line.sent[0].name;

  line.AnswerAll("AN", " 3 ");
  EXPECT_EQ(0, channel.ProgramConfigData(0, 1, "APP_ADDRESS_RANGE", "1", &result));
  EXPECT_EQ(3, result);
  EXPECT_EQ(0, channel.ExecuteDeviceDownload(0, 1, &result));
  EXPECT_EQ(120000u, channel.last_timeout_ms()) << "boot code takes longer";
  EXPECT_EQ(2u, line.sent.size());

  // A device with an application clears the flag and gets the trace event.
  line.respond = [](const Sent& s) {
    return std::optional<Reply>({s.type == "EN" ? "EA" : "RA", s.name, " 5 HELLO"});
  };
  EXPECT_EQ("HELLO", channel.ReadDeviceIdent());
  EXPECT_TRUE(channel.HasApplication());
  line.sent.clear();
  EXPECT_EQ(0, channel.Open());
  ASSERT_EQ(1u, line.sent.size());
  EXPECT_EQ("EN", line.sent[0].type);
  EXPECT_EQ("MStrace", line.sent[0].name);
  EXPECT_EQ(" 0", line.sent[0].parameters);
}

TEST_F(JavaChannelTest, OversizedPiecesAreRefusedBeforeSending) {
  line.AnswerAll("AN", " 0 ");
  std::vector<uint8_t> data(1025, 1);
  int result = 5;
  EXPECT_EQ(-1, channel.ProgramData(0, 1, 1025, data.data(), &result));
  EXPECT_EQ(-1, result);
  EXPECT_EQ(-1, channel.ProgramData(0, 1, -1, data.data(), &result));
  EXPECT_EQ(-1, channel.ProgramData(0, 1, 4, nullptr, &result));
  EXPECT_EQ(-1, channel.ProgramConfigData(0, 1, std::string(64, 'n'), "v", &result));
  EXPECT_EQ(-1, channel.ProgramConfigData(0, 1, "n", std::string(256, 'v'), &result));
  EXPECT_TRUE(line.sent.empty());
  EXPECT_EQ(0, channel.ProgramConfigData(0, 1, std::string(63, 'n'), std::string(255, 'v'),
                                         &result));
  EXPECT_EQ(1u, line.sent.size());
}

TEST_F(JavaChannelTest, SoftResetNeverWaits) {
  int result = -7;
  EXPECT_EQ(0, channel.SoftReset(&result));
  EXPECT_EQ(0, result);
  ASSERT_EQ(1u, line.sent.size());
  EXPECT_EQ("mSCsoftreset", line.sent[0].name);
  EXPECT_EQ(" 0", line.sent[0].parameters);
}

TEST_F(JavaChannelTest, AnswersOf1599BytesOrMoreAreRefused) {
  std::string answer = " 1 " + std::string(1595, 'x');  // 1598 bytes
  line.AnswerAll("AN", answer);
  EXPECT_EQ(0, channel.CallMethod("Ping"));
  line.AnswerAll("AN", answer + "x");
  EXPECT_EQ(-1, channel.CallMethod("Ping"));
  line.AnswerAll("AN", std::string(5000, 'x'));
  EXPECT_EQ(-1, channel.CallMethod("Ping"));
  // The refused answers did not replace the stored one.
  uint32_t v = 0;
  EXPECT_EQ(0, channel.GetResultValue(0, &v));
  EXPECT_EQ(1u, v);
}

TEST_F(JavaChannelTest, EmptyAnswersAreWaitedPastUntilTheRealOne) {
  std::thread late;
  line.respond = [&](const Sent& s) {
    Deliver(channel, "AN", s.name, "");
    EXPECT_EQ(0, channel.ReceiveAnswer("AN", s.name, nullptr, 12));
    EXPECT_EQ(0, channel.ReceiveAnswer("AN", s.name, new uint8_t[1], -3));
    late = std::thread([this, name = s.name] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      Deliver(channel, "AN", name, " 2A ");
    });
    return std::optional<Reply>();
  };
  int result = 0;
  EXPECT_EQ(0, channel.GetDownloadStatus(0, 1, &result));
  late.join();
  EXPECT_EQ(0x2A, result);
}

TEST_F(JavaChannelTest, VariableReadsAndMethodCallsCheckKindNameAndTimeOut) {
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(-1, channel.ReadVariable("Quiet", 100));  // a silent device
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(95));
  EXPECT_EQ("RN", line.sent.back().type);
  line.AnswerAll("RA", " 1 ");
  EXPECT_EQ(0, channel.ReadVariable("Speed", 2000));
  EXPECT_EQ(-1, channel.CallMethod("Speed"));
  line.AnswerAll("AN", " 1 ");
  EXPECT_EQ(0, channel.CallMethod("Run"));
  EXPECT_EQ("", line.sent.back().parameters);
  line.respond = [](const Sent&) { return std::optional<Reply>({"RA", "Other", " 1 "}); };
  EXPECT_EQ(-1, channel.ReadVariable("Speed", 2000));
}

// The verbatim login text is pinned through the JVM in TavisInterfaceTest.
TEST_F(JavaChannelTest, ACutPasswordIsNeverSent) {
  EXPECT_EQ(-1, channel.SetAccessMode("3", std::string(1600, 'p')));
  EXPECT_TRUE(line.sent.empty());
}

TEST_F(JavaChannelTest, IdentificationSetsAndClearsNoProgram) {
  line.AnswerAll("RA", " 3 ABC");
  EXPECT_EQ("ABC", channel.ReadDeviceIdent());
  EXPECT_TRUE(channel.HasApplication());
  line.AnswerAll("RA", " 2 OK No Program");
  EXPECT_EQ("OK", channel.ReadDeviceIdent());
  EXPECT_FALSE(channel.HasApplication()) << "\"No Program\" anywhere in the answer counts";
  line.AnswerAll("FA", " 3 ABC");
  EXPECT_EQ("", channel.ReadDeviceIdent());
  EXPECT_TRUE(channel.HasApplication());

  JavaDeviceChannel no_decoder(nullptr, &line);
  line.channel = &no_decoder;
  line.AnswerAll("RA", " 3 ABC");
  EXPECT_EQ("", no_decoder.ReadDeviceIdent());
  line.channel = &channel;
}

TEST_F(JavaChannelTest, ValuesFollowTheFirstBlank) {
  struct Row {
    const char* answer;
    int index, status;
    std::optional<uint32_t> value;
  };
  for (const Row& row : std::vector<Row>{
           {"name 5", 0, -1, 5}, {"name 5 ", 0, 0, 5}, {" 5 7 ", 1, 0, 7}, {" 5 7", 1, -1, 7},
           {" 5 7", 4, -1, std::nullopt}, {"5", 0, -1, 5}, {" ZZ 1 ", 0, 0, 0}, {"", 0, -1, 0}}) {
    SCOPED_TRACE(std::string("'") + row.answer + "' #" + std::to_string(row.index));
    Deliver(channel, "AN", "m", row.answer);
    uint32_t v = 99;
    EXPECT_EQ(row.status, channel.GetResultValue(row.index, &v));
    if (row.value) {
      EXPECT_EQ(*row.value, v);
    }
  }
}

TEST_F(JavaChannelTest, StringsAreCountedAndStayInsideTheAnswer) {
  struct Row {
    const char* answer;
    int index;
    bool flex;
    int fixed, status;
    const char* text;  // null: not looked at
  };
  for (const Row& row : std::vector<Row>{
           {" 3 abc", 0, true, 0, 0, "abc"},
           {" 3 a b 2 cd", 1, true, 0, 0, "cd"},  // blanks inside the first string go with it
           {" 3 a b 2 cd", 2, true, 0, -1, ""}, {" 20 short", 0, true, 0, 0, "short"},
           {" abcdef", 0, false, 4, 0, "abcd"}, {" 3", 0, true, 0, -1, nullptr},
           {" 700 x", 0, true, 0, -1, nullptr}}) {  // would pass the 1600-byte buffer
    SCOPED_TRACE(std::string("'") + row.answer + "' #" + std::to_string(row.index));
    Deliver(channel, "AN", "m", row.answer);
    std::string text = "old";
    EXPECT_EQ(row.status, channel.GetResultString(row.index, text, row.flex, row.fixed));
    if (row.text) {
      EXPECT_EQ(row.text, text);
    }
  }
}

}  // namespace
}  // namespace korvo
