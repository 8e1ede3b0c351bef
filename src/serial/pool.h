#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "serial/serial.h"

namespace downloader {

/// Pool slots are numbered -3..0; kNoPort means no port was obtained (any value below -3
/// is a failure to callers).
inline constexpr int kNoPort = -4;

/// The pool object of slot -3..0.
TSerial& SerialPool(int slot);

/// Guards the search for a free pool slot and its reservation, nothing else.
extern std::mutex PoolLock;

/// Takes the first free slot in the order 0, -1, -2, -3 under PoolLock, then opens `name`
/// outside the lock at 9600 baud, no parity, 8 data bits. Returns the slot, or kNoPort
/// with `error` = the open's error code (0 when every slot was in use). Any thread.
int AcquirePort(const std::string& name, uint32_t& error);

/// Closes every pool port and clears the reservations (start-up and tests).
void ResetSerialPool();

/// For a process about to end at once (a stop signal), whatever its threads are doing:
/// ends BREAK and the exclusive mode of every open local port and removes every lock file
/// the process holds; no lock is taken afterwards. The ports themselves close as the
/// process ends. Any thread.
void ReleaseEveryPortForExit();

}  // namespace downloader
