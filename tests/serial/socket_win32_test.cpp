// The Winsock backend's connected pair (the module emulator's stop channel): a loopback
// connection, so whatever else on this machine connects to its listener first must not be
// taken for the pair's other end.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "serial/socket.h"
#include "serial/socket_win32.h"

namespace downloader::net {
namespace {

Deadline Soon() {
  return std::chrono::steady_clock::now() + std::chrono::seconds(5);
}

TEST(WindowsSocketPair, AStrangerConnectedFirstIsTurnedAway) {
  uint16_t port = 0;
  std::string error;
  const Socket listener = ListenLoopback(0, port, error);
  ASSERT_NE(listener, kNoSocket) << error;
  int err = 0;
  const Socket stranger = Connect("127.0.0.1", port, Soon(), err);
  ASSERT_NE(stranger, kNoSocket) << err;

  Socket first = kNoSocket;
  Socket second = kNoSocket;
  ASSERT_TRUE(ConnectedPairThrough(listener, port, first, second));
  Close(listener);
  // A byte on the one end makes the other readable, and no one else gets it.
  const uint8_t stop = 'x';
  ASSERT_EQ(Send(first, &stop, 1), 1);
  ASSERT_EQ(Wait(second, false, Soon()), 1);
  uint8_t got = 0;
  EXPECT_EQ(Receive(second, &got, 1), 1);
  EXPECT_EQ(got, stop);
  ASSERT_EQ(Wait(stranger, false, Soon()), 1);
  EXPECT_LE(Receive(stranger, &got, 1), 0) << "the stranger's connection is closed";
  Close(first);
  Close(second);
  Close(stranger);
}

}  // namespace
}  // namespace downloader::net
