// A front end and its device in one: every command answered from inside the send, as a
// quick front end may. A subclass says what each gets and where the answer goes.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "download/host_services.h"

namespace korvo::test_support {

class AnsweringHost : public HostServices {
 public:
  int SendMethodCall(const std::string& name, const uint8_t*, size_t) override {
    return Answer("AN", name);
  }
  int SendVariableRead(const std::string& name) override { return Answer("RA", name); }
  int SendEventRequest(const std::string& name, const uint8_t*, size_t) override {
    return Answer("EA", name);
  }
  bool CanReportStatus() const override { return false; }
  void ReportStatus(const std::string&, int) override {}
  int CleanUpInterface() override { return 0; }

 protected:
  // Called for every command sent; returns what the send returns.
  virtual int Answer(const char* kind, const std::string& name) = 0;
  // Hands the answer bytes (new[], ownership passes) to the library.
  virtual void Deliver(const char* kind, const std::string& name, uint8_t* bytes, int count) = 0;

  // A device that grants level 3, opens session 7 and stores at once; a
  // rebooting device is silent (null).
  static const char* UsualReply(const std::string& name) {
    return name == "GetAccessMode"     ? " 3"
           : name == "mFDsrt2ndstgldr" ? " 7"
           : name == "mFDstadwnld"     ? " 64"  // stored: 100
           : name == "mSCsoftreset"    ? nullptr
                                       : " 0";
  }
  // `text` (null: no answer) as the answer of kind to `name`.
  void Reply(const char* kind, const std::string& name, const char* text) {
    if (!text) return;
    const size_t length = std::strlen(text);
    uint8_t* bytes = new uint8_t[length];
    std::memcpy(bytes, text, length);
    Deliver(kind, name, bytes, int(length));
  }
};

}  // namespace korvo::test_support
