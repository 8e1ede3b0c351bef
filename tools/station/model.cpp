#include "model.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <utility>

namespace downloader::station {

namespace {

constexpr int kSuccess = 44;
constexpr std::size_t kMaxMessages = 8;
constexpr int kSlots = 8;  // an image's program slots

// The loader's texts that the station reads: the grid's words for a port that could not be
// opened, and the hints it writes to standard error.
constexpr std::string_view kDeviceNone = "none";
constexpr std::string_view kDeviceInUse = "can't open port; in use";
constexpr std::string_view kDeviceCannotOpen = "can't open port";
constexpr std::string_view kDeviceInvalid = "invalid port";
constexpr std::string_view kHintNoise = "bytes came back, but not the echo of what was sent";
constexpr std::string_view kHintInUseBy = " is in use by ";
constexpr std::string_view kHintNoPermission = "downloader: no permission to open ";

// The value after `key` up to `end` (or the text's end); nothing when the key is missing.
std::optional<std::string> Field(const std::string& text, const std::string& key,
                                 const std::string& end) {
  const auto at = text.find(key);
  if (at == std::string::npos) return std::nullopt;
  const auto from = at + key.size();
  const auto to = end.empty() ? std::string::npos : text.find(end, from);
  return text.substr(from, to == std::string::npos ? std::string::npos : to - from);
}

}  // namespace

bool ParseInformationLine(const std::string& text, ImageInfo& info) {
  if (text.rfind("051-COMPANY=", 0) != 0) return false;
  const auto company = Field(text, "051-COMPANY=", " PRODUCT=");
  const auto product = Field(text, " PRODUCT=", " FIRMWARE=");
  const auto firmware = Field(text, " FIRMWARE=", " CHECKSUM=");
  const auto checksum = Field(text, " CHECKSUM=", " COMPILEDATE=");
  if (!company || !product || !firmware || !checksum || checksum->empty() || checksum->size() > 5 ||
      checksum->find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  info.company = *company;
  info.product = *product;
  info.firmware = *firmware;
  info.checksum = std::stol(*checksum);
  return true;
}

std::optional<ModuleFound> ParsePortLine(const std::string& text, const std::string& port) {
  const std::string head = "111-PORT=" + port + " DEVICE=";
  if (text.rfind(head, 0) != 0) return std::nullopt;
  // LOOPBACK and ECHO end the line with values of their own; a product name could hold
  // anything, so the fields are found from the end.
  const auto echo = text.rfind(" ECHO=");
  const auto loopback = text.rfind(" LOOPBACK=", echo);
  if (echo == std::string::npos || loopback == std::string::npos || loopback < head.size()) {
    return std::nullopt;
  }
  ModuleFound found;
  found.echo = text.substr(echo + 6);
  found.loopback = text.substr(loopback + 10, echo - loopback - 10);
  std::size_t deviceEnd = loopback;
  const auto version = text.rfind(" VERSION=", loopback);
  if (version != std::string::npos && version >= head.size()) {
    found.version = text.substr(version + 9, loopback - version - 9);
    deviceEnd = version;
  }
  found.device = text.substr(head.size(), deviceEnd - head.size());
  return found;
}

Found PortRow::Finding() const {
  if (failure && failure->code == FailureCode::kNoEntry) return Found::kNoEntry;
  if (!module) return Found::kUnknown;
  const std::string& device = module->device;
  if (device == kDeviceInUse) return Found::kInUse;
  if (device == kDeviceInvalid || device.rfind(kDeviceCannotOpen, 0) == 0) {
    return Found::kUnreachable;
  }
  if (device != kDeviceNone) return Found::kModule;
  if (module->echo != "No") return Found::kUnidentified;
  return noise ? Found::kNoise : Found::kNothing;
}

Change PortRow::Apply(const StatusLine& line) {
  if (final) return Change::kNone;
  if (line.final) {
    final = line;
    return Change::kFinal;
  }
  if (line.number == 111) {
    if (auto found = ParsePortLine(line.text, "COM" + std::to_string(com))) {
      module = std::move(found);
      return Change::kFound;
    }
  } else if (line.number == 104) {
    downloading = true;
    return Change::kDownloading;
  } else if (line.number == 112) {
    int s = 0;
    int p = 0;
    // A line out of range (no loader of ours writes one) changes nothing.
    if (std::sscanf(line.text.c_str(), "112-SLOT=%d PROGRESS=%d%%", &s, &p) == 2 && s >= 0 &&
        s < kSlots && p >= 0 && p <= 100) {
      if (s != slot) percent = 0;
      slot = s;
      const bool done = p >= 100 && percent < 100;
      percent = p;
      if (done) {
        slotsDone = std::min(slotsDone + 1, kSlots);
        return Change::kSlotDone;
      }
    }
  }
  return Change::kNone;
}

void PortRow::End(WallTime at, const Failure& why, bool skipEmpty) {
  end = at;
  if (final && final->number == kSuccess) {
    outcome = Outcome::kSucceeded;
    failure.reset();
    return;
  }
  if (Finding() == Found::kInUse) {
    failure = Failure{FailureCode::kInUse, noPermission     ? "no permission to open the port"
                                           : holder.empty() ? "port in use"
                                                            : "port in use by " + holder};
  } else if (!failure) {
    failure = final ? Failure{FailureCode::kStatus, final->text} : why;
  }
  outcome = final && Empty() && skipEmpty ? Outcome::kEmpty : Outcome::kFailed;
}

void PortRow::AddMessage(std::string line) {
  // A loader runs for this port alone, so whatever it says is about this port.
  if (line.find(kHintNoise) != std::string::npos) noise = true;
  if (line.rfind(kHintNoPermission, 0) == 0) noPermission = true;
  if (const auto at = line.find(kHintInUseBy); at != std::string::npos && holder.empty()) {
    const auto from = at + kHintInUseBy.size();
    holder = line.substr(from, line.find(';', from) - from);
  }
  if (messages.size() < kMaxMessages) messages.push_back(std::move(line));
}

Answer ReadAnswer(std::string_view line) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!line.empty() && blank(line.front())) line.remove_prefix(1);
  while (!line.empty() && blank(line.back())) line.remove_suffix(1);
  if (line.empty()) return Answer::kAgain;
  std::string lower(line);
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return lower == "q" || lower == "quit" ? Answer::kEnd : Answer::kOther;
}

Counts& Counts::operator+=(const Counts& other) {
  ports += other.ports;
  succeeded += other.succeeded;
  failed += other.failed;
  empty += other.empty;
  running += other.running;
  return *this;
}

Counts Round::Count() const {
  Counts counts;
  counts.ports = static_cast<int>(rows.size());
  for (const PortRow& row : rows) {
    switch (row.outcome) {
      case Outcome::kRunning:
        ++counts.running;
        break;
      case Outcome::kSucceeded:
        ++counts.succeeded;
        break;
      case Outcome::kFailed:
        ++counts.failed;
        break;
      case Outcome::kEmpty:
        ++counts.empty;
        break;
    }
  }
  return counts;
}

}  // namespace downloader::station
