// The real downloader and objtool binaries: /GetInfo, the validation messages and the
// self-contained loader, compared byte for byte.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "image/image_file.h"
#include "image/validation.h"
#include "sample_images.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace downloader {
namespace {

namespace fs = std::filesystem;
using namespace image_layout;
using testing::BinaryPath;
using testing::Bytes;
using testing::RunOptions;
using testing::RunProgram;
using testing::RunResult;
using testing::SampleImage;
using testing::StatusLine;
using testing::TempDir;
using testing::Visible;

const std::string kInfoLineOfSample =
    "051-COMPANY=Veltrana, Inc. PRODUCT=Korvanetics C FIRMWARE=Firmware 2.04 CHECKSUM=" +
    std::to_string(DisplayChecksum(SampleImage())) +
    " COMPILEDATE=Saturday, January 1, 2000, 06:00 pm INTROMESSAGE=First line\r\nSecond "
    "line\r\nLast line";

/// Runs a loader under the C locale. The loader works from its own directory and reads a
/// leading "/" as a switch, so files are named relative to the loader.
RunResult RunLoader(const std::string& loader, std::vector<std::string> args) {
  RunOptions options;
  options.args = std::move(args);
  options.env["LC_ALL"] = "C";
  return RunProgram(loader, options);
}

std::string NameFor(const std::string& loader, const std::string& file) {
  return fs::relative(file, fs::path(loader).parent_path()).string();
}

/// Runs the built loader with /GetInfo on one file.
RunResult GetInfo(const std::string& file) {
  const std::string loader = BinaryPath("downloader");
  return RunLoader(loader, {"/GetInfo", NameFor(loader, file)});
}

RunResult Objtool(std::vector<std::string> args) {
  RunOptions options;
  options.args = std::move(args);
  options.env["LC_ALL"] = "C";
  return RunProgram(BinaryPath("objtool"), options);
}

/// A copy of the loader in `dir` carrying `image`, made by objtool embed.
std::string SelfContainedLoader(const TempDir& dir, const ObjectImage& image) {
  const std::string imageFile = dir.Write("embedded.obj", Bytes(image));
  const std::string loader = dir.File("loader");
  const RunResult made = Objtool({"embed", BinaryPath("downloader"), imageFile, "-o", loader});
  EXPECT_EQ(made.exitCode, 0) << made.err;
  return loader;
}

#define EXPECT_STATUS(result, expected)                                \
  EXPECT_EQ(Visible((result).out), Visible(expected)) << (result).err; \
  EXPECT_EQ((result).exitCode, 0)

TEST(PlainLoader, CarriesNoEmbeddedImage) {
  ObjectImage tail;
  ASSERT_EQ(ReadImageTail(BinaryPath("downloader"), tail), ImageRead::kRead);
  EXPECT_FALSE(CrcMatches(tail))
      << "this build of downloader ends in 19,391 bytes that pass the image CRC, so it "
         "counts as a self-contained loader; change the build (for example a note section) "
         "so that it no longer does";
  const RunResult run = RunLoader(BinaryPath("downloader"), {"/NoPrompts"});
  EXPECT_STATUS(run, StatusLine("ERR:",
                                "027-Object code not embedded.  Must specify object code file "
                                "name.",
                                true));
}

TEST(GetInfo, ValidImageGivesOneExactInformationLine) {
  TempDir dir;
  const RunResult run = GetInfo(dir.Write("sample.obj", Bytes(SampleImage())));
  // The notes keep their CR LF pairs; the line's own CR LF and EOT come after them.
  EXPECT_STATUS(run, StatusLine("INF:", kInfoLineOfSample, true));
  EXPECT_EQ(run.err, "");
}

TEST(GetInfo, LongerFileUsesItsHeadAndReadOnlyFileLoads) {
  TempDir dir;
  const std::string longer =
      dir.Write("longer.obj", Bytes(SampleImage()) + std::string(20000 - kSize, '\xA5'));
  EXPECT_STATUS(GetInfo(longer), StatusLine("INF:", kInfoLineOfSample, true));
  const std::string locked = dir.Write("locked.obj", Bytes(SampleImage()));
  ASSERT_EQ(::chmod(locked.c_str(), 0444), 0);
  EXPECT_STATUS(GetInfo(locked), StatusLine("INF:", kInfoLineOfSample, true));
}

TEST(GetInfo, ValidationMessagesInOrder) {
  TempDir dir;
  const std::string e014 = "014-Not proper object code file format.";
  ObjectImage image = SampleImage();
  image.bytes[kMagic] = 24;  // 24 followed by the right 23 characters
  Seal(image);
  EXPECT_STATUS(GetInfo(dir.Write("magic.obj", Bytes(image))), StatusLine("ERR:", e014, true));

  for (const auto& [version, text] :
       {std::pair<uint8_t, const char*>{0x11, "1.1"}, {0x0F, "0.15"}}) {
    image = SampleImage();
    image.bytes[kFormatVersion] = version;
    Seal(image);
    EXPECT_STATUS(GetInfo(dir.Write("version.obj", Bytes(image))),
                  StatusLine("ERR:",
                             std::string("013-Can not process object code.  File format is "
                                         "version ") +
                                 text + ".  Expected version 1.2.",
                             true));
  }

  image = SampleImage();
  image.bytes[PacketOffset(1, 1) + 3] ^= 0x10;
  const std::string corrupt = dir.Write("corrupt.obj", Bytes(image));
  EXPECT_STATUS(GetInfo(corrupt), StatusLine("ERR:",
                                             "012-Checksum Error.  Data is corrupt in file \"" +
                                                 NameFor(BinaryPath("downloader"), corrupt) + "\".",
                                             true));

  // An intact image the download could not use.
  image = SampleImage();
  image.bytes[kSlotCount] = 9;
  Seal(image);
  EXPECT_STATUS(GetInfo(dir.Write("range.obj", Bytes(image))), StatusLine("ERR:", e014, true));
}

TEST(GetInfo, CompileDateInTheUsersTimeLocale) {
  TempDir dir;
  // A locale of our own, so the test does not depend on the locales generated; its sources
  // come with the locales package (scripts/setup).
  RunOptions localedef;
  localedef.args = {"-i", "fi_FI", "-f", "UTF-8", dir.File("fi_FI.UTF-8")};
  const RunResult made = RunProgram("/usr/bin/localedef", localedef);
  ASSERT_TRUE(made.exitCode == 0 || fs::exists(dir.File("fi_FI.UTF-8") + "/LC_TIME"))
      << "localedef cannot make fi_FI.UTF-8 (scripts/setup installs the locales package): "
      << made.err;
  const std::string loader = BinaryPath("downloader");
  RunOptions options;
  options.args = {"/GetInfo", NameFor(loader, dir.Write("sample.obj", Bytes(SampleImage())))};
  options.env = {{"LOCPATH", dir.path().string()}, {"LC_ALL", "fi_FI.UTF-8"}};
  const RunResult run = RunProgram(loader, options);
  // Finnish names and the locale's "." between hours and minutes; am/pm stay as they are.
  EXPECT_NE(run.out.find(" COMPILEDATE=lauantai, tammikuu 1, 2000, 06.00 pm INTROMESSAGE="),
            std::string::npos)
      << Visible(run.out);
}

TEST(SelfContainedLoader, AnswersGetInfoWithoutAFile) {
  TempDir dir;
  const std::string loader = SelfContainedLoader(dir, SampleImage());
  struct stat info {};
  ASSERT_EQ(::stat(loader.c_str(), &info), 0);
  EXPECT_NE(info.st_mode & S_IXUSR, 0u);
  EXPECT_STATUS(RunLoader(loader, {"/GetInfo"}), StatusLine("INF:", kInfoLineOfSample, true));
}

TEST(SelfContainedLoader, NamedFileWinsAndShortFilesNeverFallBack) {
  TempDir dir;
  const std::string loader = SelfContainedLoader(dir, SampleImage());
  ObjectImage other = SampleImage();
  SetText(other, kFirmwareName, kNameCapacity, "Other firmware", "firmware");
  Seal(other);
  dir.Write("other.obj", Bytes(other));
  const RunResult wins = RunLoader(loader, {"/GetInfo", "other.obj"});
  EXPECT_NE(wins.out.find(" FIRMWARE=Other firmware CHECKSUM="), std::string::npos)
      << Visible(wins.out);

  const std::string e014 = StatusLine("ERR:", "014-Not proper object code file format.", true);
  dir.Write("empty.obj", "");
  EXPECT_STATUS(RunLoader(loader, {"/GetInfo", "empty.obj"}), e014);
  dir.Write("half.obj", Bytes(other).substr(0, kSize / 2));
  EXPECT_STATUS(RunLoader(loader, {"/GetInfo", "half.obj"}), e014);
}

TEST(SelfContainedLoader, TailOfZerosPassesTheCrcButNotTheMagic) {
  TempDir dir;
  const std::string loader = dir.File("zeros-loader");
  fs::copy_file(BinaryPath("downloader"), loader);
  {
    std::ofstream out(loader, std::ios::binary | std::ios::app);
    out << std::string(kSize, '\0');
  }
  EXPECT_STATUS(RunLoader(loader, {"/GetInfo"}),
                StatusLine("ERR:", "014-Not proper object code file format.", true));
}

TEST(InformationWindow, ConsoleShowsTheTextsAndCancelsWithoutATerminal) {
  TempDir dir;
  const std::string loader = BinaryPath("downloader");
  const RunResult run =
      RunLoader(loader, {NameFor(loader, dir.Write("sample.obj", Bytes(SampleImage())))});
  EXPECT_STATUS(run, StatusLine("EVT:", "042-User cancelled information dialog.", true));
  EXPECT_NE(run.err.find("Veltrana, Inc. - Korvanetics Loader v1.7\n"), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("Saturday, January 1, 2000, 06:00 pm"), std::string::npos) << run.err;
}

TEST(Examples, EveryExampleImageIsAccepted) {
  const struct {
    const char* name;
    const char* piece;
  } examples[] = {
      {"korvanetics_c.obj", "051-COMPANY=Veltrana, Inc. PRODUCT=Korvanetics C FIRMWARE="},
      {"dosing_pump.obj", " PRODUCT=Aqualine Dosing Pump DP-40 FIRMWARE="},
      {"release_notes.obj", "INTROMESSAGE=Release 0.9 beta\r\n\r\nChanges:\r\n"},
  };
  for (const auto& example : examples) {
    const RunResult run = GetInfo(std::string(DOWNLOADER_EXAMPLES_DIR) + "/" + example.name);
    EXPECT_TRUE(run.out.starts_with("\x01INF:051-")) << example.name << Visible(run.out);
    EXPECT_TRUE(run.out.ends_with("\r\n\x04")) << example.name;
    EXPECT_NE(run.out.find(example.piece), std::string::npos) << Visible(run.out);
  }
}

TEST(OpenDialog, ConsoleCancelsWithoutATerminal) {
  EXPECT_STATUS(RunLoader(BinaryPath("downloader"), {}),
                StatusLine("EVT:", "041-User cancelled open-file dialog.", true));
}

}  // namespace
}  // namespace downloader
