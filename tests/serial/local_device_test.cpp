// The local backend's transfers on a descriptor: the low-latency request they start with.

#include <gtest/gtest.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "serial/serial_device_libserialport.h"

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
  if (request == TIOCGSERIAL) serial->flags = ASYNC_SKIP_TEST;  // the driver's own flags
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

}  // namespace
}  // namespace downloader
