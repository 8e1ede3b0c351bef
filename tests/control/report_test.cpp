#include "run/report.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "run/run_state.h"
#include "run/standard_handles.h"
#include "support/fake_windows.h"
#include "support/status_text.h"
#include "support/temp_dir.h"
#include "support/test_handles.h"
#include "ui/window_system.h"

namespace downloader {
namespace {

using testing::InstallFakeWindows;
using testing::StatusCapture;
using testing::Visible;

TEST(StatusLine, SuccessLineIsThirtyTwoBytes) {
  const std::string line = FormatStatusLine(kChannelEvent, "044-Download successful!");
  EXPECT_EQ(line.size(), 32u);
  EXPECT_EQ(line, std::string("\x01"
                              "EVT:044-Download successful!\r\n\x04"));
}

TEST(StatusLine, EndOfTransmissionUpToOneHundred) {
  EXPECT_EQ(FormatStatusLine(kChannelInfo, "100-x"), std::string("\x01INF:100-x\r\n\x04"));
  EXPECT_EQ(FormatStatusLine(kChannelInfo, "101-x"), std::string("\x01INF:101-x\r\n"));
  EXPECT_EQ(FormatStatusLine(kChannelEvent, "101-User selected download from information dialog."),
            std::string("\x01"
                        "EVT:101-User selected download from information dialog.\r\n"));
  EXPECT_EQ(FormatStatusLine(kChannelInfo, "051-COMPANY=Acme"),
            std::string("\x01INF:051-COMPANY=Acme\r\n\x04"));
  // Texts without a number end their line too (the number counts as 0, or the port's).
  EXPECT_EQ(FormatStatusLine(kChannelError, "Could not open port: COM3.  x"),
            std::string("\x01"
                        "ERR:Could not open port: COM3.  x\r\n\x04"));
}

TEST(StatusLine, EmptyTextStillMakesALine) {
  EXPECT_EQ(FormatStatusLine(kChannelError, ""), std::string("\x01"
                                                             "ERR:\r\n\x04"));
}

TEST(StatusLine, LongLinesAndNulBytesAreWrittenWhole) {
  StatusCapture out;
  const std::string longText = "011-File not found: '" + std::string(3000, 'a') + "'.";
  ReportLine(kChannelError, longText);
  const std::string withNul = std::string("051-COMPANY=A\0B PRODUCT=C", 25);
  ReportLine(kChannelInfo, withNul);
  const std::string expected =
      "\x01"
      "ERR:" +
      longText + "\r\n\x04" + "\x01INF:" + withNul + "\r\n\x04";
  EXPECT_EQ(out.Bytes(), expected) << Visible(out.Bytes());
}

TEST(StatusLine, NoOutputHandleLosesTheLineQuietly) {
  const Handle saved = WriteHandle;
  WriteHandle = kInvalidHandle;
  EXPECT_FALSE(PipeWriteText("x"));
  WriteHandle = saved;
}

TEST(StatusLine, WriteToAClosedPipeIsIgnored) {
  PrepareProcess();  // as the driver does: no signal for a reader that has gone
  testing::TestPipe pipe = testing::CreateTestPipe();
  ASSERT_NE(pipe.read, kInvalidHandle);
  testing::CloseTestHandle(pipe.read);
  const Handle saved = WriteHandle;
  WriteHandle = pipe.write;
  EXPECT_TRUE(
      PipeWriteText("\x01"
                    "EVT:044-Download successful!\r\n\x04"));
  ReportLine(kChannelEvent, "044-Download successful!");
  WriteHandle = saved;
  testing::CloseTestHandle(pipe.write);
}

TEST(DialogText, NumberOnItsOwnLine) {
  EXPECT_EQ(DialogText("012-Checksum Error.  Data is corrupt in file \"a.obj\"."),
            "#012\r\nChecksum Error.  Data is corrupt in file \"a.obj\".");
  EXPECT_EQ(DialogText("005-Missing parameter required.\r\n/Updates switch requires /NoPrompts "
                       "switch."),
            "#005\r\nMissing parameter required.\r\n/Updates switch requires /NoPrompts switch.");
  // Unnumbered texts keep their first characters.
  EXPECT_EQ(DialogText("Unable to set configuration on serial port."),
            "Unable to set configuration on serial port.");
}

TEST(ReportError, DialogUnlessNoPromptsWithAnOutputHandle) {
  StatusCapture out;
  auto& windows = InstallFakeWindows();

  SwitchBits = kSwitchNoPrompts;
  ReportError("024-EEPROM verify failure.");
  EXPECT_TRUE(windows.errorDialogs.empty());
  EXPECT_EQ(out.Bytes(), std::string("\x01"
                                     "ERR:024-EEPROM verify failure.\r\n\x04"));

  // /NoPrompts with /NoInfo is not an allowed combination: its table entry is 0, so the
  // dialog shows.
  SwitchBits = kSwitchNoPrompts | kSwitchNoInfo;
  ReportError("024-EEPROM verify failure.");
  ASSERT_EQ(windows.errorDialogs.size(), 1u);
  EXPECT_EQ(windows.errorDialogs[0], "#024\r\nEEPROM verify failure.");

  SwitchBits = 0;
  ReportError("014-Not proper object code file format.");
  EXPECT_EQ(windows.errorDialogs.size(), 2u);
  EXPECT_EQ(windows.beeps, 2);
}

TEST(ReportError, WithoutOutputHandleTheDialogAlwaysShows) {
  auto& windows = InstallFakeWindows();
  const Handle saved = WriteHandle;
  WriteHandle = kInvalidHandle;
  SwitchBits = kSwitchNoPrompts;
  ReportError(
      "005-Missing parameter required.\r\n/NoPrompts switch requires redirection to "
      "an output file.");
  WriteHandle = saved;
  SwitchBits = 0;
  ASSERT_EQ(windows.errorDialogs.size(), 1u);
  EXPECT_EQ(windows.errorDialogs[0],
            "#005\r\nMissing parameter required.\r\n/NoPrompts switch requires redirection to an "
            "output file.");
}

TEST(ReportError, TheReasonsOfTheRequestGoUnderItsDialogTextOnly) {
  StatusCapture out;
  auto& windows = InstallFakeWindows();
  SwitchBits = 0;
  WriteReason("downloader: COM11 refuses the connection");
  // A watch that probes again and again repeats its reason: the dialog has it once.
  for (int i = 0; i < 20; ++i) WriteReason("downloader: COM11 refuses the connection");
  std::thread([] { WriteReason("downloader: the scan covers COM1 to COM4"); }).join();
  ReportError("023-No Korvanetics C found.");
  // A request that ends well leaves nothing for the next one.
  WriteReason("downloader: COM2 is in use by another program");
  ReportLine(kChannelEvent, "044-Download successful!");
  ReportError("011-File not found: 'a.obj'.");
  ASSERT_EQ(windows.errorReasons.size(), 2u);
  EXPECT_EQ(windows.errorReasons[0],
            "COM11 refuses the connection\r\nthe scan covers COM1 to COM4");
  EXPECT_EQ(windows.errorReasons[1], "");
  EXPECT_EQ(windows.errorDialogs[0], "#023\r\nNo Korvanetics C found.");
  EXPECT_EQ(out.Bytes(), std::string("\x01"
                                     "ERR:023-No Korvanetics C found.\r\n\x04"
                                     "\x01"
                                     "EVT:044-Download successful!\r\n\x04"
                                     "\x01"
                                     "ERR:011-File not found: 'a.obj'.\r\n\x04"));
  EXPECT_EQ(WithReasons("#023\r\nNo Korvanetics C found.", windows.errorReasons[0]),
            "#023\r\nNo Korvanetics C found.\r\n\r\nCOM11 refuses the connection\r\n"
            "the scan covers COM1 to COM4");
}

}  // namespace
}  // namespace downloader
