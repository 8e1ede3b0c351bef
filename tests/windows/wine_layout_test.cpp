// downloader.exe's windows laid out under Wine at 96, 120, 144 and 192 dpi (LogPixels in
// the prefix, as a user sets the system's text size), on a virtual display of 1024 x 768
// without a window manager and with one: every window walked by window_walk.exe
// (ui/window_walk.h), each fault a failure here.
//
// A Linux program run by the Windows build's CTest (see wine_run.h). Wine takes the
// resolution when its session starts, so each desk starts one of its own.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <iostream>
#include <sstream>

#include "support/child_process.h"
#include "support/virtual_desk.h"
#include "windows/wine_run.h"

namespace downloader::e2e {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::RunOptions;
using testing::VirtualDesk;

constexpr char kWineServer[] = "/usr/lib/wine/wineserver";
constexpr char kFaultPrefix[] = "FAULT: ";

void EndWineSession() {
  RunOptions options;
  options.env = {{"WINEPREFIX", Setting("WINE_RUN_PREFIX")}};
  options.timeout = 30s;
  options.args = {"-k"};
  testing::RunProgram(kWineServer, options);
  options.args = {"-w"};
  testing::RunProgram(kWineServer, options);
}

// The resolution Wine gives its programs from the next session on.
void SetLogPixels(int dpi) {
  for (const char* key : {"HKCU\\Control Panel\\Desktop", "HKCC\\Software\\Fonts"}) {
    RunOptions options;
    options.args = {
        Setting("WINE_RUN_PREFIX"), "reg", "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d",
        std::to_string(dpi),        "/f"};
    options.timeout = 120s;  // a first use makes the prefix
    const testing::RunResult run = testing::RunProgram(Setting("WINE_RUN"), options);
    ASSERT_EQ(run.exitCode, 0) << run.err;
  }
  EndWineSession();
}

struct Desk {
  int dpi;
  bool windowManager;
};

class WineLayoutTest : public ::testing::TestWithParam<Desk> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Setting("WINE_RUN").empty() || Setting("DOWNLOADER_WINDOWS_BIN").empty())
        << "run by the Windows build's tests (ctest --preset windows)";
    // Without its tools the walk fails rather than skips: ./scripts/test windows installs them.
    for (const char* tool : {testing::kXvfb, testing::kJwm}) {
      ASSERT_EQ(::access(tool, X_OK), 0) << "needs " << tool << " (scripts/setup gui)";
    }
  }
  void TearDown() override { EndWineSession(); }
};

TEST_P(WineLayoutTest, EveryWindowFitsItsTextsAndTheScreen) {
  SetLogPixels(GetParam().dpi);
  VirtualDesk desk(GetParam().dpi, GetParam().windowManager);
  ChildProcess walk(Setting("WINE_RUN"), WineArguments("window_walk.exe", {}), desk.Environment());
  const std::string out = walk.ReadToEnd(200s);
  const int exitCode = walk.Wait(30s);
  std::istringstream lines(out);
  int faults = 0;
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.starts_with(kFaultPrefix)) {
      ADD_FAILURE() << line.substr(std::strlen(kFaultPrefix));
      ++faults;
    }
  }
  EXPECT_NE(out.find("dpi " + std::to_string(GetParam().dpi)), std::string::npos) << out;
  EXPECT_EQ(exitCode, faults == 0 ? 0 : 1) << out;
  if (faults > 0) std::cerr << "The walk:\n" << out;
}

INSTANTIATE_TEST_SUITE_P(Resolutions, WineLayoutTest,
                         ::testing::Values(Desk{96, false}, Desk{120, false}, Desk{144, false},
                                           Desk{192, false}, Desk{96, true}, Desk{144, true}),
                         [](const ::testing::TestParamInfo<Desk>& desk) {
                           return std::to_string(desk.param.dpi) + "dpi" +
                                  (desk.param.windowManager ? "WithJwm" : "Bare");
                         });

}  // namespace
}  // namespace downloader::e2e
