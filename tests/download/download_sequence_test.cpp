#include <gtest/gtest.h>

#include <algorithm>

#include "download/download.h"
#include "identify/fake_module.h"
#include "image/object_image.h"
#include "run/run_state.h"
#include "serial/globals.h"
#include "serial/pool.h"
#include "support/run_process.h"
#include "ui/download_test_state.h"
#include "ui/forms.h"

namespace downloader {
namespace {

using testing::FakeModule;
using testing::ModuleConfig;

const std::string kLine104 = "EVT:104-Downloading to COM1.";
const std::string kLine044 = "EVT:044-Download successful!";
const std::string kLine025 =
    "ERR:025-Hardware communication failure.  Check serial cable and power supply.";

// Whole downloads with every port faked: COM1 carries the module unless a test says
// otherwise; COM2..COM4 do not exist.
class DownloadSequenceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    windows = &testing::ResetDownloaderState();
    testing::UseRunFlags(kNoPrompts | kUpdates);
  }

  // The lines after the scan's 111 lines.
  std::vector<std::string> LinesAfterScan() const {
    auto lines = status.Lines();
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [](const std::string& l) { return l.rfind("INF:111-", 0) == 0; }),
                lines.end());
    return lines;
  }

  std::vector<std::string> ScanLines() const {
    std::vector<std::string> lines;
    for (const auto& l : status.Lines()) {
      if (l.rfind("INF:111-", 0) == 0) lines.push_back(l);
    }
    std::sort(lines.begin(), lines.end());
    return lines;
  }

  std::vector<std::array<uint8_t, 18>> ImagePackets(int slot) const {
    std::vector<std::array<uint8_t, 18>> packets;
    const auto s = static_cast<std::size_t>(slot);
    for (std::size_t k = 0; k < ImageBuffer.PacketCount(s); ++k) {
      std::array<uint8_t, 18> packet;
      std::copy_n(ImageBuffer.Packet(s, k), 18, packet.begin());
      packets.push_back(packet);
    }
    return packets;
  }

  bool AnyPoolPortOpen() const {
    for (int slot = -3; slot <= 0; ++slot) {
      if (SerialPool(slot).IsOpen) return true;
    }
    return false;
  }

  testing::FakeWindowSystem* windows = nullptr;
  testing::FakePorts ports;
  testing::StatusCapture status;
};

TEST_F(DownloadSequenceTest, EveryTypeReceivesTheWholeImage) {
  const std::pair<int, int> modules[] = {{2, 0x10}, {3, 0x84}, {4, 0x83 + 4}, {5, 0xB3}, {6, 0x99}};
  for (const auto& [type, reply] : modules) {
    SCOPED_TRACE(type);
    testing::StatusCapture lines;
    testing::SetTestImage(static_cast<uint8_t>(type), {2, 1});
    auto module = ports.Attach("COM1", {.type = type, .reply = reply});
    DownloadToDevice();

    std::vector<std::string> expected = {kLine104, "INF:112-SLOT=0 PROGRESS=50%",
                                         "INF:112-SLOT=0 PROGRESS=100%",
                                         "INF:112-SLOT=1 PROGRESS=100%", kLine044};
    auto got = lines.Lines();
    ASSERT_EQ(got.size(), 9u);
    std::sort(got.begin(), got.begin() + 4);
    EXPECT_EQ(got[1], "INF:111-PORT=COM2 DEVICE=invalid port VERSION=n/a LOOPBACK=n/a ECHO=n/a");
    EXPECT_EQ(std::vector<std::string>(got.begin() + 4, got.end()), expected);
    const std::string bytes = lines.Bytes();
    EXPECT_EQ(bytes.substr(bytes.size() - 32),
              testing::StatusLine("EVT:", "044-Download successful!", true));

    EXPECT_EQ(module->Stored()[0], ImagePackets(0));
    EXPECT_EQ(module->Stored()[1], ImagePackets(1));
    EXPECT_EQ(module->SlotEnds(), 2);
    EXPECT_FALSE(AnyPoolPortOpen());
    EXPECT_FALSE(CustomProduct);
  }
  EXPECT_TRUE(windows->messageBoxes.empty());
  EXPECT_EQ(windows->shows, 0);
  EXPECT_FALSE(windows->busyCursor);
}

TEST_F(DownloadSequenceTest, WithPromptsSuccessShowsTheBox) {
  testing::UseRunFlags(0);
  testing::SetTestImage(3, {1});
  ports.Attach("COM1", {.type = 3, .reply = 0x83});
  DownloadToDevice();
  EXPECT_EQ(LinesAfterScan(), (std::vector<std::string>{kLine104, kLine044}));
  EXPECT_EQ(windows->messageBoxes, std::vector<std::string>{"Download successful!"});
  EXPECT_GE(windows->foregrounds, 1);
  EXPECT_EQ(windows->shows, 1);
  EXPECT_EQ(windows->closes, 1);
  EXPECT_FALSE(windows->busyCursor);
}

