#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "serial/serial_device.h"

namespace downloader {

/// One serial port: open with a fixed line configuration, per-transfer total timeouts,
/// byte and block transfers, a drain, DTR/RTS/BREAK control and the DSR status. Every
/// transfer is synchronous. Used by one thread at a time, as the pool decides; no lock.
class TSerial {
 public:
  /// True from a successful OpenPort until Close.
  std::atomic<bool> IsOpen{false};
  /// Set by AcquirePort under the pool lock to claim the object; cleared by OpenPort.
  std::atomic<bool> Reserved{false};
  /// The name given to the successful OpenPort; empty when closed.
  std::string PortName;
  /// -1 after Close or a failed open; 0 in a new object; positive while open.
  int32_t Handle = 0;
  /// 4,097 bytes while open; ReadBlock stores at most 4,096 bytes a read.
  std::unique_ptr<std::array<uint8_t, 4097>> Buffer;
  /// Read interval, read multiplier, read constant, write multiplier, write constant (ms).
  std::array<uint32_t, 5> Timeouts{};
  /// 0 at the start of every OpenPort; the OS error code of a failed open.
  uint32_t LastError = 0;

  /// Opens `name` (at most 6 characters) and configures it. On failure: false, and with
  /// `showErrors` a "Could not open port: ..." report. `error`, when given, receives
  /// LastError before Reserved is cleared: once it is, another thread may claim the object
  /// and reset LastError, so the pool must not read the field afterwards.
  bool OpenPort(const std::string& name, const std::string& baud, const std::string& parity,
                const std::string& dataBits, const std::string& flow, bool showErrors,
                uint32_t* error = nullptr);
  /// Baud and data bits by ParseNumber, no parity exactly for "None" (else even), one stop
  /// bit, no flow control; then DTR and RTS dropped.
  void Configure(const std::string& baud, const std::string& parity, const std::string& dataBits,
                 const std::string& flow);
  void Close();
  bool SetTimeouts(uint32_t readInterval, uint32_t readMultiplier, uint32_t readConstant,
                   uint32_t writeMultiplier, uint32_t writeConstant);
  /// The byte 0..255, -1 when nothing arrived within `timeoutMs`, 1000 when closed.
  int ReadByte(uint32_t timeoutMs);
  /// False when closed or the write failed.
  bool WriteByte(uint8_t value, uint32_t timeoutMs);
  bool WriteBuffer(const uint8_t* bytes, int count, uint32_t timeoutMs);
  /// 1..4,096: reads up to `count` bytes into Buffer within `timeoutMs`, returns the count.
  /// Any other count drains the receive queue and returns the bytes discarded. -1 closed.
  int ReadBlock(int count, uint32_t timeoutMs);
  void SetBreak(bool on);
  void SetDTR(bool on);
  void SetRTS(bool on);
  /// Modem status bits (DSR 0x20); 0 when closed.
  uint32_t ModemStatus();

 private:
  /// The total timeouts of a transfer of `count` bytes under the current Timeouts, in ms;
  /// 0 means "return at once".
  uint32_t ReadTimeout(std::size_t count) const;
  uint32_t WriteTimeout(std::size_t count) const;

  std::unique_ptr<SerialDevice> device_;
};

}  // namespace downloader
