// Serial ports on POSIX terminals. The descriptor stays non-blocking; the
// Win32 time-out rules are carried out with poll() against a steady clock,
// since VMIN/VTIME cannot express a total time-out.

#include "platform/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/debug_output.h"
#include "platform/sync.h"

namespace korvo {

struct SerialPortState {
  int fd = -1;
  SerialTimeouts timeouts;
};

namespace {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

bool SpeedFor(uint32_t baud, speed_t* out) {
  static const struct {
    uint32_t baud;
    speed_t speed;
  } kSpeeds[] = {{110, B110},     {300, B300},       {600, B600},       {1200, B1200},
                 {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},
                 {38400, B38400}, {57600, B57600},   {115200, B115200}, {230400, B230400}};
  for (const auto& entry : kSpeeds) {
    if (entry.baud == baud) {
      *out = entry.speed;
      return true;
    }
  }
  return false;
}

// Milliseconds left until `deadline`, for poll(); -1 waits without limit.
int PollWait(bool limited, Clock::time_point deadline) {
  if (!limited) return -1;
  auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  // Round up so that a sub-millisecond rest does not spin.
  return left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left) + 1;
}

// How long one poll() lasts at most, so that a stop ends a wait promptly.
constexpr int kStopCheckMs = 100;

// Waits for `events` on the descriptor. 1 ready, 0 time-out (also when a
// stop is requested), -1 error.
int WaitFor(int fd, short events, bool limited, Clock::time_point deadline) {
  for (;;) {
    if (StopRequested()) return 0;
    int wait = PollWait(limited, deadline);
    if (limited && wait == 0) return 0;
    if (wait < 0 || wait > kStopCheckMs) wait = kStopCheckMs;
    pollfd p{fd, events, 0};
    int n = poll(&p, 1, wait);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) {
      if (!limited || Clock::now() < deadline) continue;
      return 0;
    }
    if (p.revents & events) return 1;
    return -1;  // hang-up or error without data
  }
}

// "process 4711 (minicom)", or without the name when it cannot be read.
std::string Process(long pid) {
  std::string text = "process " + std::to_string(pid);
  char name[64] = {};
  std::FILE* comm = std::fopen(("/proc/" + std::to_string(pid) + "/comm").c_str(), "r");
  if (comm && std::fgets(name, sizeof name, comm)) {
    name[std::strcspn(name, "\n")] = '\0';
    if (name[0]) text += std::string(" (") + name + ")";
  }
  if (comm) std::fclose(comm);
  return text;
}

// Who holds a lock on the device of `fd`, from the kernel's lock table
// ("1: FLOCK  ADVISORY  WRITE 4711 00:05:85 0 EOF"); "" when not listed.
std::string LockHolder(int fd) {
  struct stat st{};
  std::FILE* locks = fstat(fd, &st) == 0 ? std::fopen("/proc/locks", "r") : nullptr;
  if (!locks) return std::string();
  std::string holder;
  char line[256];
  while (holder.empty() && std::fgets(line, sizeof line, locks)) {
    long pid = 0;
    unsigned major = 0, minor = 0;
    unsigned long inode = 0;
    char kind[16], mode[16], access[16];
    if (std::sscanf(line, "%*[^:]: %15s %15s %15s %ld %x:%x:%lu", kind, mode, access, &pid,
                    &major, &minor, &inode) == 7 &&
        inode == st.st_ino && major == major(st.st_dev) && minor == minor(st.st_dev) &&
        pid != getpid())
      holder = Process(pid);
  }
  std::fclose(locks);
  return holder;
}

// The UUCP lock file of the device ("/run/lock/LCK..ttyUSB0"), as terminal
// programs such as minicom leave it, when a live process owns it: "" else.
std::string UucpLock(const std::string& name) {
  char* real = realpath(name.c_str(), nullptr);
  std::string device = real ? real : name;
  std::free(real);
  device = device.substr(device.rfind('/') + 1);
  for (const char* folder : {"/run/lock", "/var/lock"}) {
    std::string file = std::string(folder) + "/LCK.." + device;
    std::FILE* f = std::fopen(file.c_str(), "rb");
    if (!f) continue;
    char text[32] = {};
    size_t n = std::fread(text, 1, sizeof text - 1, f);
    std::fclose(f);
    long pid = 0;
    // The older form is the process id as a machine word, whose high byte
    // is zero; text has no zero byte, but a word's low byte may be a digit.
    if (n == sizeof(int) && std::memchr(text, '\0', n)) {
      int binary = 0;
      std::memcpy(&binary, text, sizeof binary);
      pid = binary;
    } else if (std::sscanf(text, " %ld", &pid) != 1) {
      pid = 0;
    }
    if (pid > 0 && pid != getpid() && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM))
      return "the lock file " + file + " of " + Process(pid);
  }
  return std::string();
}

