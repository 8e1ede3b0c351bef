#include "plugging.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "process.h"

namespace emulator {

namespace {

// How often the operator looks at the fixtures.
constexpr auto kOperatorTick = std::chrono::milliseconds(5);
constexpr double kMaxHandlingSeconds = 3600;

ModuleServer* FixtureNamed(const Fixtures& fixtures, const std::string& number) {
  if (number.empty() || number.size() > 2 ||
      number.find_first_not_of("0123456789") != std::string::npos) {
    return nullptr;
  }
  const int com = std::stoi(number);
  for (const auto& fixture : fixtures) {
    if (fixture->Com() == com) return fixture.get();
  }
  return nullptr;
}

bool ParseSeconds(const std::string& text, double& seconds) {
  if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) return false;
  char* end = nullptr;
  seconds = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && seconds <= kMaxHandlingSeconds;
}

}  // namespace

std::string RunFixtureCommand(const std::string& line, const Fixtures& fixtures) {
  std::istringstream words(line);
  std::string verb, number, spec, more;
  words >> verb >> number >> spec >> more;
  if (verb.empty()) return "";
  if ((verb != "plug" && verb != "unplug") || number.empty() || !more.empty() ||
      (verb == "unplug" && !spec.empty())) {
    return "error: '" + line + "' is not a command: plug N [SPEC] or unplug N";
  }
  ModuleServer* fixture = FixtureNamed(fixtures, number);
  if (fixture == nullptr) return "error: there is no fixture COM" + number;
  const std::string name = "COM" + std::to_string(fixture->Com());
  std::string error;
  if (verb == "unplug") {
    return fixture->Unplug(error) ? name + " unplugged" : "error: " + error;
  }
  ModuleSpec module = fixture->Spec();
  if (!spec.empty()) {
    if (!ParseModuleSpec(spec, module, error)) return "error: " + spec + ": " + error;
    if ((module.com != 0 && module.com != fixture->Com()) || module.port != 0) {
      return "error: " + spec + ": a plugged module keeps its fixture's com and port";
    }
  }
  if (!fixture->Plug(module, error)) return "error: " + error;
  return name + " plugged type=" + std::to_string(module.type) + " version=" + VersionText(module);
}

CommandReader::CommandReader(const Fixtures& fixtures, bool stopAtEnd)
    : shared_(std::make_shared<Shared>()) {
  shared_->fixtures = &fixtures;
  std::thread([shared = shared_, stopAtEnd] {
    std::string pending;
    std::string chunk;
    while (ReadInput(chunk)) {
      pending += chunk;
      std::size_t newline;
      while ((newline = pending.find('\n')) != std::string::npos) {
        std::string line = pending.substr(0, newline);
        pending.erase(0, newline + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::lock_guard lock(shared->mutex);
        if (shared->fixtures == nullptr) return;
        const std::string answer = RunFixtureCommand(line, *shared->fixtures);
        if (!answer.empty()) {
          std::printf("%s\n", answer.c_str());
          std::fflush(stdout);
        }
      }
    }
    if (stopAtEnd) RequestStop();
  }).detach();
}

CommandReader::~CommandReader() {
  std::lock_guard lock(shared_->mutex);
  shared_->fixtures = nullptr;
}

bool ParseHandlingTimes(const std::string& text, HandlingTimes& times, std::string& error) {
  const auto dash = text.find('-');
  if (dash == std::string::npos || !ParseSeconds(text.substr(0, dash), times.min) ||
      !ParseSeconds(text.substr(dash + 1), times.max) || times.min > times.max) {
    error = "'" + text + "' is not a range of seconds MIN-MAX (0 to 3600)";
    return false;
  }
  return true;
}

LineOperator::LineOperator(const Fixtures& fixtures, HandlingTimes times, uint32_t seed)
    : fixtures_(fixtures), times_(times), random_(seed), seen_(fixtures.size()) {
  thread_ = std::thread([this] { Run(); });
}

LineOperator::~LineOperator() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void LineOperator::Run() {
  std::unique_lock lock(mutex_);
  while (!stop_) {
    for (std::size_t i = 0; i < fixtures_.size(); ++i) Tend(i);
    wake_.wait_for(lock, kOperatorTick, [this] { return stop_; });
  }
}

int64_t LineOperator::HandlingTime() {
  std::uniform_real_distribution<double> seconds(times_.min, times_.max);
  return static_cast<int64_t>(seconds(random_) * 1e6);
}

void LineOperator::Tend(std::size_t index) {
  ModuleServer& fixture = *fixtures_[index];
  const ModuleServer::Fixture state = fixture.State();
  Seen& seen = seen_[index];
  // An empty fixture waits from its emptying, a plugged one from its last download's end.
  const int64_t event = state.plugged ? state.downloaded : state.since;
  if (state.plugged != seen.plugged || event != seen.event) {
    seen = Seen{state.plugged, event, event < 0 ? -1 : event + HandlingTime()};
  }
  if (seen.due < 0 || fixture.Now() < seen.due) return;
  std::string error;
  if (state.plugged) {
    fixture.Unplug(error);
  } else {
    fixture.Plug(fixture.Spec(), error);
  }
  seen.due = -1;
}

}  // namespace emulator
