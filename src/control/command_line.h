#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace downloader {

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

/// Ten cells of twelve characters and a final "|": the switch words, upper case.
/// Cell 7 stands for the file-name argument and can never match a switch.
inline constexpr std::string_view SwitchWords =
    "|          ||/COM|      |/NOINFO|   |/NOPROMPTS||/UPDATES|  |/GETINFO|  |/PIPE|     "
    "|ObjMstFile||/?|        |/HELP|     |";
static_assert(SwitchWords.size() == 121);

/// Per switch index: low byte its bit in SwitchBits, high byte the bits that must not be
/// set already (the conflict mask).
inline constexpr std::array<uint16_t, 10> SwitchTable = {
    0x0000,  // 0  (no switch)
    0x3101,  // 1  /COM#      refused after /COM#, /GetInfo, /Pipe
    0x3E02,  // 2  /NOINFO    refused after /NoInfo, /NoPrompts, /Updates, /GetInfo, /Pipe
    0x3604,  // 3  /NOPROMPTS refused after /NoInfo, /NoPrompts, /GetInfo, /Pipe
    0x3A08,  // 4  /UPDATES   refused after /NoInfo, /Updates, /GetInfo, /Pipe
    0x3F10,  // 5  /GETINFO   refused after every other switch
    0x3F20,  // 6  /PIPE      refused after every other switch
    0x4040,  // 7  file name  refused after an earlier file name
    0x0000,  // 8  /?
    0x0000,  // 9  /HELP
};
inline constexpr int kSwitchIndexCom = 1;
inline constexpr int kSwitchIndexFile = 7;
inline constexpr int kSwitchIndexQuestion = 8;
inline constexpr int kSwitchIndexHelp = 9;

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

/// The arguments of the command line being parsed.
extern std::vector<std::string> ArgumentList;
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

/// ArgumentList := the process parameters 1..argc-1.
void LoadCommandLine(int argc, const char* const* argv);

/// Turns ArgumentList into SelectedPort, ObjectFileName, SwitchBits, RunFlags, and may add
/// a port to PortList. Outside pipe mode, a relative file name found in StartDirectory
/// becomes absolute there. Throws the command-line exceptions; /? and /Help outside pipe mode
/// show the help and throw EHelp. Empty arguments are skipped. An argument that begins
/// with "/" is a switch unless another "/" follows: then it is an absolute file name.
void ParseArguments();

/// The 26-line help text, lines joined by CR LF, with `programFileName` at the start of
/// the four usage lines.
std::string HelpText(std::string_view programFileName);

/// Shows the help text in a modal message dialog, then throws EHelp.
[[noreturn]] void ShowHelp();

}  // namespace downloader
