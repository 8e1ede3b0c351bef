#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "run/run_state.h"

namespace downloader {

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

/// The arguments of the command line being parsed.
extern std::vector<std::string> ArgumentList;

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
