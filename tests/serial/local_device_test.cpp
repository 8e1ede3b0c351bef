// The local backend's transfers on a descriptor: the low-latency request they start with
// and undo (on close, and on a signal's way out), and a device that has failed for good.

#include <gtest/gtest.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "serial/serial_device_libserialport.h"
#include "serial/serial_device_local.h"

namespace downloader {
namespace {

std::vector<unsigned long> requests;
int flagsSet = -1;
bool refuse = false;

int RecordingIoctl(int, unsigned long request, void* argument) {
  requests.push_back(request);
  if (refuse) {
    errno = ENOTTY;
    return -1;
  }
  auto* serial = static_cast<serial_struct*>(argument);
  if (request == TIOCGSERIAL) serial->flags = flagsSet < 0 ? ASYNC_SKIP_TEST : flagsSet;
  if (request == TIOCSSERIAL) flagsSet = serial->flags;
  return 0;
}

TEST(LocalDevice, AsksTheDriverForLowLatencyAndTakesARefusal) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  SetLocalIoctl(RecordingIoctl);
  {
    TtyTransfers transfers(fds[0]);
    EXPECT_EQ(requests, (std::vector<unsigned long>{TIOCGSERIAL, TIOCSSERIAL}));
    EXPECT_EQ(flagsSet, ASYNC_SKIP_TEST | ASYNC_LOW_LATENCY) << "the driver's flags are kept";
    transfers.RestoreLatency();
    EXPECT_EQ(flagsSet, ASYNC_SKIP_TEST) << "as the driver had it";
  }
  // A driver that refuses is left as it is, and the transfers work all the same.
  requests.clear();
  refuse = true;
  TtyTransfers transfers(fds[0]);
  EXPECT_EQ(requests, std::vector<unsigned long>{TIOCGSERIAL});
  ASSERT_EQ(::write(fds[1], "K", 1), 1);
  uint8_t byte = 0;
  EXPECT_EQ(transfers.Read(&byte, 1, 100), 1);
  EXPECT_EQ(byte, 'K');
  EXPECT_EQ(transfers.Read(&byte, 1, 0), 0);
  SetLocalIoctl(nullptr);
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST(LocalDevice, ALoaderEndedByASignalGivesTheLatencyBackToo) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  SetLocalIoctl(RecordingIoctl);
  refuse = false;
  flagsSet = -1;
  TtyTransfers transfers(fds[0]);
  ASSERT_EQ(flagsSet, ASYNC_SKIP_TEST | ASYNC_LOW_LATENCY);
  EndEveryLocalLine();  // SIGTERM's and Ctrl-C's way out, which destroys no port
  EXPECT_EQ(flagsSet, ASYNC_SKIP_TEST);
  SetLocalIoctl(nullptr);
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST(LocalDevice, AHungUpDeviceIsNeverTouchedAgain) {
  // An unplugged adapter's tty is hung up: its reads see end-of-file.
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  SetLocalIoctl(RecordingIoctl);
  refuse = false;
  TtyTransfers transfers(fds[0]);
  ::shutdown(fds[1], SHUT_WR);
  uint8_t byte = 0;
  EXPECT_EQ(transfers.Read(&byte, 1, 1000), -1);
  EXPECT_TRUE(transfers.Failed());
  requests.clear();
  bool ran = false;
  EXPECT_FALSE(transfers.UnlessFailed([&] { ran = true; }));
  EXPECT_FALSE(ran) << "no line control, no status read";
  EXPECT_FALSE(transfers.Write(&byte, 1, 100)) << "though the other end still reads";
  transfers.RestoreLatency();
  EXPECT_TRUE(requests.empty());
  SetLocalIoctl(nullptr);
  ::close(fds[0]);
  ::close(fds[1]);
}

}  // namespace
}  // namespace downloader
