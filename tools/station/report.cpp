#include "report.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "ports.h"

namespace downloader::station {

namespace {

using json = nlohmann::ordered_json;

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

json CountsJson(const Counts& c) {
  return {{"ports", c.ports},
          {"succeeded", c.succeeded},
          {"failed", c.failed + c.running},
          {"empty", c.empty}};
}

json PortJson(const Round& round, const PortRow& row) {
  json port = {
      {"port", PortName(row.com)},
      {"image",
       {{"file", round.image.file},
        {"product", round.image.product},
        {"checksum", round.image.checksum}}},
      {"start", IsoTime(row.start)},
      {"end", IsoTime(row.end)},
      {"module", nullptr},
      {"result", ResultName(row.outcome)},
      {"status", nullptr},
  };
  if (row.module) {
    port["module"] = {{"device", row.module->device},
                      {"version", row.module->version},
                      {"loopback", row.module->loopback},
                      {"echo", row.module->echo}};
  }
  if (row.final) {
    // The channel as the loader names it, without the colon of its prefix.
    const std::string& prefix = row.final->prefix;
    port["status"] = {{"number", row.final->number},
                      {"channel", prefix.substr(0, prefix.find(':'))},
                      {"text", row.final->text}};
  }
  if (!row.failure.empty()) port["failure"] = row.failure;
  port["messages"] = row.messages;
  return port;
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

std::string ReportJson(const std::vector<Round>& rounds) {
  json report = {{"rounds", json::array()}};
  Counts total;
  for (const Round& round : rounds) {
    json ports = json::array();
    for (const PortRow& row : round.rows) ports.push_back(PortJson(round, row));
    const Counts counts = round.Count();
    total += counts;
    report["rounds"].push_back({{"round", round.number},
                                {"start", IsoTime(round.start)},
                                {"end", IsoTime(round.end)},
                                {"interrupted", round.interrupted},
                                {"counts", CountsJson(counts)},
                                {"ports", std::move(ports)}});
  }
  report["counts"] = CountsJson(total);
  return report.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace downloader::station
