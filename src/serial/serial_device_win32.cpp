// Local serial ports through the Win32 communications API.

#include <windows.h>

#include <memory>
#include <optional>

#include "platform/wide_text.h"
#include "serial/hints.h"
#include "serial/open_errors.h"
#include "serial/port_lock.h"
#include "serial/serial_device_local.h"
#include "serial/win32_comm.h"

namespace downloader {

namespace {

static_assert(MAXDWORD == 0xFFFFFFFF);
static_assert(ERROR_FILE_NOT_FOUND == kErrorNotFound && ERROR_ACCESS_DENIED == kErrorAccessDenied);
// The modem status bits are the loader's own.
static_assert(MS_CTS_ON == 0x10 && MS_DSR_ON == kModemStatusDsr && MS_RING_ON == 0x40 &&
              MS_RLSD_ON == 0x80);

class ComDevice final : public SerialDevice {
 public:
  ComDevice(HANDLE port, PortLock lock) : port_(port), lock_(std::move(lock)) {}

  ~ComDevice() override { ::CloseHandle(port_); }

  bool ReadState() override {
    DCB state{};
    state.DCBlength = sizeof state;
    return ::GetCommState(port_, &state) != 0;
  }

  bool Configure(const LineSettings& s) override {
    DCB state{};
    state.DCBlength = sizeof state;
    if (!::GetCommState(port_, &state)) return false;
    state.BaudRate = s.baudRate;
    state.ByteSize = s.dataBits;
    state.Parity = s.evenParity ? EVENPARITY : NOPARITY;
    state.StopBits = ONESTOPBIT;
    // No flow control of any kind, no parity checking, no stripping, no abort on error;
    // DTR and RTS are left to SetDTR and SetRTS. Windows knows binary transfers only.
    state.fBinary = TRUE;
    state.fParity = FALSE;
    state.fOutxCtsFlow = FALSE;
    state.fOutxDsrFlow = FALSE;
    state.fDtrControl = DTR_CONTROL_DISABLE;
    state.fDsrSensitivity = FALSE;
    state.fTXContinueOnXoff = FALSE;
    state.fOutX = FALSE;
    state.fInX = FALSE;
    state.fErrorChar = FALSE;
    state.fNull = FALSE;
    state.fRtsControl = RTS_CONTROL_DISABLE;
    state.fAbortOnError = FALSE;
    return ::SetCommState(port_, &state) != 0;
  }

  int Read(uint8_t* buffer, std::size_t count, uint32_t timeoutMs) override {
    if (!Apply(win32::ReadTimeouts(timeoutMs))) return -1;
    DWORD n = 0;
    if (!::ReadFile(port_, buffer, static_cast<DWORD>(count), &n, nullptr)) return -1;
    return static_cast<int>(n);
  }

  bool Write(const uint8_t* bytes, std::size_t count, uint32_t timeoutMs) override {
    if (!Apply(win32::WriteTimeouts(timeoutMs))) return false;
    DWORD n = 0;
    return ::WriteFile(port_, bytes, static_cast<DWORD>(count), &n, nullptr) && n == count;
  }

  int Drain() override {
    // The driver throws the whole receive queue away in one call: bounded, however fast a
    // peer keeps sending.
    DWORD errors = 0;
    COMSTAT status{};
    const DWORD queued = ::ClearCommError(port_, &errors, &status) ? status.cbInQue : 0;
    ::PurgeComm(port_, PURGE_RXABORT | PURGE_RXCLEAR);
    return static_cast<int>(queued);
  }

  void SetDTR(bool on) override { ::EscapeCommFunction(port_, on ? SETDTR : CLRDTR); }
  void SetRTS(bool on) override { ::EscapeCommFunction(port_, on ? SETRTS : CLRRTS); }
  void SetBreak(bool on) override {
    if (on) {
      ::SetCommBreak(port_);
    } else {
      ::ClearCommBreak(port_);
    }
  }

  uint32_t ModemStatus() override {
    DWORD status = 0;
    return ::GetCommModemStatus(port_, &status) ? status : 0;
  }

 private:
  // Programs the timeouts of one transfer; the system is asked only when they change
  // (every probe byte would otherwise cost a call).
  bool Apply(const win32::CommTimeouts& wanted) {
    if (applied_ && *applied_ == wanted) return true;
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = wanted.readInterval;
    t.ReadTotalTimeoutMultiplier = wanted.readMultiplier;
    t.ReadTotalTimeoutConstant = wanted.readConstant;
    t.WriteTotalTimeoutMultiplier = wanted.writeMultiplier;
    t.WriteTotalTimeoutConstant = wanted.writeConstant;
    if (!::SetCommTimeouts(port_, &t)) {
      applied_.reset();
      return false;
    }
    applied_ = wanted;
    return true;
  }

  HANDLE port_;
  PortLock lock_;
  std::optional<win32::CommTimeouts> applied_;
};

}  // namespace

DeviceOpenResult OpenLocalDevice(const std::string& device, const std::string& comName) {
  DeviceOpenResult result;
  const std::string path = win32::DevicePath(device);
  // Windows opens a port for one program at a time; the lock keeps two loaders apart also
  // where a driver does not (Wine does not refuse a second open).
  PortLock::Refusal refusal;
  auto lock = PortLock::Acquire(win32::LockName(path), refusal);
  // Another user's lock object, which any session may hold to keep the port from us, does
  // not decide: the system's exclusive open below does.
  if (!lock && refusal.owner != PortLock::kAnotherUser) {
    result.error = downloader::OpenErrorCode(refusal.error);
    WriteHint(LockRefusalHint(refusal, path, comName));
    return result;
  }
  const HANDLE port = ::CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    result.error = win32::OpenErrorCode(::GetLastError());
    if (result.error == kErrorAccessDenied) WriteHint(BusyHint(path, comName, 0));
    return result;
  }
  result.device = std::make_unique<ComDevice>(port, lock ? std::move(*lock) : PortLock());
  return result;
}

void EndEveryLocalLine() {
  // The system closes the ports of a process that ends, whatever their line state.
}

}  // namespace downloader
