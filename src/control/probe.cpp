#include "control/probe.h"

#include <string>
#include <string_view>
#include <vector>

#include "identify/scan.h"
#include "run/report.h"

namespace downloader {

namespace {

constexpr std::string_view kOption = "--probe";
constexpr char kUsage[] =
    "downloader: --probe takes a port, COM1 to COM99, and may name the module type to try "
    "first, 2 to 6: downloader --probe COM3 [3]\n";

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
  if (first != kOption && first.rfind(std::string(kOption) + "=", 0) != 0) return std::nullopt;
  std::vector<std::string_view> words;
  if (first.size() > kOption.size()) words.push_back(first.substr(kOption.size() + 1));
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
  WriteHandle = standard.output ? StandardOutput() : kInvalidHandle;
  ReportLine(kChannelInfo, ProbePort(port, type));
  return 0;
}

}  // namespace downloader
