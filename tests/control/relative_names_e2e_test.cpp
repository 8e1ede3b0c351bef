// A copy of the loader in a folder of its own, run from another folder, as an installed
// loader runs: a relative name on its command line is looked up where the user stands,
// then beside the loader; a master program's command lines keep the loader's folder.

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "support/run_process.h"
#include "support/temp_dir.h"

namespace downloader {
namespace {

namespace fs = std::filesystem;
using testing::BinaryPath;
using testing::ReadFileBytes;
using testing::RunOptions;
using testing::RunProgram;
using testing::RunResult;
using testing::StatusLine;
using testing::Visible;

std::string Example(const std::string& name) {
  return std::string(DOWNLOADER_EXAMPLES_DIR) + "/" + name + ".obj";
}

class RelativeNames : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(loaderDir_);
    fs::create_directory(userDir_);
    fs::copy_file(BinaryPath("downloader"), loader_);
    fs::copy_file(Example("korvanetics_c"), userDir_ / "here.obj");
    fs::copy_file(Example("korvanetics_c"), userDir_ / "both.obj");
    fs::copy_file(Example("dosing_pump"), loaderDir_ / "beside.obj");
    fs::copy_file(Example("release_notes"), loaderDir_ / "both.obj");
  }

  RunResult Run(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
    RunOptions options;
    options.args = std::move(args);
    options.env = std::move(env);
    options.workingDirectory = userDir_.string();
    return RunProgram(loader_.string(), options);
  }

  // What the loader reports for an image named by its full name.
  static std::string InformationOf(const std::string& image) {
    RunOptions options;
    options.args = {"/GetInfo", image};
    return RunProgram(BinaryPath("downloader"), options).out;
  }

  testing::TempDir dir_;
  const fs::path loaderDir_ = dir_.path() / "bin";
  const fs::path userDir_ = dir_.path() / "work";
  const fs::path loader_ = loaderDir_ / "downloader";
};

TEST_F(RelativeNames, WhereTheUserStandsFirstThenBesideTheLoader) {
  const std::string kStandard = InformationOf(Example("korvanetics_c"));
  ASSERT_EQ(kStandard.rfind("\x01INF:051-COMPANY=", 0), 0u) << Visible(kStandard);

  EXPECT_EQ(Run({"/GetInfo", "here.obj"}).out, kStandard);
  EXPECT_EQ(Run({"/GetInfo", "beside"}).out, InformationOf(Example("dosing_pump")));
  EXPECT_EQ(Run({"/GetInfo", "both.obj"}).out, kStandard) << "the user's file wins";
  EXPECT_EQ(Run({"/GetInfo", "neither"}).out,
            StatusLine("ERR:", "011-File not found: 'neither.obj'.", true));

  // Messages name the file as typed, with its default extension.
  std::string corrupt = ReadFileBytes(Example("korvanetics_c"));
  corrupt.back() ^= 0x5A;  // the CRC
  dir_.Write("work/bad.obj", corrupt);
  EXPECT_EQ(Run({"/GetInfo", "bad"}).out,
            StatusLine("ERR:", "012-Checksum Error.  Data is corrupt in file \"bad.obj\".", true));
}

TEST_F(RelativeNames, MasterFoundWhereTheUserStandsServedFromTheLoadersFolder) {
  const fs::path master = userDir_ / "master";
  fs::copy_file(std::string(DOWNLOADER_SOURCE_DIR) + "/tests/pipe/scripted_master.py", master);
  ::chmod(master.c_str(), 0755);
  const std::string log = (dir_.path() / "master.log").string();
  const RunResult run = Run(
      {"/Pipe", "master"},
      {{"MASTER_COMMANDS", R"(["/GetInfo here.obj", "/GetInfo beside"])"}, {"MASTER_LOG", log}});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "") << Visible(run.out);
  // The master writes its log once the loader has gone.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (!fs::exists(log) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const auto replies = nlohmann::json::parse(ReadFileBytes(log)).at("replies");
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0].get<std::string>(),
            StatusLine("ERR:", "011-File not found: 'here.obj'.", true));
  EXPECT_EQ(replies[1].get<std::string>(), InformationOf(Example("dosing_pump")));
}

}  // namespace
}  // namespace downloader
