#include "server.h"

#include <algorithm>

#include "serial/telnet.h"

namespace emulator {

using namespace downloader::telnet;
namespace net = downloader::net;

namespace {

constexpr auto kWaitForPrevious = std::chrono::milliseconds(500);
constexpr auto kChatterPeriod = std::chrono::milliseconds(2);
constexpr int kChatterBytes = 16;
constexpr uint8_t kChatterByte = 0x55;
constexpr std::size_t kMaxPaced = 64 * 1024;
constexpr std::size_t kMaxControls = 10000;
constexpr std::size_t kMaxSessions = 10000;
constexpr std::size_t kMaxOut = 1 << 20;

std::bitset<256> Accepted() {
  std::bitset<256> set;
  set[kOptionBinary] = set[kOptionSuppressGoAhead] = set[kOptionComPort] = true;
  return set;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t b : bytes) {
    text.push_back(digits[b >> 4]);
    text.push_back(digits[b & 15]);
  }
  return text;
}

nlohmann::json SlotsJson(const std::map<int, SlotRecord>& records) {
  nlohmann::json slots = nlohmann::json::array();
  for (const auto& [slot, record] : records) {
    nlohmann::json s;
    s["slot"] = slot;
    s["received"] = nlohmann::json::array();
    s["acknowledged"] = nlohmann::json::array();
    for (const auto& p : record.received) s["received"].push_back(Hex(p));
    for (const auto& p : record.acknowledged) s["acknowledged"].push_back(Hex(p));
    s["ended"] = record.ended;
    slots.push_back(s);
  }
  return slots;
}

}  // namespace

struct ModuleServer::Connection : Parser::Handler {
  Connection(ModuleServer& s, net::Socket f)
      : server(s), socket(f), negotiator(Accepted(), Accepted()) {}

  void OnData(uint8_t byte) override {
    Reaction reaction;
    {
      std::lock_guard lock(server.mutex_);
      if (firstData < 0) firstData = server.Now();
      // An empty fixture: nothing answers.
      if (server.plugged_) {
        const int before = server.model_.Packets();
        reaction = server.model_.OnByte(byte);
        if (server.model_.Packets() != before) {
          download = server.units_.size() - 1;
          packets += server.model_.Packets() - before;
        }
      }
    }
    server.Queue(*this, reaction, arrived);
  }
  void OnNegotiation(uint8_t verb, uint8_t option) override {
    negotiator.Receive(verb, option, out);
    if (!notified && (negotiator.LocalOn(kOptionComPort) || negotiator.RemoteOn(kOptionComPort))) {
      // A client learns the modem lines only from notifications: it gets one at once.
      notified = true;
      server.NotifyModemState(*this, false);
    }
  }
  void OnSubnegotiation(const std::vector<uint8_t>& body) override {
    server.HandleSubnegotiation(*this, body);
  }

  ModuleServer& server;
  net::Socket socket;
  Parser parser;
  Negotiator negotiator;
  std::vector<uint8_t> out;  // ready to send, already in Telnet form
  // Bytes waiting for their time on the line: when they go, and when a module keeping its
  // time exactly would send them (later only by --slow-replies).
  struct Paced {
    Clock::time_point due;
    Clock::time_point exact;
    uint8_t value;
    bool reply;
  };
  std::deque<Paced> paced;
  Clock::time_point lastDue{};
  Clock::time_point lastExact{};
  Clock::time_point arrived{};  // of the bytes being taken
  // Replies in `out`: the count of bytes sent when the reply has left, and its exact time.
  std::deque<std::pair<uint64_t, Clock::time_point>> replies;
  uint64_t sent = 0;  // bytes sent on the connection
  Clock::time_point nextChatter{};
  bool notified = false;
  bool drop = false;
  bool dtr = false, rts = false, brk = false;
  // The connection in the fixture's units: when it opened, the unit then in the fixture,
  // its first data byte, and the unit it delivered packets to (none: npos).
  int64_t opened = 0;
  std::size_t unit = std::string::npos;
  int64_t firstData = -1;
  std::size_t download = std::string::npos;
  int packets = 0;
  std::array<int64_t, 3> previous{-1, -1, -1};
};

