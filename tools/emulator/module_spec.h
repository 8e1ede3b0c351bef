#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace emulator {

/// A fault at one packet of one slot.
struct PacketFault {
  enum class Kind {
    kStatus,  ///< answer the packet with `status` instead of 0
    kSilent,  ///< echo the packet, send no status byte
    kDrop,    ///< close the connection once the packet is in
    /// Close the connection when the packet's first byte comes, before echoing it; at the
    /// slot's packet count, that byte is the closing zero, and the slot stays open.
    kHangUp,
    /// Send the unasked byte `status` just before the echo of the packet's first byte (at
    /// the slot's packet count: of the closing zero).
    kChatter,
  };
  Kind kind = Kind::kStatus;
  uint8_t status = 0;
  int slot = 0;
  int packet = 0;
};

/// One emulated module, as given by --module.
struct ModuleSpec {
  int com = 0;        ///< COM number in the port map; 0: its place among the modules
  uint16_t port = 0;  ///< TCP port on 127.0.0.1; 0: any free one
  int type = 0;       ///< 2..6
  /// The identification reply (types 3..6, bit 0x20 for variant 24) or the version byte
  /// (type 2).
  uint8_t reply = 0;
  bool loopback = false;  ///< RTS drives DSR
  bool dsrOn = false;     ///< DSR always on
  bool noEcho = false;
  bool badReply = false;  ///< answers its identification with a byte no loader accepts
  bool chatter = false;   ///< never stops sending
  uint32_t statusDelayMs = 0;
  std::vector<PacketFault> faults;
  /// Slot numbers the module hears with their lowest bit flipped (0 as 1, 1 as 0), as one
  /// corrupted byte on the line would make it: it echoes the number it heard and takes the
  /// packets into that slot. Types 3..6 (type 2 hears no slot number).
  std::vector<int> shiftedSlots;
  /// Slots before which the module answers its identification exchange with a byte no
  /// loader accepts, as if the right answer had been changed on the line, and goes on as
  /// after a right one. The identification before slot S is the one that follows S ended
  /// slots on a connection; the module's first one (a port scan's) is always right.
  std::vector<int> identFailSlots;
};

/// The code byte of types 3..6 (0 for others).
uint8_t IdentCode(int type);

/// Parses a comma-separated SPEC: port=N, type=2..6, version=M.N, reply=BYTE,
/// variant=24|40, loopback, dsr=on|off, noecho, badreply, status=CODE@SLOT:PACKET,
/// silent@SLOT:PACKET, drop@SLOT:PACKET, statusdelay=MS, chatter, com=N,
/// hangup@SLOT:PACKET, chatter=BYTE@SLOT:PACKET, slotshift@SLOT, identfail@SLOT. False
/// with `error` set when SPEC is not valid.
bool ParseModuleSpec(const std::string& text, ModuleSpec& spec, std::string& error);

/// The firmware version the module reports, as the loader shows it without the "v"
/// ("1.1", "1.0", "2.A"); the raw reply in hexadecimal when it is no version of its type.
std::string VersionText(const ModuleSpec& spec);

}  // namespace emulator
