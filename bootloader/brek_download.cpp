#include "bootloader/brek_download.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "bootloader/brek_frame.h"

namespace {

using Clock = std::chrono::steady_clock;
using brek::Frame;

constexpr char kBootModeLine[] = "9600,8,N,1";
constexpr uint32_t kBootModeBaud = 9600;
constexpr int kAttempts = 4;
constexpr int kGraceMs = 500;
constexpr int kHeaderFields = 7;
constexpr char kProgressText[] = "Boot-loader download";

// Nothing unwinds out of the library, whose caller may be built by another
// compiler: a call that runs out of memory fails instead.
template <typename Body>
bool Guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return false;
  }
}

// Why an exchange ended without an answer to its frame.
enum class Failure { kNone, kSend, kSilent, kRefused };

}  // namespace

struct CBrekDownload::State {
  TyBrekSend send = nullptr;
  TyBrekReceive receive = nullptr;
  TyBrekProgress progress = nullptr;
  TyBrekResult result = nullptr;
  TyBrekDriverMode driver_mode = nullptr;

  bool file_open = false;
  std::vector<uint8_t> image;
  std::string device_type;
  std::string address_range;
  bool in_boot_mode = false;
  uint32_t line_baud = kBootModeBaud;
  uint32_t download_baud = kBootModeBaud;
  uint8_t next_seq = 0;
  Failure failure = Failure::kNone;

  // Line time of `bytes` at the current rate, doubled, plus a grace period.
  Clock::duration AnswerWait(size_t bytes) const {
    auto line_ms = static_cast<int64_t>(bytes) * 10 * 1000 / (line_baud ? line_baud : 1);
    return std::chrono::milliseconds(2 * line_ms + kGraceMs);
  }

  // Reads until a decodable frame arrives or `deadline` passes.
  bool ReadAnswer(Clock::time_point deadline, Frame* answer) {
    unsigned char buffer[64];
    do {
      int got = receive(buffer, sizeof buffer, brek::kFrameEnd);
      if (got > 0 && brek::DecodeFrame(buffer, static_cast<size_t>(got), answer) &&
          (answer->type == brek::kAck || answer->type == brek::kNak) && answer->body.size() >= 5)
        return true;
    } while (Clock::now() < deadline);
    return false;
  }

  // Sends `request` until the device answers it (ACK or NAK other than
  // "bad frame"). False sets `failure`.
  bool Exchange(Frame request, Frame* answer, int attempts = kAttempts) {
    request.seq = next_seq++;
    std::vector<uint8_t> line = brek::EncodeFrame(request);
    bool refused = false;
    for (int attempt = 0; attempt < attempts; ++attempt) {
      if (!send(line.data(), static_cast<unsigned long>(line.size()))) {
        failure = Failure::kSend;
        return false;
      }
      Clock::time_point deadline = Clock::now() + AnswerWait(line.size());
      while (ReadAnswer(deadline, answer)) {
        if (answer->type == brek::kNak && answer->body[0] == brek::kBadFrame) {
          refused = true;
          break;  // damaged on the way: send again at once
        }
        if (answer->seq == request.seq) return true;
        // An answer to an earlier frame: keep waiting for ours.
      }
    }
    failure = refused ? Failure::kRefused : Failure::kSilent;
    return false;
  }

  void Report(int code) {
    if (result) result(code);
  }

  void Progress(double percent) {
    if (progress) progress(kProgressText, percent);
  }

  bool Fail(int code) {
    Report(code);
    return false;
  }

  int FailureCode() const {
    switch (failure) {
      case Failure::kSend: return kBrekSendFailed;
      case Failure::kRefused: return kBrekRejected;
      default: return kBrekNoAnswer;
    }
  }

  static bool IsAck(const Frame& answer) { return answer.type == brek::kAck; }

  bool Open(const char* path, bool image_only);
  bool SwitchBaud();
  bool SendImage();
};

bool CBrekDownload::State::SwitchBaud() {
  Frame baud{brek::kBaud, 0, {}};
  brek::PutU32(baud.body, download_baud);
  Frame answer;
  if (!Exchange(baud, &answer)) return Fail(FailureCode());
  if (!IsAck(answer)) return Fail(kBrekBaudRefused);
  if (driver_mode) driver_mode(kDriverDownload);
  line_baud = download_baud;
  // The device must answer on the new line, or the switch did not take.
  if (!Exchange(Frame{brek::kPing, 0, {}}, &answer) || !IsAck(answer))
    return Fail(kBrekBaudRefused);
  if (driver_mode) driver_mode(kDriverRestart);
  return true;
}

