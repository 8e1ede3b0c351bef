#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace downloader::testing {

/// One module as module-emulator announced it.
struct EmulatedPort {
  int com = 0;       ///< 1 for COM1
  std::string name;  ///< "COM1"
  std::string url;   ///< rfc2217://127.0.0.1:PORT
  uint16_t tcpPort = 0;
  int type = 0;
  std::string version;  ///< "1.1"
};

/// What module-emulator wrote when asked for its dump.
struct EmulatorDump {
  struct Slot {
    std::vector<std::vector<uint8_t>> received;
    std::vector<std::vector<uint8_t>> acknowledged;
    bool ended = false;
  };
  /// One served connection, in microseconds since the emulator started (one clock for all
  /// its modules).
  struct Session {
    int64_t opened = 0;
    int64_t lastInput = 0;  ///< its last bytes from the client; `opened` when none came
    int64_t closed = -1;    ///< -1 while still served
  };
  /// A module that was plugged into a fixture, with the connections that downloaded into it.
  struct Download {
    int64_t opened = 0;
    int64_t firstData = -1;
    int64_t closed = -1;
    int packets = 0;
  };
  struct Unit {
    int type = 0;
    std::string version;
    int64_t plugged = 0;
    int64_t removed = -1;  ///< -1 while it is in its fixture
    int checks = 0;        ///< connections that delivered no packet
    int late = 0;          ///< late replies while it was in its fixture
    std::vector<Download> downloads;
    std::map<int, Slot> slots;
  };
  struct Module {
    int com = 0;
    int type = 0;
    int connections = 0;
    bool plugged = true;
    std::vector<Unit> units;
    std::vector<Session> sessions;  ///< in the order served
    int resets = 0;
    /// Line changes in order: "dtr=1", "break=0", "rts=0" ...
    std::vector<std::string> controls;
    /// The line settings last asked for: "baud", "datasize", "parity" (RFC 2217 values:
    /// 1 none, 3 even), "stopsize".
    std::map<std::string, int> settings;
    std::map<int, Slot> slots;
    /// The emulator's own timing of the replies a loader awaits: how many it timed, how
    /// many left later than a real module would send them, and the most any was behind.
    int repliesTimed = 0;
    int lateReplies = 0;
    double worstMs = 0;
  };
  std::vector<Module> modules;
  std::string json;  ///< the file as written

  /// The module on COM<com>; a test failure and an empty module when there is none.
  const Module& Com(int com) const;
  /// Late replies of all modules.
  int LateReplies() const;
};

/// Replies an emulator sent later than a real module would: the machine starved it, and
/// what a loader did then says nothing about the loader.
struct LateReplies {
  int replies = 0;
  double worstMs = 0;
  /// "emulator late: 3 replies, worst 41.2 ms".
  std::string Text() const;
};

/// Runs `attempt`, a test's body that starts its own emulators, up to `tries` times. An
/// attempt that fails while an emulator it started answered late is reported as "emulator
/// late: ..." and run again; the failures of the last attempt, or of one whose emulators
/// were all on time, are the test's. For tests whose timing the emulator must keep (paced
/// lines) on a machine that may be loaded.
void RetryWhenEmulatorLate(const std::function<void()>& attempt, int tries = 3);

/// A dump file's text read.
EmulatorDump ParseDump(const std::string& text);

/// module-emulator running for one test, with its own port map folder. The map holds a
/// COM<n> entry per module, so a test sets DOWNLOADER_PORTS to PortMapDir() (or passes
/// Environment() to RunProgram) and the loader finds exactly these modules. Stopped and
/// removed when the object goes.
///
///   ModuleEmulator emulator({"type=3,version=1.1", "type=5,variant=24,com=3"});
///   ScopedEnv ports("DOWNLOADER_PORTS", emulator.PortMapDir());
///   ... run the loader ...
///   EmulatorDump dump = emulator.Stop();
///   EXPECT_EQ(dump.Com(1).slots.at(0).acknowledged.size(), 4u);
class ModuleEmulator {
 public:
  /// Starts it with one --module per SPEC (see module-emulator's usage) plus `extraArgs`
  /// ("--pace", "9600" ...), and waits for "ready". Throws std::runtime_error when it does
  /// not start.
  explicit ModuleEmulator(const std::vector<std::string>& moduleSpecs,
                          const std::vector<std::string>& extraArgs = {});
  ~ModuleEmulator();

  const std::string& PortMapDir() const { return portMapDir_; }
  const std::vector<EmulatedPort>& Ports() const { return ports_; }
  /// The port announced as COM<com>; throws when there is none.
  const EmulatedPort& Port(int com) const;
  /// {"DOWNLOADER_PORTS", PortMapDir()}, for RunOptions::env.
  std::map<std::string, std::string> Environment() const;

  /// The dump now, while it keeps running.
  EmulatorDump Snapshot();
  /// Gives it one command on standard input ("plug 3", "unplug 3 type=4") and returns its
  /// answer line; throws when none comes.
  std::string Command(const std::string& command);
  /// Ends it (SIGTERM) and returns its final dump. Later calls return the same. Its late
  /// replies (also of one ended by the destructor) count for RetryWhenEmulatorLate.
  EmulatorDump Stop();

 private:
  TempDir dir_;
  std::string portMapDir_;
  std::string dumpFile_;
  std::unique_ptr<ChildProcess> process_;
  std::vector<EmulatedPort> ports_;
  std::optional<EmulatorDump> final_;
};

/// Sets an environment variable for this process while the object lives, then restores
/// the old value (or its absence).
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::string& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

/// "0a1b..." to bytes, and back.
std::vector<uint8_t> FromHex(const std::string& hex);
std::string ToHex(const std::vector<uint8_t>& bytes);

}  // namespace downloader::testing
