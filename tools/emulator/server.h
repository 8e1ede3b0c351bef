#pragma once

#include <array>
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

/// How the modules keep time on their lines, and how the emulator checks itself.
struct LineTiming {
  uint32_t byteTimeNs = 0;  ///< a byte's time on the line (0: unpaced)
  /// A reply (see Reaction) that leaves more than this past its byte times, counted from
  /// the arrival of the last byte it answers, is late: a real module keeps its time
  /// whatever the computer does, so a late reply is the emulator's fault, not the loader's.
  std::chrono::microseconds lateAfter{5000};
  /// Holds every reply back this much beyond its time: an emulator made late on purpose.
  std::chrono::milliseconds slowReplies{0};
  /// Sends the bytes a loader does not await on their own (the echo of a packet's bytes)
  /// together with the next byte queued behind them, at that byte's time: everything
  /// awaited arrives when it would, with one wake-up a packet instead of nineteen.
  bool burst = false;
};

/// The replies of a module whose time was measured, how many were late and the most any
/// was behind its time.
struct ReplyTimes {
  int measured = 0;
  int late = 0;
  int64_t worstUs = 0;
};

/// One emulated module served as an RFC 2217 port on 127.0.0.1, one client at a time. A
/// client that connects while another is served waits up to half a second for it to leave,
/// then is turned away. Clients may vanish at any moment.
///
/// The port is a fixture on a production line: modules are plugged in and taken out while
/// it runs. An empty fixture keeps its port (the adapter stays): clients connect and set
/// its lines, but nothing answers and DSR is off. Each module plugged in is a unit of its
/// own in the dump, with the connections that downloaded into it.
class ModuleServer {
 public:
  using Clock = std::chrono::steady_clock;

  /// `timing`: the line's pace and the emulator's own limit. `stop` becomes readable
  /// when the server must end. The dump gives the times of its connections in microseconds
  /// since `epoch`: one epoch for all modules of a program lets a reader line them up.
  /// `plugged`: the fixture starts with the module of `spec` in it, else empty.
  ModuleServer(const ModuleSpec& spec, int com, const LineTiming& timing,
               downloader::net::Socket stop, Clock::time_point epoch, bool plugged = true);
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
  /// Its replies' times so far. Any thread.
  ReplyTimes Replies();

  /// Puts a fresh module of `spec` into the fixture. False, with `error` set, when it
  /// holds one already. Any thread.
  bool Plug(const ModuleSpec& spec, std::string& error);
  /// Takes the module out. False, with `error` set, when the fixture is empty. Any thread.
  bool Unplug(std::string& error);

  /// The fixture as an operator sees it, in microseconds since the epoch.
  struct Fixture {
    bool plugged = false;
    int64_t since = 0;  ///< when the module was plugged in, or the last one taken out
    /// When the last connection that downloaded into this module closed; -1 before one did.
    int64_t downloaded = -1;
    bool served = false;  ///< a client is connected now
  };
  Fixture State();
  /// Microseconds since the epoch.
  int64_t Now() const;

 private:
  struct Connection;
  /// One served client, in microseconds since the epoch.
  struct Session {
    int64_t opened = 0;
    int64_t lastInput = 0;  ///< when its last bytes arrived (`opened` while none did)
    int64_t closed = -1;    ///< -1 while it is served
  };
  /// One module that was in the fixture. A connection that delivered a packet to it is one
  /// of its downloads; the others (scans, presence checks) are only counted.
  struct Download {
    int64_t opened = 0;
    int64_t firstData = -1;  ///< the client's first data byte (not Telnet negotiation)
    int64_t closed = -1;
    int packets = 0;
    /// The connection served before it (a loader's scan comes just before its download):
    /// opened, first data byte, closed; all -1 when there was none.
    std::array<int64_t, 3> previous{-1, -1, -1};
  };
  struct Unit {
    ModuleSpec spec;
    int64_t plugged = 0;
    int64_t removed = -1;
    int checks = 0;  ///< connections that delivered no packet
    int late = 0;    ///< late replies while it was in the fixture
    std::vector<Download> downloads;
    std::map<int, SlotRecord> slots;  ///< what it held when it was taken out
  };

  void Serve(downloader::net::Socket socket);
  bool HandleInput(Connection& c);
  void HandleSubnegotiation(Connection& c, const std::vector<uint8_t>& body);
  void Control(Connection& c, uint8_t value);
  void NotifyModemState(Connection& c, bool changed);
  /// Paces the bytes of `reaction` on from `from`, the arrival of what they answer.
  void Queue(Connection& c, const Reaction& reaction, Clock::time_point from);
  void MoveDueBytes(Connection& c, Clock::time_point now);
  /// When the next of its queued bytes goes out.
  Clock::time_point NextDue(const Connection& c) const;
  bool Flush(Connection& c);
  void NoteControl(const std::string& event);
  void EndSession(const Connection& c);
  /// A reply left `behind` past its time. These three with `mutex_` held.
  void NoteReply(Clock::duration behind);
  /// A reply of time `exact` that never left.
  void NoteOverdue(Clock::time_point exact);
  /// Forgets the bytes waiting for their time, noting the replies among them that were due.
  void DropPaced(Connection& c);

  ModuleSpec spec_;
  int com_;
  LineTiming timing_;
  downloader::net::Socket stop_;
  Clock::time_point epoch_;
  downloader::net::Socket listener_ = downloader::net::kNoSocket;
  uint16_t port_ = 0;
  std::vector<downloader::net::Socket> waiting_;  // clients that came while another was served
  std::vector<Clock::time_point> waitingSince_;

  std::mutex mutex_;   // guards everything below
  ModuleModel model_;  // the module in the fixture, or the last one taken out
  bool plugged_ = true;
  int64_t since_ = 0;
  std::deque<Unit> units_;
  int connections_ = 0;
  std::deque<Session> sessions_;
  std::deque<std::string> controls_;
  std::map<std::string, int> settings_;  // the line settings the last client asked for
  bool serving_ = false;
  ReplyTimes replies_;
  std::array<int64_t, 3> lastSession_{-1, -1, -1};  // opened, first data, closed
};

}  // namespace emulator
