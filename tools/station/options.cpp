#include "options.h"

#include "ports.h"

namespace downloader::station {

const char kStationUsage[] =
    "usage: downloader-station IMAGE [--ports LIST] [--report FILE] [--repeat]\n"
    "                          [--skip-empty] [--timeout SECONDS] [--loader FILE]\n"
    "                          [--expect-checksum N] [--expect-sha256 HEX]\n"
    "                          [--follow-image] [--plain]\n"
    "       downloader-station IMAGE --continuous [--ports LIST] [--log FILE]\n"
    "                          [--report FILE] [--count N] [--retries N] [--quiet]\n"
    "                          [--timeout SECONDS] [--loader FILE]\n"
    "                          [--expect-checksum N] [--expect-sha256 HEX] [--plain]\n"
    "\n"
    "Flashes IMAGE into the module on every port at once, one downloader per port,\n"
    "and shows each port's module, progress and outcome. With --continuous, every\n"
    "port is a fixture of a production line: a module put in is flashed at once, its\n"
    "result stays shown until it is taken out, and the next one is waited for.\n"
    "\n"
    "  --ports LIST       the ports to flash, e.g. COM1,COM3-COM16 (default: every\n"
    "                     port of the port map)\n"
    "  --report FILE      write a JSON report of every port when the round ends\n"
    "  --repeat           after a round, wait for Enter (an empty line on standard\n"
    "                     input) and flash again; q or end of input stops\n"
    "  --skip-empty       a port with nothing attached does not count as failed\n"
    "  --timeout SECONDS  kill a loader that writes no status line for this long\n"
    "                     (default 30)\n"
    "  --loader FILE      the downloader to run (default: the one beside this program)\n"
    "  --expect-checksum N\n"
    "                     refuse an image whose checksum (as the loader shows it)\n"
    "                     is not N\n"
    "  --expect-sha256 HEX\n"
    "                     refuse an image file whose SHA-256 is not HEX\n"
    "  --follow-image     flash an image file changed between rounds (default: the\n"
    "                     station stops, as the file is no longer the one checked)\n"
    "  --continuous       run as a production line until Ctrl-C, q and Enter, or --count\n"
    "  --log FILE         append one JSON line per unit to FILE (continuous)\n"
    "  --count N          stop once N units have passed (continuous)\n"
    "  --retries N        flash a unit again up to N times after a communication\n"
    "                     failure, while it stays in its fixture (continuous; default 0)\n"
    "  --quiet            no bell when a unit fails (continuous)\n"
    "  --plain            one line per event instead of the live table (also when\n"
    "                     TERM is dumb), for a terminal that shows escape sequences\n"
    "  --help, --version\n"
    "\n"
    "Exit status: 0 when every port succeeded (continuous: when the line ended by\n"
    "--count or q), 1 when any failed (continuous: when a record could not be\n"
    "written), 2 for a usage error, an image the loader refuses or not the one\n"
    "expected, 128+N when stopped by signal N (Ctrl-C: 130).\n";

namespace {

constexpr long kMaxTimeoutSeconds = 24L * 3600;
constexpr long kMaxChecksum = 65535;
constexpr std::size_t kSha256Digits = 64;
constexpr long kMaxCount = 100'000'000;
constexpr long kMaxRetries = 10;

// "--name=value" or "--name value": the value, advancing `i` past it.
std::optional<std::string> Value(const std::vector<std::string>& args, std::size_t& i,
                                 const std::string& name, std::string& error) {
  const std::string& arg = args[i];
  if (arg.size() > name.size() && arg[name.size()] == '=') return arg.substr(name.size() + 1);
  if (i + 1 >= args.size()) {
    error = name + " needs a value";
    return std::nullopt;
  }
  return args[++i];
}

bool Named(const std::string& arg, const std::string& name) {
  return arg == name || (arg.rfind(name + "=", 0) == 0);
}

// A whole number from `least` to `most`, or nothing.
std::optional<long> Number(const std::string& text, long least, long most) {
  long value = 0;
  bool digits = !text.empty() && text.size() <= 9;
  for (const char c : text) {
    digits = digits && c >= '0' && c <= '9';
    if (digits) value = value * 10 + (c - '0');
  }
  if (!digits || value < least || value > most) return std::nullopt;
  return value;
}

}  // namespace

std::optional<StationOptions> ParseStationOptions(const std::vector<std::string>& args,
                                                  std::string& error) {
  StationOptions options;
  bool imageGiven = false;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      if (imageGiven) {
        error = "one image only: '" + arg + "' is a second";
        return std::nullopt;
      }
      options.image = arg;
      imageGiven = true;
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "--repeat") {
      options.repeat = true;
    } else if (arg == "--skip-empty") {
      options.skipEmpty = true;
    } else if (arg == "--plain") {
      options.plain = true;
    } else if (arg == "--follow-image") {
      options.followImage = true;
    } else if (Named(arg, "--expect-checksum")) {
      const auto text = Value(args, i, "--expect-checksum", error);
      if (!text) return std::nullopt;
      options.expectChecksum = Number(*text, 0, kMaxChecksum);
      if (!options.expectChecksum) {
        error = "--expect-checksum takes the image's checksum, a number from 0 to " +
                std::to_string(kMaxChecksum) + ", not '" + *text + "'";
        return std::nullopt;
      }
    } else if (Named(arg, "--expect-sha256")) {
      const auto text = Value(args, i, "--expect-sha256", error);
      if (!text) return std::nullopt;
      std::string hex = *text;
      for (char& c : hex) c = static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
      if (hex.size() != kSha256Digits ||
          hex.find_first_not_of("0123456789abcdef") != std::string::npos) {
        error = "--expect-sha256 takes the image file's SHA-256, 64 hexadecimal digits, not '" +
                *text + "'";
        return std::nullopt;
      }
      options.expectSha256 = hex;
    } else if (arg == "--continuous") {
      options.continuous = true;
    } else if (arg == "--quiet") {
      options.quiet = true;
    } else if (Named(arg, "--log")) {
      const auto file = Value(args, i, "--log", error);
      if (!file) return std::nullopt;
      if (file->empty()) {
        error = "--log needs a file name";
        return std::nullopt;
      }
      options.log = *file;
    } else if (Named(arg, "--count") || Named(arg, "--retries")) {
      const std::string name = arg.substr(0, arg.find('='));
      const auto text = Value(args, i, name, error);
      if (!text) return std::nullopt;
      const long most = name == "--count" ? kMaxCount : kMaxRetries;
      const auto n = Number(*text, name == "--count" ? 1 : 0, most);
      if (!n) {
        error = name + " takes a number from " + (name == "--count" ? "1" : "0") + " to " +
                std::to_string(most) + ", not '" + *text + "'";
        return std::nullopt;
      }
      (name == "--count" ? options.count : options.retries) = static_cast<int>(*n);
    } else if (Named(arg, "--ports")) {
      const auto list = Value(args, i, "--ports", error);
      if (!list) return std::nullopt;
      if (options.ports) {
        error = "--ports is given twice";
        return std::nullopt;
      }
      std::string why;
      options.ports = ParsePortList(*list, why);
      if (!options.ports) {
        error = "--ports: " + why;
        return std::nullopt;
      }
    } else if (Named(arg, "--report")) {
      const auto file = Value(args, i, "--report", error);
      if (!file) return std::nullopt;
      if (file->empty()) {
        error = "--report needs a file name";
        return std::nullopt;
      }
      options.report = *file;
    } else if (Named(arg, "--loader")) {
      const auto file = Value(args, i, "--loader", error);
      if (!file) return std::nullopt;
      options.loader = *file;
    } else if (Named(arg, "--timeout")) {
      const auto text = Value(args, i, "--timeout", error);
      if (!text) return std::nullopt;
      const auto seconds = Number(*text, 1, kMaxTimeoutSeconds);
      if (!seconds) {
        error = "--timeout takes a number of seconds from 1 to " +
                std::to_string(kMaxTimeoutSeconds) + ", not '" + *text + "'";
        return std::nullopt;
      }
      options.timeout = std::chrono::seconds(*seconds);
    } else {
      error = "unknown option '" + arg + "'";
      return std::nullopt;
    }
  }
  if (!imageGiven && !options.help && !options.version) {
    error = "no image given";
    return std::nullopt;
  }
  if (options.continuous && (options.repeat || options.skipEmpty || options.followImage)) {
    // A line that took a new image between two units would log units of two images under
    // one report: a changed image ends it instead.
    error = std::string(options.repeat      ? "--repeat"
                        : options.skipEmpty ? "--skip-empty"
                                            : "--follow-image") +
            " is for rounds, not --continuous";
    return std::nullopt;
  }
  if (!options.continuous &&
      (!options.log.empty() || options.count > 0 || options.retries > 0 || options.quiet)) {
    error = "--log, --count, --retries and --quiet need --continuous";
    return std::nullopt;
  }
  return options;
}

}  // namespace downloader::station
