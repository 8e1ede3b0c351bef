// module-emulator: emulated Korvanetics modules served as RFC 2217 ports on 127.0.0.1.
//
//   module-emulator --module SPEC [--module SPEC ...] [--pace BAUD] [--port-map DIR]
//                   [--dump FILE] [--until-stdin-closes]
//
// Prints "COM<n> rfc2217://127.0.0.1:<port> type=<t> version=<v>" per module, then "ready".
// SIGTERM or SIGINT end it (writing --dump); SIGUSR1 writes --dump and prints "dumped".
// The dump lists each module's connections ("sessions") with the times they were opened,
// last heard from and closed, in microseconds since the program started.

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "module_spec.h"
#include "platform/file_names.h"
#include "platform/system.h"
#include "process.h"
#include "serial/socket.h"
#include "server.h"

namespace {

constexpr const char* kUsage =
    "usage: module-emulator --module SPEC [--module SPEC ...] [--pace BAUD]\n"
    "                       [--port-map DIR] [--dump FILE] [--until-stdin-closes]\n"
    "SPEC: comma-separated port=N, type=2..6, version=M.N | reply=BYTE, variant=24|40,\n"
    "      loopback, dsr=on, noecho, badreply, status=CODE@SLOT:PACKET, silent@SLOT:PACKET,\n"
    "      drop@SLOT:PACKET, statusdelay=MS, chatter, com=N\n"
    "      hangup@SLOT:PACKET (at PACKET = the slot's packet count: its closing zero),\n"
    "      chatter=BYTE@SLOT:PACKET (one unasked byte before that packet's echo)\n"
    "      (type 2 gets no slot byte: its transfers on one connection are slots 0, 1, ...)\n";

int Fail(const std::string& message) {
  std::fprintf(stderr, "module-emulator: %s\n%s", message.c_str(), kUsage);
  return 2;
}

// Written whole to a temporary name first, so a reader never sees half a file.
bool WriteFileAtomically(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::path temporary = path;
  temporary += ".tmp" + std::to_string(emulator::ProcessId());
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) return false;
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  return !error;
}

bool WriteDump(const std::string& path,
               const std::vector<std::unique_ptr<emulator::ModuleServer>>& servers) {
  nlohmann::json dump;
  dump["modules"] = nlohmann::json::array();
  for (const auto& server : servers) dump["modules"].push_back(server->Dump());
  return WriteFileAtomically(downloader::PathOf(path), dump.dump(1) + "\n");
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = downloader::ProgramArguments(argc, argv);
  std::vector<emulator::ModuleSpec> specs;
  uint32_t byteTimeUs = 0;
  std::string portMap;
  std::string dumpFile;
  bool untilStdinCloses = false;
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
      byteTimeUs = static_cast<uint32_t>(10'000'000 / baud);
    } else if (arg == "--port-map") {
      if (!value(portMap)) return Fail("--port-map needs a folder");
    } else if (arg == "--dump") {
      if (!value(dumpFile)) return Fail("--dump needs a file name");
    } else if (arg == "--help") {
      std::printf("%s", kUsage);
      return 0;
    } else if (arg == "--until-stdin-closes") {
      untilStdinCloses = true;
    } else {
      return Fail("unknown argument " + arg);
    }
  }
  if (specs.empty()) return Fail("no --module given");

  emulator::TakeRequests();
  // A byte on the one socket makes the other readable: the servers' word to stop.
  downloader::net::Socket stopSend = downloader::net::kNoSocket;
  downloader::net::Socket stopWait = downloader::net::kNoSocket;
  if (!downloader::net::ConnectedPair(stopSend, stopWait))
    return Fail("cannot create a socket pair");

  std::vector<std::unique_ptr<emulator::ModuleServer>> servers;
  const auto epoch = emulator::ModuleServer::Clock::now();
  for (std::size_t i = 0; i < specs.size(); ++i) {
    const int com = specs[i].com != 0 ? specs[i].com : static_cast<int>(i + 1);
    for (const auto& other : servers) {
      if (other->Com() == com) return Fail("COM" + std::to_string(com) + " given twice");
    }
    auto server =
        std::make_unique<emulator::ModuleServer>(specs[i], com, byteTimeUs, stopWait, epoch);
    std::string error;
    if (!server->Listen(error)) {
      std::fprintf(stderr, "module-emulator: cannot listen on %s\n", error.c_str());
      return 1;
    }
    servers.push_back(std::move(server));
  }

  if (!portMap.empty()) {
    std::error_code ignored;
    std::filesystem::create_directories(downloader::PathOf(portMap), ignored);
    for (const auto& server : servers) {
      const std::string url = "rfc2217://127.0.0.1:" + std::to_string(server->Port());
      const std::string name = "COM" + std::to_string(server->Com());
      if (!WriteFileAtomically(downloader::FileInFolder(portMap, name), url + "\n")) {
        std::fprintf(stderr, "module-emulator: cannot write the port map in %s\n", portMap.c_str());
        return 1;
      }
    }
  }

  std::vector<std::thread> threads;
  for (auto& server : servers) threads.emplace_back([&s = *server] { s.Run(); });

  for (const auto& server : servers) {
    std::printf("COM%d rfc2217://127.0.0.1:%u type=%d version=%s\n", server->Com(),
                static_cast<unsigned>(server->Port()), server->Spec().type,
                emulator::VersionText(server->Spec()).c_str());
  }
  std::printf("ready\n");
  std::fflush(stdout);

  if (untilStdinCloses) emulator::StopAtEndOfInput();

  while (emulator::WaitForRequest() == emulator::Request::kDump) {
    if (!dumpFile.empty() && WriteDump(dumpFile, servers)) std::printf("dumped\n");
    std::fflush(stdout);
  }
  const uint8_t stop = 'x';
  downloader::net::Send(stopSend, &stop, 1);
  for (auto& t : threads) t.join();
  if (!dumpFile.empty() && !WriteDump(dumpFile, servers)) {
    std::fprintf(stderr, "module-emulator: cannot write %s\n", dumpFile.c_str());
    return 1;
  }
  return 0;
}
