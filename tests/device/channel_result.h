#pragma once
// What a channel reads from its last answer at one index, as one line.

#include <cstdio>
#include <string>

#include "device/device_channel.h"

namespace korvo::testing_channel {

// "status value status text": the value and the counted string at `index`.
inline std::string ResultAt(DeviceChannel& channel, int index) {
  uint32_t value = 99;
  std::string text = "old";
  int value_status = channel.GetResultValue(index, &value);
  int text_status = channel.GetResultString(index, text, true, 0);
  char head[32];
  std::snprintf(head, sizeof head, "%d %X %d ", value_status, value, text_status);
  return head + text;
}

}  // namespace korvo::testing_channel
