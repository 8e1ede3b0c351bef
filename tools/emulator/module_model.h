#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "module_spec.h"

namespace emulator {

/// What one transfer of a slot left in the module.
struct SlotRecord {
  std::vector<std::vector<uint8_t>> received;      ///< every complete 18-byte packet
  std::vector<std::vector<uint8_t>> acknowledged;  ///< those answered with status 0
  bool ended = false;                              ///< the closing zero byte came
};

/// The module's answer to one event: bytes to send, each after an extra delay (beyond the
/// line's byte time), and whether to drop the connection afterwards. A reply is a byte the
/// loader waits for with a short timeout: a status byte, the slot byte's echo, the closing
/// zero byte's echo, an identification answer or version byte.
struct Reaction {
  struct Byte {
    uint8_t value;
    uint32_t delayMs;
    bool reply = false;
  };
  std::vector<Byte> bytes;
  bool drop = false;
};

/// The module's side of the wire protocol, without any I/O: a reset is a BREAK start;
/// every data byte is echoed; the module answers its own identification exchange only;
/// types 3..6 then take the slot byte; then 18-byte packets, each answered with a status
/// byte after its echo; a lone zero byte at a packet boundary ends the slot. A zero byte
/// at a boundary that is followed by more data before the next reset was the first byte
/// of a packet after all.
class ModuleModel {
 public:
  explicit ModuleModel(const ModuleSpec& spec) : spec_(spec) {}

  Reaction OnByte(uint8_t byte);
  void OnDtr(bool on);
  void OnRts(bool on);
  void OnBreak(bool on);
  /// A client connected or went away.
  void OnConnect();
  void OnDisconnect();

  /// DSR as the module's port shows it.
  bool Dsr() const { return spec_.dsrOn || (spec_.loopback && rts_); }

  int Resets() const { return resets_; }
  /// Complete packets received so far, on every connection.
  int Packets() const { return packets_; }
  /// Every slot's record; a slot whose closing zero byte came counts as ended even before
  /// the next reset confirms it.
  std::map<int, SlotRecord> Slots() const;

 private:
  enum class Phase { kIdentify, kVersionRequest, kSlotByte, kPackets, kSlotEndPending };

  void Reset();
  void FinishSlotEnd();
  void StartTransfer(int slot);
  /// Takes one byte of a packet; a complete packet is recorded and answered.
  void AddPacketByte(uint8_t byte, Reaction& reaction);
  /// An identification exchange begins: whether its answer is to be wrong (identfail).
  bool IdentificationFails();

  ModuleSpec spec_;
  Phase phase_ = Phase::kIdentify;
  std::size_t handshake_ = 0;  // type 2: bytes of "KVQ" taken
  bool dtr_ = false;
  bool rts_ = false;
  bool break_ = false;
  int resets_ = 0;
  int packets_ = 0;
  int slot_ = 0;
  int packetIndex_ = 0;
  int slotsEnded_ = 0;       // this connection's, numbers type 2 transfers
  int identifications_ = 0;  // exchanges begun since the module started
  bool clearPending_ = false;
  std::vector<uint8_t> packet_;
  std::map<int, SlotRecord> slots_;
};

}  // namespace emulator
