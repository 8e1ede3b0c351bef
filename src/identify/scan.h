#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "identify/identify.h"

namespace downloader {

/// At most this many identification threads run at once; thread slot k (1..4) owns bit
/// k - 1 of BusyMask.
inline constexpr int kThreadSlots = 4;
inline constexpr uint32_t kAllThreadSlots = (1u << kThreadSlots) - 1;

/// The device types a thread probes, in order: 2..6 with the target type swapped to the
/// front (target 5: 5, 3, 4, 2, 6; target 1: 1, 3, 4, 5, 6). A target of 0 or above 6
/// leaves 2..6.
std::array<DeviceType, 5> ProbeOrder(DeviceType targetType);

/// One identification worker: acquires its port from the pool, tests the RTS-to-DSR
/// loopback, probes the types of ProbeOrder until one identifies or nothing echoes, closes
/// the port, and has ReportResult run on the main thread. Created by ScanPorts only.
class TIdentificationThread {
 public:
  /// Records the three values, sets the slot's bit in BusyMask and starts the thread.
  /// Main thread.
  TIdentificationThread(int threadSlot, int portIndex, DeviceType targetType);
  /// Waits for the thread to end; ScanPorts frees a worker only after its ReportResult.
  ~TIdentificationThread();
  TIdentificationThread(const TIdentificationThread&) = delete;
  TIdentificationThread& operator=(const TIdentificationThread&) = delete;

  const int ThreadSlot;
  const int PortIndex;
  const DeviceType TargetType;
  int PoolIndex;
  std::string DeviceName;
  std::string Version;
  std::string Loopback;
  std::string Echo;
  DeviceType FoundType = 0;

 private:
  /// The worker thread's body; its last act posts ReportResult to the main thread.
  void Execute();
  /// Main thread: fills the port's grid row, writes its "111-PORT=" line, scrolls the row
  /// into view, repaints, and clears the slot's BusyMask bit.
  void ReportResult();

  std::thread thread_;
};

/// Identifies what is attached to every port of PortList (only SelectedPort unless it is
/// "AUTO"; the others get "ignoring"), with at most four threads at once, each started in
/// the lowest free thread slot. Returns when every thread has reported; the results are in
/// ProgressForm's grid. Main thread; waits by processing posted messages.
void ScanPorts(DeviceType targetType);

/// Called on the main thread each time ScanPorts starts a worker, with its thread slot and
/// port index (tests watch the slot choice). nullptr removes it.
using WorkerStartHook = std::function<void(int threadSlot, int portIndex)>;
void SetWorkerStartHook(WorkerStartHook hook);

}  // namespace downloader
