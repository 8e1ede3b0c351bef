#include "serial/serial_device_rfc2217.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>
#include <vector>

#include "serial/hints.h"
#include "serial/open_errors.h"
#include "serial/port_lock.h"
#include "serial/socket.h"
#include "serial/telnet.h"

namespace downloader {

namespace {

using Clock = std::chrono::steady_clock;
using namespace telnet;

// Received data waiting to be read is capped like a UART's buffer: beyond it bytes are lost.
constexpr std::size_t kMaxQueued = 1 << 20;
// The drain throws away at most this much while it waits for the PURGE-DATA reply.
constexpr std::size_t kMaxDrained = 256 * 1024;

Clock::time_point Deadline(uint32_t ms) {
  return Clock::now() + std::chrono::milliseconds(ms);
}

std::bitset<256> Options(std::initializer_list<uint8_t> options) {
  std::bitset<256> set;
  for (uint8_t o : options) set[o] = true;
  return set;
}

class Rfc2217Device final : public SerialDevice, private Parser::Handler {
 public:
  Rfc2217Device(net::Socket socket, PortLock lock, const Rfc2217Timing& timing)
      : socket_(socket),
        lock_(std::move(lock)),
        timing_(timing),
        negotiator_(Options({kOptionBinary, kOptionSuppressGoAhead, kOptionComPort}),
                    Options({kOptionBinary, kOptionSuppressGoAhead, kOptionComPort})) {}

  ~Rfc2217Device() override {
    // Whatever is still queued goes out if the socket takes it at once.
    Flush(Clock::now());
    net::Close(socket_);
  }

  /// Asks for BINARY both ways and COM-PORT-OPTION and waits for the server's DO COM-PORT.
  bool Negotiate() {
    negotiator_.Request(kWill, kOptionBinary, out_);
    negotiator_.Request(kDo, kOptionBinary, out_);
    negotiator_.Request(kWill, kOptionComPort, out_);
    const auto deadline = Deadline(timing_.connectMs);
    if (!Flush(deadline)) return false;
    while (!negotiator_.LocalOn(kOptionComPort) && !closed_) {
      if (!PumpOnce(deadline)) break;
    }
    if (!negotiator_.LocalOn(kOptionComPort)) return false;
    // Every modem line change is wanted. No reply is awaited: ser2net never sends one.
    Send(ComPortCommand(kSetModemStateMask, {0xFF}));
    return Flush(Deadline(timing_.controlAckMs));
  }

  bool Closed() const { return closed_; }

  bool ReadState() override { return negotiator_.LocalOn(kOptionComPort) && !closed_; }

  bool Configure(const LineSettings& s) override {
    const uint32_t baud = s.baudRate;
    settingsReplies_ = 0;
    Send(ComPortCommand(kSetBaudRate,
                        {static_cast<uint8_t>(baud >> 24), static_cast<uint8_t>(baud >> 16),
                         static_cast<uint8_t>(baud >> 8), static_cast<uint8_t>(baud)}));
    Send(ComPortCommand(kSetDataSize, {s.dataBits}));
    Send(ComPortCommand(kSetParity, {s.evenParity ? kParityEven : kParityNone}));
    Send(ComPortCommand(kSetStopSize, {1}));
    const uint32_t controlsBefore = controlReplies_;
    Send(ComPortCommand(kSetControl, {kControlFlowNone}));
    const auto deadline = Deadline(timing_.settingsAckMs);
    if (!Flush(deadline)) return false;
    constexpr uint32_t kAll =
        (1u << kSetBaudRate) | (1u << kSetDataSize) | (1u << kSetParity) | (1u << kSetStopSize);
    while ((settingsReplies_ != kAll || controlReplies_ == controlsBefore) && !closed_) {
      if (!PumpOnce(deadline)) break;
    }
    // The flow setting is a SET-CONTROL too: a server that left it unanswered is not waited
    // on again, so the DTR and RTS that follow cost no second wait.
    if (controlReplies_ == controlsBefore && !closed_) controlUnanswered_ = true;
    return settingsReplies_ == kAll;
  }

  int Read(uint8_t* buffer, std::size_t count, uint32_t timeoutMs) override {
    const auto deadline = Deadline(timeoutMs);
    while (Queued() < count && !closed_) {
      if (!PumpOnce(deadline)) break;
    }
    const std::size_t n = std::min(count, Queued());
    // Before any byte has come, the buffer has no storage to copy from at all.
    if (n == 0) return closed_ ? -1 : 0;
    std::memcpy(buffer, rx_.data() + rxStart_, n);
    rxStart_ += n;
    if (rxStart_ == rx_.size()) {
      rx_.clear();
      rxStart_ = 0;
    }
    return static_cast<int>(n);
  }

