#include "serial/serial_device_libserialport.h"
#include "serial/serial_device_local.h"

#include <fcntl.h>
#include <libserialport.h>
#include <linux/serial.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <system_error>
#include <vector>

#include "serial/hints.h"
#include "serial/open_errors.h"
#include "serial/port_lock.h"

namespace downloader {

namespace {

using Clock = std::chrono::steady_clock;

// The drain reads what has arrived until nothing more has, within these.
constexpr int kMaxDrained = 256 * 1024;
constexpr auto kMaxDrainTime = std::chrono::milliseconds(500);

std::atomic<LocalIoctl> installedIoctl{nullptr};

// The open devices, for EndEveryLocalLine; never destroyed, like the lock registry.
struct OpenLine {
  const TtyTransfers* transfers;
  int fd;
  bool lowLatencySet;  // its driver's latency is to be given back
};
struct OpenLines {
  std::mutex mutex;
  std::vector<OpenLine> lines;
};

OpenLines& Lines() {
  static OpenLines* lines = new OpenLines;
  return *lines;
}

int Ioctl(int fd, unsigned long request, void* argument = nullptr) {
  const LocalIoctl call = installedIoctl.load();
  return call != nullptr ? call(fd, request, argument) : ::ioctl(fd, request, argument);
}

void ClearLowLatency(int fd) {
  serial_struct serial{};
  if (Ioctl(fd, TIOCGSERIAL, &serial) != 0) return;
  serial.flags &= ~ASYNC_LOW_LATENCY;
  Ioctl(fd, TIOCSSERIAL, &serial);
}

// What is left of the time until `deadline`, as poll takes it: 0 once it has passed.
int PollTimeout(Clock::time_point deadline) {
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(ms, 0, 60000));
}

}  // namespace

void SetLocalIoctl(LocalIoctl ioctl) {
  installedIoctl = ioctl;
}

TtyTransfers::TtyTransfers(int fd) : fd_(fd) {
  // The waits below are poll's; the descriptor itself never blocks.
  const int flags = ::fcntl(fd_, F_GETFL);
  if (flags >= 0) ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
  serial_struct serial{};
  if (Ioctl(fd_, TIOCGSERIAL, &serial) == 0 && (serial.flags & ASYNC_LOW_LATENCY) == 0) {
    serial.flags |= ASYNC_LOW_LATENCY;
    // A refusal keeps the driver's own latency.
    lowLatencySet_ = Ioctl(fd_, TIOCSSERIAL, &serial) == 0;
  }
  std::lock_guard registry(Lines().mutex);
  Lines().lines.push_back({this, fd_, lowLatencySet_});
}

TtyTransfers::~TtyTransfers() {
  Close();
}

void TtyTransfers::Close() {
  {
    std::lock_guard registry(Lines().mutex);
    std::erase_if(Lines().lines, [this](const OpenLine& line) { return line.transfers == this; });
  }
  RestoreLatency();
}

void TtyTransfers::RestoreLatency() {
  if (!lowLatencySet_ || failed_) return;
  lowLatencySet_ = false;
  ClearLowLatency(fd_);
}

int TtyTransfers::Fail(int got) {
  failed_ = true;
  return got > 0 ? got : -1;
}

// libserialport's blocking read would keep reading the end-of-file of a hung-up tty until
// its timeout, in a busy loop: these transfers poll the descriptor themselves.
int TtyTransfers::Read(uint8_t* buffer, std::size_t count, uint32_t timeoutMs) {
  if (failed_) return -1;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::size_t got = 0;
  while (got < count) {
    pollfd p{fd_, POLLIN, 0};
    const int ready = ::poll(&p, 1, PollTimeout(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || (p.revents & POLLNVAL) != 0) return Fail(static_cast<int>(got));
    if (ready == 0) break;
    const ssize_t n = ::read(fd_, buffer + got, count - got);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
      return Fail(static_cast<int>(got));  // end-of-file: the tty was hung up
    }
  }
  return static_cast<int>(got);
}

bool TtyTransfers::Write(const uint8_t* bytes, std::size_t count, uint32_t timeoutMs) {
  if (failed_) return false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::size_t sent = 0;
  while (sent < count) {
    const ssize_t n = ::write(fd_, bytes + sent, count - sent);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    const bool failed = n < 0 && errno != EAGAIN && errno != EINTR;
    pollfd p{fd_, POLLOUT, 0};
    const int ready = failed ? -1 : ::poll(&p, 1, PollTimeout(deadline));
    if (ready == 0) return false;
    if (failed || (ready < 0 && errno != EINTR)) {
      Fail(0);
      return false;
    }
  }
  return true;
}

int TtyTransfers::Drain() {
  const auto deadline = Clock::now() + kMaxDrainTime;
  int total = 0;
  uint8_t buffer[4096];
  while (total < kMaxDrained && Clock::now() < deadline) {
    const int n = Read(buffer, sizeof buffer, 0);
    if (n <= 0) break;
    total += n;
  }
  return total;
}

namespace {

class LocalDevice final : public SerialDevice {
 public:
  LocalDevice(sp_port* port, int fd, PortLock lock)
      : port_(port), fd_(fd), lock_(std::move(lock)), transfers_(fd) {}

  ~LocalDevice() override {
    transfers_.Close();
    // TIOCEXCL stays on the tty after close; the next user must not find it set.
    Ioctl(fd_, TIOCNXCL);
    sp_close(port_);
    sp_free_port(port_);
  }

  bool ReadState() override {
    if (transfers_.Failed()) return false;
    sp_port_config* config = nullptr;
    if (sp_new_config(&config) != SP_OK) return false;
    const bool ok = sp_get_config(port_, config) == SP_OK;
    sp_free_config(config);
    return ok;
  }

