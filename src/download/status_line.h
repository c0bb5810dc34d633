// The status a download shows the user: a text and an integer (-1 without a
// percentage, 0..100 during transfers). Every change is sent to the host at
// once. One download thread; not thread-safe.
#pragma once

#include <string>

#include "device/host_interfaces.h"

namespace korvo {

class StatusLine final {
 public:
  // `reporter` is borrowed and may be null (then nothing is sent).
  explicit StatusLine(StatusReporter* reporter) : reporter_(reporter) {}

  // Sends `text` with the current value.
  void Report(const std::string& text) {
    text_ = text;
    if (reporter_) reporter_->ReportStatus(text_, value_);
  }
  void Report(const std::string& text, int value) {
    value_ = value;
    Report(text);
  }
  void set_value(int value) { value_ = value; }
  int value() const { return value_; }
  const std::string& text() const { return text_; }
  StatusReporter* reporter() const { return reporter_; }

 private:
  StatusReporter* reporter_;
  std::string text_;
  int value_ = 0;
};

}  // namespace korvo
