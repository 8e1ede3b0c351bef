#include "windows/wine_run.h"

#include <algorithm>
#include <cstdlib>

#include "support/status_text.h"

namespace downloader::e2e {

std::string Setting(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

std::string WindowsPath(const std::filesystem::path& path) {
  std::string name = "Z:" + std::filesystem::absolute(path).lexically_normal().string();
  std::replace(name.begin(), name.end(), '/', '\\');
  return name;
}

std::string WindowsProgram(std::string_view name) {
  if (name.starts_with('/')) return std::string(name);
  return Setting("DOWNLOADER_WINDOWS_BIN") + "/" + std::string(name);
}

std::vector<std::string> WineArguments(std::string_view program, std::vector<std::string> args) {
  args.insert(args.begin(), {Setting("WINE_RUN_PREFIX"), WindowsProgram(program)});
  return args;
}

std::vector<std::string> Lines(const std::string& out) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < out.size()) {
    std::size_t end = out.find("\r\n", pos);
    end = end == std::string::npos ? out.size() : end + 2;
    if (end < out.size() && out[end] == '\x04') ++end;
    lines.push_back(out.substr(pos, end - pos));
    pos = end;
  }
  const auto isScan = [](const std::string& line) { return line.rfind("\x01INF:111-", 0) == 0; };
  for (auto scan = std::find_if(lines.begin(), lines.end(), isScan); scan != lines.end();) {
    const auto scanEnd = std::find_if_not(scan, lines.end(), isScan);
    std::sort(scan, scanEnd);
    scan = std::find_if(scanEnd, lines.end(), isScan);
  }
  return lines;
}

void ExpectSameRun(const testing::RunResult& windows, const testing::RunResult& linux,
                   std::string_view last) {
  EXPECT_FALSE(windows.timedOut);
  EXPECT_EQ(windows.exitCode, 0) << windows.err;
  EXPECT_EQ(linux.exitCode, 0) << linux.err;
  EXPECT_EQ(Lines(windows.out), Lines(linux.out)) << "Windows:\n"
                                                  << testing::Visible(windows.out) << "\nLinux:\n"
                                                  << testing::Visible(linux.out);
  EXPECT_NE(linux.out.find(last), std::string::npos) << testing::Visible(linux.out);
}

}  // namespace downloader::e2e
