// A simulated field device on a serial line. In application mode it answers
// the serial telegrams STX "sRN name" ETX and STX "sMN name ..." ETX from
// tables; STX "download standard" ETX puts it into boot mode, where it
// speaks the BrekLoad boot protocol (bootloader/brek_download.h) and keeps
// the image it receives. It can be told to misbehave, to test the host.
//
// Thread safety: Run() on one thread; the accessors from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/line.h"

namespace korvo::sim {

struct BootDeviceOptions {
  // Simulated line rate the device paces its receiving and answering to;
  // 0 answers at once. A BAUD frame switches it.
  uint32_t line_baud = 0;
  // Variable name -> value text answered to "sRN" ("sRA name value").
  std::map<std::string, std::string> variables;
  // Method name -> result text answered to "sMN" ("sAN name result").
  std::map<std::string, std::string> methods;
  // Written once the image was verified at END ("" keeps it in memory only).
  std::string image_file;
  // Faults. DATA frames are counted from 0 in order of arrival, repeats
  // included; -1 switches a fault off.
  bool never_boot = false;
  int drop_data_frame = -1;     // not answered, once
  int corrupt_data_frame = -1;  // a byte damaged on arrival, once
  int stop_at_data_frame = -1;  // silent from this frame on
};

// "<hex length> <text>", the form of a string in an answer.
std::string FlexText(const std::string& text);

class BootDevice {
 public:
  BootDevice(Line& line, BootDeviceOptions options);
  ~BootDevice();
  BootDevice(const BootDevice&) = delete;
  BootDevice& operator=(const BootDevice&) = delete;

  // Serves the line until Stop() or until the line is gone.
  void Run();
  // Run() on a thread of the device's own; the destructor stops it.
  void Start();
  void Stop();

  std::vector<std::string> telegrams() const;  // application-mode telegrams, in order
  std::vector<uint8_t> image() const;          // bytes stored so far
  bool image_verified() const;                 // END matched length and CRC-32
  uint32_t download_baud() const;              // from the last BAUD frame, 0 before
  std::string device_type() const;             // from START

 private:
  void OnBytes(const uint8_t* bytes, size_t count);
  void OnTelegram(const std::string& text);
  void OnFrame(std::vector<uint8_t> raw);
  void Answer(uint8_t type, uint8_t seq, uint8_t code, uint32_t value);
  void Send(const std::vector<uint8_t>& bytes);
  void PaceReceive(size_t count);
  void WaitForLine();

  Line& line_;
  BootDeviceOptions options_;
  std::atomic<bool> stop_{false};
  std::thread thread_;

  // Receive state, on the Run() thread only.
  bool boot_mode_ = false;
  bool silent_ = false;
  std::string telegram_;
  bool in_telegram_ = false;
  std::vector<uint8_t> frame_;
  int data_frames_ = 0;
  bool started_ = false;
  uint32_t image_length_ = 0;
  uint32_t image_crc_ = 0;
  uint32_t pace_baud_ = 0;
  std::chrono::steady_clock::time_point line_clock_{};

  mutable std::mutex mutex_;  // guards what the accessors read
  std::vector<std::string> telegrams_;
  std::vector<uint8_t> image_;
  bool verified_ = false;
  uint32_t download_baud_ = 0;
  std::string device_type_;
};

}  // namespace korvo::sim