  bool Configure(const LineSettings& s) override {
    bool ok = sp_set_baudrate(port_, static_cast<int>(s.baudRate)) == SP_OK;
    ok = sp_set_bits(port_, s.dataBits) == SP_OK && ok;
    ok = sp_set_parity(port_, s.evenParity ? SP_PARITY_EVEN : SP_PARITY_NONE) == SP_OK && ok;
    ok = sp_set_stopbits(port_, 1) == SP_OK && ok;
    ok = sp_set_flowcontrol(port_, SP_FLOWCONTROL_NONE) == SP_OK && ok;
    return ok;
  }

  int Read(uint8_t* buffer, std::size_t count, uint32_t timeoutMs) override {
    return transfers_.Read(buffer, count, timeoutMs);
  }

  bool Write(const uint8_t* bytes, std::size_t count, uint32_t timeoutMs) override {
    return transfers_.Write(bytes, count, timeoutMs);
  }

  int Drain() override { return transfers_.Drain(); }

  // A device that has failed is not asked for anything more.
  void SetDTR(bool on) override {
    transfers_.UnlessFailed([&] { sp_set_dtr(port_, on ? SP_DTR_ON : SP_DTR_OFF); });
  }
  void SetRTS(bool on) override {
    transfers_.UnlessFailed([&] { sp_set_rts(port_, on ? SP_RTS_ON : SP_RTS_OFF); });
  }
  void SetBreak(bool on) override {
    transfers_.UnlessFailed([&] { on ? sp_start_break(port_) : sp_end_break(port_); });
  }

  uint32_t ModemStatus() override {
    sp_signal signals{};
    sp_return got = SP_ERR_FAIL;
    transfers_.UnlessFailed([&] { got = sp_get_signals(port_, &signals); });
    if (got != SP_OK) return 0;
    uint32_t status = 0;
    if (signals & SP_SIG_CTS) status |= 0x10;
    if (signals & SP_SIG_DSR) status |= kModemStatusDsr;
    if (signals & SP_SIG_RI) status |= 0x40;
    if (signals & SP_SIG_DCD) status |= 0x80;
    return status;
  }

 private:
  sp_port* port_;
  int fd_;
  PortLock lock_;
  TtyTransfers transfers_;
};

// Why a device that does not exist or cannot be reached failed, for the port's reason line.
std::string NotFoundReason(int err, const std::string& device) {
  if (err == ENOENT || err == ENOTDIR) {
    // A relative name would be looked for in the loader's own folder: no device is named so.
    return device.starts_with("/") ? "which does not exist"
                                   : "which is neither a device nor rfc2217://HOST:PORT";
  }
  if (err == ENODEV) return "which is not a serial port";
  return "which cannot be opened: " + std::generic_category().message(err);
}

DeviceOpenResult Failure(int err, const std::string& device, const std::string& comName) {
  DeviceOpenResult result;
  result.error = OpenErrorCode(err);
  if (result.error == kErrorNotFound) result.reason = NotFoundReason(err, device);
  if (err == EACCES || err == EPERM) {
    WriteHint(PermissionHint(device, comName));
  } else if (err == EBUSY || err == EWOULDBLOCK) {
    WriteHint(BusyHint(device, comName, FindDeviceHolder(device)));
  }
  return result;
}

}  // namespace

void EndEveryLocalLine() {
  // The mutex stays held: no device is closed (and its descriptor reused) meanwhile.
  std::lock_guard registry(Lines().mutex);
  for (const OpenLine& line : Lines().lines) {
    Ioctl(line.fd, TIOCCBRK);
    Ioctl(line.fd, TIOCNXCL);
    // The driver's setting outlives the process: the next program would get it.
    if (line.lowLatencySet) ClearLowLatency(line.fd);
  }
}

DeviceOpenResult OpenLocalDevice(const std::string& device, const std::string& comName) {
  // libserialport knows only names under /dev/ that are in /sys/class/tty.
  char* real = ::realpath(device.c_str(), nullptr);
  if (real == nullptr) return Failure(errno, device, comName);
  const std::string path(real);
  ::free(real);

  PortLock::Refusal refusal;
  auto lock = PortLock::Acquire(path.substr(path.rfind('/') + 1), refusal);
  if (!lock) {
    // The device may be open to us; its lock is not. A process named by the lock file
    // that has the device open holds the port whatever program it is.
    const pid_t holder = refusal.error == EBUSY ? FindDeviceHolder(path) : 0;
    if (holder != 0 && (refusal.holder == holder || refusal.holder == 0)) {
      refusal.holder = holder;
      refusal.holderConfirmed = true;
    }
    WriteHint(LockRefusalHint(refusal, path, comName));
    DeviceOpenResult refused;
    refused.error = OpenErrorCode(refusal.error);
    return refused;
  }

  sp_port* port = nullptr;
  if (sp_get_port_by_name(path.c_str(), &port) != SP_OK) {
    // Not a serial port that the system knows.
    return Failure(ENODEV, path, comName);
  }
  if (sp_open(port, SP_MODE_READ_WRITE) != SP_OK) {
    const int err = sp_last_error_code();
    sp_free_port(port);
    return Failure(err, path, comName);
  }
  int fd = -1;
  sp_get_port_handle(port, &fd);
  // Another process may hold the device without a lock file; root passes TIOCEXCL.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || Ioctl(fd, TIOCEXCL) != 0) {
    const int err = errno == EWOULDBLOCK ? EBUSY : errno;
    sp_close(port);
    sp_free_port(port);
    return Failure(err, path, comName);
  }
  DeviceOpenResult result;
  result.device = std::make_unique<LocalDevice>(port, fd, std::move(*lock));
  return result;
}

}  // namespace downloader