SerialOpenError OpenErrorOf(int error) {
  switch (error) {
    case ENOENT: case ENOTDIR: case ENXIO: case ENODEV: return SerialOpenError::kNotFound;
    case EACCES: case EPERM: case EROFS: return SerialOpenError::kDenied;
    case EBUSY: return SerialOpenError::kBusy;
    default: return SerialOpenError::kFailed;
  }
}

// Exclusive like a COM port: flock and a POSIX record lock keep out every
// other opener that plays by either rule (a Java program can only take the
// second), TIOCEXCL keeps out plain opens by non-root users, and a live
// UUCP lock file is respected. Returns the reason it is taken, or "".
std::string TakeExclusively(int fd, const std::string& name) {
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    std::string holder = LockHolder(fd);
    return "locked by " + (holder.empty() ? std::string("another program") : holder);
  }
  struct flock record{};
  record.l_type = F_WRLCK;
  record.l_whence = SEEK_SET;
  if (fcntl(fd, F_SETLK, &record) != 0 && (errno == EACCES || errno == EAGAIN)) {
    record = {};
    record.l_type = F_WRLCK;
    record.l_whence = SEEK_SET;
    bool known = fcntl(fd, F_GETLK, &record) == 0 && record.l_type != F_UNLCK;
    return "locked by " + (known ? Process(record.l_pid) : std::string("another program"));
  }
  std::string lock_file = UucpLock(name);
  if (!lock_file.empty()) return "taken: " + lock_file;
  ioctl(fd, TIOCEXCL);
  return std::string();
}

}  // namespace

SerialHandle OpenSerialPort(const std::string& name, SerialOpenError* error,
                            std::string* detail) {
  SerialOpenError why = SerialOpenError::kNone;
  std::string text;
  SerialHandle port = nullptr;
  int fd = name.empty() ? -1 : open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (name.empty()) {
    why = SerialOpenError::kNotFound;
  } else if (fd < 0) {
    why = OpenErrorOf(errno);
    text = errno == EBUSY ? "opened exclusively by another program" : std::strerror(errno);
  } else if (!isatty(fd)) {
    why = SerialOpenError::kNotSerial;
    text = "not a terminal device";
  } else if (!(text = TakeExclusively(fd, name)).empty()) {
    why = SerialOpenError::kBusy;
  } else {
    port = new SerialPortState;
    port->fd = fd;
    port->timeouts.read_interval = kSerialNoWait;
  }
  if (!port && fd >= 0) close(fd);
  if (error) *error = why;
  if (detail) *detail = text;
  return port;
}

bool ApplySerialSettings(SerialHandle port, const SerialSettings& settings) {
  if (!port) return false;
  speed_t speed;
  if (!SpeedFor(settings.baud_rate, &speed)) return false;
  termios tio{};
  if (tcgetattr(port->fd, &tio) != 0) return false;
  tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                   IXANY | INPCK);
  tio.c_oflag &= ~OPOST;
  tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  tio.c_cflag |= CLOCAL | CREAD;
  switch (settings.data_bits) {
    case 5: tio.c_cflag |= CS5; break;
    case 6: tio.c_cflag |= CS6; break;
    case 7: tio.c_cflag |= CS7; break;
    case 8: tio.c_cflag |= CS8; break;
    default: return false;
  }
  if (settings.parity != SerialParity::kNone) {
    tio.c_cflag |= PARENB;
    if (settings.parity == SerialParity::kOdd) tio.c_cflag |= PARODD;
  }
  if (settings.stop_bits == 2) {
    tio.c_cflag |= CSTOPB;
  } else if (settings.stop_bits == kOneAndAHalfStopBits) {
    DebugPrint("Serial port: one and a half stop bits cannot be set on this system (termios"
               " has one or two); the port is not opened\n");
    return false;
  } else if (settings.stop_bits != 1) {
    return false;
  }
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) return false;
  return tcsetattr(port->fd, TCSANOW, &tio) == 0;
}

bool DropSerialControlLines(SerialHandle port) {
  if (!port) return false;
  int lines = TIOCM_DTR | TIOCM_RTS;
  return ioctl(port->fd, TIOCMBIC, &lines) == 0;
}

