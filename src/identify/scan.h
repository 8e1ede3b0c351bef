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

/// Probes the types of ProbeOrder(`targetType`) on the open pool port `poolIndex` until one
/// identifies or nothing echoes (then no other type would). The outputs are those of the
/// last IdentifyDevice call; `bytesHeard`, when given, is increased by every byte that came
/// back in all of them. Any thread.
void IdentifyAttached(int poolIndex, DeviceType targetType, std::string& deviceName,
                      std::string& version, std::string& echo, DeviceType& foundType,
                      int* bytesHeard = nullptr);

/// What the grid's device column says of a port that could not be opened, by the open's
/// error code: "invalid port", "can't open port; in use" or "can't open port".
std::string OpenFailureText(uint32_t error);

/// The scan's report of one port: "111-PORT=" + port, " DEVICE=" + the name ("none" when
/// empty), " VERSION=" + the version ("n/a" when empty; the part is left out while
/// CustomProduct is set), " LOOPBACK=" and " ECHO=" ("n/a" when empty).
std::string PortLineText(const std::string& port, const std::string& deviceName,
                         const std::string& version, const std::string& loopback,
                         const std::string& echo);

/// The presence check of a production line: acquires `port` from the pool (its lock and
/// the port map as for a download), probes it as a scan worker does but without the
/// loopback test, so that nothing but the reset pulse and the identification exchanges
/// reaches the line, closes it, and returns its PortLineText with LOOPBACK=n/a. `first`
/// (2..6) is probed first; 0 keeps the order 2..6. `found`, when given, is set to the type
/// identified (0 for none). Main thread; reports nothing itself.
std::string ProbePort(const std::string& port, DeviceType first, DeviceType* found = nullptr);

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
