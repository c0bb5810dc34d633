#include "download/operation_report.h"

#include <nlohmann/json.hpp>

#include <cstdio>

#include "config/config_document.h"
#include "config/configuration_builder.h"
#include "config/splay_compressor.h"
#include "device/brek_bridge.h"
#include "device/first_stage_downloader.h"
#include "download/access_checks.h"
#include "download/download_executor.h"
#include "keys/key_document.h"
#include "platform/system.h"

namespace korvo {
namespace {

using Json = nlohmann::ordered_json;

// Device texts and file names need not be UTF-8; the JSON text must be.
std::string Dump(const Json& j, int indent = -1) {
  return j.dump(indent, ' ', false, Json::error_handler_t::replace);
}

// What is on disk at `path`, as a person would want to hear it.
std::string FileState(const std::string& path) {
  // Looked at before opening: opening a pipe would wait for a writer.
  const FileKind kind = KindOfFile(path);
  if (kind == FileKind::kMissing) return "missing";
  if (kind != FileKind::kRegular) return "not a file";
  UniqueFile file(OpenFileUtf8(path, "rb"));
  if (!file) return "unreadable";
  unsigned char head[4] = {};
  const size_t got = std::fread(head, 1, sizeof head, file.get());
  const uint32_t magic = uint32_t(head[0]) | uint32_t(head[1]) << 8 | uint32_t(head[2]) << 16 |
                         uint32_t(head[3]) << 24;
  return got == 4 && magic == kCompressedFileMagic ? "compressed" : "plain";
}

Json AnswerJson(const DeviceAnswer& answer) {
  Json j;
  j["command"] = answer.command;
  switch (answer.kind) {
    case DeviceAnswer::Kind::kNone: j["answer"] = "none"; break;
    case DeviceAnswer::Kind::kAnswered: j["answer"] = "answered"; break;
    case DeviceAnswer::Kind::kError:
      j["answer"] = "error";
      j["code"] = answer.code;
      break;
    case DeviceAnswer::Kind::kSilent:
      j["answer"] = "silent";
      j["waitedMs"] = answer.waited_ms;
      break;
  }
  return j;
}

Json CheckJson(const CheckRecord& c) {
  Json j;
  j["check"] = c.check;
  if (!c.name.empty()) j["name"] = c.name;
  j["read"] = c.read;
  j["expected"] = c.expected;
  j["passed"] = c.passed;
  if (c.code != 0) j["code"] = c.code;
  if (!c.note.empty()) j["note"] = c.note;
  return j;
}

Json DeviceJson(const DeviceRecord& d) {
  Json j;
  j["number"] = d.index + 1;
  j["index"] = d.index;
  j["name"] = d.name;
  j["type"] = d.type;
  j["dataType"] = d.data_type;
  if (d.constraints_checked) {
    Json constraints = Json::array();
    for (const ConstraintRecord& c : d.constraints) {
      Json cj;
      cj["number"] = c.number;
      cj["name"] = c.name;
      cj["datatype"] = c.datatype;
      cj["operator"] = c.op;
      cj["expected"] = c.expected;
      cj["read"] = c.read;
      cj["answered"] = c.answered;
      cj["holds"] = c.holds;
      constraints.push_back(cj);
    }
    j["constraints"] = constraints;
    j["constraintsHold"] = d.constraints_hold;
  }
  j["outcome"] = d.outcome;
  if (!d.reason.empty()) j["reason"] = d.reason;
  if (!d.transfer.empty()) j["transfer"] = d.transfer;
  if (d.outcome == "written" || d.outcome == "failed") {
    j["packages"] = d.packages;
    j["bytes"] = d.bytes;
    j["result"] = d.result;
    if (d.device_error) j["deviceError"] = *d.device_error;
  }
  return j;
}

}  // namespace

void OperationReport::Start(const std::string& operation) { Start(operation, TickCount()); }

void OperationReport::Start(const std::string& operation, uint32_t started) {
  *this = OperationReport();
  operation_ = operation;
  started_ = started;
}

void OperationReport::AddFile(const std::string& role, const std::string& path) {
  files_.push_back({role, path, FileState(path)});
}

void OperationReport::AddOutput(const std::string& role, const std::string& path) {
  files_.push_back({role, path, "written"});
}

void OperationReport::StartPhase(const std::string& name) {
  EndPhase();
  phases_.push_back({name, TickCount(), 0, true});
}

void OperationReport::EndPhase() {
  if (!phases_.empty() && phases_.back().running) {
    phases_.back().ms = TickCount() - phases_.back().started;
    phases_.back().running = false;
  }
}

DeviceRecord& OperationReport::Device(int index) {
  for (DeviceRecord& d : devices_)
    if (d.index == index) return d;
  devices_.emplace_back();
  devices_.back().index = index;
  return devices_.back();
}

void OperationReport::Fail(const std::string& step, const DeviceAnswer& answer) {
  failed_step_ = step;
  answer_ = answer;
}

void OperationReport::Finish(int result, int device_error, const char* text) {
  EndPhase();
  total_ms_ = TickCount() - started_;
  result_ = result;
  device_error_ = device_error;
  text_ = text;
}

void OperationReport::AddBuild(const ConfigurationBuilder& builder) {
  Json j;
  j["output"] = builder.OutputPath();
  Json devices = Json::array();
  for (size_t i = 0; i < builder.BuiltDevices().size(); ++i) {
    const BuiltDevice& d = builder.BuiltDevices()[i];
    devices.push_back({{"number", i + 1}, {"index", i}, {"conversion", d.conversion},
                       {"dataType", d.data_type}, {"payloadBytes", d.payload_bytes}});
  }
  j["devices"] = devices;
  if (builder.FailedDevice() >= 0) {
    j["failedDevice"] = {{"number", builder.FailedDevice() + 1},
                         {"index", builder.FailedDevice()}};
  }
  if (!builder.FailureDetail().empty()) {
    j["diagnostic"] = builder.FailureDetail();
    const FailurePlace& at = builder.FailedAt();
    j["failedAt"] = {{"file", at.file}, {"line", at.line}, {"column", at.column}};
  }
  Json warnings = Json::array();
  for (const std::string& w : builder.Warnings()) warnings.push_back(w);
  j["warnings"] = warnings;
  build_json_ = Dump(j);
  if (!builder.OutputPath().empty()) AddOutput("configuration", builder.OutputPath());
}

void OperationReport::AddFirstStage(const FirstStageRecord& record) {
  Json j;
  if (record.app >= 0) j["device"] = {{"number", record.app + 1}, {"index", record.app}};
  j["addressRange"] = record.address_range;
  j["parts"] = record.parts;
  j["packages"] = record.traffic.packages;
  j["bytes"] = record.traffic.bytes;
  if (!record.damage.empty()) j["damaged"] = record.damage;
  first_stage_json_ = Dump(j);
  for (const auto& [name, ms] : record.phases) phases_.push_back({name, 0, ms, false});
  if (!record.failed_step.empty()) Fail(record.failed_step, record.answer);
  if (!record.diagnostic.empty()) AddNote(record.diagnostic);
}

std::string OperationReport::ToJson() const {
  if (operation_.empty()) return std::string();
  Json j;
  j["operation"] = operation_;
  j["result"] = result_;
  j["text"] = text_;
  if (operation_ != "build") j["deviceError"] = device_error_;
  if (!failed_step_.empty()) {
    j["failedStep"] = failed_step_;
    if (answer_.kind != DeviceAnswer::Kind::kNone) j["deviceAnswer"] = AnswerJson(answer_);
  }
  if (!channel_.empty()) j["channel"] = channel_;
  Json files = Json::array();
  for (const File& f : files_)
    files.push_back({{"role", f.role}, {"path", f.path}, {"state", f.state}});
  j["files"] = files;
  if (operation_ == "download" || operation_ == "dry run") {
    Json checks = Json::array();
    for (const CheckRecord& c : checks_) checks.push_back(CheckJson(c));
    j["checks"] = checks;
    Json devices = Json::array();
    int written = 0;
    for (const DeviceRecord& d : devices_) {
      devices.push_back(DeviceJson(d));
      if (d.outcome == "written" || d.outcome == "would be written") ++written;
    }
    j["devices"] = devices;
    j[operation_ == "dry run" ? "wouldWrite" : "written"] = written;
  }
  if (!build_json_.empty()) j["build"] = Json::parse(build_json_);
  if (!first_stage_json_.empty()) j["firstStage"] = Json::parse(first_stage_json_);
  Json notes = Json::array();
  for (const std::string& n : notes_) notes.push_back(n);
  if (!notes.empty()) j["notes"] = notes;
  Json phases = Json::array();
  for (const Phase& p : phases_) phases.push_back({{"phase", p.name}, {"ms", p.ms}});
  j["phases"] = phases;
  j["totalMs"] = total_ms_;
  return Dump(j, 2) + "\n";
}

OperationReport BuildReport(const std::string& project, const ConfigurationBuilder& builder,
                            int code, uint32_t started) {
  OperationReport report;
  report.Start("build", started);
  report.AddFile("project", project);
  report.AddBuild(builder);
  report.Finish(code, 0, ResultText("build", code));
  return report;
}

OperationReport FirstStageReport(const std::string& config_file, const FirstStageRecord& record,
                                 int code, int device_error, uint32_t started) {
  OperationReport report;
  report.Start("first stage", started);
  report.AddFile("configuration", config_file);
  report.AddFirstStage(record);
  report.Finish(code, device_error, ResultText("first stage", code));
  return report;
}

OperationReport UnavailableReport(const std::string& operation, const std::string& what) {
  OperationReport report;
  report.Start(operation);
  report.AddNote("the library has no " + what);
  report.Finish(-1, operation == "build" ? 0 : -1, "the library could not run this operation");
  return report;
}

OperationReport RefusedReport(const std::string& operation, const std::string& why, int code) {
  OperationReport report;
  report.Start(operation);
  report.AddNote(why);
  report.Finish(code, 0, ResultText(operation, code));
  return report;
}

const char* ResultText(const std::string& operation, int code) {
  const char* text = "";
  if (operation == "build") {
    text = BuildResultText(code);
  } else if (operation == "first stage") {
    text = FirstStageResultText(code);
    if (!*text) text = ConfigResultText(code);
  } else {
    text = ExecuteResultText(code);
    if (!*text) text = ConfigResultText(code);
    if (!*text) text = KeyResultText(code);
    if (!*text) text = BrekBridgeResultText(code);
  }
  if (code == 0) return "success";
  return *text ? text : "unknown result code";
}

}  // namespace korvo
