#include "status_line.h"

namespace downloader::station {

namespace {

constexpr char kSoh = 0x01;
constexpr char kEot = 0x04;
constexpr std::size_t kPrefixBytes = 4;
constexpr int kLastFinalNumber = 100;

StatusLine MakeLine(const std::string& frame, bool final) {
  StatusLine line;
  line.prefix = frame.substr(0, kPrefixBytes);
  line.text = frame.substr(kPrefixBytes, frame.size() - kPrefixBytes - 2);  // without CR LF
  line.number = MessageNumber(line.text);
  line.final = final;
  return line;
}

bool EndsWithCrLf(const std::string& s) {
  return s.size() >= kPrefixBytes + 2 && s[s.size() - 2] == '\r' && s.back() == '\n';
}

}  // namespace

int MessageNumber(std::string_view text) {
  int n = 0;
  std::size_t i = 0;
  for (; i < text.size() && i < 3 && text[i] >= '0' && text[i] <= '9'; ++i) {
    n = n * 10 + (text[i] - '0');
  }
  return i == 0 ? -1 : n;
}

std::vector<StatusLine> StatusLineReader::Feed(std::string_view bytes) {
  std::vector<StatusLine> lines;
  for (const char c : bytes) {
    if (!inLine_) {
      if (c == kSoh) {
        inLine_ = true;
        dropping_ = false;
        pending_.clear();
      }
      continue;
    }
    if (EndsWithCrLf(pending_)) {
      const int number = dropping_ ? droppedNumber_
                                   : MessageNumber(std::string_view(pending_).substr(kPrefixBytes));
      if (c == kEot) {
        if (!dropping_) lines.push_back(MakeLine(pending_, true));
        inLine_ = false;
        continue;
      }
      if (number > kLastFinalNumber) {
        if (!dropping_) lines.push_back(MakeLine(pending_, false));
        inLine_ = c == kSoh;
        dropping_ = false;
        pending_.clear();
        continue;
      }
    }
    if (dropping_) {
      // Keep only the last bytes: enough to see where the oversized line ends.
      if (pending_.size() >= kPrefixBytes + 2)
        pending_.erase(0, pending_.size() - kPrefixBytes - 1);
    } else if (pending_.size() >= kMaxLineBytes) {
      dropping_ = true;
      droppedNumber_ = MessageNumber(std::string_view(pending_).substr(kPrefixBytes));
    }
    pending_.push_back(c);
  }
  return lines;
}

std::vector<StatusLine> StatusLineReader::Finish() {
  std::vector<StatusLine> lines;
  if (inLine_ && !dropping_ && EndsWithCrLf(pending_)) lines.push_back(MakeLine(pending_, false));
  inLine_ = false;
  pending_.clear();
  return lines;
}

}  // namespace downloader::station