bool CBrekDownload::State::SendImage() {
  Frame start{brek::kStart, 0, {}};
  brek::PutU32(start.body, static_cast<uint32_t>(image.size()));
  brek::PutU32(start.body, brek::Crc32(image.data(), image.size()));
  for (const std::string* text : {&device_type, &address_range}) {
    size_t n = text->size() < 255 ? text->size() : 255;
    start.body.push_back(static_cast<uint8_t>(n));
    start.body.insert(start.body.end(), text->begin(), text->begin() + n);
  }
  Frame answer;
  if (!Exchange(start, &answer)) return Fail(FailureCode());
  if (!IsAck(answer)) return Fail(kBrekRejected);

  uint32_t offset = 0;
  int refusals = 0;
  Progress(0.0);
  while (offset < image.size()) {
    size_t count = image.size() - offset;
    if (count > brek::kMaxData) count = brek::kMaxData;
    Frame data{brek::kData, 0, {}};
    brek::PutU32(data.body, offset);
    data.body.insert(data.body.end(), image.begin() + offset, image.begin() + offset + count);
    if (!Exchange(data, &answer)) return Fail(FailureCode());
    uint32_t expected = brek::GetU32(answer.body.data() + 1);
    bool resume = IsAck(answer) || answer.body[0] == brek::kWrongOffset;
    if (!resume || expected > image.size()) return Fail(kBrekRejected);
    // A device that never moves on must not keep the host here for ever.
    if (IsAck(answer) && expected > offset) {
      refusals = 0;
    } else if (++refusals >= kAttempts) {
      return Fail(kBrekRejected);
    }
    offset = expected;
    Progress(100.0 * offset / image.size());
  }

  if (!Exchange(Frame{brek::kEnd, 0, {}}, &answer)) return Fail(FailureCode());
  if (!IsAck(answer)) return Fail(kBrekImageMismatch);
  Report(kBrekOk);
  return true;
}

CBrekDownload::CBrekDownload(TyBrekSend send, TyBrekReceive receive, TyBrekProgress progress,
                             TyBrekResult result, TyBrekDriverMode driver_mode)
    : state_(new (std::nothrow) State) {
  // Without its state the object refuses every call.
  if (!state_) return;
  state_->send = send;
  state_->receive = receive;
  state_->progress = progress;
  state_->result = result;
  state_->driver_mode = driver_mode;
}

CBrekDownload::~CBrekDownload() { delete state_; }

bool CBrekDownload::OpenDownloadFile(const char* path, bool image_only) {
  CloseDownloadFile();
  if (!state_ || !path) return false;
  return Guarded([&] { return state_->Open(path, image_only); });
}

bool CBrekDownload::State::Open(const char* path, bool image_only) {
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> file(std::fopen(path, "rb"));
  if (!file) return false;
  std::vector<uint8_t> bytes;
  unsigned char chunk[8192];
  for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0;)
    bytes.insert(bytes.end(), chunk, chunk + got);
  if (std::ferror(file.get())) return false;
  file.reset();

  size_t pos = 0;
  std::string fields[kHeaderFields];
  for (int i = 0; i < kHeaderFields && !image_only; ++i) {
    size_t colon = pos;
    while (colon < bytes.size() && bytes[colon] != ':') ++colon;
    if (colon == bytes.size()) return false;
    fields[i].assign(bytes.begin() + pos, bytes.begin() + colon);
    pos = colon + 1;
  }
  device_type = fields[1];
  address_range = fields[2];
  image.assign(bytes.begin() + pos, bytes.end());
  file_open = true;
  return true;
}

bool CBrekDownload::IsFileOpen() { return state_ && state_->file_open; }

void CBrekDownload::CloseDownloadFile() {
  if (!state_) return;
  state_->file_open = false;
  state_->image.clear();
  state_->image.shrink_to_fit();
}

const char* CBrekDownload::GetBootModePara() { return kBootModeLine; }

bool CBrekDownload::IsInBootMode() {
  if (!state_) return false;
  State& s = *state_;
  if (s.driver_mode) s.driver_mode(kDriverBootMode);
  s.line_baud = kBootModeBaud;
  s.in_boot_mode = Guarded([&] {
    Frame answer;
    return s.Exchange(Frame{brek::kPing, 0, {}}, &answer, 1) && State::IsAck(answer);
  });
  return s.in_boot_mode;
}

void CBrekDownload::SetDownloadBaudrate(const char* baud_rate) {
  char* end = nullptr;
  unsigned long value = baud_rate ? std::strtoul(baud_rate, &end, 10) : 0;
  bool whole = baud_rate && end != baud_rate && *end == '\0';
  if (state_) state_->download_baud = whole && value <= 4000000 ? static_cast<uint32_t>(value) : 0;
}

bool CBrekDownload::ExecuteDownload() {
  if (!state_) return false;
  State& s = *state_;
  if (!s.file_open) return s.Fail(kBrekNoFile);
  if (!s.in_boot_mode) return s.Fail(kBrekNotInBootMode);
  if (s.download_baud == 0) return s.Fail(kBrekBaudRefused);
  return Guarded([&] { return s.SwitchBaud() && s.SendImage(); });
}