  bool Write(const uint8_t* bytes, std::size_t count, uint32_t timeoutMs) override {
    if (closed_) return false;
    AppendEscaped(out_, bytes, count);
    return Flush(Deadline(timeoutMs));
  }

  int Drain() override {
    std::size_t discarded = Queued();
    rx_.clear();
    rxStart_ = 0;
    if (closed_) return static_cast<int>(discarded);
    discarding_ = true;
    discardedBytes_ = 0;
    if (!purgeUnanswered_) {
      // What arrives before the server's reply was sent before the purge: thrown away.
      const uint32_t before = purgeReplies_;
      Send(ComPortCommand(kPurgeData, {kPurgeReceive}));
      const auto deadline = Deadline(timing_.drainMs);
      Flush(deadline);
      while (purgeReplies_ == before && !closed_ && discardedBytes_ < kMaxDrained) {
        if (!PumpOnce(deadline)) break;
      }
      if (purgeReplies_ == before && !closed_ && discardedBytes_ < kMaxDrained) {
        purgeUnanswered_ = true;
      }
    } else {
      PumpAvailable();
    }
    discarding_ = false;
    discarded += discardedBytes_;
    return static_cast<int>(discarded);
  }

  void SetDTR(bool on) override { Control(on ? kControlDtrOn : kControlDtrOff); }
  void SetRTS(bool on) override { Control(on ? kControlRtsOn : kControlRtsOff); }
  void SetBreak(bool on) override { Control(on ? kControlBreakOn : kControlBreakOff); }

  uint32_t ModemStatus() override {
    // Take in any notification that has arrived, without waiting.
    PumpAvailable();
    return modemState_ & 0xF0u;
  }

 private:
  std::size_t Queued() const { return rx_.size() - rxStart_; }

  void Send(const std::vector<uint8_t>& bytes) {
    out_.insert(out_.end(), bytes.begin(), bytes.end());
  }

  // Sends a SET-CONTROL and waits for a reply, so that a modem state notification the
  // server sends before its reply is seen by the next status read. Any SET-CONTROL reply
  // counts (ser2net answers BREAK off with BREAK on), and a server that left one
  // unanswered (ser2net: DTR and RTS) is not waited on again on this connection.
  void Control(uint8_t value) {
    if (closed_) return;
    const uint32_t before = controlReplies_;
    Send(ComPortCommand(kSetControl, {value}));
    const auto deadline = Deadline(timing_.controlAckMs);
    if (!Flush(deadline) || controlUnanswered_) return;
    while (controlReplies_ == before && !closed_) {
      if (!PumpOnce(deadline)) break;
    }
    if (controlReplies_ == before && !closed_) controlUnanswered_ = true;
  }

  // Sends what is queued in out_, until `deadline`. What the socket did not take stays
  // queued, in order, so the Telnet stream is never cut inside a command.
  bool Flush(Clock::time_point deadline) {
    while (!out_.empty()) {
      if (closed_) {
        out_.clear();
        return false;
      }
      const long n = net::Send(socket_, out_.data(), out_.size());
      if (n > 0) {
        out_.erase(out_.begin(), out_.begin() + n);
        continue;
      }
      if (n == net::kFailed) {
        closed_ = true;
        continue;
      }
      if (net::Wait(socket_, true, deadline) <= 0) return false;
    }
    return true;
  }

  // Waits until `deadline` for bytes from the server and takes in what came (one read).
  // False when nothing came in time, the connection is gone, or the deadline has passed:
  // a server that never stops sending (data, IAC NOP, an endless subnegotiation) would
  // otherwise keep every wait going, since a socket with bytes waiting is always ready.
  bool PumpOnce(Clock::time_point deadline) {
    if (closed_) return false;
    if (net::Wait(socket_, false, deadline) <= 0) return false;
    return TakeIn(deadline) && Clock::now() < deadline;
  }

  // Takes in what has arrived already, without waiting; bounded, as the peer may never stop.
  void PumpAvailable() {
    for (int chunk = 0; chunk < 64 && !closed_; ++chunk) {
      if (net::Wait(socket_, false, Clock::now()) <= 0 || !TakeIn(Clock::now())) break;
    }
  }

