#include "sim/boot_device.h"

#include <cstdio>

#include "bootloader/brek_frame.h"

namespace korvo::sim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr char kBootRequest[] = "download standard";
constexpr size_t kMaxTelegram = 1600;
constexpr int kPollMs = 50;

bool SupportedBaud(uint32_t baud) {
  for (uint32_t b : {9600u, 19200u, 38400u, 57600u, 115200u, 230400u})
    if (b == baud) return true;
  return false;
}

Clock::duration LineTime(size_t bytes, uint32_t baud) {
  return std::chrono::microseconds(static_cast<int64_t>(bytes) * 10 * 1000000 / baud);
}

}  // namespace

std::vector<uint8_t> FrameTelegram(const std::string& text) {
  std::vector<uint8_t> out;
  out.reserve(text.size() + 8);
  out.push_back(kStx);
  for (char ch : text) {
    uint8_t b = static_cast<uint8_t>(ch);
    if (b == kStx || b == kEtx || b == kDle) {
      out.push_back(kDle);
      b ^= 0x20;
    }
    out.push_back(b);
  }
  out.push_back(kEtx);
  return out;
}

std::string FlexText(const std::string& text) {
  char length[16];
  std::snprintf(length, sizeof length, "%X ", static_cast<unsigned>(text.size()));
  return length + text;
}

BootDevice::BootDevice(Line& line, BootDeviceOptions options)
    : line_(line), options_(std::move(options)), pace_baud_(options_.line_baud) {}

BootDevice::~BootDevice() { Stop(); }

void BootDevice::Start() {
  thread_ = std::thread([this] { Run(); });
}

void BootDevice::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void BootDevice::Run() {
  uint8_t buffer[8192];
  while (!stop_) {
    int got = line_.Read(buffer, sizeof buffer, kPollMs);
    if (got < 0) break;
    if (got > 0) {
      PaceReceive(static_cast<size_t>(got));
      OnBytes(buffer, static_cast<size_t>(got));
    }
  }
  ended_ = true;
}

// The bytes read now finish arriving one line time after the line was free.
void BootDevice::PaceReceive(size_t count) {
  if (pace_baud_ == 0) return;
  Clock::time_point now = Clock::now();
  if (line_clock_ < now) line_clock_ = now;
  line_clock_ += LineTime(count, pace_baud_);
}

void BootDevice::WaitForLine() {
  if (pace_baud_ != 0) std::this_thread::sleep_until(line_clock_);
}

void BootDevice::Send(const std::vector<uint8_t>& bytes) {
  WaitForLine();
  if (pace_baud_ != 0) std::this_thread::sleep_for(LineTime(bytes.size(), pace_baud_));
  line_.Write(bytes.data(), bytes.size());
}

void BootDevice::OnBytes(const uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    uint8_t b = bytes[i];
    if (silent_) return;
    if (boot_mode_) {
      if (b != brek::kFrameEnd) {
        if (frame_.size() <= brek::kMaxEncoded) frame_.push_back(b);
        continue;
      }
      std::vector<uint8_t> raw;
      raw.swap(frame_);
      OnFrame(std::move(raw));
      continue;
    }
    if (b == kStx) {
      telegram_.clear();
      telegram_length_ = 0;
      in_telegram_ = true;
      escaped_ = false;
    } else if (b == kEtx && in_telegram_) {
      in_telegram_ = false;
      if (telegram_length_ > telegram_.size()) {
        OnOversized();
      } else {
        OnTelegram(telegram_);
      }
    } else if (b == kDle && in_telegram_ && !escaped_) {
      escaped_ = true;
    } else if (in_telegram_) {
      if (escaped_) b ^= 0x20;
      escaped_ = false;
      if (++telegram_length_ <= MaxTelegram()) telegram_.push_back(static_cast<char>(b));
    }
  }
}

size_t BootDevice::MaxTelegram() const {
  return options_.firmware ? options_.firmware->profile().max_telegram : kMaxTelegram;
}

void BootDevice::OnOversized() {
  if (!options_.firmware) return;
  std::fprintf(stderr, "korvo-sim: a telegram of %zu bytes refused (limit %zu)\n",
               telegram_length_, MaxTelegram());
  Send(FrameTelegram(options_.firmware->Oversized(telegram_length_).answer));
}

void BootDevice::OnTelegram(const std::string& text) {
  if (!options_.firmware) {  // the firmware device keeps its own record
    std::lock_guard<std::mutex> lock(mutex_);
    telegrams_.push_back(text);
  }
  if (text == kBootRequest) {
    boot_mode_ = !options_.never_boot;
    return;
  }
  if (options_.firmware) {
    DeviceReply reply = options_.firmware->Handle(text);
    if (!reply.answer.empty()) Send(FrameTelegram(reply.answer));
    if (reply.hang_up && options_.can_hang_up) stop_ = true;
    return;
  }
  std::string kind = text.substr(0, 4);
  std::string rest = text.size() > 4 ? text.substr(4) : std::string();
  std::string name = rest.substr(0, rest.find(' '));
  std::string answer;
  if (kind == "sRN " && options_.variables.count(name)) {
    answer = "sRA " + name + " " + options_.variables[name];
  } else if (kind == "sMN " && options_.methods.count(name)) {
    answer = "sAN " + name + " " + options_.methods[name];
  } else {
    answer = "sFA 2";  // unknown request
  }
  Send(FrameTelegram(answer));
}