TEST_F(DownloadSequenceTest, RejectedVersionsNameTheCompany) {
  testing::SetTestImage(5, {1}, "", "Acme");
  auto module = ports.Attach("COM1", {.type = 5, .reply = 0x92});  // v1.1
  DownloadToDevice();
  EXPECT_EQ(LinesAfterScan(),
            (std::vector<std::string>{kLine104,
                                      "ERR:021-Can not download to this version of the device.  "
                                      "Contact Acme for updated software."}));
  EXPECT_EQ(module->Opens(), 1);  // the scan's only
  EXPECT_TRUE(module->Stored().empty());
  EXPECT_TRUE(ProgressForm->TXStatus.Visible);  // placed before the gate
  EXPECT_EQ(ProgressForm->TXStatus.Top, 27 + 25);

  testing::StatusCapture second;
  testing::SetTestImage(3, {1});
  ports.Attach("COM1", {.type = 3, .reply = 0x85});  // v1.2
  DownloadToDevice();
  EXPECT_EQ(second.Lines().back(), "ERR:022-Can not download to this version of the device.");
}

TEST_F(DownloadSequenceTest, IndicatorSitsBesideAScrolledTargetRow) {
  for (int n = 5; n <= 10; ++n) PortList.push_back("COM" + std::to_string(n));
  testing::SetTestImage(3, {1});
  ports.Attach("COM9", {.type = 3, .reply = 0x83});
  SelectedPort = "COM9";  // as with /COM9: the other rows read "ignoring"
  int indicatorTop = 0;
  windows->onRepaint = [&](TProgressForm& form) {
    if (form.TXStatus.Visible) indicatorTop = form.TXStatus.Top;
  };
  DownloadToDevice();
  EXPECT_EQ(ProgressForm->PortStatus.TopRow(), 4);
  EXPECT_EQ(indicatorTop, 27 + 25 + 19 * (9 - 4));
  EXPECT_EQ(ProgressForm->PortStatus.Cell(1, 10), "ignoring");
  EXPECT_EQ(status.Lines().front(),
            "INF:111-PORT=COM9 DEVICE=Korvanetics C VERSION=v1.0 LOOPBACK=No ECHO=Yes");
  EXPECT_EQ(LinesAfterScan().back(), kLine044);
}

TEST_F(DownloadSequenceTest, FailedSlotEndsTheDownload) {
  testing::SetTestImage(3, {8, 8, 8});
  auto module = ports.Attach(
      "COM1", {.type = 3, .reply = 0x83, .faultSlot = 1, .faultPacket = 5, .faultStatus = 2});
  DownloadToDevice();
  const auto lines = LinesAfterScan();
  EXPECT_EQ(lines.front(), kLine104);
  EXPECT_EQ(lines.back(), "ERR:024-EEPROM verify failure.");
  EXPECT_EQ(std::count(lines.begin(), lines.end(), kLine044), 0);
  EXPECT_EQ(module->SlotBytes(), (std::vector<int>{0, 1}));  // slot 2 never sent
  EXPECT_EQ(module->Stored()[0], ImagePackets(0));
  EXPECT_EQ(module->Stored()[1].size(), 5u);
  EXPECT_FALSE(AnyPoolPortOpen());
  EXPECT_EQ(windows->closes, 1);
}

TEST_F(DownloadSequenceTest, PortLostAfterTheScanIsACommunicationFailure) {
  testing::SetTestImage(3, {1});
  ports.Attach("COM1", {.type = 3, .reply = 0x83, .refuseOpensAfter = 1});
  DownloadToDevice();
  EXPECT_EQ(LinesAfterScan(), (std::vector<std::string>{kLine104, kLine025}));
  EXPECT_EQ(windows->closes, 1);
}

TEST_F(DownloadSequenceTest, ImageWithoutSlotsEndsSilently) {
  testing::UseRunFlags(0);
  testing::SetTestImage(3, {}, "Acme Widget");
  DownloadToDevice();
  EXPECT_EQ(status.Bytes(), "");
  EXPECT_TRUE(ports.OpenAttempts().empty());
  EXPECT_EQ(windows->shows, 0);
  EXPECT_FALSE(windows->busyCursor);
  EXPECT_TRUE(CustomProduct);  // the product rule comes first
  EXPECT_EQ(DeviceNames[3], "Acme Widget");
}

