#include "device/brek_bridge.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>

#include "bootloader/brek_download.h"
#include "config/temp_files.h"
#include "device/com_port.h"
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
  CBrekDownload* library = nullptr;
  StatusReporter* status = nullptr;
  std::string initial_settings;
  std::string download_baud;
  int last_result = 0;  // 0: none reported
};

std::mutex g_run_mutex;
// Never destroyed: a download still running while the library's statics go
// must find it.
BridgeState& g_state = *new BridgeState;

bool SendCallback(unsigned char* bytes, unsigned long count) {
  return g_state.port && count <= UINT32_MAX &&
         g_state.port->Write(bytes, static_cast<uint32_t>(count));
}

int ReceiveCallback(unsigned char* buffer, unsigned long maximum, unsigned char terminator) {
  if (!g_state.port) return 0;
  int limit = maximum > INT_MAX ? INT_MAX : static_cast<int>(maximum);
  return g_state.port->ReadBytes(buffer, limit, terminator);
}

void ProgressCallback(const char* text, double value) {
  StatusReporter* status = g_state.status;
  if (!status || !status->CanReportStatus()) return;
  status->ReportStatus(text ? text : "", text ? ProgressPercent(value) : 0);
}

void ResultCallback(int code) { g_state.last_result = code; }

void DriverModeCallback(TyDriverMode mode) {
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
             const std::string& log_file) {
  std::unique_ptr<SerialPort> port;
  std::unique_ptr<CBrekDownload> library;
  try {
    port = std::make_unique<SerialPort>(log_file);
    library = std::make_unique<CBrekDownload>(SendCallback, ReceiveCallback, ProgressCallback,
                                              ResultCallback, DriverModeCallback);
  } catch (...) {
    return kBrekBridgeCreateFailed;
  }
  g_state.port = port.get();
  g_state.library = library.get();
  struct Release {
    CBrekDownload* library;
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
    DriverModeCallback(kDriverInitial);
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
  if (!log.Create(kTempDownloadLog)) return kBrekBridgeCreateFailed;

  g_state = BridgeState();
  g_state.status = status;
  int code = Transfer(request, download_file.path(), log.path());
  if (result_code && g_state.last_result != 0) *result_code = g_state.last_result - kResultBase;
  g_state = BridgeState();
  // The traffic log is kept to explain a failed download (the next one
  // clears it away); after a good one it would only pile up.
  if (code != kBrekBridgeOk) log.Keep();
  return code;
}

}  // namespace korvo