bool GetSerialTimeouts(SerialHandle port, SerialTimeouts* out) {
  if (!port || !out) return false;
  *out = port->timeouts;
  return true;
}

bool SetSerialTimeouts(SerialHandle port, const SerialTimeouts& timeouts) {
  if (!port) return false;
  port->timeouts = timeouts;
  return true;
}

bool PurgeSerialPort(SerialHandle port, int what) {
  if (!port || (what & kSerialPurgeBoth) == 0) return false;
  int queue = what == kSerialPurgeBoth ? TCIOFLUSH : what == kSerialPurgeReceive ? TCIFLUSH
                                                                                 : TCOFLUSH;
  return tcflush(port->fd, queue) == 0;
}

bool DrainSerialPort(SerialHandle port) {
  if (!port) return false;
  for (;;) {
    if (tcdrain(port->fd) == 0) return true;
    if (errno != EINTR) return false;
  }
}

bool WriteSerialPort(SerialHandle port, const void* data, uint32_t size, uint32_t* written) {
  uint32_t done = 0;
  if (written) *written = 0;
  if (!port || (!data && size > 0)) return false;
  const SerialTimeouts& t = port->timeouts;
  bool limited = t.write_total_multiplier != 0 || t.write_total_constant != 0;
  Clock::time_point deadline =
      Clock::now() + Millis(static_cast<uint64_t>(t.write_total_multiplier) * size +
                            t.write_total_constant);
  const auto* bytes = static_cast<const unsigned char*>(data);
  bool ok = true;
  while (done < size) {
    ssize_t n = write(port->fd, bytes + done, size - done);
    if (n > 0) {
      done += static_cast<uint32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      ok = false;
      break;
    }
    int ready = WaitFor(port->fd, POLLOUT, limited, deadline);
    if (ready == 0) break;  // time-out: a short count
    if (ready < 0) {
      ok = false;
      break;
    }
  }
  if (written) *written = done;
  return ok;
}

bool ReadSerialPort(SerialHandle port, void* data, uint32_t size, uint32_t* got) {
  uint32_t done = 0;
  if (got) *got = 0;
  if (!port || (!data && size > 0)) return false;
  const SerialTimeouts& t = port->timeouts;
  auto* bytes = static_cast<unsigned char*>(data);
  const Clock::time_point start = Clock::now();

  bool interval_on = t.read_interval != 0 && t.read_interval != kSerialNoWait;
  bool total_on = t.read_total_multiplier != 0 || t.read_total_constant != 0;
  bool any_byte_ends = false;  // return as soon as something arrived
  Clock::time_point total_deadline = start;
  if (t.read_interval == kSerialNoWait) {
    any_byte_ends = true;
    if (t.read_total_multiplier == kSerialNoWait && t.read_total_constant != 0 &&
        t.read_total_constant != kSerialNoWait) {
      total_deadline = start + Millis(t.read_total_constant);
    }
    total_on = true;  // otherwise: no waiting at all
  } else if (total_on) {
    total_deadline = start + Millis(static_cast<uint64_t>(t.read_total_multiplier) * size +
                                    t.read_total_constant);
  }

  Clock::time_point last_byte = start;
  bool ok = true;
  bool said_ready = false;  // poll() reported data before this read
  while (done < size) {
    ssize_t n = read(port->fd, bytes + done, size - done);
    if (n > 0) {
      done += static_cast<uint32_t>(n);
      last_byte = Clock::now();
      said_ready = false;
      if (any_byte_ends) break;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 && said_ready) {
      ok = done > 0;  // end of file: the line is gone
      break;
    }
    // A raw terminal with VMIN 0 reports "nothing yet" as 0, not EAGAIN; a
    // real hang-up shows in poll() below, so neither spins.
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      ok = done > 0;  // device error
      break;
    }
    bool limited = total_on;
    Clock::time_point deadline = total_deadline;
    if (interval_on && done > 0) {
      Clock::time_point gap_end = last_byte + Millis(t.read_interval);
      if (!limited || gap_end < deadline) deadline = gap_end;
      limited = true;
    }
    int ready = WaitFor(port->fd, POLLIN, limited, deadline);
    if (ready == 0) break;
    if (ready < 0) {
      ok = done > 0;
      break;
    }
    said_ready = true;
  }
  if (got) *got = done;
  return ok;
}

int CloseSerialPort(SerialHandle port) {
  if (!port) return 0;
  ioctl(port->fd, TIOCNXCL);
  int closed = close(port->fd);
  delete port;
  return closed == 0 ? 1 : 0;
}

}  // namespace korvo
