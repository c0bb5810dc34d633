// The report's own rules; what a download puts into it is checked through
// the JVM in java/test/download.
#include "download/operation_report.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

#include "platform/system.h"
#include "support/files.h"

namespace korvo {
namespace {

// A code means what the operation that gave it means by it.
TEST(OperationReportTest, ResultTextsFollowTheOperation) {
  const struct { const char* operation; int code; const char* says; } rows[] = {
      {"download", 0, "success"},
      {"download", -1, "the application part"},
      {"first stage", -1, "the number of devices"},
      {"build", -1, "no configuration builder"},
      {"dry run", -4, "the access rights"},
      {"download", -91, "the configuration cannot be decompressed"},
      {"first stage", -91, "the configuration cannot be decompressed"},
      {"build", -48, "S-record"},
      {"download", -124, "the key file has no entry"},
      {"download", -128, "the key file is missing"},
      {"download", -154, "the device did not enter boot mode"},
      {"other", -12, "the transfer of the program data failed"},
      {"dry run", -6, "refused: a download"},
      {"first stage", -144, "refused: a download"},
      {"build", -54, "refused: a build"},
      {"build", -70, "refused: a build"},
      {"download", -129, "refused: a key-file"},
      {"download", 4711, "unknown result code"},
  };
  for (const auto& row : rows) {
    EXPECT_NE(std::string::npos, std::string(ResultText(row.operation, row.code)).find(row.says))
        << row.operation << " " << row.code << ": " << ResultText(row.operation, row.code);
  }
}

// Files are named with what is on disk; texts from devices that are not
// UTF-8 still make a valid JSON text.
TEST(OperationReportTest, FilesAndDeviceTextsReadBack) {
  test_support::WriteFile("report-plain.xml", "<download_keys/>");
  test_support::WriteFile("report-packed.key", std::string("\x55\xAA\x02\xFF", 4) + "rest");
  OperationReport report;
  report.Start("dry run");
  const char* paths[] = {"report-plain.xml", "report-packed.key", "report-missing.cfg", "."};
  for (const char* path : paths) report.AddFile("file", path);
  report.checks().push_back(
      {"identification", "DeviceIdent", "\xff\xfe bin\x01", "A.*", false, 0, ""});
  report.Device(1).name = "second";
  report.Fail("rights", DeviceAnswer{"GetAccessMode", DeviceAnswer::Kind::kError, 7, 0});
  report.Finish(-4, -1, ResultText("dry run", -4));

  const nlohmann::json j = nlohmann::json::parse(report.ToJson());
  std::string states;
  for (const auto& f : j["files"]) states += f["state"].get<std::string>() + " ";
  EXPECT_EQ("plain compressed missing not a file ", states);
  EXPECT_EQ(" bin\x01", j["checks"][0]["read"].get<std::string>().substr(6));
  EXPECT_EQ(2, j["devices"][0]["number"]);
  EXPECT_EQ("rights error 7", j["failedStep"].get<std::string>() + " " +
                                  j["deviceAnswer"]["answer"].get<std::string>() + " " +
                                  std::to_string(j["deviceAnswer"]["code"].get<int>()));
  EXPECT_EQ(0, j["wouldWrite"]);
  EXPECT_EQ("", OperationReport().ToJson()) << "no report before the first operation";
  RemoveFile("report-plain.xml");
  RemoveFile("report-packed.key");
}

}  // namespace
}  // namespace korvo
