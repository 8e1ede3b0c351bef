// A local port whose adapter is pulled out in the middle of a slot. The module sits on the
// master side of a pseudo-terminal; closing the master hangs up the loader's side as an
// unplugged USB adapter's tty is hung up: reads see end-of-file, writes fail, and the
// device node is gone.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "download/download.h"
#include "run/run_state.h"
#include "serial/open_errors.h"
#include "serial/pool.h"
#include "serial/serial_device_libserialport.h"
#include "ui/download_test_state.h"

namespace downloader {
namespace {

using Clock = std::chrono::steady_clock;

// A Korvanetics C, version 1.0, that is pulled out when the first byte of packet
// `unplugAt` of a slot comes in.
class PtyModule {
 public:
  explicit PtyModule(int unplugAt) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    ::grantpt(master_);
    ::unlockpt(master_);
    device_ = ::ptsname(master_);
    thread_ = std::thread([this, unplugAt] { Run(unplugAt); });
  }
  ~PtyModule() {
    stop_ = true;
    thread_.join();
    if (master_ >= 0) ::close(master_);
  }
  const std::string& Device() const { return device_; }
  Clock::time_point Unplugged() const { return unplugged_; }

 private:
  void Send(std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) [[maybe_unused]] ssize_t n = ::write(master_, &b, 1);
  }

  void Run(int unplugAt) {
    bool inPackets = false;
    int inPacket = 0;
    int acknowledged = 0;
    while (!stop_) {
      pollfd p{master_, POLLIN, 0};
      uint8_t b = 0;
      // While no one has the port open, the master reads nothing but errors.
      if (::poll(&p, 1, 20) <= 0 || ::read(master_, &b, 1) != 1) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      if (inPackets && inPacket == 0 && acknowledged == unplugAt) {
        unplugged_ = Clock::now();
        ::close(master_);
        master_ = -1;
        return;
      }
      Send({b});  // every byte is echoed
      if (!inPackets && b == 0x83) {
        Send({0x83});  // the identification reply; the slot byte follows
      } else if (!inPackets) {
        inPackets = true;
      } else if (++inPacket == 18) {
        inPacket = 0;
        ++acknowledged;
        Send({0});
      }
    }
  }

  int master_ = -1;
  std::string device_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  Clock::time_point unplugged_{};
};

// The local backend's transfers on the tty, opened as the backend opens a port. The line
// controls do nothing: a pseudo-terminal has none.
class TtyDevice final : public SerialDevice {
 public:
  explicit TtyDevice(int fd) : fd_(fd), transfers_(fd) {}
  ~TtyDevice() override { ::close(fd_); }
  bool ReadState() override { return true; }
  bool Configure(const LineSettings&) override {
    termios t{};
    ::tcgetattr(fd_, &t);
    ::cfmakeraw(&t);
    return ::tcsetattr(fd_, TCSANOW, &t) == 0;
  }
  int Read(uint8_t* buffer, std::size_t count, uint32_t timeoutMs) override {
    return transfers_.Read(buffer, count, timeoutMs);
  }
  bool Write(const uint8_t* bytes, std::size_t count, uint32_t timeoutMs) override {
    return transfers_.Write(bytes, count, timeoutMs);
  }
  int Drain() override { return transfers_.Drain(); }
  void SetDTR(bool) override {}
  void SetRTS(bool) override {}
  void SetBreak(bool) override {}
  uint32_t ModemStatus() override { return 0; }

 private:
  int fd_;
  TtyTransfers transfers_;
};

TEST(Unplug, AnAdapterPulledOutMidSlotEndsTheDownloadAtOnce) {
  testing::ResetDownloaderState();
  testing::UseRunFlags(kNoPrompts | kUpdates);
  testing::SetTestImage(3, {8});
  PtyModule module(3);
  SetSerialDeviceOpener([&module](const std::string& comName) {
    DeviceOpenResult result;
    const int fd = comName == "COM1" ? ::open(module.Device().c_str(), O_RDWR | O_NOCTTY) : -1;
    if (fd < 0) {
      result.error = comName == "COM1" ? OpenErrorCode(errno) : kErrorNotFound;
    } else {
      result.device = std::make_unique<TtyDevice>(fd);
    }
    return result;
  });
  const std::string failure =
      "ERR:025-Hardware communication failure.  Check serial cable and power supply.";

  testing::StatusCapture status;
  DownloadToDevice();
  const auto took = Clock::now() - module.Unplugged();
  auto lines = status.Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "INF:112-SLOT=0 PROGRESS=37%");
  EXPECT_EQ(lines.back(), failure);
  // Not one of the transfer's timeouts was waited out (the echo's alone is a second), only
  // the progress window's 100 ms pause as it closes.
  EXPECT_LT(took, std::chrono::milliseconds(400));
  for (int slot = -3; slot <= 0; ++slot) EXPECT_FALSE(SerialPool(slot).IsOpen) << slot;
  ::testing::Test::RecordProperty(
      "unplug_to_025_us",
      static_cast<int>(std::chrono::duration_cast<std::chrono::microseconds>(took).count()));

  // The next request scans again and finds the port gone.
  testing::StatusCapture next;
  DownloadToDevice();
  lines = next.Lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "INF:111-PORT=COM1 DEVICE=invalid port VERSION=n/a LOOPBACK=n/a ECHO=n/a"),
            lines.end());
  EXPECT_EQ(lines.back(), "ERR:023-No Korvanetics C found.");
  SetSerialDeviceOpener(nullptr);
}

}  // namespace
}  // namespace downloader
