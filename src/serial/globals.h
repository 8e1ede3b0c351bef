#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace downloader {

/// The serial link's process-wide state, created at start-up and kept to the end.
/// Written on the main thread only, and never while identification threads run; the
/// threads read `PortList` and `CustomProduct` while the main thread waits for them.

/// Port names in scan order; entry i is row i + 1 of the port status grid. Starts as
/// COM1..COM4, grows with /COM# and never shrinks.
extern std::vector<std::string> PortList;

/// "AUTO" (scan every port) or the one "COM<n>" chosen with /COM#; empty before the first
/// command line is parsed.
extern std::string SelectedPort;

/// True once a download has started with an image whose product name is not the standard
/// name of its type; never cleared during a run.
extern bool CustomProduct;

/// True once the master program has been started.
extern bool PipeMode;

/// One bit per running identification thread (slots 1..4 own bits 0..3). Main thread only.
extern uint32_t BusyMask;

/// Transfer buffer of the pipe reads: at most 1,024 bytes and a terminating zero.
constexpr std::size_t kPipeBufferSize = 1025;
extern std::array<char, kPipeBufferSize> PipeBuffer;

/// Sets the state above to its start-up values and closes and frees every pool port.
/// Called once by the program driver before anything else, and by tests to start from a
/// clean state.
void InitSerialUnit();

}  // namespace downloader
