#include "identify/scan.h"

#include <algorithm>
#include <chrono>
#include <memory>

#include "run/helpers.h"
#include "run/report.h"
#include "serial/globals.h"
#include "serial/hints.h"
#include "serial/pool.h"
#include "serial/port_map.h"
#include "ui/forms.h"
#include "ui/message_loop.h"
#include "ui/window_system.h"

namespace downloader {

namespace {

WorkerStartHook& StartHook() {
  static WorkerStartHook hook;
  return hook;
}

// Only ScanPorts' wait processes messages while threads run; a posted report wakes it.
constexpr std::chrono::milliseconds kWaitStep{50};

// A scan without /COM# probes PortList alone: a module on a port the map names beyond it
// would never be found, and the user would not learn why. Said once a run.
void HintAtUnscannedPorts() {
  static bool said = false;
  if (said || SelectedPort != "AUTO") return;
  std::vector<std::string> others;
  for (const int number : MappedComNumbers(SystemPortMapEnvironment())) {
    const std::string name = "COM" + std::to_string(number);
    if (std::find(PortList.begin(), PortList.end(), name) == PortList.end()) {
      others.push_back(name);
    }
  }
  if (others.empty()) return;
  said = true;
  std::string covered;
  if (PortList == std::vector<std::string>{"COM1", "COM2", "COM3", "COM4"}) {
    covered = "COM1 to COM4";
  } else {
    for (const std::string& name : PortList) covered += (covered.empty() ? "" : ", ") + name;
  }
  std::string named;
  for (std::size_t i = 0; i < others.size(); ++i) {
    named += (i == 0 ? "" : i + 1 == others.size() ? " and " : ", ") + others[i];
  }
  WriteHint("downloader: the scan covers " + covered + "; the port map also names " + named +
            ": name the port with /" + others[0] + " to scan it");
}

}  // namespace

std::string OpenFailureText(uint32_t error) {
  if (error == kErrorNotFound) return "invalid port";
  if (error == kErrorAccessDenied) return "can't open port; in use";
  return "can't open port";
}

void IdentifyAttached(int poolIndex, DeviceType targetType, std::string& deviceName,
                      std::string& version, std::string& echo, DeviceType& foundType,
                      int* bytesHeard) {
  for (const DeviceType type : ProbeOrder(targetType)) {
    if (IdentifyDevice(poolIndex, type, deviceName, version, echo, foundType, bytesHeard)) break;
    if (echo != kYes) break;  // nothing echoes on this port: no other type will
  }
}

std::string PortLineText(const std::string& port, const std::string& deviceName,
                         const std::string& version, const std::string& loopback,
                         const std::string& echo) {
  std::string line = "111-PORT=" + port;
  line += " DEVICE=" + (deviceName.empty() ? std::string("none") : deviceName);
  if (!CustomProduct) line += " VERSION=" + (version.empty() ? std::string("n/a") : version);
  line += " LOOPBACK=" + (loopback.empty() ? std::string("n/a") : loopback);
  line += " ECHO=" + (echo.empty() ? std::string("n/a") : echo);
  return line;
}

std::string ProbePort(const std::string& port, DeviceType first, DeviceType* found) {
  uint32_t error = 0;
  std::string deviceName;
  std::string version;
  std::string echo;
  DeviceType type = 0;
  const int poolIndex = AcquirePort(port, error);
  if (poolIndex < -3) {
    deviceName = OpenFailureText(error);
  } else {
    IdentifyAttached(poolIndex, first, deviceName, version, echo, type);
    SerialPool(poolIndex).Close();
  }
  if (found != nullptr) *found = type;
  return PortLineText(port, deviceName, version, "", echo);
}

void SetWorkerStartHook(WorkerStartHook hook) {
  StartHook() = std::move(hook);
}

std::array<DeviceType, 5> ProbeOrder(DeviceType targetType) {
  std::array<DeviceType, 5> order = {2, 3, 4, 5, 6};
  if (targetType == 0 || targetType > 6) return order;
  if (targetType == 1) {
    order[0] = 1;
    return order;
  }
  order[static_cast<std::size_t>(targetType - 2)] = 2;
  order[0] = targetType;
  return order;
}

TIdentificationThread::TIdentificationThread(int threadSlot, int portIndex, DeviceType targetType)
    : ThreadSlot(threadSlot), PortIndex(portIndex), TargetType(targetType), PoolIndex(kNoPort) {
  BusyMask |= 1u << (ThreadSlot - 1);
  thread_ = std::thread([this] { Execute(); });
}

TIdentificationThread::~TIdentificationThread() {
  if (thread_.joinable()) thread_.join();
}

void TIdentificationThread::Execute() {
  uint32_t error = 0;
  PoolIndex = AcquirePort(PortList[static_cast<std::size_t>(PortIndex)], error);
  if (PoolIndex < -3) {
    DeviceName = OpenFailureText(error);
    PostToMainThread([this] { ReportResult(); });
    return;
  }
  TSerial& port = SerialPool(PoolIndex);

  // Loopback: DSR off while RTS is off, and on within 2 ms of raising RTS.
  port.SetRTS(false);
  Delay(2);
  Loopback = kNo;
  if ((port.ModemStatus() & kModemStatusDsr) == 0) {
    port.SetRTS(true);
    Delay(2);
    if ((port.ModemStatus() & kModemStatusDsr) != 0) Loopback = kYes;
    port.SetRTS(false);
  }

  int bytesHeard = 0;
  IdentifyAttached(PoolIndex, TargetType, DeviceName, Version, Echo, FoundType, &bytesHeard);
  port.Close();
  // ECHO=No says the same of an empty fixture and of a line that answers with something
  // else: a station that skips empty fixtures must not skip this one.
  if (Echo == kNo && bytesHeard > 0) {
    WriteHint("downloader: " + PortList[static_cast<std::size_t>(PortIndex)] +
              ": bytes came back, but not the echo of what was sent: something other than a "
              "Korvanetics module answers, or the line is noisy");
  }
  PostToMainThread([this] { ReportResult(); });
}

void TIdentificationThread::ReportResult() {
  TStringGrid& grid = ProgressForm->PortStatus;
  const int row = PortIndex + 1;
  grid.SetCell(1, row, DeviceName);
  grid.SetCell(2, row, Version);
  grid.SetCell(3, row, Loopback);
  grid.SetCell(4, row, Echo);
  grid.SetCell(5, row, std::to_string(FoundType));

  ReportLine(kChannelInfo, PortLineText(PortList[static_cast<std::size_t>(PortIndex)], DeviceName,
                                        Version, Loopback, Echo));

  const int top = grid.TopRow();
  if (row > top + TStringGrid::kVisibleDataRows - 1) {
    grid.SetTopRow(row - (TStringGrid::kVisibleDataRows - 1));
  } else if (row < top) {
    grid.SetTopRow(row);
  }
  ProgressForm->Repaint();

  BusyMask &= ~(1u << (ThreadSlot - 1));
  if ((BusyMask & kAllThreadSlots) == 0) Windows().SetBusyCursor(false);
}

void ScanPorts(DeviceType targetType) {
  HintAtUnscannedPorts();
  TProgressForm& form = *ProgressForm;
  form.ScanningText.Visible = true;
  form.Repaint();
  Windows().SetBusyCursor(true);

  // Workers by thread slot. A slot's previous worker is freed when the slot is reused or
  // the scan ends, always after its ReportResult has run.
  std::array<std::unique_ptr<TIdentificationThread>, kThreadSlots> workers;
  bool started = false;
  for (std::size_t i = 0; i < PortList.size(); ++i) {
    if (SelectedPort != "AUTO" && PortList[i] != SelectedPort) {
      form.PortStatus.SetCell(1, static_cast<int>(i) + 1, "ignoring");
      continue;
    }
    while ((BusyMask & kAllThreadSlots) == kAllThreadSlots) WaitAndProcessMessages(kWaitStep);
    int slot = 1;
    while ((BusyMask & (1u << (slot - 1))) != 0) ++slot;
    auto& worker = workers[static_cast<std::size_t>(slot - 1)];
    worker.reset();
    worker = std::make_unique<TIdentificationThread>(slot, static_cast<int>(i), targetType);
    started = true;
    if (StartHook()) StartHook()(slot, static_cast<int>(i));
  }
  while ((BusyMask & kAllThreadSlots) != 0) WaitAndProcessMessages(kWaitStep);
  for (auto& worker : workers) worker.reset();
  if (!started) Windows().SetBusyCursor(false);

  // Off the screen too before anything else shows: a 023 dialog follows an empty scan.
  form.ScanningText.Visible = false;
  form.Repaint();
  std::this_thread::yield();
}

}  // namespace downloader
