// module-emulator: emulated Korvanetics modules served as RFC 2217 ports on 127.0.0.1.
//
//   module-emulator --module SPEC [--module SPEC ...] [--pace BAUD] [--port-map DIR]
//                   [--dump FILE] [--late-after MS] [--slow-replies MS] [--burst]
//                   [--until-stdin-closes | --detach]
//
// Prints "COM<n> rfc2217://127.0.0.1:<port> type=<t> version=<v>" per module, then "ready"
// (with --detach then "pid <n>", and returns while that process serves on).
// SIGTERM, SIGINT or SIGHUP end it (writing --dump, removing its port map entries);
// SIGUSR1 writes --dump and prints "dumped".
// The dump lists each module's connections ("sessions") with the times they were opened,
// last heard from and closed, in microseconds since the program started.
//
// The emulator times its own replies (the bytes a loader awaits with a short timeout): a
// reply more than --late-after past its byte times was late, the emulator's fault, as a
// real module keeps its time. The dump counts them per module ("replies") and per unit;
// standard error gets one line at the end when any was late.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "double_click.h"
#include "module_spec.h"
#include "platform/file_names.h"
#include "platform/safe_files.h"
#include "platform/system.h"
#include "plugging.h"
#include "port_map_entries.h"
#include "process.h"
#include "serial/socket.h"
#include "server.h"

namespace {

// The usage's first lines; what this platform's process can do follows.
constexpr const char* kUsageStart =
    "usage: module-emulator --module SPEC [--module SPEC ...] [--pace BAUD]\n"
    "                       [--port-map DIR] [--dump FILE] ";
constexpr const char* kUsageRest =
    "\n"
    "                       [--late-after MS] [--slow-replies MS] [--burst]\n"
    "       module-emulator --help | --version\n"
    "SPEC: comma-separated port=N, type=2..6, version=M.N | reply=BYTE, variant=24|40,\n"
    "      loopback, dsr=on, noecho, badreply, status=CODE@SLOT:PACKET, silent@SLOT:PACKET,\n"
    "      drop@SLOT:PACKET, statusdelay=MS, chatter, com=N\n"
    "      hangup@SLOT:PACKET (at PACKET = the slot's packet count: its closing zero),\n"
    "      chatter=BYTE@SLOT:PACKET (one unasked byte before that packet's echo)\n"
    "      slotshift@SLOT (slot SLOT's number heard with its low bit flipped: 0 as 1)\n"
    "      identfail@SLOT (the identification before slot SLOT answered with a byte no\n"
    "      loader accepts, the module going on as after the right answer; never the\n"
    "      module's first, a port scan's)\n"
    "      (type 2 gets no slot byte: its transfers on one connection are slots 0, 1, ...)\n"
    "Commands on standard input, one answer line each: plug N [SPEC], unplug N.\n"
    "--operator MIN-MAX: the fixtures start empty; an operator plugs a fresh module into\n"
    "      each empty one and takes a flashed one out, after MIN to MAX seconds each.\n"
    "--late-after MS: a reply (status byte, slot byte or closing echo, identification\n"
    "      answer) leaving more than MS past its byte times counts as late (default 5).\n"
    "--slow-replies MS: holds every reply back MS, making the emulator late on purpose.\n"
    "--burst: a packet's echo goes out with the status byte behind it, at that byte's time\n"
    "      (what a loader awaits comes when it would, with far fewer wake-ups).\n";

std::string Usage() {
  return std::string(kUsageStart) + emulator::kRunOnUsage + kUsageRest;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "module-emulator: %s\n%s", message.c_str(), Usage().c_str());
  return 2;
}

using Servers = std::vector<std::unique_ptr<emulator::ModuleServer>>;

bool WriteDump(const std::string& path, const Servers& servers, const emulator::LineTiming& timing,
               std::string& error) {
  nlohmann::json dump;
  dump["late_after_ms"] = static_cast<double>(timing.lateAfter.count()) / 1000.0;
  dump["modules"] = nlohmann::json::array();
  for (const auto& server : servers) dump["modules"].push_back(server->Dump());
  // Written whole under another name first, so a reader never sees half a file; only this
  // user may read it, as it holds the firmware's bytes.
  return downloader::ReplaceFileSafely(path, dump.dump(1) + "\n", 0600, error);
}