ModuleServer::ModuleServer(const ModuleSpec& spec, int com, const LineTiming& timing,
                           net::Socket stop, Clock::time_point epoch, bool plugged)
    : spec_(spec),
      com_(com),
      timing_(timing),
      stop_(stop),
      epoch_(epoch),
      model_(spec),
      plugged_(plugged) {
  if (plugged) units_.push_back(Unit{spec, 0, -1, 0, 0, {}, {}});
}

ModuleServer::~ModuleServer() {
  for (const net::Socket s : waiting_) net::Close(s);
  if (listener_ != net::kNoSocket) net::Close(listener_);
}

bool ModuleServer::Listen(std::string& error) {
  std::string why;
  listener_ = net::ListenLoopback(spec_.port, port_, why);
  if (listener_ == net::kNoSocket) {
    error = "127.0.0.1:" + std::to_string(spec_.port) + ": " + why;
    return false;
  }
  return true;
}

void ModuleServer::Run() {
  for (;;) {
    net::Socket socket = net::kNoSocket;
    if (!waiting_.empty()) {
      socket = waiting_.front();
      waiting_.erase(waiting_.begin());
      waitingSince_.erase(waitingSince_.begin());
    } else {
      net::Waited w[2] = {{stop_}, {listener_}};
      if (net::WaitAny(w, 2, Clock::now() + std::chrono::seconds(60)) < 0) return;
      if (w[0].readable) return;
      if (!w[1].readable) continue;
      socket = net::Accept(listener_);
      if (socket == net::kNoSocket) continue;
    }
    Serve(socket);
    net::Waited stop{stop_};
    if (net::WaitAny(&stop, 1, Clock::now()) > 0 && stop.readable) return;
  }
}

int64_t ModuleServer::Now() const {
  return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - epoch_).count();
}

void ModuleServer::NoteControl(const std::string& event) {
  controls_.push_back(event);
  if (controls_.size() > kMaxControls) controls_.pop_front();
}

void ModuleServer::Serve(net::Socket socket) {
  Connection c(*this, socket);
  {
    std::lock_guard lock(mutex_);
    ++connections_;
    const int64_t now = Now();
    sessions_.push_back(Session{now, now, -1});
    if (sessions_.size() > kMaxSessions) sessions_.pop_front();
    model_.OnConnect();
    c.opened = now;
    c.previous = lastSession_;
    if (plugged_) c.unit = units_.size() - 1;
    serving_ = true;
  }
  c.negotiator.Request(kDo, kOptionBinary, c.out);
  c.negotiator.Request(kWill, kOptionBinary, c.out);
  c.negotiator.Request(kDo, kOptionComPort, c.out);
  c.nextChatter = Clock::now();

  bool alive = Flush(c);
  while (alive && !c.drop) {
    const auto now = Clock::now();
    auto wake = now + std::chrono::milliseconds(100);
    if (!c.paced.empty()) wake = std::min(wake, NextDue(c));
    bool chatter = false;
    {
      std::lock_guard lock(mutex_);
      chatter = plugged_ && units_.back().spec.chatter;
    }
    if (chatter) wake = std::min(wake, c.nextChatter);
    for (std::size_t i = 0; i < waiting_.size(); ++i) {
      wake = std::min(wake, waitingSince_[i] + kWaitForPrevious);
    }
    net::Waited w[3] = {{socket, !c.out.empty()}, {stop_}, {listener_}};
    if (net::WaitAny(w, 3, wake) < 0) break;
    if (w[1].readable) break;
    if (w[0].readable) alive = HandleInput(c);
    if (w[2].readable) {
      const net::Socket other = net::Accept(listener_);
      if (other != net::kNoSocket) {
        waiting_.push_back(other);
        waitingSince_.push_back(Clock::now());
      }
    }
    // One client at a time: a newcomer that waited too long is turned away.
    for (std::size_t i = 0; i < waiting_.size();) {
      if (Clock::now() - waitingSince_[i] >= kWaitForPrevious) {
        net::Close(waiting_[i]);
        waiting_.erase(waiting_.begin() + static_cast<long>(i));
        waitingSince_.erase(waitingSince_.begin() + static_cast<long>(i));
      } else {
        ++i;
      }
    }
    if (chatter && Clock::now() >= c.nextChatter) {
      for (int i = 0; i < kChatterBytes && c.paced.size() < kMaxPaced; ++i) {
        Queue(c, Reaction{{{kChatterByte, 0}}, false}, Clock::now());
      }
      c.nextChatter = Clock::now() + kChatterPeriod;
    }
    MoveDueBytes(c, Clock::now());
    if (alive) alive = Flush(c);
  }
  if (c.drop) Flush(c);
  net::Close(socket);
  std::lock_guard lock(mutex_);
  for (const auto& reply : c.replies) NoteOverdue(reply.second);
  DropPaced(c);
  EndSession(c);
  model_.OnDisconnect();
}

