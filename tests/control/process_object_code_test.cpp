// The image request in-process, with a scripted window system and a recording download.

#include "control/process_object_code.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include "image/image_file.h"
#include "image/sample_images.h"
#include "run/report.h"
#include "run/run_state.h"
#include "support/fake_windows.h"
#include "support/run_process.h"
#include "support/temp_dir.h"
#include "ui/forms.h"
#include "ui/message_loop.h"
#include "ui/window_system.h"

namespace downloader {
namespace {

using testing::Bytes;
using testing::FakeWindowSystem;
using testing::InstallFakeWindows;
using testing::SampleImage;
using testing::StatusLine;
using testing::TempDir;
using testing::Visible;

int downloads = 0;
void CountDownload() {
  ++downloads;
}
void FailingDownload() {
  ++downloads;
  throw std::runtime_error("port vanished");
}

class ProcessObjectCodeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // This test program carries no image of its own, as the plain loader does not.
    ObjectImage own;
    ASSERT_FALSE(ReadImageTail("/proc/self/exe", own) == ImageRead::kRead && CrcMatches(own));
    MarkMainThread();
    CreateForms();
    script_ = &InstallFakeWindows();
    SetDownloadHandler(CountDownload);
    downloads = 0;
    output_ = dir_.File("status");
    WriteHandle = ::open(output_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(WriteHandle, 0);
    SwitchBits = 0;
    RunFlags = 0;
    ObjectFileName.clear();
    sampleFile_ = dir_.Write("sample.obj", Bytes(SampleImage()));
  }
  void TearDown() override {
    ::close(WriteHandle);
    WriteHandle = kInvalidHandle;
    SetWindowSystem(nullptr);
    SetDownloadHandler(nullptr);
  }
  std::string Status() const { return testing::ReadFileBytes(output_); }

  TempDir dir_;
  FakeWindowSystem* script_ = nullptr;
  std::string output_;
  std::string sampleFile_;
};

TEST_F(ProcessObjectCodeTest, InformationWindowDownloadOrCancel) {
  ObjectFileName = sampleFile_;
  script_->informationAnswer = kModalOk;
  ProcessObjectCode();
  EXPECT_EQ(
      Visible(Status()),
      Visible(StatusLine("EVT:", "101-User selected download from information dialog.", false)));
  EXPECT_EQ(downloads, 1);
  ASSERT_EQ(script_->informationViews.size(), 1u);
  EXPECT_EQ(script_->informationViews[0].caption, "Veltrana, Inc. - Korvanetics Loader v1.7");
  EXPECT_EQ(script_->informationViews[0].checksum, std::to_string(DisplayChecksum(SampleImage())));
  // The accepted image keeps its display checksum in the CRC field.
  EXPECT_EQ(ImageBuffer.Crc(), DisplayChecksum(SampleImage()));

  script_->informationAnswer = kModalCancel;
  ProcessObjectCode();
  EXPECT_TRUE(
      Status().ends_with(StatusLine("EVT:", "042-User cancelled information dialog.", true)));
  EXPECT_EQ(downloads, 1);
}

TEST_F(ProcessObjectCodeTest, UnattendedSwitchesDownloadAtOnce) {
  for (uint16_t flags : {kNoInfo, kNoPrompts, uint16_t(kNoPrompts | kUpdates | kPortGiven)}) {
    ObjectFileName = sampleFile_;
    RunFlags = flags | kFileGiven;
    ProcessObjectCode();
  }
  EXPECT_EQ(downloads, 3);
  EXPECT_EQ(Status(), "");
  EXPECT_TRUE(script_->informationViews.empty());
}

TEST_F(ProcessObjectCodeTest, OpenDialogPicksOrCancels) {
  ProcessObjectCode();
  EXPECT_EQ(Status(), StatusLine("EVT:", "041-User cancelled open-file dialog.", true));
  ASSERT_EQ(script_->openFileRequests.size(), 1u);
  const OpenFileRequest& asked = script_->openFileRequests[0];
  EXPECT_EQ(asked.title, "Open Object File");
  EXPECT_EQ(asked.initialDirectory, std::filesystem::current_path().string());
  EXPECT_EQ(asked.defaultExtension, ".obj");
  EXPECT_EQ(asked.filter, "Object Files (*.obj)|*.obj|All Files (*.*)|*.*");

  // A relative pick is taken from the current directory and kept as a full name.
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir_.path());
  script_->openFileAnswer = "sample.obj";
  RunFlags = kGetInfo;
  ProcessObjectCode();
  std::filesystem::current_path(previous);
  EXPECT_EQ(ObjectFileName, sampleFile_);
  EXPECT_NE(Status().find("\x01INF:051-COMPANY=Veltrana, Inc. "), std::string::npos)
      << Visible(Status());
}

TEST_F(ProcessObjectCodeTest, PickedFileThatDoesNotExistEndsSilently) {
  script_->openFileAnswer = dir_.File("nothing.obj");
  ProcessObjectCode();
  EXPECT_EQ(Status(), "");
  EXPECT_TRUE(script_->errorDialogs.empty());
}

TEST_F(ProcessObjectCodeTest, ValidationErrorsGoThroughTheErrorDialog) {
  ObjectImage image = SampleImage();
  image.bytes[image_layout::kFormatVersion] = 0x0F;
  ObjectFileName = dir_.Write("old.obj", Bytes(image));
  ProcessObjectCode();
  const std::string text =
      "013-Can not process object code.  File format is version 0.15.  Expected version 1.2.";
  EXPECT_EQ(Status(), StatusLine("ERR:", text, true));
  ASSERT_EQ(script_->errorDialogs.size(), 1u);
  EXPECT_EQ(script_->errorDialogs[0], "#013\r\n" + text.substr(4));
  EXPECT_EQ(downloads, 0);
}

TEST_F(ProcessObjectCodeTest, FileThatCannotBeOpenedIsNotObjectCode) {
  ObjectFileName = dir_.Write("secret.obj", Bytes(SampleImage()));
  ASSERT_EQ(::chmod(ObjectFileName.c_str(), 0), 0);
  ASSERT_EQ(::chmod(dir_.path().c_str(), 0755), 0);
  RunFlags = kNoPrompts | kFileGiven;
  SwitchBits = kSwitchNoPrompts | kSwitchFile;
  // Root may read any file, so the request runs in a child that gave up root first.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0 && ::setuid(65534) != 0) ::_exit(3);
    ProcessObjectCode();
    ::_exit(downloads == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(Status(), StatusLine("ERR:", "014-Not proper object code file format.", true))
      << Visible(Status());
}

TEST_F(ProcessObjectCodeTest, FailureDuringTheDownloadIsDropped) {
  SetDownloadHandler(FailingDownload);
  ObjectFileName = sampleFile_;
  RunFlags = kNoPrompts | kFileGiven;
  EXPECT_NO_THROW(ProcessObjectCode());
  EXPECT_EQ(downloads, 1);
  EXPECT_EQ(Status(), "");
}

}  // namespace
}  // namespace downloader
