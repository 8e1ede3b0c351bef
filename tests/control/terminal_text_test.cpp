// Texts from images, files and the system on their way to a terminal.

#include "run/terminal_text.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

#include "run/report.h"
#include "run/run_state.h"
#include "support/test_handles.h"

namespace downloader {
namespace {

TEST(TerminalText, ControlCharactersAreShownEscapedAndUtf8Passes) {
  EXPECT_EQ(TerminalText("Pump\x1b]0;owned\x07 \x1b]52;c;eA==\x07 \xc2\x9b"
                         "2J Ventil\xc3\xa9\r\nline\tx\x7f\xff\xc0\xaf",
                         true),
            "Pump\\x1B]0;owned\\x07 \\x1B]52;c;eA==\\x07 \\u009B2J Ventil\xc3\xa9\r\nline\tx"
            "\\x7F\\xFF\\xC0\\xAF");
  // On one line, line breaks are escaped too; a CR without its LF always is.
  EXPECT_EQ(TerminalText("a\r\nb\nc\rd", false), "a\\r\\nb\\nc\\rd");
  EXPECT_EQ(TerminalText("c\rd\r", true), "c\\rd\\r");
}

// A person reads status lines on a terminal; a program reads the same bytes as ever.
TEST(TerminalText, StatusLinesOnATerminalShowImageTextsEscaped) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  termios raw{};
  ::tcgetattr(terminal, &raw);
  ::cfmakeraw(&raw);
  ::tcsetattr(terminal, TCSANOW, &raw);
  const Handle saved = WriteHandle;
  WriteHandle = terminal;
  ReportLine(kChannelInfo, "051-Pump\x1b[2J\r\nNotes");
  char buffer[256];
  const ssize_t n = ::read(master, buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0),
            "\x01INF:051-Pump\\x1B[2J\r\nNotes\r\n\x04");

  testing::TestPipe pipe = testing::CreateTestPipe();
  WriteHandle = pipe.write;
  ReportLine(kChannelInfo, "051-Pump\x1b[2J");
  testing::CloseTestHandle(pipe.write);
  const ssize_t m = ::read(static_cast<int>(pipe.read), buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer, m > 0 ? static_cast<std::size_t>(m) : 0),
            "\x01INF:051-Pump\x1b[2J\r\n\x04");
  testing::CloseTestHandle(pipe.read);
  WriteHandle = saved;
  ::close(terminal);
  ::close(master);
}

}  // namespace
}  // namespace downloader
