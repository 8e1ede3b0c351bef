// TSerial and the port pool: the contract with a scripted device, then the real thing
// against module-emulator over RFC 2217.

#include "serial/serial.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <mutex>
#include <thread>

#include "fake_device.h"
#include "run/helpers.h"
#include "run/run_state.h"
#include "serial/globals.h"
#include "serial/hints.h"
#include "serial/pool.h"
#include "serial/port_lock.h"
#include "support/emulator_fixture.h"
#include "support/fake_windows.h"
#include "ui/message_loop.h"

namespace downloader {
namespace {

using namespace std::chrono_literals;
using testing::FakeDeviceState;
using testing::FakeOpener;
using testing::FakeWindowSystem;
using testing::InstallFakeWindows;
using testing::ModuleEmulator;
using testing::ScopedEnv;

using Clock = std::chrono::steady_clock;
using Timeouts = std::array<uint32_t, 5>;
constexpr uint32_t kMaxDword = 0xFFFFFFFF;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

bool Open(TSerial& port, const std::string& name, bool showErrors = false,
          const std::string& parity = "None") {
  return port.OpenPort(name, "9600", parity, "8", "Off", showErrors);
}

// The reset pulse of the identification probe.
void ResetPulse(TSerial& port) {
  port.SetDTR(true);
  port.SetBreak(true);
  Delay(2);
  port.SetDTR(false);
  Delay(50);
  port.SetBreak(false);
  Delay(2);
  port.ReadBlock(0, 0);
}

// The port scan's loopback test.
std::string LoopbackTest(TSerial& port) {
  port.SetRTS(false);
  Delay(2);
  std::string loopback = "No";
  if ((port.ModemStatus() & kModemStatusDsr) == 0) {
    port.SetRTS(true);
    Delay(2);
    if (port.ModemStatus() & kModemStatusDsr) loopback = "Yes";
    port.SetRTS(false);
  }
  return loopback;
}

// ---------------------------------------------------------------------------------------
// The contract, on a scripted device.

class TSerialContract : public ::testing::Test {
 protected:
  void SetUp() override {
    InitSerialUnit();
    MarkMainThread();
    windows_ = &InstallFakeWindows();
  }
  void TearDown() override { SetWindowSystem(nullptr); }