// Microseconds as milliseconds with one decimal: "41.2".
std::string Ms(int64_t us) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(us) / 1000.0);
  return text;
}

// "emulator late: 3 replies, worst 41.2 ms (COM3 2, COM7 1; ...)" when any reply was late.
std::optional<std::string> LateLine(const Servers& servers, const emulator::LineTiming& timing) {
  emulator::ReplyTimes all;
  std::string where;
  for (const auto& server : servers) {
    const emulator::ReplyTimes replies = server->Replies();
    all.measured += replies.measured;
    all.late += replies.late;
    all.worstUs = std::max(all.worstUs, replies.worstUs);
    if (replies.late == 0) continue;
    where += "COM" + std::to_string(server->Com()) + " " + std::to_string(replies.late) + ", ";
  }
  if (all.late == 0) return std::nullopt;
  return "emulator late: " + std::to_string(all.late) + " replies, worst " + Ms(all.worstUs) +
         " ms (" + where + std::to_string(all.measured) + " replies timed, late when " +
         Ms(timing.lateAfter.count()) + " ms past their byte times)";
}

// A number of milliseconds in [0, 60000], with a fraction: "5", "0.5".
bool ParseMs(const std::string& text, double& ms) {
  char* end = nullptr;
  ms = std::strtod(text.c_str(), &end);
  return !text.empty() && end != nullptr && *end == '\0' && ms >= 0 && ms <= 60000;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = downloader::ProgramArguments(argc, argv);
  if (downloader::tools::ExplainedToADoubleClick("module-emulator",
                                                 static_cast<int>(args.size()) - 1)) {
    return 2;
  }
  std::vector<emulator::ModuleSpec> specs;
  emulator::LineTiming timing;
  std::string portMap;
  std::string dumpFile;
  bool untilStdinCloses = false;
  bool detach = false;
  std::optional<emulator::HandlingTimes> handling;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string arg = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    std::string text;
    if (arg == "--module") {
      if (!value(text)) return Fail("--module needs a SPEC");
      emulator::ModuleSpec spec;
      std::string error;
      if (!emulator::ParseModuleSpec(text, spec, error))
        return Fail("--module " + text + ": " + error);
      specs.push_back(spec);
    } else if (arg == "--pace") {
      if (!value(text)) return Fail("--pace needs a baud rate");
      const long baud = std::strtol(text.c_str(), nullptr, 10);
      if (baud < 50 || baud > 4000000) return Fail("--pace " + text + ": not a baud rate");
      // Ten bits a byte: start, eight data bits, stop.
      timing.byteTimeNs = static_cast<uint32_t>(10'000'000'000LL / baud);
    } else if (arg == "--burst") {
      timing.burst = true;
    } else if (arg == "--late-after" || arg == "--slow-replies") {
      double ms = 0;
      if (!value(text) || !ParseMs(text, ms)) return Fail(arg + " needs milliseconds, 0 to 60000");
      if (arg == "--late-after") {
        timing.lateAfter = std::chrono::microseconds(std::llround(ms * 1000));
      } else {
        timing.slowReplies = std::chrono::milliseconds(std::llround(ms));
      }
    } else if (arg == "--port-map") {
      if (!value(portMap)) return Fail("--port-map needs a folder");
    } else if (arg == "--dump") {
      if (!value(dumpFile)) return Fail("--dump needs a file name");
    } else if (arg == "--operator") {
      if (!value(text)) return Fail("--operator needs MIN-MAX seconds");
      std::string error;
      handling.emplace();
      if (!emulator::ParseHandlingTimes(text, *handling, error))
        return Fail("--operator: " + error);
    } else if (arg == "--help") {
      std::printf("%s", Usage().c_str());
      return 0;
    } else if (arg == "--version") {
      std::printf("module-emulator " DOWNLOADER_VERSION "\n");
      return 0;
    } else if (arg == "--until-stdin-closes") {
      untilStdinCloses = true;
    } else if (arg == "--detach") {
      detach = true;
    } else {
      return Fail("unknown argument " + arg);
    }
  }
  if (specs.empty()) return Fail("no --module given");
  if (detach && untilStdinCloses)
    return Fail("--detach and --until-stdin-closes exclude each other");

  emulator::TakeRequests();
  if (timing.byteTimeNs != 0) emulator::PreciseTimers();
  if (detach) {
    if (const auto callersExit = emulator::Detach()) return *callersExit;
  }
  // A byte on the one socket makes the other readable: the servers' word to stop.
  downloader::net::Socket stopSend = downloader::net::kNoSocket;
  downloader::net::Socket stopWait = downloader::net::kNoSocket;
  if (!downloader::net::ConnectedPair(stopSend, stopWait))
    return Fail("cannot create a socket pair");

  Servers servers;
  const auto epoch = emulator::ModuleServer::Clock::now();
  for (std::size_t i = 0; i < specs.size(); ++i) {
    const int com = specs[i].com != 0 ? specs[i].com : static_cast<int>(i + 1);
    for (const auto& other : servers) {
      if (other->Com() == com) return Fail("COM" + std::to_string(com) + " given twice");
    }
    auto server = std::make_unique<emulator::ModuleServer>(specs[i], com, timing, stopWait, epoch,
                                                           !handling.has_value());
    std::string error;
    if (!server->Listen(error)) {
      std::fprintf(stderr, "module-emulator: cannot listen on %s\n", error.c_str());
      return 1;
    }
    servers.push_back(std::move(server));
  }

  std::vector<std::thread> threads;
  for (auto& server : servers) threads.emplace_back([&s = *server] { s.Run(); });
  const auto stopServers = [&] {
    const uint8_t stop = 'x';
    downloader::net::Send(stopSend, &stop, 1);
    for (auto& t : threads) t.join();
  };

  // The entries appear only now that every module listens and is served, and go first
  // when it ends, so a loader never finds an entry that leads nowhere.
  std::optional<emulator::PortMapEntries> entries;
  if (!portMap.empty()) {
    entries.emplace(portMap, emulator::ProcessId(), emulator::ProcessRuns);
    for (const auto& server : servers) {
      const std::string url = "rfc2217://127.0.0.1:" + std::to_string(server->Port());
      std::string error;
      if (!entries->Write(server->Com(), url, error)) {
        std::fprintf(stderr, "module-emulator: %s\n", error.c_str());
        entries.reset();
        stopServers();
        return 1;
      }
    }
  }

  std::string lines;
  for (const auto& server : servers) {
    lines += "COM" + std::to_string(server->Com()) +
             " rfc2217://127.0.0.1:" + std::to_string(server->Port()) +
             " type=" + std::to_string(server->Spec().type) +
             " version=" + emulator::VersionText(server->Spec()) + "\n";
  }
  emulator::Announce(lines + "ready\n");

  std::optional<emulator::CommandReader> commands;
  if (!detach) commands.emplace(servers, untilStdinCloses);
  std::optional<emulator::LineOperator> line;
  if (handling) line.emplace(servers, *handling, std::random_device{}());

  while (emulator::WaitForRequest() == emulator::Request::kDump) {
    std::string error;
    if (dumpFile.empty()) continue;
    if (WriteDump(dumpFile, servers, timing, error)) {
      std::printf("dumped\n");
    } else {
      std::fprintf(stderr, "module-emulator: cannot write %s: %s\n", dumpFile.c_str(),
                   error.c_str());
    }
    std::fflush(stdout);
  }
  line.reset();
  commands.reset();
  entries.reset();
  stopServers();
  if (const auto late = LateLine(servers, timing)) {
    std::fprintf(stderr, "module-emulator: %s\n", late->c_str());
  }
  std::string error;
  if (!dumpFile.empty() && !WriteDump(dumpFile, servers, timing, error)) {
    std::fprintf(stderr, "module-emulator: cannot write %s: %s\n", dumpFile.c_str(), error.c_str());
    return 1;
  }
  return 0;
}
