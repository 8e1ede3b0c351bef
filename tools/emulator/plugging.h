#pragma once

// A production line's fixtures while the emulator runs: modules plugged in and taken out
// by commands on standard input, or by a simulated operator.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "server.h"

namespace emulator {

using Fixtures = std::vector<std::unique_ptr<ModuleServer>>;

/// Carries out one command: "plug N [SPEC]" puts a fresh module into fixture COM<N> (SPEC
/// as --module takes it, without com= and port=; without SPEC, the module the fixture was
/// started with), "unplug N" takes it out. Returns the one answer line, without its line
/// end: "COM3 plugged type=3 version=1.1", "COM3 unplugged", or "error: " and why. An
/// empty line is answered with nothing (an empty text).
std::string RunFixtureCommand(const std::string& line, const Fixtures& fixtures);

/// Takes commands (RunFixtureCommand) from standard input on a thread of its own, and
/// writes each answer as one line on standard output. At the end of the input, with
/// `stopAtEnd`, the program is asked to stop. Commands that come once the object has gone
/// are not carried out.
class CommandReader {
 public:
  CommandReader(const Fixtures& fixtures, bool stopAtEnd);
  ~CommandReader();
  CommandReader(const CommandReader&) = delete;
  CommandReader& operator=(const CommandReader&) = delete;

 private:
  struct Shared {
    std::mutex mutex;
    const Fixtures* fixtures = nullptr;  // nullptr once the reader has gone
  };
  // The thread may still wait for input when the program ends: it keeps what it uses.
  std::shared_ptr<Shared> shared_;
};

/// How long the operator takes to handle a module, in seconds.
struct HandlingTimes {
  double min = 0;
  double max = 0;
};

/// Reads --operator's "MIN-MAX" (seconds, decimals allowed, 0 <= MIN <= MAX <= 3600).
/// False, with `error` set, when it is not such a range.
bool ParseHandlingTimes(const std::string& text, HandlingTimes& times, std::string& error);

/// An operator at every fixture, on a thread of its own: it puts a fresh module (the one
/// the fixture was started with) into an empty fixture a random handling time after the
/// fixture became empty, and takes a module out a random handling time after a download
/// into it ended (a connection that delivered packets closed). Times are drawn uniformly
/// from `times`. Stops when the object goes.
class LineOperator {
 public:
  LineOperator(const Fixtures& fixtures, HandlingTimes times, uint32_t seed);
  ~LineOperator();
  LineOperator(const LineOperator&) = delete;
  LineOperator& operator=(const LineOperator&) = delete;

 private:
  /// What the operator last saw at a fixture and when it will act on it.
  struct Seen {
    bool plugged = false;
    int64_t event = -2;  // the emptying or the download's end it is waiting after
    int64_t due = -1;
  };
  void Run();
  void Tend(std::size_t index);
  int64_t HandlingTime();

  const Fixtures& fixtures_;
  HandlingTimes times_;
  std::mt19937 random_;
  std::vector<Seen> seen_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace emulator
