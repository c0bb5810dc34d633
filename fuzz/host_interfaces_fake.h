// A command sender that answers each command at once through a callback,
// as the Java side does from its own thread. Header-only.
#pragma once

#include <functional>
#include <string>

#include "device/host_interfaces.h"

namespace korvo::fuzz {

class AnsweringSender final : public CommandSender {
 public:
  std::function<void(const std::string& name)> answer;

  int SendMethodCall(const std::string& method, const uint8_t*, size_t) override {
    if (answer) answer(method);
    return 0;
  }
  int SendVariableRead(const std::string& variable) override {
    if (answer) answer(variable);
    return 0;
  }
  int SendEventRequest(const std::string& event, const uint8_t*, size_t) override {
    if (answer) answer(event);
    return 0;
  }
};

}  // namespace korvo::fuzz
