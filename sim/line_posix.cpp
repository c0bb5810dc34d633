#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "sim/line.h"

namespace korvo::sim {
namespace {

class FdLine final : public Line {
 public:
  FdLine(int fd, int peer_fd, std::string peer_path)
      : fd_(fd), peer_fd_(peer_fd), peer_path_(std::move(peer_path)) {}
  ~FdLine() override {
    close(fd_);
    if (peer_fd_ >= 0) close(peer_fd_);
  }

  int Read(uint8_t* buffer, size_t size, int timeout_ms) override {
    pollfd p{fd_, POLLIN, 0};
    int ready = poll(&p, 1, timeout_ms);
    if (ready < 0) return errno == EINTR ? 0 : -1;
    if (ready == 0) return 0;
    ssize_t n = read(fd_, buffer, size);
    if (n > 0) return static_cast<int>(n);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
    return -1;
  }

  bool Write(const uint8_t* bytes, size_t count) override {
    size_t done = 0;
    while (done < count) {
      ssize_t n = write(fd_, bytes + done, count - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && errno == EAGAIN) {
        pollfd p{fd_, POLLOUT, 0};
        if (poll(&p, 1, 1000) <= 0) return false;
      } else {
        return false;
      }
    }
    return true;
  }

  const std::string& peer_path() const override { return peer_path_; }

 private:
  int fd_;
  int peer_fd_;
  std::string peer_path_;
};

void MakeRaw(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return;
  cfmakeraw(&tio);
  tcsetattr(fd, TCSANOW, &tio);
}

}  // namespace

std::unique_ptr<Line> OpenPseudoTerminal() {
  int master = -1;
  int slave = -1;
  char name[256] = {};
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return nullptr;
  MakeRaw(master);
  MakeRaw(slave);
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(slave, F_SETFD, FD_CLOEXEC);
  return std::make_unique<FdLine>(master, slave, name);
}

std::unique_ptr<Line> OpenTerminal(const std::string& path) {
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  MakeRaw(fd);
  return std::make_unique<FdLine>(fd, -1, "");
}

}  // namespace korvo::sim
