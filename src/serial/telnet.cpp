#include "serial/telnet.h"

namespace downloader::telnet {

void Parser::Feed(const uint8_t* bytes, std::size_t count, Handler& handler) {
  for (std::size_t i = 0; i < count; ++i) {
    const uint8_t b = bytes[i];
    switch (state_) {
      case State::kInData:
        if (b == kIac) {
          state_ = State::kAfterIac;
        } else {
          handler.OnData(b);
        }
        break;
      case State::kAfterIac:
        if (b == kIac) {
          handler.OnData(b);
          state_ = State::kInData;
        } else if (b == kSb) {
          sub_.clear();
          subTooLong_ = false;
          state_ = State::kInSub;
        } else if (b >= kWill && b <= kDont) {
          verb_ = b;
          state_ = State::kAfterVerb;
        } else {
          // NOP, GA, DM and the other two-byte commands carry nothing for a serial port.
          state_ = State::kInData;
        }
        break;
      case State::kAfterVerb:
        handler.OnNegotiation(verb_, b);
        state_ = State::kInData;
        break;
      case State::kInSub:
        if (b == kIac) {
          state_ = State::kInSubAfterIac;
        } else if (sub_.size() < kMaxSubnegotiation) {
          sub_.push_back(b);
        } else {
          subTooLong_ = true;
        }
        break;
      case State::kInSubAfterIac:
        if (b == kIac) {
          if (sub_.size() < kMaxSubnegotiation) {
            sub_.push_back(b);
          } else {
            subTooLong_ = true;
          }
          state_ = State::kInSub;
        } else {
          // IAC SE ends it; any other command inside a subnegotiation ends it as well.
          if (!subTooLong_) handler.OnSubnegotiation(sub_);
          sub_.clear();
          state_ = State::kInData;
          if (b != kSe) {
            // Treat the command byte as if it followed a plain IAC.
            state_ = State::kAfterIac;
            Feed(&b, 1, handler);
          }
        }
        break;
    }
  }
}

void AppendEscaped(std::vector<uint8_t>& out, const uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    out.push_back(bytes[i]);
    if (bytes[i] == kIac) out.push_back(kIac);
  }
}

std::vector<uint8_t> ComPortCommand(uint8_t command, std::vector<uint8_t> value) {
  std::vector<uint8_t> out{kIac, kSb, kOptionComPort, command};
  AppendEscaped(out, value.data(), value.size());
  out.push_back(kIac);
  out.push_back(kSe);
  return out;
}

void Negotiator::Send(uint8_t verb, uint8_t option, std::vector<uint8_t>& out) {
  out.push_back(kIac);
  out.push_back(verb);
  out.push_back(option);
}

void Negotiator::Request(uint8_t verb, uint8_t option, std::vector<uint8_t>& out) {
  if (verb == kWill) {
    if (sentWill_[option] || localOn_[option]) return;
    sentWill_[option] = true;
  } else if (verb == kDo) {
    if (sentDo_[option] || remoteOn_[option]) return;
    sentDo_[option] = true;
  }
  Send(verb, option, out);
}

void Negotiator::Receive(uint8_t verb, uint8_t option, std::vector<uint8_t>& out) {
  if (answers_[option] >= kMaxAnswers) return;
  const std::size_t before = out.size();
  switch (verb) {
    case kWill:
      if (!acceptRemote_[option]) {
        if (!sentDo_[option] || remoteOn_[option]) Send(kDont, option, out);
        sentDo_[option] = false;
        remoteOn_[option] = false;
      } else if (!remoteOn_[option]) {
        remoteOn_[option] = true;
        if (!sentDo_[option]) Send(kDo, option, out);
        sentDo_[option] = true;
      }
      break;
    case kWont:
      if (remoteOn_[option]) Send(kDont, option, out);
      remoteOn_[option] = false;
      sentDo_[option] = false;
      break;
    case kDo:
      if (!acceptLocal_[option]) {
        Send(kWont, option, out);
        sentWill_[option] = false;
        localOn_[option] = false;
      } else if (!localOn_[option]) {
        localOn_[option] = true;
        if (!sentWill_[option]) Send(kWill, option, out);
        sentWill_[option] = true;
      }
      break;
    case kDont:
      if (localOn_[option]) Send(kWont, option, out);
      localOn_[option] = false;
      sentWill_[option] = false;
      break;
    default:
      break;
  }
  if (out.size() != before) ++answers_[option];
}

}  // namespace downloader::telnet
