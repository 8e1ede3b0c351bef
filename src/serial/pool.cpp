#include "serial/pool.h"

#include <array>
#include <cstdlib>

#include "serial/port_lock.h"
#include "serial/serial_device_local.h"

namespace downloader {

std::mutex PoolLock;

namespace {

// Index 0 is slot -3, index 3 is slot 0.
std::array<TSerial, 4> pool;

}  // namespace

TSerial& SerialPool(int slot) {
  if (slot < -3 || slot > 0) std::abort();  // a caller passed -4 or worse: a program error
  return pool[static_cast<std::size_t>(slot + 3)];
}

int AcquirePort(const std::string& name, uint32_t& error) {
  error = 0;
  int taken = kNoPort;
  {
    std::lock_guard lock(PoolLock);
    for (int slot = 0; slot >= -3; --slot) {
      TSerial& port = SerialPool(slot);
      if (!port.IsOpen && !port.Reserved) {
        port.Reserved = true;
        taken = slot;
        break;
      }
    }
  }
  if (taken == kNoPort) return kNoPort;
  // Outside the lock: an open can take long and must not hold up the other threads.
  TSerial& port = SerialPool(taken);
  if (!port.OpenPort(name, "9600", "None", "8", "Off", false, &error)) return kNoPort;
  return taken;
}

void ResetSerialPool() {
  std::lock_guard lock(PoolLock);
  for (TSerial& port : pool) {
    port.Close();
    port.Reserved = false;
  }
}

void ReleaseEveryPortForExit() {
  EndEveryLocalLine();
  RemoveEveryLockFile();
}

}  // namespace downloader
