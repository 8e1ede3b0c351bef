#include "serial/serial_trace.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "platform/file_names.h"
#include "platform/safe_files.h"
#include "platform/system.h"
#include "serial/hints.h"

namespace downloader {

namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned kTraceFileMode = 0600;

// Taken while the program starts, on the main thread.
const Clock::time_point traceStart = Clock::now();
const std::thread::id mainThread = std::this_thread::get_id();

long long MicrosecondsSince(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration_cast<std::chrono::microseconds>(to - from).count();
}

// "main", or "t1", "t2" ... in the order the other threads first wrote a line.
const std::string& ThreadName() {
  static std::atomic<int> threads{0};
  thread_local const std::string name = std::this_thread::get_id() == mainThread
                                            ? std::string("main")
                                            : "t" + std::to_string(++threads);
  return name;
}

std::string Hex(const uint8_t* bytes, std::size_t count) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  text.reserve(count * 3);
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) text.push_back(' ');
    text.push_back(digits[bytes[i] >> 4]);
    text.push_back(digits[bytes[i] & 15]);
  }
  return text;
}

std::string OnOff(bool on) {
  return on ? "on" : "off";
}

}  // namespace

class TraceLog {
 public:
  explicit TraceLog(std::FILE* file) : file_(file) {}
  ~TraceLog() { std::fclose(file_); }

  /// One line stamped with `started`, the time the operation began.
  void Line(Clock::time_point started, const std::string& port, const std::string& text) {
    const std::string line = std::to_string(MicrosecondsSince(traceStart, started)) + " " +
                             ThreadName() + " " + port + " " + text + "\n";
    std::lock_guard lock(mutex_);
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
  }

 private:
  std::mutex mutex_;
  std::FILE* file_;
};

namespace {

// A transfer's line ends with how long it took.
std::string Took(Clock::time_point started) {
  return " in " + std::to_string(MicrosecondsSince(started, Clock::now())) + " us";
}

class TracedDevice final : public SerialDevice {
 public:
  TracedDevice(std::unique_ptr<SerialDevice> device, std::shared_ptr<TraceLog> log,
               std::string port)
      : device_(std::move(device)), log_(std::move(log)), port_(std::move(port)) {}

  ~TracedDevice() override {
    const auto started = Clock::now();
    device_.reset();
    log_->Line(started, port_, "close");
  }

  bool ReadState() override {
    const auto started = Clock::now();
    const bool ok = device_->ReadState();
    if (!ok) log_->Line(started, port_, "state -> failed");
    return ok;
  }

  bool Configure(const LineSettings& s) override {
    const auto started = Clock::now();
    const bool ok = device_->Configure(s);
    log_->Line(started, port_,
               "configure " + std::to_string(s.baudRate) + " " + std::to_string(s.dataBits) +
                   (s.evenParity ? "E1" : "N1") + (ok ? " -> ok" : " -> failed"));
    return ok;
  }

  int Read(uint8_t* buffer, std::size_t count, uint32_t timeoutMs) override {
    const auto started = Clock::now();
    const int n = device_->Read(buffer, count, timeoutMs);
    std::string result = n < 0    ? "failed"
                         : n == 0 ? "nothing"
                                  : Hex(buffer, static_cast<std::size_t>(n));
    log_->Line(started, port_,
               "read " + std::to_string(count) + " (" + std::to_string(timeoutMs) + " ms) -> " +
                   result + Took(started));
    return n;
  }

  bool Write(const uint8_t* bytes, std::size_t count, uint32_t timeoutMs) override {
    const auto started = Clock::now();
    const bool ok = device_->Write(bytes, count, timeoutMs);
    log_->Line(started, port_,
               "write " + Hex(bytes, count) + " (" + std::to_string(timeoutMs) + " ms) -> " +
                   (ok ? "ok" : "failed") + Took(started));
    return ok;
  }

  int Drain() override {
    const auto started = Clock::now();
    const int n = device_->Drain();
    log_->Line(started, port_, "purge -> " + std::to_string(n) + " bytes" + Took(started));
    return n;
  }

  void SetDTR(bool on) override {
    LineControl("DTR", on, [&] { device_->SetDTR(on); });
  }
  void SetRTS(bool on) override {
    LineControl("RTS", on, [&] { device_->SetRTS(on); });
  }
  void SetBreak(bool on) override {
    LineControl("BREAK", on, [&] { device_->SetBreak(on); });
  }

  uint32_t ModemStatus() override {
    const auto started = Clock::now();
    const uint32_t status = device_->ModemStatus();
    log_->Line(started, port_, "DSR -> " + OnOff((status & kModemStatusDsr) != 0));
    return status;
  }

 private:
  template <typename Call>
  void LineControl(const char* line, bool on, Call call) {
    const auto started = Clock::now();
    call();
    log_->Line(started, port_, std::string(line) + " " + OnOff(on));
  }

  std::unique_ptr<SerialDevice> device_;
  std::shared_ptr<TraceLog> log_;
  std::string port_;
};

}  // namespace

std::string TraceFileName(const std::string& comName) {
  return "port-" + comName + ".trace";
}

std::shared_ptr<TraceLog> TraceLogFor(const std::string& comName) {
  const std::optional<std::string> value = EnvironmentValue(kTraceVariable);
  if (!value || value->empty()) return nullptr;
  std::error_code ignored;
  std::filesystem::path path = PathOf(*value);
  if (std::filesystem::is_directory(path, ignored)) path /= PathOf(TraceFileName(comName));

  // One log per file for the whole run, shared by every port and thread that writes to it.
  static std::mutex mutex;
  static std::map<std::filesystem::path, std::shared_ptr<TraceLog>> logs;
  static std::set<std::filesystem::path> refused;  // named once, then left alone
  std::lock_guard lock(mutex);
  auto found = logs.find(path);
  if (found != logs.end()) return found->second;
  if (refused.count(path) != 0) return nullptr;
  // Only this user may read it: it holds the firmware's bytes.
  std::string error;
  std::FILE* file = OpenForAppending(NameOf(path), kTraceFileMode, error);
  if (file == nullptr) {
    refused.insert(path);
    WriteHint("Cannot write the serial trace to " + NameOf(path) + ": " + error + ".");
    return nullptr;
  }
  return logs[path] = std::make_shared<TraceLog>(file);
}

DeviceOpenResult TracedOpen(std::shared_ptr<TraceLog> log, const std::string& comName,
                            const std::function<DeviceOpenResult()>& open) {
  const auto started = Clock::now();
  DeviceOpenResult result = open();
  log->Line(started, comName,
            result.device ? "open -> ok" + Took(started)
                          : "open -> error " + std::to_string(result.error) + Took(started));
  if (result.device) {
    result.device =
        std::make_unique<TracedDevice>(std::move(result.device), std::move(log), comName);
  }
  return result;
}

}  // namespace downloader
