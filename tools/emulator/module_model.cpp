#include "module_model.h"

namespace emulator {

namespace {

constexpr std::size_t kPacketSize = 18;
constexpr uint8_t kHandshake[] = {'K', 'V', 'Q'};
// No loader accepts this as any identification answer.
constexpr uint8_t kBadReply = 0x00;

}  // namespace

void ModuleModel::OnConnect() {
  slotsEnded_ = 0;
  phase_ = Phase::kIdentify;
  handshake_ = 0;
  packet_.clear();
}

void ModuleModel::OnDisconnect() {
  FinishSlotEnd();
  phase_ = Phase::kIdentify;
  packet_.clear();
}

std::map<int, SlotRecord> ModuleModel::Slots() const {
  std::map<int, SlotRecord> slots = slots_;
  if (phase_ == Phase::kSlotEndPending) {
    if (clearPending_) slots[slot_] = SlotRecord{};
    slots[slot_].ended = true;
  }
  return slots;
}

void ModuleModel::OnDtr(bool on) {
  dtr_ = on;
}
void ModuleModel::OnRts(bool on) {
  rts_ = on;
}

void ModuleModel::OnBreak(bool on) {
  // The reset pulse raises BREAK while DTR is up; the start of BREAK resets the module.
  if (on && !break_) Reset();
  break_ = on;
}

void ModuleModel::Reset() {
  ++resets_;
  FinishSlotEnd();
  phase_ = Phase::kIdentify;
  handshake_ = 0;
  packet_.clear();
}

void ModuleModel::FinishSlotEnd() {
  if (phase_ != Phase::kSlotEndPending) return;
  if (clearPending_) {
    slots_[slot_] = SlotRecord{};
    clearPending_ = false;
  }
  slots_[slot_].ended = true;
  ++slotsEnded_;
  phase_ = Phase::kIdentify;
}

void ModuleModel::StartTransfer(int slot) {
  slot_ = slot;
  packetIndex_ = 0;
  packet_.clear();
  phase_ = Phase::kPackets;
  // Types 3..6 announce the slot: its record starts afresh now. A type 2 transfer is
  // recognised only by its first packet or its end, so a handshake alone (a port scan)
  // leaves the record of an earlier download alone.
  if (spec_.type == 2) {
    clearPending_ = true;
  } else {
    slots_[slot] = SlotRecord{};
    clearPending_ = false;
  }
}

void ModuleModel::AddPacketByte(uint8_t byte, Reaction& reaction) {
  packet_.push_back(byte);
  if (packet_.size() < kPacketSize) return;
  if (clearPending_) {
    slots_[slot_] = SlotRecord{};
    clearPending_ = false;
  }
  SlotRecord& record = slots_[slot_];
  record.received.push_back(packet_);
  ++packets_;
  const int index = packetIndex_++;
  uint8_t status = 0;
  bool silent = false;
  for (const PacketFault& fault : spec_.faults) {
    if (fault.slot != slot_ || fault.packet != index) continue;
    switch (fault.kind) {
      case PacketFault::Kind::kStatus:
        status = fault.status;
        break;
      case PacketFault::Kind::kSilent:
        silent = true;
        break;
      case PacketFault::Kind::kDrop:
        reaction.drop = true;
        break;
      case PacketFault::Kind::kHangUp:
      case PacketFault::Kind::kChatter:
        break;  // at the packet's first byte, in OnByte
    }
  }
  packet_.clear();
  if (reaction.drop || silent) return;
  reaction.bytes.push_back({status, spec_.statusDelayMs});
  if (status == 0) record.acknowledged.push_back(record.received.back());
}

bool ModuleModel::IdentificationFails() {
  if (identifications_++ == 0) return false;
  for (const int slot : spec_.identFailSlots) {
    if (slot == slotsEnded_) return true;
  }
  return false;
}

Reaction ModuleModel::OnByte(uint8_t byte) {
  Reaction reaction;
  // The echo of the slot byte and of a zero byte that may close the slot is awaited as a
  // reply; so is everything that follows the echo.
  const bool echoIsReply =
      phase_ == Phase::kSlotByte || (phase_ == Phase::kPackets && packet_.empty() && byte == 0);
  // Nothing can be received while the line is held in BREAK.
  if (break_) return reaction;
  if (phase_ == Phase::kSlotByte) {
    for (const int slot : spec_.shiftedSlots) {
      if (slot == byte) {
        byte ^= 1;  // heard so, and echoed as heard
        break;
      }
    }
  }
  if (phase_ == Phase::kPackets && packet_.empty()) {
    // The first byte of a packet, or the closing zero.
    for (const PacketFault& fault : spec_.faults) {
      if (fault.slot != slot_ || fault.packet != packetIndex_) continue;
      if (fault.kind == PacketFault::Kind::kHangUp) {
        reaction.drop = true;
        return reaction;
      }
      if (fault.kind == PacketFault::Kind::kChatter) reaction.bytes.push_back({fault.status, 0});
    }
  }
  const std::size_t echo = reaction.bytes.size();
  if (!spec_.noEcho) reaction.bytes.push_back({byte, 0, echoIsReply});
  // A wrong answer of its own (badreply) stops the exchange; one changed on the line
  // (identfail) leaves the module going on as after the right one.
  auto answer = [&](uint8_t value, bool changed) {
    reaction.bytes.push_back({spec_.badReply || changed ? kBadReply : value, 0});
  };

  switch (phase_) {
    case Phase::kIdentify:
      if (spec_.type == 2) {
        if (byte != kHandshake[handshake_]) handshake_ = 0;
        if (byte == kHandshake[handshake_]) {
          answer(static_cast<uint8_t>(256 - byte), handshake_ == 0 && IdentificationFails());
          if (!spec_.badReply && ++handshake_ == sizeof kHandshake) {
            phase_ = Phase::kVersionRequest;
          }
        }
      } else if (byte == IdentCode(spec_.type)) {
        answer(spec_.reply, IdentificationFails());
        if (!spec_.badReply) phase_ = Phase::kSlotByte;
      }
      break;
    case Phase::kVersionRequest:
      handshake_ = 0;
      if (byte == 0) {
        reaction.bytes.push_back({spec_.reply, 0});
        StartTransfer(slotsEnded_);
      } else {
        phase_ = Phase::kIdentify;
      }
      break;
    case Phase::kSlotByte:
      StartTransfer(byte);
      break;
    case Phase::kSlotEndPending:
      // More data without a reset: the zero byte began a packet.
      phase_ = Phase::kPackets;
      packet_.assign(1, 0);
      AddPacketByte(byte, reaction);
      break;
    case Phase::kPackets:
      if (packet_.empty() && byte == 0) {
        phase_ = Phase::kSlotEndPending;
      } else {
        AddPacketByte(byte, reaction);
      }
      break;
  }
  for (std::size_t i = spec_.noEcho ? echo : echo + 1; i < reaction.bytes.size(); ++i) {
    reaction.bytes[i].reply = true;
  }
  return reaction;
}

}  // namespace emulator
