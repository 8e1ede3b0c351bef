#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "status_line.h"

namespace downloader::station {

using WallTime = std::chrono::system_clock::time_point;

/// The image as the loader's information line (051, from /GetInfo) describes it, and the
/// file's SHA-256 as the station read it.
struct ImageInfo {
  std::string file;  ///< the name passed to the loader
  std::string company;
  std::string product;
  std::string firmware;
  long checksum = -1;  ///< the display checksum, 0..65,535
  std::string sha256;  ///< lower-case hexadecimal; empty when the station has not read it
};

/// Reads "051-COMPANY=... PRODUCT=... FIRMWARE=... CHECKSUM=n ..." into `info` (its
/// `file` untouched). False when the text is not an information line.
bool ParseInformationLine(const std::string& text, ImageInfo& info);

/// What the loader's scan found on a port (its 111 line), the texts as the loader wrote them.
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

/// What is on a port, as far as its loader has told.
enum class Found {
  kUnknown,       ///< the scan has not reported the port (yet)
  kModule,        ///< a module identified itself
  kUnidentified,  ///< what was sent came back, but nothing identified itself
  kNothing,       ///< nothing came back at all: an empty fixture
  kNoise,         ///< bytes came back, but not the echo of what was sent
  kInUse,         ///< the port could not be opened: another program holds it (or no permission)
  kUnreachable,   ///< the port does not exist or cannot be reached
  kNoEntry,       ///< the port map has no entry for it: no loader was started
};

/// Why a port failed, for a program that reads the report.
enum class FailureCode {
  kStatus,       ///< the loader's final line is an error
  kTimeout,      ///< the loader was killed after writing nothing for --timeout
  kStopped,      ///< the operator stopped the station
  kInUse,        ///< the port is held by another program
  kNoEntry,      ///< the port map has no entry for the port
  kLoaderError,  ///< the loader could not be started, or ended without a final line
};

struct Failure {
  FailureCode code = FailureCode::kStatus;
  std::string text;  ///< one line for a person
  bool operator==(const Failure&) const = default;
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
  /// Why the port failed: set by the station when the loader's own line cannot say it
  /// (killed after a silence, ended without a final line, stopped by the operator, no port
  /// map entry), and by End from the loader's lines otherwise.
  std::optional<Failure> failure;
  std::vector<std::string> messages;  ///< lines the loader wrote to standard error
  /// From those lines: bytes came back on the port that were not an echo.
  bool noise = false;
  /// From those lines: who holds the port ("process 412 (minicom)"), or why it could not
  /// be opened.
  std::string holder;
  bool noPermission = false;
  WallTime start{};
  WallTime end{};

  /// What is on the port, from the scan's line and the loader's messages.
  Found Finding() const;
  /// Nothing answered on the port: the scan saw no module, no echo and no other byte.
  bool Empty() const { return Finding() == Found::kNothing; }
  /// Applies one status line of this port's loader. Lines after the final one change
  /// nothing.
  Change Apply(const StatusLine& line);
  /// The loader has ended (or was never started). `why` is the failure when no final line
  /// came; an empty port is a failure unless `skipEmpty`. A port that is in use fails as
  /// such, whatever the loader's final line says.
  void End(WallTime at, const Failure& why, bool skipEmpty);
  /// Keeps a line of the loader's standard error (the first few only) and reads what it
  /// tells about the port.
  void AddMessage(std::string line);
};

/// What the operator's line at the question between rounds asks for: an empty line (Enter)
/// another round, "q" or "quit" in any letter case the end; blanks around it do not count.
/// Anything else (a port name, a stray line from a barcode scanner) is neither.
enum class Answer { kAgain, kEnd, kOther };
Answer ReadAnswer(std::string_view line);

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