TEST_F(DownloadSequenceTest, OwnProductNameHidesVersionsForTheRestOfTheRun) {
  testing::SetTestImage(3, {1}, "Acme Widget");
  ports.Attach("COM1", {.type = 3, .reply = 0x83});
  ports.Attach("COM2", {.type = 5, .reply = 0x91});
  DownloadToDevice();
  EXPECT_TRUE(CustomProduct);
  EXPECT_EQ(ScanLines(), (std::vector<std::string>{
                             "INF:111-PORT=COM1 DEVICE=Acme Widget LOOPBACK=No ECHO=Yes",
                             "INF:111-PORT=COM2 DEVICE=40 LOOPBACK=No ECHO=Yes",
                             "INF:111-PORT=COM3 DEVICE=invalid port LOOPBACK=n/a ECHO=n/a",
                             "INF:111-PORT=COM4 DEVICE=invalid port LOOPBACK=n/a ECHO=n/a",
                         }));
  EXPECT_EQ(LinesAfterScan().back(), kLine044);

  // A standard image later in the run still runs with the product rule in force.
  testing::StatusCapture later;
  testing::SetTestImage(4, {1});
  DownloadToDevice();
  EXPECT_TRUE(CustomProduct);
  EXPECT_EQ(later.Lines().back(), "ERR:023-No Korvanetics D found.");
  for (const auto& line : later.Lines()) EXPECT_EQ(line.find("VERSION="), std::string::npos);
}

TEST_F(DownloadSequenceTest, TwoModulesUnderNoPromptsDownloadNothing) {
  testing::SetTestImage(3, {1});
  auto first = ports.Attach("COM1", {.type = 3, .reply = 0x83});
  auto second = ports.Attach("COM3", {.type = 3, .reply = 0x83});
  DownloadToDevice();
  EXPECT_EQ(LinesAfterScan(),
            std::vector<std::string>{
                "ERR:026-Duplicate devices found.  Select COM port of desired unit."});
  EXPECT_TRUE(first->Stored().empty());
  EXPECT_TRUE(second->Stored().empty());
}

TEST_F(DownloadSequenceTest, TargetTypesOutsideTheTablesEndWithoutDownloading) {
  // Image validation refuses these; the download itself still stays inside its tables.
  auto module = ports.Attach("COM1", {.type = 3, .reply = 0x83});
  for (const uint8_t target : {0, 7, 255}) {
    SCOPED_TRACE(static_cast<int>(target));
    testing::StatusCapture lines;
    testing::SetTestImage(target, {1}, "Odd");
    DownloadToDevice();
    ASSERT_FALSE(lines.Lines().empty());
    EXPECT_EQ(lines.Lines().back().rfind("ERR:02", 0), 0u);
  }
  EXPECT_TRUE(module->Stored().empty());
  EXPECT_EQ(DeviceNames[3], "Korvanetics C");
}

TEST(VersionGate, SecondAndFourthCharactersMakeTheNumber) {
  EXPECT_EQ(VersionNumber("v1.3"), 13);
  EXPECT_EQ(VersionNumber("v1.25"), 12);
  EXPECT_EQ(VersionNumber("v2.A"), 2);
  EXPECT_EQ(VersionNumber("v1."), 1);  // short cells read what is there
  EXPECT_EQ(VersionNumber("v"), 0);
  EXPECT_EQ(VersionNumber(""), 0);

  EXPECT_FALSE(VersionAccepted(5, "v1.1"));
  EXPECT_TRUE(VersionAccepted(5, "v1.2"));
  EXPECT_TRUE(VersionAccepted(5, "v1.3"));
  EXPECT_TRUE(VersionAccepted(3, "v1.0"));
  EXPECT_TRUE(VersionAccepted(3, "v1.1"));
  EXPECT_FALSE(VersionAccepted(3, "v1.2"));
  EXPECT_TRUE(VersionAccepted(2, "v1.0"));
  EXPECT_FALSE(VersionAccepted(2, "vF.F"));
  EXPECT_FALSE(VersionAccepted(6, "v1.1"));
  EXPECT_FALSE(VersionAccepted(7, "v1.0"));
}

TEST(VersionGate, RejectionTextIsBounded) {
  EXPECT_EQ(VersionRejectedText(""), "022-Can not download to this version of the device.");
  EXPECT_EQ(VersionRejectedText("Acme"),
            "021-Can not download to this version of the device.  Contact Acme for updated "
            "software.");
  const std::string fifty(50, 'c');
  EXPECT_EQ(VersionRejectedText(fifty).size(), 61u + 50u + 22u);
  const std::string longName(255, 'c');
  const std::string text = VersionRejectedText(longName);
  EXPECT_EQ(text.size(), 133u);
  EXPECT_EQ(text.substr(0, 111), (std::string(kMsgNotAccepted) + longName).substr(0, 111));
  EXPECT_EQ(text.substr(111), " for updated software.");
}

}  // namespace
}  // namespace downloader
