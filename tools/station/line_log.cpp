#include "line_log.h"

#include <nlohmann/json.hpp>

#include "ports.h"
#include "report.h"

namespace downloader::station {

namespace {

using json = nlohmann::ordered_json;

json Seconds(WallTime start, WallTime end) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(end - start).count();
  return static_cast<double>(ms < 0 ? 0 : ms) / 1000.0;
}

json UnitFailureJson(const std::optional<UnitFailure>& failure) {
  if (!failure) return nullptr;
  return {{"code", failure->code}, {"text", failure->text}};
}

json StationJson(const LineFacts& facts) {
  return {{"version", facts.stationVersion},
          {"host", facts.host.empty() ? json(nullptr) : json(facts.host)}};
}

json LoaderJson(const LineFacts& facts) {
  return {{"file", facts.loader},
          {"version", facts.loaderVersion.empty() ? json(nullptr) : json(facts.loaderVersion)}};
}

json Texts(const std::vector<StatusLine>& lines) {
  json texts = json::array();
  for (const StatusLine& line : lines) texts.push_back(line.text);
  return texts;
}

const char* ResultName(Unit::Result result) {
  switch (result) {
    case Unit::Result::kPassed:
      return "passed";
    case Unit::Result::kStopped:
      return "stopped";
    case Unit::Result::kFailed:
    case Unit::Result::kRunning:
      break;
  }
  return "failed";
}

json CountsJson(const UnitCounts& counts, std::chrono::milliseconds elapsed) {
  const auto yield = counts.Yield();
  const auto perHour = counts.PerHour(elapsed);
  return {{"passed", counts.passed},
          {"failed", counts.failed},
          {"stopped", counts.stopped},
          {"yield", yield ? json(*yield) : json(nullptr)},
          {"units_per_hour", perHour ? json(*perHour) : json(nullptr)}};
}

}  // namespace

std::optional<UnitFailure> AttemptFailure(const PortRow& row) {
  if (row.outcome == Outcome::kSucceeded) return std::nullopt;
  if (row.failure) return UnitFailure{FailureCodeName(row.failure->code), row.failure->text};
  if (row.final) return UnitFailure{"status", row.final->text};
  return UnitFailure{"loader-error", "the loader has not ended"};
}

std::string UnitRecordLine(const LineFacts& facts, const Unit& unit) {
  json attempts = json::array();
  for (const Attempt& attempt : unit.attempts) {
    attempts.push_back({{"start", IsoTime(attempt.row.start)},
                        {"end", IsoTime(attempt.row.end)},
                        {"duration_s", Seconds(attempt.row.start, attempt.row.end)},
                        {"status", StatusJson(attempt.row)},
                        {"failure", UnitFailureJson(AttemptFailure(attempt.row))},
                        {"steps", Texts(attempt.lines)},
                        {"messages", attempt.row.messages}});
  }
  json module = nullptr;
  if (unit.module) {
    module = {{"type", unit.type == 0 ? json(nullptr) : json(unit.type)},
              {"name", unit.module->device},
              {"version", VersionJson(unit.module->version)}};
  }
  const auto device = facts.devices.find(unit.com);
  const Attempt* last = unit.attempts.empty() ? nullptr : &unit.attempts.back();
  std::optional<UnitFailure> failure;
  if (!unit.note.empty()) {
    failure = UnitFailure{unit.noteCode, unit.note};
  } else if (unit.result != Unit::Result::kPassed && last != nullptr) {
    failure = AttemptFailure(last->row);
  }
  const json record = {
      {"format_version", kUnitLogVersion},
      {"station", StationJson(facts)},
      {"loader", LoaderJson(facts)},
      {"port", PortName(unit.com)},
      {"device", device == facts.devices.end() ? json(nullptr) : json(device->second)},
      {"start", IsoTime(unit.start)},
      {"end", IsoTime(unit.end)},
      {"duration_s", Seconds(unit.start, unit.end)},
      {"result", ResultName(unit.result)},
      {"module", module},
      {"image", ImageJson(facts.image)},
      {"status", last ? StatusJson(last->row) : json(nullptr)},
      {"failure", UnitFailureJson(failure)},
      {"steps", last ? Texts(last->lines) : json::array()},
      {"messages", last ? json(last->row.messages) : json::array()},
      {"attempts", attempts},
  };
  return record.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string LineReportJson(const LineFacts& facts, const std::vector<FixtureCounts>& fixtures,
                           WallTime start, WallTime now, const std::string& ended) {
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - start);
  json list = json::array();
  UnitCounts total;
  for (const FixtureCounts& fixture : fixtures) {
    total += fixture.counts;
    const auto device = facts.devices.find(fixture.com);
    json entry = {{"port", PortName(fixture.com)},
                  {"device", device == facts.devices.end() ? json(nullptr) : json(device->second)}};
    entry.update(CountsJson(fixture.counts, elapsed));
    list.push_back(std::move(entry));
  }
  const json report = {
      {"format_version", kLineReportVersion},
      {"mode", "continuous"},
      {"station", StationJson(facts)},
      {"loader", LoaderJson(facts)},
      {"image", ImageJson(facts.image)},
      {"start", IsoTime(start)},
      {"end", IsoTime(now)},
      {"elapsed_s", Seconds(start, now)},
      {"ended", ended.empty() ? json(nullptr) : json(ended)},
      {"fixtures", list},
      {"totals", CountsJson(total, elapsed)},
  };
  return report.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace downloader::station
