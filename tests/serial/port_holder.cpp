// Holds a port or a lock for the tests of exclusive opening, as another program would.
//
//   serial_port_holder port COM<n>        AcquirePort through the port map
//   serial_port_holder lock TARGET DIR    the lock file DIR/LCK..TARGET alone
//
// Prints "held" (or "failed <code>"), then keeps it until standard input closes.

#include <unistd.h>

#include <cstdio>
#include <string>

#include "serial/globals.h"
#include "serial/pool.h"
#include "serial/port_lock.h"

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string mode = argv[1];
  std::optional<downloader::PortLock> lock;
  int slot = downloader::kNoPort;
  downloader::InitSerialUnit();
  if (mode == "port") {
    uint32_t error = 0;
    slot = downloader::AcquirePort(argv[2], error);
    if (slot == downloader::kNoPort) {
      std::printf("failed %u\n", error);
      return 1;
    }
  } else if (mode == "lock" && argc == 4) {
    downloader::PortLock::Refusal refusal;
    lock = downloader::PortLock::Acquire(argv[2], refusal, argv[3]);
    if (!lock) {
      std::printf("failed %d\n", refusal.error);
      return 1;
    }
  } else {
    return 2;
  }
  std::printf("held\n");
  std::fflush(stdout);
  char buffer[64];
  while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
  }
  if (slot != downloader::kNoPort) downloader::SerialPool(slot).Close();
  return 0;
}
