#include "serial/serial_device_local.h"

#include <libserialport.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "serial/hints.h"
#include "serial/open_errors.h"
#include "serial/port_lock.h"

namespace downloader {

namespace {

// The drain reads what the driver reports queued until it reports nothing, within these.
constexpr int kMaxDrained = 256 * 1024;
constexpr auto kMaxDrainTime = std::chrono::milliseconds(500);

class LocalDevice final : public SerialDevice {
 public:
  LocalDevice(sp_port* port, int fd, PortLock lock)
      : port_(port), fd_(fd), lock_(std::move(lock)) {}

  ~LocalDevice() override {
    // TIOCEXCL stays on the tty after close; the next user must not find it set.
    ::ioctl(fd_, TIOCNXCL);
    sp_close(port_);
    sp_free_port(port_);
  }

  bool ReadState() override {
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
    // libserialport waits forever for a timeout of 0: ours means "what is there now".
    const sp_return n = timeoutMs == 0 ? sp_nonblocking_read(port_, buffer, count)
                                       : sp_blocking_read(port_, buffer, count, timeoutMs);
    return n < 0 ? -1 : static_cast<int>(n);
  }

  bool Write(const uint8_t* bytes, std::size_t count, uint32_t timeoutMs) override {
    const sp_return n = timeoutMs == 0 ? sp_nonblocking_write(port_, bytes, count)
                                       : sp_blocking_write(port_, bytes, count, timeoutMs);
    return n >= 0 && static_cast<std::size_t>(n) == count;
  }

  int Drain() override {
    const auto deadline = std::chrono::steady_clock::now() + kMaxDrainTime;
    int total = 0;
    uint8_t buffer[4096];
    while (total < kMaxDrained && std::chrono::steady_clock::now() < deadline) {
      const sp_return waiting = sp_input_waiting(port_);
      if (waiting <= 0) break;
      const sp_return n = sp_nonblocking_read(
          port_, buffer, std::min<std::size_t>(static_cast<std::size_t>(waiting), sizeof buffer));
      if (n <= 0) break;
      total += n;
    }
    return total;
  }

  void SetDTR(bool on) override { sp_set_dtr(port_, on ? SP_DTR_ON : SP_DTR_OFF); }
  void SetRTS(bool on) override { sp_set_rts(port_, on ? SP_RTS_ON : SP_RTS_OFF); }
  void SetBreak(bool on) override {
    if (on) {
      sp_start_break(port_);
    } else {
      sp_end_break(port_);
    }
  }

  uint32_t ModemStatus() override {
    sp_signal signals{};
    if (sp_get_signals(port_, &signals) != SP_OK) return 0;
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
};

DeviceOpenResult Failure(int err, const std::string& device, const std::string& comName,
                         pid_t holder = 0) {
  DeviceOpenResult result;
  result.error = OpenErrorCode(err);
  if (err == EACCES || err == EPERM) {
    WriteHint(PermissionHint(device, comName));
  } else if (err == EBUSY || err == EWOULDBLOCK) {
    WriteHint(BusyHint(device, comName, holder != 0 ? holder : FindDeviceHolder(device)));
  }
  return result;
}

}  // namespace

DeviceOpenResult OpenLocalDevice(const std::string& device, const std::string& comName) {
  // libserialport knows only names under /dev/ that are in /sys/class/tty.
  char* real = ::realpath(device.c_str(), nullptr);
  if (real == nullptr) return Failure(errno, device, comName);
  const std::string path(real);
  ::free(real);

  PortLock::Refusal refusal;
  auto lock = PortLock::Acquire(path.substr(path.rfind('/') + 1), refusal);
  if (!lock && (refusal.error == EACCES || refusal.error == EPERM)) {
    // The device may be open to us; its lock file is not.
    WriteHint(LockFileHint(refusal.path, path, comName));
    DeviceOpenResult denied;
    denied.error = OpenErrorCode(refusal.error);
    return denied;
  }
  if (!lock) return Failure(refusal.error, path, comName, refusal.holder);

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
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0) {
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
