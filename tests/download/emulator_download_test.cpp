// Whole downloads in this process over RFC 2217 to module-emulator: the probe's and the
// transfer's timeouts against a real network serial port.

#include <gtest/gtest.h>

#include <algorithm>

#include "download/download.h"
#include "image/object_image.h"
#include "run/run_state.h"
#include "serial/globals.h"
#include "support/emulator_fixture.h"
#include "ui/download_test_state.h"

namespace downloader {
namespace {

using testing::ModuleEmulator;
using testing::ScopedEnv;

class EmulatorDownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ResetDownloaderState();
    testing::UseRunFlags(kNoPrompts | kUpdates);
  }

  std::vector<std::vector<uint8_t>> ImagePackets(int slot, int count = -1) const {
    const auto s = static_cast<std::size_t>(slot);
    const std::size_t n = count < 0 ? ImageBuffer.PacketCount(s) : static_cast<std::size_t>(count);
    std::vector<std::vector<uint8_t>> packets;
    for (std::size_t k = 0; k < n; ++k) {
      const uint8_t* p = ImageBuffer.Packet(s, k);
      packets.emplace_back(p, p + 18);
    }
    return packets;
  }

  testing::StatusCapture status;
};

TEST_F(EmulatorDownloadTest, EveryTypeStoresExactlyTheImage) {
  const std::pair<int, const char*> modules[] = {{2, "type=2,version=1.0"},
                                                 {3, "type=3,version=1.1"},
                                                 {4, "type=4,version=1.0"},
                                                 {5, "type=5,version=1.3,variant=24"},
                                                 {6, "type=6,version=1.0"}};
  for (const auto& [type, moduleArg] : modules) {
    SCOPED_TRACE(moduleArg);
    ModuleEmulator emulator({std::string(moduleArg) + ",com=2"});
    ScopedEnv ports("DOWNLOADER_PORTS", emulator.PortMapDir());
    testing::StatusCapture lines;
    testing::SetTestImage(static_cast<uint8_t>(type), {3, 1});
    DownloadToDevice();
    const auto got = lines.Lines();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(), "EVT:044-Download successful!");
    EXPECT_NE(std::find(got.begin(), got.end(), "EVT:104-Downloading to COM2."), got.end());

    const auto dump = emulator.Stop();
    const auto& module = dump.Com(2);
    ASSERT_EQ(module.slots.size(), 2u);
    EXPECT_EQ(module.slots.at(0).acknowledged, ImagePackets(0));
    EXPECT_EQ(module.slots.at(1).acknowledged, ImagePackets(1));
    EXPECT_TRUE(module.slots.at(0).ended);
    EXPECT_TRUE(module.slots.at(1).ended);
  }
}

TEST_F(EmulatorDownloadTest, PacedAtNineThousandSixHundredBaud) {
  // Echoes arrive a byte time apart: an echo read must wait for all 18 bytes, or the
  // status read takes an echo byte for the status.
  testing::RetryWhenEmulatorLate([&] {
    ModuleEmulator emulator({"type=4,version=1.1,com=1"}, {"--pace", "9600"});
    ScopedEnv ports("DOWNLOADER_PORTS", emulator.PortMapDir());
    testing::StatusCapture lines;
    testing::SetTestImage(4, {12, 3});
    DownloadToDevice();
    ASSERT_FALSE(lines.Lines().empty());
    EXPECT_EQ(lines.Lines().back(), "EVT:044-Download successful!");
    const auto dump = emulator.Stop();
    EXPECT_EQ(dump.Com(1).slots.at(0).acknowledged, ImagePackets(0));
    EXPECT_EQ(dump.Com(1).slots.at(1).acknowledged, ImagePackets(1));
  });
}

TEST_F(EmulatorDownloadTest, FailuresEndTheDownloadWithTheirMessage) {
  struct Case {
    const char* fault;
    const char* last;
  };
  const Case cases[] = {
      {"status=2@1:5", "ERR:024-EEPROM verify failure."},
      {"silent@0:2",
       "ERR:025-Hardware communication failure.  Check serial cable and power supply."},
      {"drop@1:1", "ERR:025-Hardware communication failure.  Check serial cable and power supply."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    ModuleEmulator emulator({std::string("type=3,version=1.0,com=1,") + c.fault});
    ScopedEnv ports("DOWNLOADER_PORTS", emulator.PortMapDir());
    testing::StatusCapture lines;
    testing::SetTestImage(3, {8, 8, 8});
    DownloadToDevice();
    const auto got = lines.Lines();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(), c.last);
    EXPECT_EQ(std::count(got.begin(), got.end(), "EVT:044-Download successful!"), 0);
    const auto dump = emulator.Stop();
    EXPECT_EQ(dump.Com(1).slots.count(2), 0u);  // the last slot never started
  }
}

TEST_F(EmulatorDownloadTest, ScanFindsOnlyTheTargetAmongOthers) {
  ModuleEmulator emulator({"type=5,version=1.2,variant=40,com=1", "type=3,version=1.0,com=2",
                           "type=2,version=1.0,com=3,loopback", "type=6,version=1.0,com=4"});
  ScopedEnv ports("DOWNLOADER_PORTS", emulator.PortMapDir());
  testing::SetTestImage(3, {2});
  DownloadToDevice();
  auto got = status.Lines();
  ASSERT_GE(got.size(), 4u);
  std::sort(got.begin(), got.begin() + 4);
  EXPECT_EQ(std::vector<std::string>(got.begin(), got.begin() + 4),
            (std::vector<std::string>{
                "INF:111-PORT=COM1 DEVICE=Korvanetics E40 VERSION=v1.2 LOOPBACK=No ECHO=Yes",
                "INF:111-PORT=COM2 DEVICE=Korvanetics C VERSION=v1.0 LOOPBACK=No ECHO=Yes",
                "INF:111-PORT=COM3 DEVICE=Korvanetics B VERSION=v1.0 LOOPBACK=Yes ECHO=Yes",
                "INF:111-PORT=COM4 DEVICE=Korvanetics F40 VERSION=v1.0 LOOPBACK=No ECHO=Yes",
            }));
  EXPECT_EQ(got.back(), "EVT:044-Download successful!");
}

}  // namespace
}  // namespace downloader
