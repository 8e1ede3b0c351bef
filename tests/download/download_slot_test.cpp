#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "download/download.h"
#include "identify/fake_module.h"
#include "image/object_image.h"
#include "run/run_state.h"
#include "serial/globals.h"
#include "serial/pool.h"
#include "ui/download_test_state.h"
#include "ui/forms.h"

namespace downloader {
namespace {

using testing::FakeModule;
using testing::ModuleConfig;

class DownloadSlotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    windows = &testing::ResetDownloaderState();
    testing::UseRunFlags(kNoPrompts | kUpdates);
  }

  // Attaches `config` to COM1, lays out the window for the image, and opens the port.
  int Connect(ModuleConfig config) {
    module = ports.Attach("COM1", config);
    ProgressForm->Open(true, "");
    uint32_t error = 0;
    const int slot = AcquirePort("COM1", error);
    EXPECT_GE(slot, -3);
    return slot;
  }

  std::vector<uint8_t> Packet(int slot, int k) const {
    const uint8_t* p =
        ImageBuffer.Packet(static_cast<std::size_t>(slot), static_cast<std::size_t>(k));
    return std::vector<uint8_t>(p, p + 18);
  }

  std::vector<std::array<uint8_t, 18>> ImagePackets(int slot) const {
    std::vector<std::array<uint8_t, 18>> packets;
    for (int k = 0; k < ImageBuffer.PacketCount(static_cast<std::size_t>(slot)); ++k) {
      std::array<uint8_t, 18> packet;
      std::copy_n(ImageBuffer.Packet(static_cast<std::size_t>(slot), static_cast<std::size_t>(k)),
                  18, packet.begin());
      packets.push_back(packet);
    }
    return packets;
  }

  testing::FakeWindowSystem* windows = nullptr;
  testing::FakePorts ports;
  testing::StatusCapture status;
  std::shared_ptr<FakeModule> module;
};

TEST_F(DownloadSlotTest, EverySlotArrivesWholeAndEndsWithAZeroByte) {
  testing::SetTestImage(3, {3, 5, 1});
  const int port = Connect({.type = 3, .reply = 0x83});
  for (int s = 0; s < 3; ++s) EXPECT_TRUE(DownloadSlot(3, s, port)) << s;

  EXPECT_EQ(module->Resets(), 3);  // a fresh handshake per slot
  EXPECT_EQ(module->SlotBytes(), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(module->SlotEnds(), 3);
  for (int s = 0; s < 3; ++s) EXPECT_EQ(module->Stored()[s], ImagePackets(s)) << s;
  EXPECT_EQ(ProgressForm->ProgressBar1.Progress, 5);
  EXPECT_EQ(status.Lines(), (std::vector<std::string>{
                                "INF:112-SLOT=0 PROGRESS=33%",
                                "INF:112-SLOT=0 PROGRESS=66%",
                                "INF:112-SLOT=0 PROGRESS=100%",
                                "INF:112-SLOT=1 PROGRESS=20%",
                                "INF:112-SLOT=1 PROGRESS=40%",
                                "INF:112-SLOT=1 PROGRESS=60%",
                                "INF:112-SLOT=1 PROGRESS=80%",
                                "INF:112-SLOT=1 PROGRESS=100%",
                                "INF:112-SLOT=2 PROGRESS=100%",
                            }));
}

TEST_F(DownloadSlotTest, VerifyFailureStopsTheSlotButStillClosesIt) {
  testing::SetTestImage(3, {8});
  const int port =
      Connect({.type = 3, .reply = 0x83, .faultSlot = 0, .faultPacket = 5, .faultStatus = 2});
  testing::UseRunFlags(kUpdates);  // with the error dialog
  std::size_t writesAtDialog = 0;
  windows->onErrorDialog = [&] { writesAtDialog = module->Writes().size(); };

  EXPECT_FALSE(DownloadSlot(3, 0, port));
  EXPECT_EQ(ProgressForm->ProgressBar0.Progress, 5);
  EXPECT_EQ(module->Stored()[0].size(), 5u);
  const auto writes = module->Writes();
  // Code byte, slot byte, packets 0..5, and the zero byte after the dialog was closed.
  ASSERT_EQ(writes.size(), 9u);
  EXPECT_EQ(writes[7], Packet(0, 5));
  EXPECT_EQ(writes[8], std::vector<uint8_t>{0});
  EXPECT_EQ(writesAtDialog, 8u);
  EXPECT_EQ(module->SlotEnds(), 1);
  EXPECT_EQ(windows->errorDialogs, std::vector<std::string>{"#024\r\nEEPROM verify failure."});
  const auto lines = status.Lines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[4], "INF:112-SLOT=0 PROGRESS=62%");
  EXPECT_EQ(lines[5], "ERR:024-EEPROM verify failure.");
}