void BootDevice::Answer(uint8_t type, uint8_t seq, uint8_t code, uint32_t value) {
  brek::Frame answer{type, seq, {code}};
  brek::PutU32(answer.body, value);
  Send(brek::EncodeFrame(answer));
}

void BootDevice::OnFrame(std::vector<uint8_t> raw) {
  brek::Frame frame;
  bool valid = brek::DecodeFrame(raw.data(), raw.size(), &frame);
  if (valid && frame.type == brek::kData) {
    int index = data_frames_++;
    if (index == options_.stop_at_data_frame || silent_) {
      silent_ = true;
      return;
    }
    if (index == options_.drop_data_frame) return;
    if (index == options_.corrupt_data_frame) {
      raw[raw.size() / 2] ^= 0x01;
      valid = brek::DecodeFrame(raw.data(), raw.size(), &frame);
    }
  }
  if (!valid) {
    if (!raw.empty()) Answer(brek::kNak, 0, brek::kBadFrame, 0);
    return;
  }
  const std::vector<uint8_t>& body = frame.body;
  std::unique_lock<std::mutex> lock(mutex_);
  switch (frame.type) {
    case brek::kPing:
      lock.unlock();
      Answer(brek::kAck, frame.seq, 0, brek::kMaxData);
      return;
    case brek::kBaud: {
      uint32_t baud = body.size() >= 4 ? brek::GetU32(body.data()) : 0;
      lock.unlock();
      if (!SupportedBaud(baud)) return Answer(brek::kNak, frame.seq, brek::kRefused, 0);
      Answer(brek::kAck, frame.seq, 0, baud);
      lock.lock();
      download_baud_ = baud;
      if (pace_baud_ != 0) pace_baud_ = baud;
      return;
    }
    case brek::kStart: {
      if (body.size() < 9) break;
      image_length_ = brek::GetU32(body.data());
      image_crc_ = brek::GetU32(body.data() + 4);
      size_t type_length = body[8];
      if (body.size() < 9 + type_length) break;
      device_type_.assign(body.begin() + 9, body.begin() + 9 + type_length);
      image_.clear();
      verified_ = false;
      started_ = true;
      lock.unlock();
      return Answer(brek::kAck, frame.seq, 0, 0);
    }
    case brek::kData: {
      if (!started_ || body.size() < 4) {
        lock.unlock();
        return Answer(brek::kNak, frame.seq, brek::kRefused, 0);
      }
      uint32_t offset = brek::GetU32(body.data());
      size_t count = body.size() - 4;
      uint32_t expected = static_cast<uint32_t>(image_.size());
      bool fits = image_.size() + count <= image_length_;
      if (offset == expected && fits) {
        image_.insert(image_.end(), body.begin() + 4, body.end());
      } else if (offset >= expected) {
        lock.unlock();
        return Answer(brek::kNak, frame.seq, brek::kWrongOffset, expected);
      }
      // A repeat of stored data is acknowledged again, not stored twice.
      expected = static_cast<uint32_t>(image_.size());
      lock.unlock();
      return Answer(brek::kAck, frame.seq, 0, expected);
    }
    case brek::kEnd: {
      bool match = started_ && image_.size() == image_length_ &&
                   brek::Crc32(image_.data(), image_.size()) == image_crc_;
      if (match && !verified_ && !options_.image_file.empty()) {
        std::FILE* out = std::fopen(options_.image_file.c_str(), "wb");
        match = out && std::fwrite(image_.data(), 1, image_.size(), out) == image_.size();
        if (out) match = std::fclose(out) == 0 && match;
      }
      verified_ = match;
      lock.unlock();
      if (!match) return Answer(brek::kNak, frame.seq, brek::kBadImage, 0);
      Answer(brek::kAck, frame.seq, 0, image_crc_);
      // The device starts the image it took and answers telegrams again, at
      // the line's own speed.
      boot_mode_ = false;
      started_ = false;
      pace_baud_ = options_.line_baud;
      if (options_.firmware) options_.firmware->ApplicationInstalled();
      return;
    }
    default: break;
  }
  lock.unlock();
  Answer(brek::kNak, frame.seq, brek::kRefused, 0);
}

std::vector<std::string> BootDevice::telegrams() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return telegrams_;
}

std::vector<uint8_t> BootDevice::image() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return image_;
}

bool BootDevice::image_verified() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return verified_;
}

uint32_t BootDevice::download_baud() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return download_baud_;
}

std::string BootDevice::device_type() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return device_type_;
}

}  // namespace korvo::sim