  std::shared_ptr<FakeDeviceState> state_ = std::make_shared<FakeDeviceState>();
  FakeWindowSystem* windows_ = nullptr;
};

TEST_F(TSerialContract, OpenConfiguresDropsTheLinesAndClearsTimeouts) {
  FakeOpener opener(state_);
  TSerial port;
  EXPECT_EQ(port.Handle, 0);
  port.Reserved = true;
  ASSERT_TRUE(Open(port, "COM1"));
  EXPECT_TRUE(port.IsOpen);
  EXPECT_FALSE(port.Reserved);
  EXPECT_EQ(port.PortName, "COM1");
  EXPECT_GT(port.Handle, 0);
  EXPECT_NE(port.Buffer, nullptr);
  EXPECT_EQ(port.Timeouts, (Timeouts{0, 0, 0, 0, 0}));
  ASSERT_TRUE(state_->settings);
  EXPECT_EQ(state_->settings->baudRate, 9600u);
  EXPECT_EQ(state_->settings->dataBits, 8);
  EXPECT_FALSE(state_->settings->evenParity);
  EXPECT_EQ(state_->calls, (std::vector<std::string>{"configure", "dtr 0", "rts 0"}));

  // A second open of an open object changes nothing.
  EXPECT_FALSE(Open(port, "COM2"));
  EXPECT_TRUE(port.IsOpen);
  EXPECT_EQ(port.PortName, "COM1");
  EXPECT_EQ(port.LastError, 0u);
  EXPECT_EQ(opener.opens(), 1);

  port.Close();
  EXPECT_FALSE(port.IsOpen);
  EXPECT_TRUE(state_->destroyed);
  EXPECT_EQ(port.PortName, "");
  EXPECT_EQ(port.Handle, -1);
  EXPECT_EQ(port.Buffer, nullptr);
  port.Close();  // harmless
  EXPECT_EQ(port.Handle, -1);
  ASSERT_TRUE(Open(port, "COM7"));
  EXPECT_EQ(port.PortName, "COM7");
}

TEST_F(TSerialContract, OnlyTheExactTextNoneMeansNoParity) {
  FakeOpener opener(state_);
  for (const auto& [text, even] : std::vector<std::pair<std::string, bool>>{
           {"None", false}, {"none", true}, {"NONE", true}, {"", true}, {"Even", true}}) {
    TSerial port;
    ASSERT_TRUE(Open(port, "COM1", false, text));
    EXPECT_EQ(state_->settings->evenParity, even) << "parity text '" << text << "'";
    port.Close();
  }
}

TEST_F(TSerialContract, NamesOverSixCharactersNeverReachTheSystem) {
  FakeOpener opener(state_, kErrorNotFound);
  TSerial port;
  EXPECT_FALSE(Open(port, "COM1234", true));
  EXPECT_EQ(opener.opens(), 0);
  EXPECT_EQ(port.LastError, 0u);
  EXPECT_TRUE(windows_->errorDialogs.empty());
  EXPECT_FALSE(Open(port, "COM99"));
  EXPECT_EQ(opener.opens(), 1);
  EXPECT_EQ(port.LastError, kErrorNotFound);
}

TEST_F(TSerialContract, FailedOpensGiveTheReasonOfTheirErrorCode) {
  const std::vector<std::pair<uint32_t, std::string>> cases = {
      {2, "Could not open port: COM3.  This port does not exist or is not configured properly."},
      {5,
       "Could not open port: COM3.  Access Denied.\r\nThis port may already be in use by "
       "another device."},
      {13, "Could not open port: COM3.  Reason is unknown."},
  };
  for (const auto& [error, text] : cases) {
    FakeOpener opener(state_, error);
    windows_->errorDialogs.clear();
    TSerial port;
    port.Reserved = true;
    EXPECT_FALSE(Open(port, "COM3", true));
    EXPECT_EQ(port.LastError, error);
    EXPECT_EQ(port.Handle, -1);
    EXPECT_FALSE(port.Reserved);
    EXPECT_EQ(windows_->errorDialogs, std::vector<std::string>{text});
    // Without ShowErrors the same failure is silent.
    windows_->errorDialogs.clear();
    EXPECT_FALSE(Open(port, "COM3", false));
    EXPECT_TRUE(windows_->errorDialogs.empty());
  }
}

TEST_F(TSerialContract, UnreadableStateEndsTheOpenAndLaterConfigureAlwaysReports) {
  FakeOpener opener(state_);
  state_->readStateOk = false;
  TSerial port;
  port.Reserved = true;
  EXPECT_FALSE(Open(port, "COM1", false));
  EXPECT_TRUE(windows_->errorDialogs.empty());
  EXPECT_FALSE(Open(port, "COM1", true));
  EXPECT_EQ(windows_->errorDialogs,
            std::vector<std::string>{"Unable to build data control block for serial port."});
  EXPECT_EQ(port.LastError, 0u);
  EXPECT_EQ(port.Handle, -1);
  EXPECT_FALSE(port.IsOpen);
  EXPECT_FALSE(port.Reserved);
  EXPECT_TRUE(state_->destroyed);

  state_->readStateOk = true;
  ASSERT_TRUE(Open(port, "COM1", false));
  windows_->errorDialogs.clear();
  state_->calls.clear();
  state_->readStateOk = false;
  port.Configure("19200", "None", "7", "Off");
  EXPECT_EQ(windows_->errorDialogs,
            std::vector<std::string>{"Unable to set configuration on serial port."});
  EXPECT_TRUE(state_->calls.empty());  // nothing changed, the lines included
  EXPECT_TRUE(port.IsOpen);
}

TEST_F(TSerialContract, EveryTransferRunsUnderItsOwnTimeouts) {
  FakeOpener opener(state_);
  TSerial port;
  ASSERT_TRUE(Open(port, "COM1"));
  state_->calls.clear();
  state_->input = {0x42};
  EXPECT_EQ(port.ReadByte(40), 0x42);
  EXPECT_EQ(port.Timeouts, (Timeouts{0, 0, 40, 0, 0}));
  EXPECT_EQ(port.ReadByte(40), -1);
  EXPECT_TRUE(port.WriteByte(7, 1000));
  EXPECT_EQ(port.Timeouts, (Timeouts{0, 0, 0, 0, 1000}));
  const uint8_t packet[18] = {};
  EXPECT_TRUE(port.WriteBuffer(packet, 18, 1000));
  state_->input = {1, 2, 3};
  EXPECT_EQ(port.ReadBlock(18, 1000), 3);
  EXPECT_EQ(port.Timeouts, (Timeouts{0, 0, 1000, 0, 0}));
  EXPECT_EQ(port.ReadBlock(4096, 5), 0);
  EXPECT_EQ(port.ReadByte(0), -1);  // 0 returns at once, never waits forever
  EXPECT_EQ(state_->calls,
            (std::vector<std::string>{"read 1 40", "read 1 40", "write 1 1000", "write 18 1000",
                                      "read 18 1000", "read 4096 5", "read 1 0"}));

  // Any count outside 1..4,096 drains, under the return-at-once timeouts.
  for (int count : {0, 4097, -1}) {
    state_->calls.clear();
    state_->input = {9, 9};
    port.LastError = 77;
    EXPECT_EQ(port.ReadBlock(count, 1000), 2) << count;
    EXPECT_EQ(state_->calls, std::vector<std::string>{"drain"});
    EXPECT_EQ(port.Timeouts, (Timeouts{kMaxDword, 0, 0, 0, 0}));
    EXPECT_EQ(port.LastError, 0u);
  }
}

TEST_F(TSerialContract, AClosedPortAnswersAtOnce) {
  FakeOpener opener(state_);
  TSerial port;
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(port.ReadByte(40), 1000);
    EXPECT_EQ(port.ReadBlock(1, 40), -1);
    EXPECT_EQ(port.ReadBlock(0, 0), -1);
    EXPECT_FALSE(port.WriteByte(0, 1000));
    const uint8_t b = 0;
    EXPECT_FALSE(port.WriteBuffer(&b, 1, 1000));
    EXPECT_EQ(port.ModemStatus(), 0u);
    port.SetDTR(true);
    port.SetRTS(true);
    port.SetBreak(true);
    ASSERT_TRUE(Open(port, "COM1"));
    state_->modemStatus = 0x30;
    EXPECT_EQ(port.ModemStatus(), 0x30u);
    port.Close();
  }
  EXPECT_EQ(opener.opens(), 2);
}

// ---------------------------------------------------------------------------------------
// Over RFC 2217, against module-emulator.

class SerialOverNetwork : public ::testing::Test {
 protected:
  void SetUp() override {
    InitSerialUnit();
    SetHintSink([this](const std::string& line) {
      std::lock_guard lock(hintsMutex_);
      hints_.push_back(line);
    });
  }
  void TearDown() override {
    ResetSerialPool();
    SetHintSink(nullptr);
  }
  std::vector<std::string> Hints() {
    std::lock_guard lock(hintsMutex_);
    return hints_;
  }

