#include "support/emulator_fixture.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "support/run_process.h"

namespace downloader::testing {

namespace {

using namespace std::chrono_literals;

std::map<int, EmulatorDump::Slot> ParseSlots(const nlohmann::json& slots) {
  std::map<int, EmulatorDump::Slot> parsed;
  for (const auto& s : slots) {
    EmulatorDump::Slot slot;
    for (const auto& p : s.at("received")) slot.received.push_back(FromHex(p));
    for (const auto& p : s.at("acknowledged")) slot.acknowledged.push_back(FromHex(p));
    slot.ended = s.at("ended");
    parsed[s.at("slot").get<int>()] = slot;
  }
  return parsed;
}

// The late replies of every emulator that ended in this process, for RetryWhenEmulatorLate.
std::mutex lateMutex;
LateReplies lateSeen;

void NoteLate(const EmulatorDump& dump) {
  std::lock_guard lock(lateMutex);
  for (const auto& m : dump.modules) {
    lateSeen.replies += m.lateReplies;
    if (m.lateReplies > 0) lateSeen.worstMs = std::max(lateSeen.worstMs, m.worstMs);
  }
}

// The late replies noted since the last call.
LateReplies TakeLateSeen() {
  std::lock_guard lock(lateMutex);
  return std::exchange(lateSeen, LateReplies{});
}

}  // namespace

EmulatorDump ParseDump(const std::string& text) {
  EmulatorDump dump;
  dump.json = text;
  const auto json = nlohmann::json::parse(text);
  for (const auto& m : json.at("modules")) {
    EmulatorDump::Module module;
    module.com = m.at("com");
    module.type = m.at("type");
    module.connections = m.at("connections");
    for (const auto& s : m.at("sessions")) {
      module.sessions.push_back(EmulatorDump::Session{s.at("opened").get<int64_t>(),
                                                      s.at("last_input").get<int64_t>(),
                                                      s.at("closed").get<int64_t>()});
    }
    module.resets = m.at("resets");
    module.plugged = m.at("plugged");
    for (const auto& u : m.at("units")) {
      EmulatorDump::Unit unit;
      unit.type = u.at("type");
      unit.version = u.at("version");
      unit.plugged = u.at("plugged");
      unit.removed = u.at("removed");
      unit.checks = u.at("checks");
      unit.late = u.at("late");
      for (const auto& d : u.at("downloads")) {
        unit.downloads.push_back({d.at("opened").get<int64_t>(), d.at("first_data").get<int64_t>(),
                                  d.at("closed").get<int64_t>(), d.at("packets").get<int>()});
      }
      unit.slots = ParseSlots(u.at("slots"));
      module.units.push_back(unit);
    }
    module.controls = m.at("controls").get<std::vector<std::string>>();
    module.settings = m.at("settings").get<std::map<std::string, int>>();
    module.slots = ParseSlots(m.at("slots"));
    const auto& replies = m.at("replies");
    module.repliesTimed = replies.at("measured");
    module.lateReplies = replies.at("late");
    module.worstMs = replies.at("worst_ms");
    dump.modules.push_back(module);
  }
  return dump;
}

int EmulatorDump::LateReplies() const {
  int late = 0;
  for (const Module& m : modules) late += m.lateReplies;
  return late;
}

std::string LateReplies::Text() const {
  std::ostringstream text;
  text.precision(1);
  text << "emulator late: " << replies << " replies, worst " << std::fixed << worstMs << " ms";
  return text.str();
}

void RetryWhenEmulatorLate(const std::function<void()>& attempt, int tries) {
  for (int i = 1;; ++i) {
    ::testing::TestPartResultArray results;
    TakeLateSeen();
    {
      const ::testing::ScopedFakeTestPartResultReporter intercept(
          ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
      attempt();
    }
    const LateReplies late = TakeLateSeen();
    bool failed = false;
    for (int k = 0; k < results.size(); ++k)
      failed = failed || results.GetTestPartResult(k).failed();
    if (!failed) return;
    if (late.replies > 0 && i < tries) {
      std::printf(
          "%s (try %d of %d failed; the emulator, not the loader, missed its time: run "
          "again)\n",
          late.Text().c_str(), i, tries);
      continue;
    }
    for (int k = 0; k < results.size(); ++k) {
      const ::testing::TestPartResult& r = results.GetTestPartResult(k);
      if (!r.failed()) continue;
      ADD_FAILURE_AT(r.file_name() != nullptr ? r.file_name() : "unknown", r.line_number())
          << r.message();
    }
    if (late.replies > 0) {
      ADD_FAILURE() << late.Text() << " on every one of " << tries
                    << " tries: the failures above may be the emulator's, not the loader's (is "
                       "the machine overloaded?)";
    }
    return;
  }
}

const EmulatorDump::Module& EmulatorDump::Com(int com) const {
  for (const Module& m : modules) {
    if (m.com == com) return m;
  }
  ADD_FAILURE() << "the emulator has no COM" << com;
  static const Module none;
  return none;
}

ModuleEmulator::ModuleEmulator(const std::vector<std::string>& moduleSpecs,
                               const std::vector<std::string>& extraArgs)
    : portMapDir_(dir_.File("ports")), dumpFile_(dir_.File("dump.json")) {
  std::vector<std::string> args;
  for (const auto& spec : moduleSpecs) {
    args.push_back("--module");
    args.push_back(spec);
  }
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  for (const char* a :
       {"--port-map", portMapDir_.c_str(), "--dump", dumpFile_.c_str(), "--until-stdin-closes"}) {
    args.emplace_back(a);
  }
  process_ = std::make_unique<ChildProcess>(BinaryPath("module-emulator"), args);
  for (;;) {
    const auto line = process_->ReadLine(5000ms);
    if (!line) throw std::runtime_error("module-emulator did not start");
    if (*line == "ready") break;
    std::istringstream in(*line);
    std::string com, url, type, version;
    in >> com >> url >> type >> version;
    EmulatedPort port;
    port.name = com;
    port.com = std::stoi(com.substr(3));
    port.url = url;
    port.tcpPort = static_cast<uint16_t>(std::stoi(url.substr(url.rfind(':') + 1)));
    port.type = std::stoi(type.substr(5));
    port.version = version.substr(8);
    ports_.push_back(port);
  }
}

ModuleEmulator::~ModuleEmulator() {
  if (final_) return;
  process_->Signal(SIGTERM);
  if (process_->Wait(5000ms) != 0) return;
  try {
    NoteLate(ParseDump(ReadFileBytes(dumpFile_)));
  } catch (const std::exception&) {
    // No dump to read: nothing was timed.
  }
}

const EmulatedPort& ModuleEmulator::Port(int com) const {
  for (const auto& port : ports_) {
    if (port.com == com) return port;
  }
  throw std::runtime_error("no emulated COM" + std::to_string(com));
}

std::map<std::string, std::string> ModuleEmulator::Environment() const {
  return {{"DOWNLOADER_PORTS", portMapDir_}};
}

EmulatorDump ModuleEmulator::Snapshot() {
  if (final_) return *final_;
  process_->Signal(SIGUSR1);
  for (;;) {
    const auto line = process_->ReadLine(5000ms);
    if (!line) throw std::runtime_error("module-emulator wrote no dump");
    if (*line == "dumped") break;
  }
  return ParseDump(ReadFileBytes(dumpFile_));
}

std::string ModuleEmulator::Command(const std::string& command) {
  if (!process_->Write(command + "\n"))
    throw std::runtime_error("module-emulator takes no command");
  const auto line = process_->ReadLine(5000ms);
  if (!line) throw std::runtime_error("module-emulator did not answer " + command);
  return *line;
}

EmulatorDump ModuleEmulator::Stop() {
  if (final_) return *final_;
  process_->Signal(SIGTERM);
  const int status = process_->Wait(5000ms);
  if (status != 0) throw std::runtime_error("module-emulator ended with " + std::to_string(status));
  final_ = ParseDump(ReadFileBytes(dumpFile_));
  NoteLate(*final_);
  return *final_;
}

ScopedEnv::ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) old_ = old;
  ::setenv(name_.c_str(), value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
  if (old_) {
    ::setenv(name_.c_str(), old_->c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::string ToHex(const std::vector<uint8_t>& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t b : bytes) {
    hex.push_back(digits[b >> 4]);
    hex.push_back(digits[b & 15]);
  }
  return hex;
}

}  // namespace downloader::testing
