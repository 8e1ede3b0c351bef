#include "identify/scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <thread>

#include "run/run_state.h"

#include "identify/fake_module.h"
#include "serial/globals.h"
#include "support/run_process.h"
#include "ui/download_test_state.h"
#include "ui/forms.h"

namespace downloader {
namespace {

using testing::FakeModule;
using testing::FakePorts;
using testing::ModuleConfig;

class ScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    windows = &testing::ResetDownloaderState();
    testing::UseRunFlags(kNoPrompts);
  }
  void TearDown() override { SetWorkerStartHook(nullptr); }

  void UsePorts(int count) {
    PortList.clear();
    for (int i = 1; i <= count; ++i) PortList.push_back("COM" + std::to_string(i));
  }

  // Opens the window as the download does, then scans.
  void Scan(DeviceType target) {
    ProgressForm->Open(true, "");
    ScanPorts(target);
  }

  std::vector<std::string> SortedLines() const {
    auto lines = status.Lines();
    std::sort(lines.begin(), lines.end());
    return lines;
  }

  const std::string& Cell(int col, int row) const {
    return ProgressForm->PortStatus.Cell(col, row);
  }

  testing::FakeWindowSystem* windows = nullptr;
  FakePorts ports;
  testing::StatusCapture status;
};

TEST_F(ScanTest, EveryPortGetsItsRowAndItsLine) {
  ports.Attach("COM1", {.type = 2, .reply = 0x10, .loopback = true});
  ports.Attach("COM2", {.type = 0});
  ports.FailOpen("COM4", kErrorAccessDenied);  // COM3 is not mapped at all
  Scan(3);

  EXPECT_EQ(SortedLines(), (std::vector<std::string>{
                               "INF:111-PORT=COM1 DEVICE=Korvanetics B VERSION=v1.0 "
                               "LOOPBACK=Yes ECHO=Yes",
                               "INF:111-PORT=COM2 DEVICE=none VERSION=n/a LOOPBACK=No ECHO=No",
                               "INF:111-PORT=COM3 DEVICE=invalid port VERSION=n/a "
                               "LOOPBACK=n/a ECHO=n/a",
                               "INF:111-PORT=COM4 DEVICE=can't open port; in use VERSION=n/a "
                               "LOOPBACK=n/a ECHO=n/a",
                           }));
  // A 111 line carries no EOT.
  EXPECT_NE(status.Bytes().find(testing::StatusLine(
                "INF:", "111-PORT=COM2 DEVICE=none VERSION=n/a LOOPBACK=No ECHO=No", false)),
            std::string::npos)
      << testing::Visible(status.Bytes());

  const std::vector<std::vector<std::string>> rows = {
      {"COM1:", "Korvanetics B", "v1.0", "Yes", "Yes", "2"},
      {"COM2:", "", "", "No", "No", "0"},
      {"COM3:", "invalid port", "", "", "", "0"},
      {"COM4:", "can't open port; in use", "", "", "", "0"},
  };
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 6; ++c) EXPECT_EQ(Cell(c, r + 1), rows[r][c]) << c << "," << r + 1;
  }
  EXPECT_EQ(BusyMask, 0u);
  EXPECT_FALSE(ProgressForm->ScanningText.Visible);
  EXPECT_FALSE(windows->busyCursor);
}

TEST_F(ScanTest, SelectedPortAloneIsProbed) {
  for (const char* name : {"COM1", "COM2", "COM3", "COM4"}) ports.Attach(name, {.type = 0});
  SelectedPort = "COM3";
  Scan(3);
  EXPECT_EQ(ports.OpenAttempts(), std::vector<std::string>{"COM3"});
  EXPECT_EQ(status.Lines(), std::vector<std::string>{
                                "INF:111-PORT=COM3 DEVICE=none VERSION=n/a LOOPBACK=No ECHO=No"});
  for (const int row : {1, 2, 4}) {
    EXPECT_EQ(Cell(1, row), "ignoring");
    EXPECT_EQ(Cell(5, row), "");
  }
}

TEST_F(ScanTest, TargetTypeIsProbedFirst) {
  // Echoes everything and answers nothing: all five types are tried.
  auto echoer = ports.Attach("COM1", {.type = -1});
  SelectedPort = "COM1";
  Scan(5);
  EXPECT_EQ(echoer->FirstBytesAfterResets(), (std::vector<uint8_t>{0x91, 0x83, 0x87, 'K', 0x99}));
  EXPECT_EQ(status.Lines(), std::vector<std::string>{
                                "INF:111-PORT=COM1 DEVICE=none VERSION=n/a LOOPBACK=No ECHO=Yes"});
  EXPECT_EQ(Cell(4, 1), "Yes");
  EXPECT_EQ(Cell(5, 1), "0");

  // The first identification ends the probing.
  auto typeFour = ports.Attach("COM1", {.type = 4, .reply = 0x88});
  Scan(5);
  EXPECT_EQ(typeFour->FirstBytesAfterResets(), (std::vector<uint8_t>{0x91, 0x83, 0x87}));
  EXPECT_EQ(Cell(5, 1), "4");

  // Target 1 takes type 2's place, so a type 2 module is never found.
  auto typeTwo = ports.Attach("COM1", {.type = 2, .reply = 0x10});
  Scan(1);
  EXPECT_EQ(typeTwo->Resets(), 5);  // type 1 resets the module and sends nothing
  EXPECT_EQ(typeTwo->FirstBytesAfterResets(), (std::vector<uint8_t>{0x83, 0x87, 0x91, 0x99}));
  EXPECT_EQ(Cell(5, 1), "0");
}

