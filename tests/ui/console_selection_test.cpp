#include "ui/console/console_selection.h"

#include <gtest/gtest.h>

#include <deque>

#include "serial/globals.h"
#include "ui/console/console_io.h"
#include "ui/download_test_state.h"
#include "ui/forms.h"
#include "ui/progress_form.h"
#include "ui/window_system.h"

namespace downloader {
namespace {

// Answers the questions from a script; the end of the script is the end of input.
struct ScriptedAnswers {
  std::deque<std::string> answers;
  int asked = 0;
  std::optional<std::string> operator()(std::string_view) {
    ++asked;
    if (answers.empty()) return std::nullopt;
    std::string next = answers.front();
    answers.pop_front();
    return next;
  }
};

class ConsoleSelectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ResetDownloaderState();
    ProgressForm->Open(true, "");
    ProgressForm->PortStatus.SetCell(6, 2, "+");
    ProgressForm->PortStatus.SetCell(6, 3, "+");
  }

  int Ask(std::deque<std::string> answers, int* asked = nullptr) {
    ScriptedAnswers script{std::move(answers)};
    const int result = AskForTargetRow(*ProgressForm, std::ref(script));
    if (asked) *asked = script.asked;
    return result;
  }
};

TEST_F(ConsoleSelectionTest, AMarkedPortByNameOrNumberIsChosen) {
  EXPECT_EQ(Ask({"com3:"}), kModalDownload);
  EXPECT_EQ(ProgressForm->PortStatus.Selection.Top, 3);
  EXPECT_EQ(Ask({" 2 "}), kModalDownload);
  EXPECT_EQ(ProgressForm->PortStatus.Selection.Top, 2);
}

TEST_F(ConsoleSelectionTest, UnmarkedPortsAreAskedAgain) {
  int asked = 0;
  EXPECT_EQ(Ask({"COM1", "COM7", "nonsense", "COM2"}, &asked), kModalDownload);
  EXPECT_EQ(asked, 4);
  EXPECT_EQ(ProgressForm->PortStatus.Selection.Top, 2);
}

TEST_F(ConsoleSelectionTest, AnEmptyAnswerOrTheEndOfInputCancels) {
  EXPECT_EQ(Ask({""}), kModalCancel);
  EXPECT_EQ(Ask({"COM1"}), kModalCancel);
  EXPECT_FALSE(ProgressForm->PortStatus.HasSelection());
}

TEST(ConsoleOpenFile, TypedNameGetsTheDefaultExtension) {
  EXPECT_EQ(WithDefaultExtension("prog", ".obj"), "prog.obj");
  EXPECT_EQ(WithDefaultExtension("/images/v1.2/prog", ".obj"), "/images/v1.2/prog.obj");
  EXPECT_EQ(WithDefaultExtension("prog.bin", ".obj"), "prog.bin");
  EXPECT_EQ(WithDefaultExtension("prog.", ".obj"), "prog.");
}

}  // namespace
}  // namespace downloader
