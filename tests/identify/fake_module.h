#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "serial/serial_device.h"

namespace downloader::testing {

/// What is plugged into a fake port.
struct ModuleConfig {
  /// 2..6: a module of that type; 0: nothing attached (nothing echoes); -1: something that
  /// echoes every byte and never answers.
  int type = 0;
  /// Types 3..6: the reply to the code byte; type 2: the version byte. -1: not sent.
  int reply = -1;
  /// Whether the module echoes what it receives.
  bool echo = true;
  /// RTS looped back to DSR, or DSR on whatever RTS does.
  bool loopback = false;
  bool dsrAlwaysOn = false;
  /// Type 2: the handshake byte (0..2) answered with a wrong byte.
  int wrongHandshakeAt = -1;
  /// Transfer fault at packet `faultPacket` of slot `faultSlot`: the status byte sent
  /// (-1: none, silence), or the connection dropped.
  int faultSlot = -1;
  int faultPacket = -1;
  int faultStatus = -1;
  bool faultDrops = false;
  /// How long a read waits when nothing is queued (at most its timeout): makes workers of a
  /// scan overlap as they would on real ports.
  std::chrono::milliseconds emptyReadWait{0};
  /// Opens after this many fail with "in use" (-1: never).
  int refuseOpensAfter = -1;
};

/// What a host did to a line, in order, with the time it happened.
struct LineEvent {
  std::string what;  ///< "DTR+", "DTR-", "BREAK+", "BREAK-", "RTS+", "RTS-", "DRAIN"
  std::chrono::steady_clock::time_point when;
};

/// One module, as the host sees it through its serial port: echoes, identification
/// answers, slot byte, 18-byte packets with a status byte each, the closing zero byte.
/// It stays attached across opens and records everything. Thread-safe.
class FakeModule {
 public:
  explicit FakeModule(ModuleConfig config) : config_(config) {}

  /// The host's write calls since the module was attached, each as its bytes.
  std::vector<std::vector<uint8_t>> Writes() const;
  /// The first byte the host wrote after each reset (the probed type's first byte).
  std::vector<uint8_t> FirstBytesAfterResets() const;
  std::vector<LineEvent> LineEvents() const;
  /// Acknowledged packets by slot number.
  std::map<int, std::vector<std::array<uint8_t, 18>>> Stored() const;
  /// Slot bytes received, in order, and how many slots the closing zero ended.
  std::vector<int> SlotBytes() const;
  int SlotEnds() const;
  int Resets() const;
  int Opens() const;

  /// While held, every write blocks (the scan tests keep workers busy with it).
  void HoldWrites();
  void ReleaseWrites();
  /// How many writes are blocked in HoldWrites or have passed it.
  int WritesStarted() const;

  // The device side, called by FakeDevice.
  bool Open();
  void Closed();
  int Read(uint8_t* buffer, std::size_t count, uint32_t timeoutMs);
  bool Write(const uint8_t* bytes, std::size_t count);
  int Drain();
  void SetLine(const char* line, bool on);
  uint32_t ModemStatus() const;

 private:
  enum class State { kIdle, kHandshake, kVersion, kSlotByte, kPackets, kEnded };
  void Receive(uint8_t b);   // with mutex_ held
  void Receive2(uint8_t b);  // a type 2 handshake byte, with mutex_ held
  void Answer(int b);        // with mutex_ held

  const ModuleConfig config_;
  mutable std::mutex mutex_;
  std::condition_variable released_;
  bool held_ = false;
  int writesStarted_ = 0;

  bool open_ = false;
  int opens_ = 0;
  bool dropped_ = false;
  bool breakOn_ = false;
  bool rts_ = false;
  State state_ = State::kIdle;
  int handshakeIndex_ = 0;
  int slot_ = 0;
  int handshakesThisOpen_ = 0;
  int packetIndex_ = 0;
  bool afterReset_ = false;
  std::vector<uint8_t> packet_;
  std::vector<uint8_t> rx_;

  std::vector<std::vector<uint8_t>> writes_;
  std::vector<uint8_t> firstBytes_;
  std::vector<LineEvent> lineEvents_;
  std::map<int, std::vector<std::array<uint8_t, 18>>> stored_;
  std::vector<int> slotBytes_;
  int slotEnds_ = 0;
  int resets_ = 0;
};

/// A set of fake ports installed as the way ports are opened, for its lifetime. A name
/// without a module does not exist (error 2); a name can also be made to fail with any
/// error code. Counts how many ports are open at once.
class FakePorts {
 public:
  FakePorts();
  ~FakePorts();
  FakePorts(const FakePorts&) = delete;
  FakePorts& operator=(const FakePorts&) = delete;

  std::shared_ptr<FakeModule> Attach(const std::string& comName, ModuleConfig config);
  void FailOpen(const std::string& comName, uint32_t error);

  /// Names in the order they were opened (successfully or not).
  std::vector<std::string> OpenAttempts() const;
  int MaxOpenAtOnce() const { return maxOpen_; }

  // Called by the opener and the devices.
  DeviceOpenResult Open(const std::string& comName);
  void DeviceClosed();

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<FakeModule>> modules_;
  std::map<std::string, uint32_t> failures_;
  std::vector<std::string> attempts_;
  std::atomic<int> open_{0};
  std::atomic<int> maxOpen_{0};
};

}  // namespace downloader::testing