void ModuleServer::EndSession(const Connection& c) {
  const int64_t now = Now();
  sessions_.back().closed = now;
  serving_ = false;
  lastSession_ = {c.opened, c.firstData, now};
  if (c.download != std::string::npos) {
    units_[c.download].downloads.push_back(
        Download{c.opened, c.firstData, now, c.packets, c.previous});
  } else if (c.unit != std::string::npos) {
    ++units_[c.unit].checks;
  }
}

void ModuleServer::NoteReply(Clock::duration behind) {
  const int64_t us = std::chrono::duration_cast<std::chrono::microseconds>(behind).count();
  ++replies_.measured;
  replies_.worstUs = std::max(replies_.worstUs, us);
  if (behind <= timing_.lateAfter) return;
  ++replies_.late;
  if (plugged_) ++units_.back().late;
}

void ModuleServer::NoteOverdue(Clock::time_point exact) {
  // A reply that never left (the client gave up waiting for it, or reset the module or
  // purged the line meanwhile) was late if its time had passed; one whose time had not yet
  // come tells nothing.
  const auto behind = Clock::now() - exact;
  if (behind > timing_.lateAfter) NoteReply(behind);
}

void ModuleServer::DropPaced(Connection& c) {
  for (const Connection::Paced& b : c.paced) {
    if (b.reply) NoteOverdue(b.exact);
  }
  c.paced.clear();
}

ReplyTimes ModuleServer::Replies() {
  std::lock_guard lock(mutex_);
  return replies_;
}

bool ModuleServer::Plug(const ModuleSpec& spec, std::string& error) {
  std::lock_guard lock(mutex_);
  if (plugged_) {
    error = "COM" + std::to_string(com_) + " holds a module: unplug it first";
    return false;
  }
  model_ = ModuleModel(spec);
  model_.OnConnect();
  plugged_ = true;
  since_ = Now();
  units_.push_back(Unit{spec, since_, -1, 0, 0, {}, {}});
  return true;
}

bool ModuleServer::Unplug(std::string& error) {
  std::lock_guard lock(mutex_);
  if (!plugged_) {
    error = "COM" + std::to_string(com_) + " is empty";
    return false;
  }
  plugged_ = false;
  since_ = Now();
  units_.back().removed = since_;
  units_.back().slots = model_.Slots();
  return true;
}

ModuleServer::Fixture ModuleServer::State() {
  std::lock_guard lock(mutex_);
  Fixture fixture;
  fixture.plugged = plugged_;
  fixture.since = since_;
  if (plugged_ && !units_.back().downloads.empty()) {
    fixture.downloaded = units_.back().downloads.back().closed;
  }
  fixture.served = serving_;
  return fixture;
}

bool ModuleServer::HandleInput(Connection& c) {
  uint8_t chunk[4096];
  const long n = net::ReceiveStamped(c.socket, chunk, sizeof chunk, c.arrived);
  if (n == net::kWouldBlock) return true;
  if (n <= 0) return false;
  {
    std::lock_guard lock(mutex_);
    sessions_.back().lastInput = Now();
  }
  c.parser.Feed(chunk, static_cast<std::size_t>(n), c);
  return true;
}

void ModuleServer::Queue(Connection& c, const Reaction& reaction, Clock::time_point from) {
  for (const Reaction::Byte& b : reaction.bytes) {
    // A byte goes a byte time after the one before it, or after what it answers came.
    const auto time =
        std::chrono::nanoseconds(timing_.byteTimeNs) + std::chrono::milliseconds(b.delayMs);
    c.lastExact = std::max(from, c.lastExact) + time;
    c.lastDue = std::max(from, c.lastDue) + time;
    if (b.reply) c.lastDue += timing_.slowReplies;
    c.paced.push_back({c.lastDue, c.lastExact, b.value, b.reply});
  }
  if (reaction.drop) {
    // What was due goes out; the rest of the conversation never happens.
    MoveDueBytes(c, Clock::time_point::max());
    c.drop = true;
  }
}

