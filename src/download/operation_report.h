// What the last operation of the library did, for people: every check in
// order with what was read and what was expected, per device what happened
// to it and why, what the device said when it refused, the time each phase
// took and the files involved. It is written beside the contract (codes,
// statuses and result objects stay as they are) and read as JSON text
// (docs/front-end.md describes it).
//
// Filled by the operation as it runs, on its thread; not thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/device_channel.h"

namespace korvo {

class ConfigurationBuilder;
struct FirstStageRecord;

// One check of a download: the downloader version, the key file's entry,
// an identification, a signature, the user's rights or one of their rules.
struct CheckRecord {
  std::string check;     // "version", "key", "identification", "signature", "rights", "rule"
  std::string name;      // what was asked: an entry, a method or variable name
  std::string read;      // what the configuration or the device gave
  std::string expected;  // what the key file or the downloader wants
  bool passed = false;
  int code = 0;          // the check's own result code when it could not be made
  std::string note;
};

// One DOWNLOAD_CONSTRAINT of a device and what the device gave for it.
struct ConstraintRecord {
  int number = 0;  // 1..9
  std::string name;
  std::string datatype;  // "string" or "int"
  std::string op;
  std::string expected;
  std::string read;
  bool answered = false;  // the device answered and its value could be read
  bool holds = false;
};

// What became of one device of the configuration.
struct DeviceRecord {
  int index = 0;  // from 0, as the natives count; the device number is index + 1
  std::string name;
  std::string type;       // DEVICE_TYPE
  std::string data_type;  // DATA_TYPE
  std::vector<ConstraintRecord> constraints;
  bool constraints_checked = false;
  bool constraints_hold = true;
  // "written", "skipped", "failed", "not reached" (a download stopped
  // before it), or in a dry run "would be written" / "would be skipped".
  std::string outcome = "not reached";
  std::string reason;    // why it was skipped: "constraints", "skip", "only", "application mode"
  std::string transfer;  // "whole file", "part by part", "boot loader"
  uint64_t packages = 0;
  uint64_t bytes = 0;
  int result = 0;
  std::optional<int> device_error;
};

class OperationReport final {
 public:
  // "download", "dry run", "first stage" or "build"; `started` is the tick
  // (TickCount) the operation began at, when that was before now.
  void Start(const std::string& operation);
  void Start(const std::string& operation, uint32_t started);

  // Records a file the operation reads, with what is on disk now: "missing",
  // "unreadable", "not a file", "compressed" or "plain".
  void AddFile(const std::string& role, const std::string& path);
  void AddOutput(const std::string& role, const std::string& path);

  // Ends the running phase (if any) and starts the next one.
  void StartPhase(const std::string& name);
  void EndPhase();

  void set_channel(const std::string& channel) { channel_ = channel; }
  std::vector<CheckRecord>& checks() { return checks_; }
  DeviceRecord& Device(int index);
  std::vector<DeviceRecord>& devices() { return devices_; }

  // The step that failed, and what the device said to its last command.
  void Fail(const std::string& step, const DeviceAnswer& answer);
  void AddNote(const std::string& note) { notes_.push_back(note); }

  // The result as the caller receives it. Ends the running phase.
  void Finish(int result, int device_error, const char* text);

  void AddBuild(const ConfigurationBuilder& builder);
  void AddFirstStage(const FirstStageRecord& record);

  int result() const { return result_; }
  // The report as JSON text; "" before the first Start.
  std::string ToJson() const;

 private:
  std::string operation_;
  std::string channel_;
  struct File {
    std::string role, path, state;
  };
  std::vector<File> files_;
  struct Phase {
    std::string name;
    uint32_t started = 0;
    uint32_t ms = 0;
    bool running = false;
  };
  std::vector<Phase> phases_;
  uint32_t started_ = 0;
  uint32_t total_ms_ = 0;
  std::vector<CheckRecord> checks_;
  std::vector<DeviceRecord> devices_;
  std::string failed_step_;
  DeviceAnswer answer_;
  std::vector<std::string> notes_;
  std::string build_json_;
  std::string first_stage_json_;
  int result_ = 0;
  int device_error_ = 0;
  std::string text_;
};

// The report of a build of `project` begun at tick `started` that gave
// `code`, from what the builder kept of it.
OperationReport BuildReport(const std::string& project, const ConfigurationBuilder& builder,
                            int code, uint32_t started);

// The report of a first-stage download of `config_file` begun at `started`.
OperationReport FirstStageReport(const std::string& config_file, const FirstStageRecord& record,
                                 int code, int device_error, uint32_t started);

// The report of an operation the library could not run at all (a manager
// member it needs is missing).
OperationReport UnavailableReport(const std::string& operation, const std::string& what);

// The report of a call refused with its busy `code` (`why` says what was
// in the way); nothing ran.
OperationReport RefusedReport(const std::string& operation, const std::string& why, int code);

// The text of any result code of the library, as the operation that gave it
// means it ("download", "dry run", "first stage" or "build"; any other word
// counts as "download"): the band that owns the code, else the codes passed
// through from lower layers. Never empty.
const char* ResultText(const std::string& operation, int code);

}  // namespace korvo
