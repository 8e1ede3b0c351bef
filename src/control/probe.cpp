#include "control/probe.h"

#include <chrono>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "identify/scan.h"
#include "run/report.h"

namespace downloader {

namespace {

constexpr std::string_view kProbe = "--probe";
constexpr std::string_view kWatch = "--watch";
constexpr char kUsage[] =
    "downloader: --probe and --watch take a port, COM1 to COM99, and may name the module type "
    "to try first, 2 to 6: downloader --probe COM3 [3]\n";
/// --watch starts a check this long after the one before started (or at once after a
/// longer one).
constexpr auto kWatchPeriod = std::chrono::milliseconds(100);

// "COM7" in any letter case: "COM7"; anything else: empty.
std::string PortName(std::string_view text) {
  if (text.size() < 4 || text.size() > 5) return {};
  for (std::size_t i = 0; i < 3; ++i) {
    if ((text[i] | 0x20) != "com"[i]) return {};
  }
  int number = 0;
  for (const char c : text.substr(3)) {
    if (c < '0' || c > '9') return {};
    number = number * 10 + (c - '0');
  }
  return number >= 1 && number <= 99 && text[3] != '0' ? "COM" + std::to_string(number) : "";
}

}  // namespace

std::optional<int> AnswerProbe(int argc, const char* const* argv,
                               const StandardDescriptors& standard) {
  if (argc < 2) return std::nullopt;
  const std::string_view first = argv[1];
  const std::string_view option = first.substr(0, first.find('='));
  if (option != kProbe && option != kWatch) return std::nullopt;
  std::vector<std::string_view> words;
  if (first.size() > option.size()) words.push_back(first.substr(option.size() + 1));
  for (int i = 2; i < argc; ++i) words.emplace_back(argv[i]);
  const std::string port = words.empty() ? "" : PortName(words[0]);
  DeviceType type = 0;
  if (words.size() == 2 && words[1].size() == 1 && words[1][0] >= '2' && words[1][0] <= '6') {
    type = static_cast<DeviceType>(words[1][0] - '0');
  }
  if (port.empty() || words.size() > 2 || (words.size() == 2 && type == 0)) {
    WriteToHandle(StandardError(), kUsage, sizeof kUsage - 1);
    return 2;
  }
  if (!standard.output) return 0;
  for (;;) {
    const auto started = std::chrono::steady_clock::now();
    DeviceType found = 0;
    const std::string line = FormatStatusLine(kChannelInfo, ProbePort(port, type, &found));
    // A reader that has gone ends the watch: no check runs for nobody.
    if (WriteToHandle(StandardOutput(), line.data(), line.size()) < 0 || option == kProbe) {
      return 0;
    }
    if (found != 0) type = found;
    std::this_thread::sleep_until(started + kWatchPeriod);
  }
}

}  // namespace downloader
