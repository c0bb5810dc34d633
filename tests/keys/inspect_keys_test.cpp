// `korvo inspect` on key files, run as the user runs it.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "config/splay_compressor.h"

namespace korvo {
namespace {

const char kPlain[] = "inspect_keys_test.xml";
const char kPacked[] = "inspect_keys_test.kz";

std::string Inspect(const std::string& file, int* status) {
  std::string command = std::string(KORVO_TOOL) + " inspect " + file + " 2>&1";
  std::FILE* pipe = popen(command.c_str(), "r");
  std::string out;
  if (!pipe) return out;
  char chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, got);
  *status = pclose(pipe);
  return out;
}

class KeyInspectTest : public ::testing::Test {
 protected:
  void TearDown() override {
    std::remove(kPlain);
    std::remove(kPacked);
  }
};

TEST_F(KeyInspectTest, ShowsWhatTheChecksWouldReadAndMarksTheRest) {
  std::ofstream(kPlain)
      << "<download_keys><Device Key=\"A\"/><Device Key=\"SCANNER\">"
         "<Identification index=\"0x10\" TAVISType=\"MN\" CommunicationName=\"GetVersion\""
         " Value=\"1\\.[0-9]+\"/>"
         "<Signature CommunicationName=\"Serial\" Value=\"12.*\"><Rights>"
         "<User level=\"3\" access=\"rule\"><Rule datatype=\"int\" operator=\"&gt;=\">"
         "<SpecifiedValue><![CDATA[0x10]]></SpecifiedValue><SpecifiedValue>7</SpecifiedValue>"
         "<CommunicationName index=\"1\" TAVISType=\"RN\"><![CDATA[HW]]></CommunicationName>"
         "</Rule></User><User level=\"03\" access=\"allow\"/><User level=\"3\" access=\"deny\"/>"
         "</Rights></Signature><Signature><Rights/><Rights/></Signature></Device>"
         "<Device Key=\"A\"/></download_keys>";
  SplayCompressor compressor;
  ASSERT_EQ(0, compressor.Compress(kPlain, kPacked));
  for (const char* file : {kPlain, kPacked}) {
    int status = -1;
    std::string out = Inspect(file, &status);
    EXPECT_EQ(0, status) << out;
    for (const char* line : {
             "Devices: 3\n",
             "Device 1: key \"SCANNER\"\n",
             "    0: MN \"GetVersion\" [index 16] must match \"1\\.[0-9]+\"\n",
             "    Signature 0: RN \"Serial\" must match \"12.*\"\n",
             "        Level 3: rule\n",
             "          Rule 0 (int): \"0x10\" or (value not in CDATA) >= RN \"HW\" [index 1]\n",
             "        Level 03: \"allow\" (unknown access) (level text never matches)\n",
             "        Level 3: deny (level repeated: never read)\n",
             "    Signature 1: any device (no communication name)\n",
             "      Rights: repeated 2 times, unreadable\n",
             "Device 2: key \"A\" (key repeated: never selected)\n",
         })
      EXPECT_NE(std::string::npos, out.find(line)) << "missing: " << line << "in:\n" << out;
  }
}

TEST_F(KeyInspectTest, KeyFileThatIsNotWellFormedFails) {
  std::ofstream(kPlain) << "<download_keys><Device>";
  int status = 0;
  std::string out = Inspect(kPlain, &status);
  EXPECT_NE(0, status);
  EXPECT_NE(std::string::npos, out.find("not well-formed")) << out;
}

}  // namespace
}  // namespace korvo
