#pragma once

// Running the real downloader against module-emulator: images on disk, the expected status
// lines, and checks of what the emulated modules stored.

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "image/image_builder.h"
#include "support/emulator_fixture.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace downloader::e2e {

using Packets = std::vector<std::vector<uint8_t>>;

/// Packets that stress the wire: slot 0 starts with a zero byte (which at a packet
/// boundary could end the slot), pairs of 0xFF bytes (each doubled on a network port) are
/// in every packet, and no two packets of a slot are equal.
std::vector<uint8_t> SlotBytes(int slot, int packetCount);

/// A standard image of `targetDevice` (its product name is the type's own) with one slot
/// per entry of `packetCounts`.
ImageDescription StandardImage(int targetDevice, std::initializer_list<int> packetCounts);

/// Slot `slot` of `image` as the module should receive it, packet by packet.
Packets SlotPackets(const ImageDescription& image, std::size_t slot);

/// Builds `image` into a file in `dir` and returns its full name.
std::string WriteImage(const testing::TempDir& dir, const ImageDescription& image,
                       std::string_view name = "image.obj");

/// Runs downloader with `args` on the port map of `emulator` (and nothing else: ports
/// without an entry do not exist). Gives up after 20 s.
testing::RunResult RunLoader(const testing::ModuleEmulator& emulator,
                             std::vector<std::string> args);

// Status lines, framed as the loader writes them.
std::string PortLine(std::string_view fields);  ///< "111-PORT=" + fields
/// The 111 line of a port that has no entry in the port map.
std::string InvalidPort(std::string_view port);
std::string Downloading(std::string_view port);  ///< 104
/// The 112 lines of one slot, one per percentage given.
std::string Progress(int slot, std::initializer_list<int> percentages);
std::string Success();                      ///< 044, final
std::string Error(std::string_view text);   ///< an ERR: line, final
extern const std::string kHardwareFailure;  ///< ERR: 025
extern const std::string kVerifyFailure;    ///< ERR: 024

/// True when `out` is the lines of `scan` in any order (ports report as their probes
/// end), each exactly once, followed by exactly `rest`.
::testing::AssertionResult StatusIs(std::string_view out, std::vector<std::string> scan,
                                    std::string_view rest);

/// The run ended by itself with exit code 0 and wrote exactly `scan` (in any order) and
/// then `rest` on standard output.
#define EXPECT_STATUS(run, scan, rest)                                                \
  do {                                                                                \
    EXPECT_FALSE((run).timedOut);                                                     \
    EXPECT_EQ((run).exitCode, 0) << (run).err;                                        \
    EXPECT_TRUE(::downloader::e2e::StatusIs((run).out, (scan), (rest))) << (run).err; \
  } while (false)

/// `text` with each run of lines that begin with `prefix` in sorted order: the scan's ports
/// report as their probes end.
std::string WithRunsSorted(const std::string& text, std::string_view prefix);

/// Every slot of `image` was received and acknowledged exactly as it is in the image,
/// each closed by its zero byte, and nothing else was stored.
void ExpectHoldsImage(const testing::EmulatorDump::Module& module, const ImageDescription& image);

/// The module was never written to: no slot was started.
void ExpectNothingStored(const testing::EmulatorDump::Module& module);

}  // namespace downloader::e2e
