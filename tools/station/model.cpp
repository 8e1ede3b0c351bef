#include "model.h"

#include <cstdio>
#include <utility>

namespace downloader::station {

namespace {

constexpr int kSuccess = 44;
constexpr std::size_t kMaxMessages = 8;

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

bool PortRow::Empty() const {
  return module && module->device == "none" && module->echo == "No";
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
    if (std::sscanf(line.text.c_str(), "112-SLOT=%d PROGRESS=%d%%", &s, &p) == 2) {
      if (s != slot) percent = 0;
      slot = s;
      const bool done = p >= 100 && percent < 100;
      percent = p;
      if (done) {
        ++slotsDone;
        return Change::kSlotDone;
      }
    }
  }
  return Change::kNone;
}

void PortRow::End(WallTime at, const std::string& why, bool skipEmpty) {
  end = at;
  if (final && final->number == kSuccess) {
    outcome = Outcome::kSucceeded;
    return;
  }
  if (!final && failure.empty()) failure = why;
  outcome = final && Empty() && skipEmpty ? Outcome::kEmpty : Outcome::kFailed;
}

void PortRow::AddMessage(std::string line) {
  if (messages.size() < kMaxMessages) messages.push_back(std::move(line));
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