void ModuleServer::MoveDueBytes(Connection& c, Clock::time_point now) {
  while (!c.paced.empty() && c.paced.front().due <= now && c.out.size() < kMaxOut) {
    const Connection::Paced& b = c.paced.front();
    if (timing_.burst && !b.reply && c.paced.size() > 1 && c.paced[1].due > now) break;
    AppendEscaped(c.out, &b.value, 1);
    if (b.reply) c.replies.emplace_back(c.sent + c.out.size(), b.exact);
    c.paced.pop_front();
  }
}

ModuleServer::Clock::time_point ModuleServer::NextDue(const Connection& c) const {
  std::size_t i = 0;
  if (timing_.burst) {
    while (i + 1 < c.paced.size() && !c.paced[i].reply) ++i;
  }
  return c.paced[i].due;
}

bool ModuleServer::Flush(Connection& c) {
  while (!c.out.empty()) {
    const long n = net::Send(c.socket, c.out.data(), c.out.size());
    if (n > 0) {
      c.out.erase(c.out.begin(), c.out.begin() + n);
      c.sent += static_cast<uint64_t>(n);
      const auto now = Clock::now();
      std::lock_guard lock(mutex_);
      while (!c.replies.empty() && c.replies.front().first <= c.sent) {
        NoteReply(now - c.replies.front().second);
        c.replies.pop_front();
      }
    } else if (n == net::kWouldBlock) {
      return true;
    } else {
      return false;
    }
  }
  return true;
}

void ModuleServer::NotifyModemState(Connection& c, bool changed) {
  bool dsr;
  {
    std::lock_guard lock(mutex_);
    dsr = plugged_ && model_.Dsr();
  }
  const uint8_t state =
      static_cast<uint8_t>((dsr ? kModemDsr : 0) | (changed ? kModemDsrDelta : 0));
  const auto bytes = ComPortCommand(kNotifyModemState + kServerOffset, {state});
  c.out.insert(c.out.end(), bytes.begin(), bytes.end());
}

void ModuleServer::Control(Connection& c, uint8_t value) {
  uint8_t answer = value;
  bool dsrBefore, dsrAfter;
  {
    std::lock_guard lock(mutex_);
    // The lines reach a module only while one is plugged in.
    ModuleModel unplugged(spec_);
    ModuleModel& model = plugged_ ? model_ : unplugged;
    dsrBefore = plugged_ && model_.Dsr();
    switch (value) {
      case kControlBreakOn:
      case kControlBreakOff:
        c.brk = value == kControlBreakOn;
        NoteControl(c.brk ? "break=1" : "break=0");
        model.OnBreak(c.brk);
        // A module in reset sends nothing more of what it was saying.
        if (c.brk) DropPaced(c);
        break;
      case kControlDtrOn:
      case kControlDtrOff:
        c.dtr = value == kControlDtrOn;
        NoteControl(c.dtr ? "dtr=1" : "dtr=0");
        model.OnDtr(c.dtr);
        break;
      case kControlRtsOn:
      case kControlRtsOff:
        c.rts = value == kControlRtsOn;
        NoteControl(c.rts ? "rts=1" : "rts=0");
        model.OnRts(c.rts);
        break;
      case kControlRequestFlow:
        answer = kControlFlowNone;
        break;
      case kControlRequestBreak:
        answer = c.brk ? kControlBreakOn : kControlBreakOff;
        break;
      case kControlRequestDtr:
        answer = c.dtr ? kControlDtrOn : kControlDtrOff;
        break;
      case kControlRequestRts:
        answer = c.rts ? kControlRtsOn : kControlRtsOff;
        break;
      default:
        break;  // flow control settings: taken as they come
    }
    dsrAfter = plugged_ && model_.Dsr();
  }
  // The notification goes before the reply, so a client that waits for the reply has it.
  if (dsrAfter != dsrBefore) NotifyModemState(c, true);
  const auto bytes = ComPortCommand(kSetControl + kServerOffset, {answer});
  c.out.insert(c.out.end(), bytes.begin(), bytes.end());
}