TEST_F(ScanTest, CustomProductDropsTheVersionPart) {
  testing::SetTestImage(3, {1}, "Acme Widget");
  CustomProduct = true;
  DeviceNames[3] = "Acme Widget";
  ports.Attach("COM1", {.type = 3, .reply = 0x83});
  ports.Attach("COM2", {.type = 5, .reply = 0xB2});
  ports.Attach("COM3", {.type = 4, .reply = 0x87});
  UsePorts(3);
  Scan(3);
  EXPECT_EQ(SortedLines(), (std::vector<std::string>{
                               "INF:111-PORT=COM1 DEVICE=Acme Widget LOOPBACK=No ECHO=Yes",
                               "INF:111-PORT=COM2 DEVICE=24 LOOPBACK=No ECHO=Yes",
                               "INF:111-PORT=COM3 DEVICE=none LOOPBACK=No ECHO=Yes",
                           }));
  EXPECT_EQ(Cell(2, 2), "v1.1");  // the cell keeps the version
}

TEST_F(ScanTest, LoopbackNeedsDsrToFollowRts) {
  ports.Attach("COM1", {.type = 0, .loopback = true});
  ports.Attach("COM2", {.type = 0, .dsrAlwaysOn = true});
  UsePorts(2);
  Scan(3);
  EXPECT_EQ(Cell(3, 1), "Yes");
  EXPECT_EQ(Cell(3, 2), "No");
}

TEST_F(ScanTest, TenPortsAtMostFourAtOnce) {
  UsePorts(10);
  for (const auto& name : PortList) {
    ports.Attach(name, {.type = 0, .emptyReadWait = std::chrono::milliseconds(40)});
  }
  Scan(3);
  EXPECT_EQ(ports.MaxOpenAtOnce(), 4);
  EXPECT_EQ(status.Lines().size(), 10u);
  for (int row = 1; row <= 10; ++row) EXPECT_EQ(Cell(4, row), "No") << row;
  EXPECT_EQ(BusyMask, 0u);
}

TEST_F(ScanTest, PortsMissingAtOnceAllReadInvalidPort) {
  // A failed open frees its pool slot for the next worker at once; the error code must
  // still be the failed open's own.
  UsePorts(12);
  for (int round = 0; round < 5; ++round) {
    Scan(3);
    for (int row = 1; row <= 12; ++row) EXPECT_EQ(Cell(1, row), "invalid port") << row;
  }
}

TEST_F(ScanTest, FifthWorkerWaitsForAFreeSlotAndTakesIt) {
  UsePorts(5);
  std::vector<std::shared_ptr<FakeModule>> modules;
  for (const auto& name : PortList) {
    modules.push_back(ports.Attach(name, {.type = 3, .reply = 0x83}));
    modules.back()->HoldWrites();
  }
  std::vector<std::pair<int, int>> starts;
  SetWorkerStartHook([&](int slot, int port) { starts.emplace_back(slot, port); });

  bool fifthStartedEarly = false;
  std::thread controller([&] {
    const auto waitFor = [](const std::function<bool()>& done) {
      for (int i = 0; i < 500 && !done(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    };
    waitFor([&] {
      return modules[0]->WritesStarted() && modules[1]->WritesStarted() &&
             modules[2]->WritesStarted() && modules[3]->WritesStarted();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    fifthStartedEarly = modules[4]->Opens() > 0;
    modules[2]->ReleaseWrites();  // COM3, in thread slot 3, finishes first
    waitFor([&] { return modules[4]->WritesStarted() > 0; });
    for (auto& module : modules) module->ReleaseWrites();
  });
  Scan(3);
  controller.join();

  EXPECT_FALSE(fifthStartedEarly);
  EXPECT_EQ(starts, (std::vector<std::pair<int, int>>{{1, 0}, {2, 1}, {3, 2}, {4, 3}, {3, 4}}));
  EXPECT_EQ(status.Lines().size(), 5u);
  EXPECT_EQ(status.Lines()[0].rfind("INF:111-PORT=COM3 ", 0), 0u);
}

TEST_F(ScanTest, ReportedRowIsScrolledIntoView) {
  UsePorts(10);
  SelectedPort = "COM9";
  Scan(3);
  EXPECT_EQ(ProgressForm->PortStatus.TopRow(), 4);  // row 9 the last of six
  SelectedPort = "COM2";
  Scan(3);
  EXPECT_EQ(ProgressForm->PortStatus.TopRow(), 2);
  SelectedPort = "COM5";
  Scan(3);
  EXPECT_EQ(ProgressForm->PortStatus.TopRow(), 2);  // already visible
}

TEST(ProbeOrder, TargetSwapsWithTypeTwo) {
  using Order = std::array<DeviceType, 5>;
  EXPECT_EQ(ProbeOrder(5), (Order{5, 3, 4, 2, 6}));
  EXPECT_EQ(ProbeOrder(2), (Order{2, 3, 4, 5, 6}));
  EXPECT_EQ(ProbeOrder(6), (Order{6, 3, 4, 5, 2}));
  EXPECT_EQ(ProbeOrder(1), (Order{1, 3, 4, 5, 6}));
  EXPECT_EQ(ProbeOrder(0), (Order{2, 3, 4, 5, 6}));
  EXPECT_EQ(ProbeOrder(7), (Order{2, 3, 4, 5, 6}));
  EXPECT_EQ(ProbeOrder(255), (Order{2, 3, 4, 5, 6}));
}

}  // namespace
}  // namespace downloader
