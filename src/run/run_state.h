#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace downloader {

// What the command line of the request in progress set: its switches, the run flags every
// request consults, and the file it names. ParseArguments (control) writes them on the main
// thread; any floor reads them.

/// Bits of SwitchBits: what the command line being parsed contained.
inline constexpr uint8_t kSwitchCom = 0x01;
inline constexpr uint8_t kSwitchNoInfo = 0x02;
inline constexpr uint8_t kSwitchNoPrompts = 0x04;
inline constexpr uint8_t kSwitchUpdates = 0x08;
inline constexpr uint8_t kSwitchGetInfo = 0x10;
inline constexpr uint8_t kSwitchPipe = 0x20;
inline constexpr uint8_t kSwitchFile = 0x40;

/// Bits of RunFlags, the run state every request consults.
inline constexpr uint16_t kPortGiven = 0x02;
inline constexpr uint16_t kNoInfo = 0x04;
inline constexpr uint16_t kNoPrompts = 0x08;
inline constexpr uint16_t kUpdates = 0x10;
inline constexpr uint16_t kGetInfo = 0x20;
inline constexpr uint16_t kPipe = 0x40;
inline constexpr uint16_t kFileGiven = 0x80;

/// RunFlags per SwitchBits value: twice the index for every combination the conflict
/// masks allow (alone and with a file name), 0 for everything else, 0 and 64 included.
constexpr std::array<uint16_t, 128> MakeFlagTable() {
  std::array<uint16_t, 128> table{};
  constexpr int allowed[] = {1, 2, 3, 4, 5, 8, 9, 12, 13, 16, 32};
  for (int bits : allowed) {
    table[bits] = static_cast<uint16_t>(2 * bits);
    table[bits + 64] = static_cast<uint16_t>(2 * (bits + 64));
  }
  return table;
}
inline constexpr std::array<uint16_t, 128> FlagTable = MakeFlagTable();

/// What the command line being parsed contained so far (kSwitch* bits).
extern uint8_t SwitchBits;
/// FlagTable[SwitchBits] once the whole command line was accepted, else 0.
extern uint16_t RunFlags;
/// The file named on the command line (default extension added), or empty; made absolute
/// when a name on the loader's own command line was found in StartDirectory.
extern std::string ObjectFileName;
/// When ObjectFileName was made absolute: the name as typed, default extension added.
/// Empty otherwise.
extern std::string ObjectFileTypedName;
/// The directory the loader was started in, read before the driver makes the loader's own
/// folder current; empty when unknown. A relative name on the loader's own command line is
/// looked up there first, then (as in pipe mode) in the current directory.
extern std::string StartDirectory;

/// The object file's name as messages show it: as typed, default extension added.
std::string ShownObjectFileName();

}  // namespace downloader
