#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "status_line.h"

namespace downloader::station {

using WallTime = std::chrono::system_clock::time_point;

/// The image as the loader's information line (051, from /GetInfo) describes it.
struct ImageInfo {
  std::string file;  ///< the name passed to the loader
  std::string company;
  std::string product;
  std::string firmware;
  long checksum = -1;  ///< the display checksum, 0..65,535
};

/// Reads "051-COMPANY=... PRODUCT=... FIRMWARE=... CHECKSUM=n ..." into `info` (its
/// `file` untouched). False when the text is not an information line.
bool ParseInformationLine(const std::string& text, ImageInfo& info);

/// What the loader's scan found on a port (its 111 line).
struct ModuleFound {
  std::string device;   ///< "Korvanetics C", "none", "invalid port", "can't open port; in use"
  std::string version;  ///< "v1.1", "n/a", or empty when the line has no VERSION field
  std::string loopback;
  std::string echo;
};

/// Reads "111-PORT=COMn DEVICE=... [VERSION=...] LOOPBACK=... ECHO=..."; nothing when the
/// text is not a port line for `port`.
std::optional<ModuleFound> ParsePortLine(const std::string& text, const std::string& port);

enum class Outcome {
  kRunning,
  kSucceeded,  ///< the loader ended with 044
  kFailed,
  kEmpty,  ///< nothing attached, and empty ports were to be skipped
};

/// What a status line changed in a row; the plain output writes one line for each.
enum class Change { kNone, kFound, kDownloading, kSlotDone, kFinal };

/// One port of one round: one loader, from its start to its end.
struct PortRow {
  int com = 0;
  Outcome outcome = Outcome::kRunning;
  std::optional<ModuleFound> module;
  bool downloading = false;
  int slot = -1;  ///< the slot being written (from the 112 lines), -1 before the first
  int percent = 0;
  int slotsDone = 0;
  std::optional<StatusLine> final;  ///< the loader's final line (number 100 or less)
  /// Why the station failed the port when the loader's own line does not say it: killed
  /// after a silence, ended without a final line, stopped by the operator.
  std::string failure;
  std::vector<std::string> messages;  ///< lines the loader wrote to standard error
  WallTime start{};
  WallTime end{};

  /// Nothing answered on the port: the scan saw no module and no echo.
  bool Empty() const;
  /// Applies one status line of this port's loader. Lines after the final one change
  /// nothing.
  Change Apply(const StatusLine& line);
  /// The loader has ended (or was ended). `failure` is the reason used when no final line
  /// came; an empty port is a failure unless `skipEmpty`.
  void End(WallTime at, const std::string& failure, bool skipEmpty);
  /// Keeps a line of the loader's standard error (the first few only).
  void AddMessage(std::string line);
};

struct Counts {
  int ports = 0;
  int succeeded = 0;
  int failed = 0;
  int empty = 0;
  int running = 0;
  Counts& operator+=(const Counts& other);
};

/// One round: every port flashed once with one image.
struct Round {
  int number = 1;
  ImageInfo image;
  std::vector<PortRow> rows;
  WallTime start{};
  WallTime end{};
  bool interrupted = false;

  Counts Count() const;
};

}  // namespace downloader::station
