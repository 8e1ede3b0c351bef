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
#include "serial/socket.h"

namespace emulator {

/// One emulated module served as an RFC 2217 port on 127.0.0.1, one client at a time. A
/// client that connects while another is served waits up to half a second for it to leave,
/// then is turned away. Clients may vanish at any moment.
class ModuleServer {
 public:
  using Clock = std::chrono::steady_clock;

  /// `byteTimeNs`: the line's time per byte sent (0: unpaced). `stop` becomes readable
  /// when the server must end. The dump gives the times of its connections in microseconds
  /// since `epoch`: one epoch for all modules of a program lets a reader line them up.
  ModuleServer(const ModuleSpec& spec, int com, uint32_t byteTimeNs, downloader::net::Socket stop,
               Clock::time_point epoch);
  ~ModuleServer();

  /// Binds and listens; false with `error` set when the port cannot be had.
  bool Listen(std::string& error);
  uint16_t Port() const { return port_; }
  int Com() const { return com_; }
  const ModuleSpec& Spec() const { return spec_; }

  /// Serves until the stop socket is readable. Runs on its own thread.
  void Run();

  /// What the module has received so far, as JSON. Any thread.
  nlohmann::json Dump();

 private:
  struct Connection;
  /// One served client, in microseconds since the epoch.
  struct Session {
    int64_t opened = 0;
    int64_t lastInput = 0;  ///< when its last bytes arrived (`opened` while none did)
    int64_t closed = -1;    ///< -1 while it is served
  };

  void Serve(downloader::net::Socket socket);
  bool HandleInput(Connection& c);
  void HandleSubnegotiation(Connection& c, const std::vector<uint8_t>& body);
  void Control(Connection& c, uint8_t value);
  void NotifyModemState(Connection& c, bool changed);
  void Queue(Connection& c, const Reaction& reaction);
  void MoveDueBytes(Connection& c, Clock::time_point now);
  bool Flush(Connection& c);
  void NoteControl(const std::string& event);
  int64_t Now() const;

  ModuleSpec spec_;
  int com_;
  uint32_t byteTimeNs_;
  downloader::net::Socket stop_;
  Clock::time_point epoch_;
  downloader::net::Socket listener_ = downloader::net::kNoSocket;
  uint16_t port_ = 0;
  std::vector<downloader::net::Socket> waiting_;  // clients that came while another was served
  std::vector<Clock::time_point> waitingSince_;

  std::mutex mutex_;  // guards everything below
  ModuleModel model_;
  int connections_ = 0;
  std::deque<Session> sessions_;
  std::deque<std::string> controls_;
  std::map<std::string, int> settings_;  // the line settings the last client asked for
};

}  // namespace emulator
