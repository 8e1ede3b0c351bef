#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace downloader {

/// Error codes of a failed open, with the meaning the rest of the loader gives them.
inline constexpr uint32_t kErrorNotFound = 2;      ///< no such port, or it cannot be reached
inline constexpr uint32_t kErrorAccessDenied = 5;  ///< no permission, or in use

/// Line settings applied by TSerial::Configure.
struct LineSettings {
  uint32_t baudRate = 9600;
  uint8_t dataBits = 8;
  bool evenParity = false;  ///< false: no parity
  // One stop bit and no flow control, always.
};

/// DSR in the modem status word.
inline constexpr uint32_t kModemStatusDsr = 0x20;

/// One opened serial device, exclusively held until Close or destruction. The two
/// backends are local devices (libserialport) and RFC 2217 network ports; tests install
/// scripted fakes. Used by one thread at a time. No operation throws, and none blocks
/// past its timeout: a vanished device or a closed connection fails transfers.
class SerialDevice {
 public:
  virtual ~SerialDevice() = default;

  /// Whether the device's line state can be read (a failure ends the open).
  virtual bool ReadState() = 0;
  /// Applies the line settings; false when the device refused them.
  virtual bool Configure(const LineSettings& settings) = 0;
  /// Reads up to `count` bytes, waiting at most `timeoutMs` in total for them; the count
  /// read (0 when nothing came in time), or -1 when the device failed.
  virtual int Read(uint8_t* buffer, std::size_t count, uint32_t timeoutMs) = 0;
  /// Writes all `count` bytes within `timeoutMs`; false on failure or timeout.
  virtual bool Write(const uint8_t* bytes, std::size_t count, uint32_t timeoutMs) = 0;
  /// Throws away everything received and not yet read; the number of bytes discarded.
  /// Bounded in time and bytes, so a peer that never stops sending cannot hold it.
  virtual int Drain() = 0;
  virtual void SetDTR(bool on) = 0;
  virtual void SetRTS(bool on) = 0;
  virtual void SetBreak(bool on) = 0;
  /// Modem status bits (DSR 0x20, CTS 0x10, RING 0x40, RLSD 0x80).
  virtual uint32_t ModemStatus() = 0;
};

/// What opening a port by its COM name gave: a device, or an error code (kErrorNotFound,
/// kErrorAccessDenied, or another OS code).
struct DeviceOpenResult {
  std::unique_ptr<SerialDevice> device;
  uint32_t error = 0;
  /// Why a port that does not exist or cannot be reached failed, as the end of a sentence
  /// about it ("which does not exist", "whose host is not found"); empty when not known or
  /// when a hint line has said it already.
  std::string reason;
};

/// Opens the port called `comName` ("COM1".."COM99") through the port map. When its map
/// entry cannot be used, one line on standard error (WriteHint) says why, once per port in
/// the life of the process, however often the port is tried.
DeviceOpenResult OpenSerialDevice(const std::string& comName);

/// Replaces how ports are opened (tests install scripted fakes); nullptr restores the
/// port map.
using SerialDeviceOpener = std::function<DeviceOpenResult(const std::string& comName)>;
void SetSerialDeviceOpener(SerialDeviceOpener opener);

}  // namespace downloader
