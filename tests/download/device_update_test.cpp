// The update's branches on the scripted channel; whole downloads through the
// real JVM are in java/test/download.
#include "download/device_update.h"

#include <gtest/gtest.h>

#include <string>

#include "config/config_document.h"
#include "config/splay_compressor.h"
#include "config/temp_files.h"
#include "keys/key_document.h"
#include "platform/system.h"
#include "support/files.h"
#include "support/scripted_channel.h"

namespace korvo {
namespace {

using test_support::Reply;
using test_support::ScriptedChannel;

struct Case {
  const char* name;
  const char* data_type;
  const char* partial;
  int close_status;     // what the channel's Close returns
  int storing_status;   // the progress the device keeps reporting
  int result;           // expected; 0 for success
  int device_error;
  int status_polls;     // GetDownloadStatus calls expected (-1: do not care)
};

const Case kCases[] = {
    {"whole file stored at once", "FILE", "false", 0, 100, 0, -1, 1},
    {"stuck storing progress", "FILE", "false", 0, 42, kUpdateTransferFailed, 42, -1},
    {"no part reader for FILE", "FILE", "true", 0, 100, kUpdateTransferFailed, -1, 0},
    {"BREKBIN on a line that is not given up", "BREKBIN", "true", 0, 100,
     kUpdateTransferFailed, -1, 0},
    {"unknown data type", "BIN", "false", 0, 100, kUpdateUnknownDataType, -1, 0},
};

TEST(DeviceUpdateTest, BranchesAndTheirFailures) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string xml =
        std::string("<download_configuration><Header><System2/><Device><Name>D</Name>") +
        "<DATA_TYPE>" + c.data_type + "</DATA_TYPE><PARTIAL_DOWNLOAD>" + c.partial +
        "</PARTIAL_DOWNLOAD><ADDRESS_RANGE>0-1</ADDRESS_RANGE><DEVICE_TYPE>APP</DEVICE_TYPE>"
        "</Device></Header><Data><Device>QUJD</Device></Data></download_configuration>";
    test_support::WriteFile("update.xml", xml);
    ASSERT_EQ(0, SplayCompressor().Compress("update.xml", "update.cfg"));
    ConfigDocument config;
    ASSERT_EQ(0, config.Load("update.cfg"));
    KeyDocument keys;
    ScriptedChannel channel;
    channel.Script("Close", Reply::Fail(c.close_status));
    Reply storing = Reply::Values({});
    storing.result = c.storing_status;
    channel.Script("GetDownloadStatus", storing);
    StatusLine status(nullptr);
    DownloadState state;
    DeviceUpdate update(config, keys, channel, status, ConnectionSettings{}, nullptr,
                        StoringPolicy{1, 30});

    EXPECT_EQ(c.result == 0, update.Run(0, state));
    if (c.result != 0) {
      EXPECT_EQ(c.result, state.result);
      EXPECT_EQ(c.device_error, state.device_error);
    }
    if (c.status_polls >= 0) {
      EXPECT_EQ(c.status_polls, channel.CountOf("GetDownloadStatus"));
    }
    config.Unload();
    RemoveFile("update.xml");
    RemoveFile("update.cfg");
    RemoveFile(ProcessTempNames().download_data);
  }
}

}  // namespace
}  // namespace korvo