TEST_F(DownloadSlotTest, AnyOtherStatusOrNoneIsACommunicationFailure) {
  const std::string failure =
      "ERR:025-Hardware communication failure.  Check serial cable and power supply.";
  const ModuleConfig faults[] = {
      {.type = 4, .reply = 0x87, .faultSlot = 0, .faultPacket = 0, .faultStatus = -1},
      {.type = 4, .reply = 0x87, .faultSlot = 0, .faultPacket = 1, .faultStatus = 1},
      {.type = 4, .reply = 0x87, .faultSlot = 0, .faultPacket = 2, .faultStatus = 255},
      {.type = 4, .reply = 0x87, .faultSlot = 0, .faultPacket = 1, .faultDrops = true},
  };
  testing::SetTestImage(4, {4});
  for (const ModuleConfig& config : faults) {
    testing::StatusCapture lines;
    const int port = Connect(config);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(DownloadSlot(4, 0, port));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(lines.Lines().back(), failure);
    EXPECT_EQ(module->Stored()[0].size(), static_cast<std::size_t>(config.faultPacket));
    SerialPool(port).Close();
  }
}

TEST_F(DownloadSlotTest, AClosedPortFailsAtTheFirstStatus) {
  testing::SetTestImage(3, {2});
  ProgressForm->Open(true, "");
  EXPECT_FALSE(DownloadSlot(3, 0, 0));
  EXPECT_EQ(status.Lines(),
            std::vector<std::string>{
                "ERR:025-Hardware communication failure.  Check serial cable and power supply."});
}

TEST_F(DownloadSlotTest, EmptySlotSendsHandshakeSlotByteAndZeroOnly) {
  testing::SetTestImage(5, {2, 0});
  const int port = Connect({.type = 5, .reply = 0x93});
  EXPECT_TRUE(DownloadSlot(5, 1, port));
  EXPECT_EQ(module->Writes(), (std::vector<std::vector<uint8_t>>{{0x91}, {0x01}, {0x00}}));
  EXPECT_EQ(module->SlotEnds(), 1);
  EXPECT_TRUE(status.Lines().empty());
}

TEST_F(DownloadSlotTest, TypeTwoGetsNoSlotByte) {
  testing::SetTestImage(2, {2});
  const int port = Connect({.type = 2, .reply = 0x10});
  EXPECT_TRUE(DownloadSlot(2, 0, port));
  EXPECT_EQ(module->Writes(),
            (std::vector<std::vector<uint8_t>>{
                {'K'}, {'V'}, {'Q'}, {0x00}, Packet(0, 0), Packet(0, 1), {0x00}}));
  EXPECT_EQ(module->Stored()[0], ImagePackets(0));
}

TEST_F(DownloadSlotTest, IndicatorBlinksAtMostEvery25Milliseconds) {
  testing::SetTestImage(3, {128, 1});
  const int port = Connect({.type = 3, .reply = 0x83});
  ASSERT_EQ(ProgressForm->TXStatus.FillColor, kDarkGreen);
  windows->indicatorColours.clear();
  // Every repaint takes a while, so the 128 packets span several 25 ms periods.
  windows->onRepaint = [](TProgressForm&) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  };
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(DownloadSlot(3, 0, port));
  const auto elapsed = std::chrono::steady_clock::now() - start;

  // The first repaint is the first packet's toggle.
  const auto& colours = windows->indicatorColours;
  ASSERT_FALSE(colours.empty());
  EXPECT_EQ(colours.front(), kBrightGreen);
  int toggles = 0;
  uint32_t previous = kDarkGreen;
  for (const uint32_t colour : colours) {
    toggles += colour != previous;
    previous = colour;
  }
  const auto allowed = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() / 25;
  EXPECT_GE(toggles, 2);
  EXPECT_LE(toggles, allowed + 1);

  // The next slot toggles again at its first packet, from where the last one left it.
  const uint32_t before = ProgressForm->TXStatus.FillColor;
  EXPECT_TRUE(DownloadSlot(3, 1, port));
  EXPECT_NE(ProgressForm->TXStatus.FillColor, before);
}

}  // namespace
}  // namespace downloader
