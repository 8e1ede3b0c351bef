#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace downloader::telnet {

/// Telnet bytes (RFC 854) and the options a network serial port uses.
inline constexpr uint8_t kIac = 255;
inline constexpr uint8_t kDont = 254;
inline constexpr uint8_t kDo = 253;
inline constexpr uint8_t kWont = 252;
inline constexpr uint8_t kWill = 251;
inline constexpr uint8_t kSb = 250;
inline constexpr uint8_t kSe = 240;

inline constexpr uint8_t kOptionBinary = 0;
inline constexpr uint8_t kOptionEcho = 1;
inline constexpr uint8_t kOptionSuppressGoAhead = 3;
inline constexpr uint8_t kOptionComPort = 44;

/// RFC 2217 commands, client to server; the server answers with the command + 100.
inline constexpr uint8_t kSetBaudRate = 1;
inline constexpr uint8_t kSetDataSize = 2;
inline constexpr uint8_t kSetParity = 3;
inline constexpr uint8_t kSetStopSize = 4;
inline constexpr uint8_t kSetControl = 5;
inline constexpr uint8_t kNotifyLineState = 6;
inline constexpr uint8_t kNotifyModemState = 7;
inline constexpr uint8_t kFlowControlSuspend = 8;
inline constexpr uint8_t kFlowControlResume = 9;
inline constexpr uint8_t kSetLineStateMask = 10;
inline constexpr uint8_t kSetModemStateMask = 11;
inline constexpr uint8_t kPurgeData = 12;
inline constexpr uint8_t kServerOffset = 100;

/// SET-CONTROL values.
inline constexpr uint8_t kControlRequestFlow = 0;
inline constexpr uint8_t kControlFlowNone = 1;
inline constexpr uint8_t kControlRequestBreak = 4;
inline constexpr uint8_t kControlBreakOn = 5;
inline constexpr uint8_t kControlBreakOff = 6;
inline constexpr uint8_t kControlRequestDtr = 7;
inline constexpr uint8_t kControlDtrOn = 8;
inline constexpr uint8_t kControlDtrOff = 9;
inline constexpr uint8_t kControlRequestRts = 10;
inline constexpr uint8_t kControlRtsOn = 11;
inline constexpr uint8_t kControlRtsOff = 12;

/// SET-PARITY values, PURGE-DATA values, modem state bits.
inline constexpr uint8_t kParityNone = 1;
inline constexpr uint8_t kParityEven = 3;
inline constexpr uint8_t kPurgeReceive = 1;
inline constexpr uint8_t kPurgeBoth = 3;
inline constexpr uint8_t kModemDsr = 0x20;
inline constexpr uint8_t kModemDsrDelta = 0x02;

/// Splits a Telnet byte stream into data, negotiations and subnegotiations. Doubled IAC
/// is one data byte. A subnegotiation longer than kMaxSubnegotiation is dropped whole, so
/// a hostile peer cannot grow it.
class Parser {
 public:
  static constexpr std::size_t kMaxSubnegotiation = 64;

  struct Handler {
    virtual ~Handler() = default;
    virtual void OnData(uint8_t byte) = 0;
    virtual void OnNegotiation(uint8_t verb, uint8_t option) = 0;
    /// The bytes between IAC SB and IAC SE, IAC doubling undone.
    virtual void OnSubnegotiation(const std::vector<uint8_t>& body) = 0;
  };

  void Feed(const uint8_t* bytes, std::size_t count, Handler& handler);

 private:
  enum class State { kInData, kAfterIac, kAfterVerb, kInSub, kInSubAfterIac };
  State state_ = State::kInData;
  uint8_t verb_ = 0;
  std::vector<uint8_t> sub_;
  bool subTooLong_ = false;
};

/// Appends `bytes` with every 0xFF doubled.
void AppendEscaped(std::vector<uint8_t>& out, const uint8_t* bytes, std::size_t count);

/// IAC SB COM-PORT-OPTION command value... IAC SE, the value escaped.
std::vector<uint8_t> ComPortCommand(uint8_t command, std::vector<uint8_t> value);

/// The option states of one side of a connection (a simplified RFC 1143): which options it
/// lets itself enable and which it wants the peer to enable; answers every request once,
/// never acknowledges a state it is already in, and gives up answering a peer that keeps
/// flipping an option.
class Negotiator {
 public:
  Negotiator(std::bitset<256> acceptLocal, std::bitset<256> acceptRemote)
      : acceptLocal_(acceptLocal), acceptRemote_(acceptRemote) {}

  /// Our own first request (WILL or DO); appended to `out`.
  void Request(uint8_t verb, uint8_t option, std::vector<uint8_t>& out);
  /// A received WILL/WONT/DO/DONT; any answer is appended to `out`.
  void Receive(uint8_t verb, uint8_t option, std::vector<uint8_t>& out);

  bool LocalOn(uint8_t option) const { return localOn_[option]; }
  bool RemoteOn(uint8_t option) const { return remoteOn_[option]; }

 private:
  static constexpr int kMaxAnswers = 8;
  void Send(uint8_t verb, uint8_t option, std::vector<uint8_t>& out);

  std::bitset<256> acceptLocal_, acceptRemote_;
  std::bitset<256> localOn_, remoteOn_, sentWill_, sentDo_;
  uint8_t answers_[256] = {};
};

}  // namespace downloader::telnet