  // One read of what the socket holds, through the Telnet parser. False when the
  // connection is gone.
  bool TakeIn(Clock::time_point deadline) {
    uint8_t chunk[4096];
    const long n = net::Receive(socket_, chunk, sizeof chunk);
    if (n == net::kWouldBlock) return true;
    if (n <= 0) {
      closed_ = true;
      return false;
    }
    parser_.Feed(chunk, static_cast<std::size_t>(n), *this);
    // Answers to the server's option requests go out right away, within the caller's time;
    // what the socket does not take now goes with the next flush.
    if (!out_.empty()) Flush(std::min(deadline, Deadline(timing_.controlAckMs)));
    return true;
  }

  void OnData(uint8_t byte) override {
    if (discarding_) {
      ++discardedBytes_;
      return;
    }
    if (Queued() >= kMaxQueued) return;
    if (rxStart_ > 0 && rxStart_ == rx_.size()) {
      rx_.clear();
      rxStart_ = 0;
    }
    rx_.push_back(byte);
  }

  void OnNegotiation(uint8_t verb, uint8_t option) override {
    negotiator_.Receive(verb, option, out_);
  }

  void OnSubnegotiation(const std::vector<uint8_t>& body) override {
    if (body.size() < 2 || body[0] != kOptionComPort) return;
    const uint8_t command = body[1];
    if (command < kServerOffset) return;
    switch (command - kServerOffset) {
      case kSetBaudRate:
      case kSetDataSize:
      case kSetParity:
      case kSetStopSize:
        settingsReplies_ |= 1u << (command - kServerOffset);
        break;
      case kSetControl:
        ++controlReplies_;
        break;
      case kNotifyModemState:
        if (body.size() >= 3) modemState_ = body[2];
        break;
      case kPurgeData:
        ++purgeReplies_;
        // Data after the reply left the module after the purge: it is kept.
        discarding_ = false;
        break;
      default:
        break;
    }
  }

  net::Socket socket_;
  PortLock lock_;
  Rfc2217Timing timing_;
  Parser parser_;
  Negotiator negotiator_;
  std::vector<uint8_t> out_;
  std::vector<uint8_t> rx_;
  std::size_t rxStart_ = 0;
  bool closed_ = false;
  uint8_t modemState_ = 0;
  uint32_t settingsReplies_ = 0;
  uint32_t controlReplies_ = 0;
  uint32_t purgeReplies_ = 0;
  bool controlUnanswered_ = false;
  bool purgeUnanswered_ = false;
  bool discarding_ = false;
  std::size_t discardedBytes_ = 0;
};

// Why the connection failed, for the port's reason line.
std::string ConnectFailureReason(int err) {
  switch (err) {
    case ENOENT:
      return "whose host is not found";
    case ECONNREFUSED:
      return "which refuses the connection: nothing listens there";
    case ETIMEDOUT:
      return "which does not answer";
    case EHOSTUNREACH:
    case ENETUNREACH:
      return "whose host cannot be reached";
    default:
      return "which cannot be reached: " + std::generic_category().message(err);
  }
}

}  // namespace

DeviceOpenResult OpenRfc2217Device(const std::string& host, uint16_t port,
                                   const std::string& comName, const Rfc2217Timing& timing) {
  DeviceOpenResult result;
  const std::string target = "rfc2217-" + host + "-" + std::to_string(port);
  PortLock::Refusal refusal;
  auto lock = PortLock::Acquire(target, refusal);
  if (!lock) {
    result.error = OpenErrorCode(refusal.error);
    const std::string hint =
        LockRefusalHint(refusal, "rfc2217://" + host + ":" + std::to_string(port), comName);
    if (!hint.empty()) WriteHint(hint);
    return result;
  }
  int err = 0;
  const net::Socket socket = net::Connect(host, port, Deadline(timing.connectMs), err);
  if (socket == net::kNoSocket) {
    result.error = OpenErrorCode(err);
    result.reason = ConnectFailureReason(err);
    return result;
  }
  auto device = std::make_unique<Rfc2217Device>(socket, std::move(*lock), timing);
  if (!device->Negotiate() && device->Closed()) {
    // A server that hangs up at once serves another client (ser2net without kickolduser).
    result.error = kErrorAccessDenied;
    return result;
  }
  result.device = std::move(device);
  return result;
}

}  // namespace downloader
