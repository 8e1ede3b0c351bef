#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "module_model.h"
#include "module_spec.h"

namespace emulator {

/// One emulated module served as an RFC 2217 port on 127.0.0.1, one client at a time. A
/// client that connects while another is served waits up to half a second for it to leave,
/// then is turned away. Clients may vanish at any moment.
class ModuleServer {
 public:
  /// `byteTimeUs`: the line's time per byte sent (0: unpaced). `stopFd` becomes readable
  /// when the server must end.
  ModuleServer(const ModuleSpec& spec, int com, uint32_t byteTimeUs, int stopFd);
  ~ModuleServer();

  /// Binds and listens; false with `error` set when the port cannot be had.
  bool Listen(std::string& error);
  uint16_t Port() const { return port_; }
  int Com() const { return com_; }
  const ModuleSpec& Spec() const { return spec_; }

  /// Serves until the stop descriptor is readable. Runs on its own thread.
  void Run();

  /// What the module has received so far, as JSON. Any thread.
  nlohmann::json Dump();

 private:
  using Clock = std::chrono::steady_clock;
  struct Connection;

  void Serve(int fd);
  bool HandleInput(Connection& c);
  void HandleSubnegotiation(Connection& c, const std::vector<uint8_t>& body);
  void Control(Connection& c, uint8_t value);
  void NotifyModemState(Connection& c, bool changed);
  void Queue(Connection& c, const Reaction& reaction);
  void MoveDueBytes(Connection& c, Clock::time_point now);
  bool Flush(Connection& c);
  void NoteControl(const std::string& event);

  ModuleSpec spec_;
  int com_;
  uint32_t byteTimeUs_;
  int stopFd_;
  int listenFd_ = -1;
  uint16_t port_ = 0;
  std::vector<int> waiting_;  // clients that came while another was served
  std::vector<Clock::time_point> waitingSince_;

  std::mutex mutex_;  // guards everything below
  ModuleModel model_;
  int connections_ = 0;
  std::deque<std::string> controls_;
  std::map<std::string, int> settings_;  // the line settings the last client asked for
};

}  // namespace emulator
