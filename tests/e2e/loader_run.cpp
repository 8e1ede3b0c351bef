#include "e2e/loader_run.h"

#include <algorithm>

#include "image/object_image.h"

namespace downloader::e2e {

using testing::StatusLine;
using testing::Visible;

std::vector<uint8_t> SlotBytes(int slot, int packetCount) {
  std::vector<uint8_t> bytes;
  for (int k = 0; k < packetCount; ++k) {
    for (int i = 0; i < 18; ++i) {
      const bool escaped = i % 6 == 1 || i % 6 == 2;  // pairs of 0xFF
      bytes.push_back(escaped ? 0xFF : static_cast<uint8_t>(slot * 0x40 + k * 0x13 + i * 7));
    }
  }
  return bytes;
}

ImageDescription StandardImage(int targetDevice, std::initializer_list<int> packetCounts) {
  ImageDescription d;
  d.targetDevice = static_cast<uint8_t>(targetDevice);
  d.company = "Veltrana, Inc.";
  d.product = StandardProductName(targetDevice);
  d.firmware = "Controller firmware 2.04";
  d.compileTime = 36526.75;
  d.notes = {"Standard program.", "", ""};
  int slot = 0;
  for (int count : packetCounts) d.slots.push_back(SlotBytes(slot++, count));
  return d;
}

Packets SlotPackets(const ImageDescription& image, std::size_t slot) {
  Packets packets;
  const auto& bytes = image.slots.at(slot);
  for (std::size_t k = 0; k + 18 <= bytes.size(); k += 18) {
    packets.emplace_back(bytes.begin() + static_cast<long>(k),
                         bytes.begin() + static_cast<long>(k + 18));
  }
  return packets;
}

std::string WriteImage(const testing::TempDir& dir, const ImageDescription& image,
                       std::string_view name) {
  const ObjectImage built = BuildImage(image);
  return dir.Write(name, std::string_view(reinterpret_cast<const char*>(built.bytes.data()),
                                          built.bytes.size()));
}

testing::RunResult RunLoader(const testing::ModuleEmulator& emulator,
                             std::vector<std::string> args) {
  testing::RunOptions options;
  options.args = std::move(args);
  options.env = emulator.Environment();
  options.timeout = std::chrono::seconds(20);
  return testing::RunProgram(testing::BinaryPath("downloader"), options);
}

std::string PortLine(std::string_view fields) {
  return StatusLine("INF:", "111-PORT=" + std::string(fields), false);
}

std::string InvalidPort(std::string_view port) {
  return PortLine(std::string(port) + " DEVICE=invalid port VERSION=n/a LOOPBACK=n/a ECHO=n/a");
}

std::string Downloading(std::string_view port) {
  return StatusLine("EVT:", "104-Downloading to " + std::string(port) + ".", false);
}

std::string Progress(int slot, std::initializer_list<int> percentages) {
  std::string lines;
  for (int p : percentages) {
    lines += StatusLine(
        "INF:", "112-SLOT=" + std::to_string(slot) + " PROGRESS=" + std::to_string(p) + "%", false);
  }
  return lines;
}

std::string Success() {
  return StatusLine("EVT:", "044-Download successful!", true);
}

std::string Error(std::string_view text) {
  return StatusLine("ERR:", text, true);
}

const std::string kHardwareFailure =
    Error("025-Hardware communication failure.  Check serial cable and power supply.");
const std::string kVerifyFailure = Error("024-EEPROM verify failure.");

::testing::AssertionResult StatusIs(std::string_view out, std::vector<std::string> scan,
                                    std::string_view rest) {
  std::string expected;
  for (const auto& line : scan) expected += line;
  expected += rest;
  auto failure = [&](const std::string& what) {
    return ::testing::AssertionFailure() << what << "\nexpected (scan lines in any order):\n"
                                         << Visible(expected) << "\nactual:\n"
                                         << Visible(out);
  };
  std::string_view left = out;
  for (std::size_t i = 0, n = scan.size(); i < n; ++i) {
    const auto match = std::find_if(
        scan.begin(), scan.end(), [&](const std::string& line) { return left.starts_with(line); });
    if (match == scan.end()) return failure("line " + std::to_string(i + 1) + " is no scan line");
    left.remove_prefix(match->size());
    scan.erase(match);
  }
  if (left != rest) return failure("the lines after the scan differ");
  return ::testing::AssertionSuccess();
}

void ExpectHoldsImage(const testing::EmulatorDump::Module& module, const ImageDescription& image) {
  ASSERT_EQ(module.slots.size(), image.slots.size()) << "COM" << module.com;
  for (std::size_t s = 0; s < image.slots.size(); ++s) {
    SCOPED_TRACE("COM" + std::to_string(module.com) + " slot " + std::to_string(s));
    const auto& slot = module.slots.at(static_cast<int>(s));
    EXPECT_EQ(slot.received, SlotPackets(image, s));
    EXPECT_EQ(slot.acknowledged, SlotPackets(image, s));
    EXPECT_TRUE(slot.ended);
  }
}

void ExpectNothingStored(const testing::EmulatorDump::Module& module) {
  EXPECT_TRUE(module.slots.empty()) << "COM" << module.com << " was written to";
}

std::string WithRunsSorted(const std::string& text, std::string_view prefix) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size() - 1) + 1;
    lines.push_back(text.substr(at, end - at));
    at = end;
  }
  const auto inRun = [prefix](const std::string& line) { return line.starts_with(prefix); };
  for (auto run = std::find_if(lines.begin(), lines.end(), inRun); run != lines.end();) {
    const auto runEnd = std::find_if_not(run, lines.end(), inRun);
    std::sort(run, runEnd);
    run = std::find_if(runEnd, lines.end(), inRun);
  }
  std::string sorted;
  for (const std::string& line : lines) sorted += line;
  return sorted;
}

}  // namespace downloader::e2e
