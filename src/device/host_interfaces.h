// What the device layer needs from whoever hosts the library (the Java
// front end today): a way to hand a command to the device line, and a place
// to report progress. The interface layer implements both; the device and
// download layers only call them, so they never see JNI.
//
// Thread safety: implementations accept calls from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace korvo {

// Where a channel's commands go. Each call returns 0 when the command was
// handed on, -1 when it could not be (then no answer can come, and the
// channel fails the command at once instead of waiting for one).
class CommandSender {
 public:
  virtual ~CommandSender() = default;
  virtual int SendMethodCall(const std::string& method, const uint8_t* bytes, size_t count) = 0;
  virtual int SendVariableRead(const std::string& variable) = 0;
  virtual int SendEventRequest(const std::string& event, const uint8_t* bytes, size_t count) = 0;
};

// Receives status texts with -1 (no percentage) or a percentage 0..100.
class StatusReporter {
 public:
  virtual ~StatusReporter() = default;
  // False when nobody can take a status; ReportStatus then does nothing.
  virtual bool CanReportStatus() const = 0;
  virtual void ReportStatus(const std::string& text, int percent) = 0;
};

}  // namespace korvo