void ModuleServer::HandleSubnegotiation(Connection& c, const std::vector<uint8_t>& body) {
  if (body.size() < 2 || body[0] != kOptionComPort) return;
  const uint8_t command = body[1];
  // The first value byte (0 when none came) and, for the baud rate, all four.
  const uint8_t first = body.size() > 2 ? body[2] : 0;
  auto note = [&](const char* name, int v) {
    std::lock_guard lock(mutex_);
    settings_[name] = v;
  };
  auto reply = [&](std::initializer_list<uint8_t> v) {
    const auto bytes = ComPortCommand(static_cast<uint8_t>(command + kServerOffset), v);
    c.out.insert(c.out.end(), bytes.begin(), bytes.end());
  };
  switch (command) {
    case kSetBaudRate: {
      uint8_t baud[4] = {0, 0, 0x25, 0x80};  // 9600, the answer to a query (0)
      if (body.size() >= 6 && (body[2] | body[3] | body[4] | body[5]) != 0) {
        for (int i = 0; i < 4; ++i) baud[i] = body[2 + static_cast<std::size_t>(i)];
        note("baud", baud[0] << 24 | baud[1] << 16 | baud[2] << 8 | baud[3]);
      }
      reply({baud[0], baud[1], baud[2], baud[3]});
      break;
    }
    case kSetDataSize:
      if (first != 0) note("datasize", first);
      reply({first != 0 ? first : uint8_t{8}});
      break;
    case kSetParity:
      if (first != 0) note("parity", first);
      reply({first != 0 ? first : kParityNone});
      break;
    case kSetStopSize:
      if (first != 0) note("stopsize", first);
      reply({first != 0 ? first : uint8_t{1}});
      break;
    case kSetControl:
      if (body.size() > 2) Control(c, first);
      break;
    case kNotifyLineState:
      reply({0});
      break;
    case kNotifyModemState:
      NotifyModemState(c, false);
      break;
    case kSetLineStateMask:
    case kSetModemStateMask:
      reply({first});
      break;
    case kPurgeData:
      if (first == kPurgeReceive || first == kPurgeBoth) {
        std::lock_guard lock(mutex_);
        DropPaced(c);
      }
      reply({first});
      break;
    default:
      break;  // flow control suspend/resume and anything unknown
  }
}

nlohmann::json ModuleServer::Dump() {
  std::lock_guard lock(mutex_);
  nlohmann::json module;
  module["com"] = com_;
  module["port"] = port_;
  module["type"] = spec_.type;
  module["version"] = VersionText(spec_);
  module["reply"] = spec_.reply;
  module["connections"] = connections_;
  module["sessions"] = nlohmann::json::array();
  for (const Session& s : sessions_) {
    module["sessions"].push_back(
        {{"opened", s.opened}, {"last_input", s.lastInput}, {"closed", s.closed}});
  }
  module["resets"] = model_.Resets();
  module["controls"] = controls_;
  module["settings"] = settings_;
  module["slots"] = SlotsJson(model_.Slots());
  module["replies"] = {{"measured", replies_.measured},
                       {"late", replies_.late},
                       {"worst_ms", static_cast<double>(replies_.worstUs) / 1000.0}};
  module["plugged"] = plugged_;
  module["units"] = nlohmann::json::array();
  for (std::size_t i = 0; i < units_.size(); ++i) {
    const Unit& unit = units_[i];
    nlohmann::json downloads = nlohmann::json::array();
    for (const Download& d : unit.downloads) {
      downloads.push_back({{"opened", d.opened},
                           {"first_data", d.firstData},
                           {"closed", d.closed},
                           {"packets", d.packets},
                           {"previous",
                            {{"opened", d.previous[0]},
                             {"first_data", d.previous[1]},
                             {"closed", d.previous[2]}}}});
    }
    const bool inFixture = plugged_ && i + 1 == units_.size();
    module["units"].push_back({{"type", unit.spec.type},
                               {"version", VersionText(unit.spec)},
                               {"plugged", unit.plugged},
                               {"removed", unit.removed},
                               {"checks", unit.checks},
                               {"late", unit.late},
                               {"downloads", downloads},
                               {"slots", SlotsJson(inFixture ? model_.Slots() : unit.slots)}});
  }
  return module;
}

}  // namespace emulator
