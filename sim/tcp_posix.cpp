#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sim/line.h"

namespace korvo::sim {

std::unique_ptr<Line> AdoptDescriptor(int fd);  // line_posix.cpp

namespace {

class TcpListener final : public Listener {
 public:
  TcpListener(int fd, uint16_t port) : fd_(fd), port_(port) {}
  ~TcpListener() override { close(fd_); }

  std::unique_ptr<Line> Accept(int timeout_ms) override {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return nullptr;
    int fd = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return nullptr;
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return AdoptDescriptor(fd);
  }

  uint16_t port() const override { return port_; }

 private:
  int fd_;
  uint16_t port_;
};

}  // namespace

std::unique_ptr<Listener> ListenOnLoopback(uint16_t port, std::string& error) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = std::strerror(errno);
    return nullptr;
  }
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 4) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    error = std::strerror(errno);
    close(fd);
    return nullptr;
  }
  return std::make_unique<TcpListener>(fd, ntohs(address.sin_port));
}

}  // namespace korvo::sim
