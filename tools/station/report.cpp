#include "report.h"

#include <cstdio>

#include "ports.h"

namespace downloader::station {

namespace {

const char* ResultName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kSucceeded:
      return "succeeded";
    case Outcome::kEmpty:
      return "empty";
    case Outcome::kFailed:
    case Outcome::kRunning:
      return "failed";
  }
  return "failed";
}

// "Yes" and "No" as booleans; anything else ("n/a") is not known.
Json YesNo(const std::string& text) {
  if (text == "Yes") return true;
  if (text == "No") return false;
  return nullptr;
}

Json TextOrNull(const std::string& text) {
  return text.empty() ? Json(nullptr) : Json(text);
}

Json CountsJson(const Counts& c) {
  return {{"ports", c.ports},
          {"succeeded", c.succeeded},
          {"failed", c.failed + c.running},
          {"empty", c.empty}};
}

Json PortJson(const Round& round, const PortRow& row) {
  return {
      {"port", PortName(row.com)},
      {"image", ImageJson(round.image)},
      {"start", IsoTime(row.start)},
      {"end", IsoTime(row.end)},
      {"result", ResultName(row.outcome)},
      {"found", FoundJson(row)},
      {"module", ModuleJson(row)},
      {"slot", row.slot >= 0 ? Json(row.slot) : Json(nullptr)},
      {"percent", row.slot >= 0 ? Json(row.percent) : Json(nullptr)},
      {"slots_written", row.slotsDone},
      {"status", StatusJson(row)},
      {"failure", FailureJson(row)},
      {"messages", row.messages},
  };
}

}  // namespace

std::string IsoTime(WallTime time) {
  using namespace std::chrono;
  const auto ms = floor<milliseconds>(time).time_since_epoch().count() % 1000;
  const auto day = floor<days>(time);
  const year_month_day date{day};
  const hh_mm_ss clock{floor<seconds>(time - day)};
  char buffer[40];
  std::snprintf(
      buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
      static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
      static_cast<int>(clock.seconds().count()), static_cast<int>(ms < 0 ? ms + 1000 : ms));
  return buffer;
}

const char* FailureCodeName(FailureCode code) {
  switch (code) {
    case FailureCode::kStatus:
      return "status";
    case FailureCode::kTimeout:
      return "timeout";
    case FailureCode::kStopped:
      return "stopped";
    case FailureCode::kInUse:
      return "in-use";
    case FailureCode::kNoEntry:
      return "no-entry";
    case FailureCode::kLoaderError:
      return "loader-error";
  }
  return "status";
}

Json ImageJson(const ImageInfo& image) {
  return {{"file", image.file},         {"company", image.company},
          {"product", image.product},   {"firmware", image.firmware},
          {"checksum", image.checksum}, {"sha256", TextOrNull(image.sha256)}};
}

Json ModuleJson(const PortRow& row) {
  switch (row.Finding()) {
    case Found::kUnknown:
    case Found::kInUse:
    case Found::kUnreachable:
    case Found::kNoEntry:
      return nullptr;
    default:
      break;
  }
  const ModuleFound& m = *row.module;
  return {{"device", row.Finding() == Found::kModule ? Json(m.device) : Json(nullptr)},
          {"version", VersionJson(m.version)},
          {"loopback", YesNo(m.loopback)},
          {"echo", YesNo(m.echo)}};
}

Json StatusJson(const PortRow& row) {
  if (!row.final) return nullptr;
  // The channel as the loader names it, without the colon of its prefix.
  const std::string& prefix = row.final->prefix;
  return {{"number", row.final->number >= 0 ? Json(row.final->number) : Json(nullptr)},
          {"channel", prefix.substr(0, prefix.find(':'))},
          {"text", row.final->text}};
}

Json FailureJson(const PortRow& row) {
  if (!row.failure || row.outcome == Outcome::kSucceeded) return nullptr;
  return {{"code", FailureCodeName(row.failure->code)}, {"text", row.failure->text}};
}

Json FoundJson(const PortRow& row) {
  switch (row.Finding()) {
    case Found::kUnknown:
      return nullptr;
    case Found::kModule:
      return "module";
    case Found::kUnidentified:
      return "unidentified";
    case Found::kNothing:
      return "nothing";
    case Found::kNoise:
      return "noise";
    case Found::kInUse:
      return "in-use";
    case Found::kUnreachable:
      return "unreachable";
    case Found::kNoEntry:
      return "no-entry";
  }
  return nullptr;
}

Json VersionJson(const std::string& version) {
  if (version.empty() || version == "n/a") return nullptr;
  const auto decimal = [](char c) { return c >= '0' && c <= '9'; };
  if (version.size() == 4 && version[0] == 'v' && decimal(version[1]) && version[2] == '.' &&
      decimal(version[3])) {
    // Tenths divided once: the nearest number to the text, as a JSON reader would read it.
    return ((version[1] - '0') * 10 + (version[3] - '0')) / 10.0;
  }
  return version;
}

std::string ReportJson(const StationFacts& facts, const std::vector<Round>& rounds) {
  Json report = {
      {"format_version", kReportFormatVersion},
      {"station", {{"version", facts.version}, {"host", TextOrNull(facts.host)}}},
      {"loader", {{"file", facts.loader}, {"version", TextOrNull(facts.loaderVersion)}}},
      {"pinning",
       {{"expect_checksum", facts.expectChecksum ? Json(*facts.expectChecksum) : Json(nullptr)},
        {"expect_sha256", TextOrNull(facts.expectSha256)},
        {"follow_image", facts.followImage}}},
      {"rounds", Json::array()},
  };
  Counts total;
  for (const Round& round : rounds) {
    Json ports = Json::array();
    for (const PortRow& row : round.rows) ports.push_back(PortJson(round, row));
    const Counts counts = round.Count();
    total += counts;
    report["rounds"].push_back({{"round", round.number},
                                {"start", IsoTime(round.start)},
                                {"end", IsoTime(round.end)},
                                {"interrupted", round.interrupted},
                                {"image", ImageJson(round.image)},
                                {"counts", CountsJson(counts)},
                                {"ports", std::move(ports)}});
  }
  report["totals"] = {{"rounds", static_cast<int>(rounds.size())},
                      {"port_rounds", total.ports},
                      {"succeeded", total.succeeded},
                      {"failed", total.failed + total.running},
                      {"empty", total.empty}};
  return report.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace downloader::station