  std::mutex hintsMutex_;
  std::vector<std::string> hints_;
};

TEST_F(SerialOverNetwork, OpenIdentifyCloseAndReopen) {
  ModuleEmulator emulator({"type=3,version=1.1", "type=2,version=2.A"});
  ScopedEnv ports("DOWNLOADER_PORTS", emulator.PortMapDir());
  TSerial port;
  for (const char* name : {"COM1", "COM1", "COM2"}) {
    ASSERT_TRUE(Open(port, name)) << name << " error " << port.LastError;
    EXPECT_EQ(port.PortName, name);
    ResetPulse(port);
    if (std::string(name) == "COM1") {
      EXPECT_TRUE(port.WriteByte(0x83, 1000));
      EXPECT_EQ(port.ReadByte(40), 0x83);
      EXPECT_EQ(port.ReadByte(40), 0x84);
    } else {
      for (uint8_t b : {'K', 'V', 'Q'}) {
        EXPECT_TRUE(port.WriteByte(b, 1000));
        EXPECT_EQ(port.ReadByte(40), b);
        EXPECT_EQ(port.ReadByte(40), 256 - b);
      }
      EXPECT_TRUE(port.WriteByte(0, 1000));
      EXPECT_EQ(port.ReadBlock(1, 40), 1);
      EXPECT_EQ(port.ReadByte(40), 0x2A);
    }
    // Nothing more comes: a read times out after its timeout, not before.
    const auto start = Clock::now();
    EXPECT_EQ(port.ReadByte(40), -1);
    EXPECT_GE(MsSince(start), 39);
    EXPECT_LT(MsSince(start), 1000);
    port.Close();
    EXPECT_EQ(port.ReadByte(40), 1000);
  }
  const auto dump = emulator.Stop();
  EXPECT_EQ(dump.Com(1).connections, 2);
  EXPECT_EQ(dump.Com(1).resets, 2);
  EXPECT_EQ(dump.Com(2).resets, 1);
  EXPECT_EQ(dump.Com(1).settings,
            (std::map<std::string, int>{
                {"baud", 9600}, {"datasize", 8}, {"parity", 1}, {"stopsize", 1}}));
}

TEST_F(SerialOverNetwork, OpenDropsDtrAndRtsAndTheResetPulseReachesTheModule) {
  ModuleEmulator emulator({"type=4"});
  ScopedEnv ports("DOWNLOADER_PORTS", emulator.PortMapDir());
  TSerial port;
  ASSERT_TRUE(Open(port, "COM1", false, "none"));
  ResetPulse(port);
  port.Close();
  const auto dump = emulator.Stop();
  EXPECT_EQ(dump.Com(1).controls,
            (std::vector<std::string>{"dtr=0", "rts=0", "dtr=1", "break=1", "dtr=0", "break=0"}));
  EXPECT_EQ(dump.Com(1).resets, 1);
  EXPECT_EQ(dump.Com(1).settings.at("parity"), 3);  // even: only "None" means none
}

TEST_F(SerialOverNetwork, PoolHandsOutSlotsZeroToMinusThreeThenNone) {
  ModuleEmulator emulator({"type=2", "type=3", "type=4", "type=5", "type=6"});
  ScopedEnv ports("DOWNLOADER_PORTS", emulator.PortMapDir());
  uint32_t error = 99;
  EXPECT_EQ(AcquirePort("COM1", error), 0);
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(AcquirePort("COM2", error), -1);
  EXPECT_EQ(AcquirePort("COM3", error), -2);
  EXPECT_EQ(AcquirePort("COM4", error), -3);
  error = 99;
  EXPECT_EQ(AcquirePort("COM5", error), kNoPort);
  EXPECT_EQ(error, 0u);
  for (int slot = 0; slot >= -3; --slot) {
    EXPECT_EQ(SerialPool(slot).PortName, "COM" + std::to_string(1 - slot));
    EXPECT_FALSE(SerialPool(slot).Reserved);
  }
  // The slot a Close frees is the next one taken, slot 0 staying open.
  SerialPool(-1).Close();
  EXPECT_EQ(AcquirePort("COM5", error), -1);
  EXPECT_EQ(SerialPool(-1).PortName, "COM5");
  SerialPool(0).Close();
  SerialPool(-2).Close();
  EXPECT_EQ(AcquirePort("COM1", error), 0);
}

TEST_F(SerialOverNetwork, ANameWithoutMapEntryDoesNotExist) {
  ModuleEmulator emulator({"type=3"});
  ScopedEnv ports("DOWNLOADER_PORTS", emulator.PortMapDir());
  uint32_t error = 0;
  EXPECT_EQ(AcquirePort("COM9", error), kNoPort);
  EXPECT_EQ(error, kErrorNotFound);
  EXPECT_FALSE(SerialPool(0).IsOpen);
  EXPECT_FALSE(SerialPool(0).Reserved);
  EXPECT_EQ(AcquirePort("COM1", error), 0);
}

TEST_F(SerialOverNetwork, APortHeldByAnotherProcessIsInUse) {
  ModuleEmulator emulator({"type=3"});
  ScopedEnv ports("DOWNLOADER_PORTS", emulator.PortMapDir());
  {
    testing::ChildProcess holder(PORT_HOLDER, {"port", "COM1"}, emulator.Environment());
    ASSERT_EQ(holder.ReadLine(5s), "held");
    uint32_t error = 0;
    EXPECT_EQ(AcquirePort("COM1", error), kNoPort);
    EXPECT_EQ(error, kErrorAccessDenied);
    const auto hints = Hints();
    ASSERT_EQ(hints.size(), 1u);
    EXPECT_NE(hints[0].find("COM1"), std::string::npos) << hints[0];
    EXPECT_NE(hints[0].find("process " + std::to_string(holder.pid())), std::string::npos)
        << hints[0];
    holder.CloseStdin();
    EXPECT_EQ(holder.Wait(5s), 0);
  }
  uint32_t error = 0;
  EXPECT_EQ(AcquirePort("COM1", error), 0) << error;
}

TEST_F(SerialOverNetwork, OnlyOneOfTwoOpenersInThisProcessGetsThePort) {
  ModuleEmulator emulator({"type=3"});
  ScopedEnv ports("DOWNLOADER_PORTS", emulator.PortMapDir());
  for (int round = 0; round < 5; ++round) {
    TSerial a, b;
    bool openedA = false, openedB = false;
    std::thread ta([&] { openedA = Open(a, "COM1"); });
    std::thread tb([&] { openedB = Open(b, "COM1"); });
    ta.join();
    tb.join();
    EXPECT_NE(openedA, openedB);
    EXPECT_EQ((openedA ? b : a).LastError, kErrorAccessDenied);
    a.Close();
    b.Close();
  }
}

TEST_F(SerialOverNetwork, AStaleLockIsTakenOverALiveOneIsNot) {
  ModuleEmulator emulator({"type=3"});
  ScopedEnv ports("DOWNLOADER_PORTS", emulator.PortMapDir());
  const std::string lockFile =
      LockDirectory() + "/LCK..rfc2217-127.0.0.1-" + std::to_string(emulator.Port(1).tcpPort);
  pid_t dead = 0;
  {
    testing::ChildProcess gone("/bin/true", {});
    dead = gone.pid();
    gone.Wait(5s);
  }
  testing::ChildProcess alive("/bin/sleep", {"10"});
  // A lock file naming this process without its flock is left from an earlier process.
  for (const pid_t holder : {alive.pid(), dead, getpid()}) {
    std::ofstream(lockFile) << "      " << holder << "\n";
    TSerial port;
    const bool opened = Open(port, "COM1");
    EXPECT_EQ(opened, holder != alive.pid()) << "lock of " << holder;
    if (opened) {
      std::string text;
      std::getline(std::ifstream(lockFile), text);
      EXPECT_EQ(std::stoi(text), getpid());
      port.Close();
      EXPECT_FALSE(std::ifstream(lockFile).good()) << "the lock file stays after Close";
    } else {
      EXPECT_EQ(port.LastError, kErrorAccessDenied);
      ::unlink(lockFile.c_str());
    }
  }
}

TEST_F(SerialOverNetwork, BlockReadsAndDrains) {
  ModuleEmulator emulator({"type=3"});
  ScopedEnv ports("DOWNLOADER_PORTS", emulator.PortMapDir());
  TSerial port;
  ASSERT_TRUE(Open(port, "COM1"));
  const uint8_t bytes[] = {1, 2, 3, 0xFF, 5};
  // ReadBlock(4,096) reads what came within its timeout.
  ASSERT_TRUE(port.WriteBuffer(bytes, 3, 1000));
  EXPECT_EQ(port.ReadBlock(4096, 100), 3);
  EXPECT_EQ(port.Buffer->at(2), 3);
  // Every other count drains, and says how much it threw away.
  for (int count : {4097, 0, -5}) {
    ASSERT_TRUE(port.WriteBuffer(bytes, 5, 1000));
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(port.ReadBlock(count, 0), 5) << count;
    EXPECT_EQ(port.ReadBlock(count, 0), 0) << count;
  }
}

TEST_F(SerialOverNetwork, TheDrainEndsAgainstAPeerThatNeverStopsSending) {
  ModuleEmulator emulator({"type=3,chatter"});
  ScopedEnv ports("DOWNLOADER_PORTS", emulator.PortMapDir());
  TSerial port;
  ASSERT_TRUE(Open(port, "COM1"));
  for (int round = 0; round < 3; ++round) {
    std::this_thread::sleep_for(10ms);
    const auto start = Clock::now();
    EXPECT_GT(port.ReadBlock(0, 0), 0);
    EXPECT_LT(MsSince(start), 600);
  }
}

TEST_F(SerialOverNetwork, LoopbackReadsAsInThePortScan) {
  ModuleEmulator emulator({"type=3,loopback", "type=3", "type=3,dsr=on"});
  ScopedEnv ports("DOWNLOADER_PORTS", emulator.PortMapDir());
  const std::vector<std::string> expected = {"Yes", "No", "No"};
  for (int com = 1; com <= 3; ++com) {
    TSerial port;
    ASSERT_TRUE(Open(port, "COM" + std::to_string(com)));
    EXPECT_EQ(LoopbackTest(port), expected[static_cast<std::size_t>(com - 1)]) << "COM" << com;
    port.Close();
  }
  const auto dump = emulator.Stop();
  // With DSR already on, RTS is never raised.
  EXPECT_EQ(std::count(dump.Com(3).controls.begin(), dump.Com(3).controls.end(), "rts=1"), 0);
  EXPECT_EQ(std::count(dump.Com(1).controls.begin(), dump.Com(1).controls.end(), "rts=1"), 1);
}

TEST_F(SerialOverNetwork, AConnectionDroppedMidTransferFailsFast) {
  ModuleEmulator emulator({"type=3,drop@0:1"});
  ScopedEnv ports("DOWNLOADER_PORTS", emulator.PortMapDir());
  TSerial port;
  ASSERT_TRUE(Open(port, "COM1"));
  ResetPulse(port);
  ASSERT_TRUE(port.WriteByte(0x83, 1000));
  EXPECT_EQ(port.ReadBlock(2, 40), 2);
  ASSERT_TRUE(port.WriteByte(0, 1000));
  EXPECT_EQ(port.ReadBlock(1, 40), 1);
  uint8_t packet[18] = {0x10, 0xFF};
  ASSERT_TRUE(port.WriteBuffer(packet, 18, 1000));
  EXPECT_EQ(port.ReadBlock(18, 1000), 18);
  EXPECT_EQ(port.ReadByte(40), 0);
  ASSERT_TRUE(port.WriteBuffer(packet, 18, 1000));
  EXPECT_EQ(port.ReadBlock(18, 1000), 18);
  const auto start = Clock::now();
  EXPECT_EQ(port.ReadByte(1000), -1);
  EXPECT_EQ(port.ReadBlock(18, 1000), 0);
  EXPECT_FALSE(port.WriteByte(0, 1000));
  EXPECT_EQ(port.ReadBlock(0, 0), 0);
  EXPECT_EQ(port.ModemStatus() & ~0xF0u, 0u);
  EXPECT_LT(MsSince(start), 500);
  port.Close();
  const auto dump = emulator.Stop();
  ASSERT_EQ(dump.Com(1).slots.at(0).received.size(), 2u);
  EXPECT_EQ(dump.Com(1).slots.at(0).acknowledged.size(), 1u);
  EXPECT_EQ(dump.Com(1).slots.at(0).received[1], std::vector<uint8_t>(packet, packet + 18));
}

TEST_F(SerialOverNetwork, FourThreadsAcquireAtOnceAndGetDistinctSlots) {
  ModuleEmulator emulator({"type=2", "type=3", "type=4", "type=5", "type=6"});
  ScopedEnv ports("DOWNLOADER_PORTS", emulator.PortMapDir());
  std::array<int, 4> slots{};
  std::array<uint32_t, 4> errors{};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&, i] {
      slots[static_cast<std::size_t>(i)] =
          AcquirePort("COM" + std::to_string(i + 1), errors[static_cast<std::size_t>(i)]);
    });
  }
  for (auto& t : threads) t.join();
  auto sorted = slots;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, (std::array<int, 4>{-3, -2, -1, 0}));
  uint32_t error = 0;
  EXPECT_EQ(AcquirePort("COM5", error), kNoPort);
  for (int slot : slots) SerialPool(slot).Close();
}

}  // namespace
}  // namespace downloader
