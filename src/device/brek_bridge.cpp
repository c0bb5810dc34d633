#include "device/brek_bridge.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>

#include "config/temp_files.h"
#include "device/boot_loader_library.h"
#include "device/com_port.h"
#include "platform/debug_output.h"
#include "platform/system.h"

namespace korvo {
namespace {

constexpr char kBootRequest[] = "download standard";
constexpr char kInitialTail[] = ",9600,8,0,1";
constexpr char kDefaultBaud[] = "9600";
constexpr int kBootAttempts = 3;
constexpr int kResultBase = 200;

// What the library's plain-function callbacks reach; valid during one run.
struct BridgeState {
  SerialPort* port = nullptr;
  BootLoaderLibrary* library = nullptr;
  StatusReporter* status = nullptr;
  std::string initial_settings;
  std::string download_baud;
  int last_result = 0;  // 0: none reported
};

std::mutex g_run_mutex;
// Never destroyed: a download still running while the library's statics go
// must find it.
BridgeState& g_state = *new BridgeState;

// The library may be built by another compiler, so nothing may unwind
// through its frames: a callback that throws reports failure instead.
template <typename Result, typename Body>
Result Contained(Result failure, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

bool SendCallback(unsigned char* bytes, unsigned long count) {
  return Contained(false, [&] {
    return g_state.port && count <= UINT32_MAX &&
           g_state.port->Write(bytes, static_cast<uint32_t>(count));
  });
}

int ReceiveCallback(unsigned char* buffer, unsigned long maximum, unsigned char terminator) {
  return Contained(0, [&] {
    if (!g_state.port) return 0;
    int limit = maximum > INT_MAX ? INT_MAX : static_cast<int>(maximum);
    return g_state.port->ReadBytes(buffer, limit, terminator);
  });
}

void ProgressCallback(const char* text, double value) {
  Contained(0, [&] {
    StatusReporter* status = g_state.status;
    if (status && status->CanReportStatus())
      status->ReportStatus(text ? text : "", text ? ProgressPercent(value) : 0);
    return 0;
  });
}

void ResultCallback(int code) { g_state.last_result = code; }

void ApplyDriverMode(TyDriverMode mode) {
  SerialPort* port = g_state.port;
  if (!port) return;
  std::string settings;
  uint32_t timeout_ms = 1000;
  switch (static_cast<int>(mode)) {
    case kDriverInitial: settings = g_state.initial_settings; break;
    case kDriverBootMode: {
      const char* line = g_state.library ? g_state.library->GetBootModePara() : nullptr;
      settings = port->port_name() + "," + (line ? line : "");
      timeout_ms = 500;
      break;
    }
    case kDriverDownload:
      settings = port->port_name() + "," + g_state.download_baud + ",8,N,1";
      timeout_ms = 5000;
      break;
    case kDriverRestart:
      port->Purge();
      timeout_ms = 100;
      break;
    default: settings = port->port_name() + ",9600,8,N,1"; break;
  }
  port->SetSettings(settings);
  port->SetFirstByteTimeout(timeout_ms);
  port->Open();
}

void DriverModeCallback(TyDriverMode mode) {
  Contained(0, [&] {
    ApplyDriverMode(mode);
    return 0;
  });
}

// The header, then the data file's bytes. False when either file does not
// open or a write fails.
bool BuildDownloadFile(const BrekDownloadRequest& request, const std::string& path) {
  UniqueFile data(OpenFileUtf8(request.data_file, "rb"));
  if (!data) return false;
  UniqueFile out(OpenFileUtf8(path, "wb"));
  if (!out) return false;
  std::string header =
      "0:" + request.device_type + ":" + request.address_range + ":0:0:0:0:";
  bool ok = std::fwrite(header.data(), 1, header.size(), out.get()) == header.size();
  char chunk[8192];
  for (size_t got; ok && (got = std::fread(chunk, 1, sizeof chunk, data.get())) > 0;)
    ok = std::fwrite(chunk, 1, got, out.get()) == got;
  return ok && !std::ferror(data.get()) && std::fflush(out.get()) == 0;
}

// Steps 3 to 8 on the built file; the objects go when this returns.
int Transfer(const BrekDownloadRequest& request, const std::string& download_file,
             TempFileGuard& log) {
  std::unique_ptr<SerialPort> port;
  std::unique_ptr<BootLoaderLibrary> library;
  std::string why;
  // The library first: without one there is no port, and no empty traffic
  // log is left behind to explain a download that never started.
  try {
    const BootLoaderCallbacks callbacks{SendCallback, ReceiveCallback, ProgressCallback,
                                        ResultCallback, DriverModeCallback};
    library = request.library.empty() ? BootLoaderLibrary::Load(callbacks, &why)
                                      : BootLoaderLibrary::LoadFrom(request.library, callbacks, &why);
    if (library && log.Create(kTempDownloadLog)) port = std::make_unique<SerialPort>(log.path());
  } catch (...) {
    why = "an exception while creating the port or the library object";
  }
  if (!port || !library) {
    DebugPrint("Boot-loader download not started: %s\n", why.c_str());
    return kBrekBridgeCreateFailed;
  }
  g_state.port = port.get();
  g_state.library = library.get();
  struct Release {
    BootLoaderLibrary* library;
    ~Release() {
      if (library->IsFileOpen()) library->CloseDownloadFile();
      g_state.port = nullptr;
      g_state.library = nullptr;
    }
  } release{library.get()};

  if (!library->OpenDownloadFile(download_file.c_str(), false)) return kBrekBridgeFileRefused;
  g_state.initial_settings = request.port_name + kInitialTail;
  port->SetSettings(g_state.initial_settings);
  if (!port->Open()) return kBrekBridgePortFailed;

  bool in_boot_mode = false;
  for (int attempt = 0; attempt < kBootAttempts && !in_boot_mode; ++attempt) {
    ApplyDriverMode(kDriverInitial);
    port->WriteTelegram(kBootRequest);
    in_boot_mode = library->IsInBootMode();
  }
  if (!in_boot_mode) return kBrekBridgeNoBootMode;

  g_state.download_baud = request.baud_rate.empty() ? kDefaultBaud : request.baud_rate;
  library->SetDownloadBaudrate(g_state.download_baud.c_str());
  return library->ExecuteDownload() ? kBrekBridgeOk : kBrekBridgeDownloadFailed;
}

}  // namespace

int ProgressPercent(double value) {
  if (value == -1.0) return -1;
  double rounded = value + 0.5;
  // Casting a value outside int is undefined; NaN counts as no progress.
  if (std::isnan(rounded)) return 0;
  if (rounded >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (rounded <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(rounded);
}

int RunBrekDownload(const BrekDownloadRequest& request, int* result_code, StatusReporter* status) {
  std::lock_guard<std::mutex> lock(g_run_mutex);
  if (result_code) *result_code = 0;
  TempFileGuard download_file;
  if (!download_file.Create(kTempBootLoaderFile) ||
      !BuildDownloadFile(request, download_file.path()))
    return kBrekBridgeFileFailed;
  TempFileGuard log;

  g_state = BridgeState();
  g_state.status = status;
  int code = Transfer(request, download_file.path(), log);
  if (result_code && g_state.last_result != 0) *result_code = g_state.last_result - kResultBase;
  g_state = BridgeState();
  // The traffic log is kept to explain a failed download (the next one
  // clears it away); after a good one it would only pile up.
  if (code != kBrekBridgeOk) log.Keep();
  return code;
}

const char* BrekBridgeResultText(int code) {
  switch (code) {
    case kBrekBridgeCreateFailed:
      return "no boot-loader library was found (or it lacks an entry point), or the boot loader's "
             "port could not be set up";
    case kBrekBridgePortFailed: return "the COM port for the boot loader did not open";
    case kBrekBridgeFileFailed: return "the boot-loader download file could not be built";
    case kBrekBridgeFileRefused: return "the boot loader refused the download file";
    case kBrekBridgeNoBootMode: return "the device did not enter boot mode";
    case kBrekBridgeDownloadFailed: return "the boot-loader download failed";
    default: return "";
  }
}

}  // namespace korvo
