#pragma once

// What the local backend on POSIX (libserialport) offers beyond OpenLocalDevice: the
// transfers on a descriptor, and its ioctl seam for tests.

#include <cstddef>
#include <cstdint>

namespace downloader {

/// The transfers of an open local device, on its descriptor. Starting, it asks the driver
/// to pass received bytes on at once (ASYNC_LOW_LATENCY): USB adapters otherwise hold them
/// for their latency timer, 16 ms on common chips, in every 20 ms packet exchange. A
/// driver that refuses is left as it is; Close undoes the request before the port closes,
/// and so does EndEveryLocalLine for a process ended by a signal. A device that fails (an
/// I/O error, or the end-of-file of a tty that was hung up, as an unplugged adapter's is)
/// has failed for good: every later transfer, control and status read fails at once,
/// without touching it.
class TtyTransfers {
 public:
  /// Also lists the device among the open lines that EndEveryLocalLine ends.
  explicit TtyTransfers(int fd);
  ~TtyTransfers();
  TtyTransfers(const TtyTransfers&) = delete;
  TtyTransfers& operator=(const TtyTransfers&) = delete;

  /// Takes the device off the open lines and gives back its latency (RestoreLatency).
  /// Call it while the descriptor is still open; the destructor calls it too.
  void Close();
  /// Gives the driver back the latency setting it had, when this object changed it and
  /// the device has not failed. Call it while the descriptor is still open.
  void RestoreLatency();
  /// Runs `control` (a line control or a status read of this device) unless the device
  /// has failed; whether it ran.
  template <typename Control>
  bool UnlessFailed(Control&& control) {
    if (failed_) return false;
    control();
    return true;
  }

  /// Up to `count` bytes within `timeoutMs` (0: what has arrived already): the count read,
  /// or -1 once the device has failed.
  int Read(uint8_t* buffer, std::size_t count, uint32_t timeoutMs);
  /// All `count` bytes into the driver within `timeoutMs`; false on timeout or failure.
  bool Write(const uint8_t* bytes, std::size_t count, uint32_t timeoutMs);
  /// Throws away what has arrived, bounded in bytes and time; the number of bytes.
  int Drain();
  bool Failed() const { return failed_; }

 private:
  int Fail(int got);

  int fd_;
  bool failed_ = false;
  bool lowLatencySet_ = false;  ///< the driver's flag was off, and this object set it
};

/// The ioctl this backend calls on open devices; tests replace it to see the requests it
/// makes. nullptr restores the system's.
using LocalIoctl = int (*)(int fd, unsigned long request, void* argument);
void SetLocalIoctl(LocalIoctl ioctl);

}  // namespace downloader
