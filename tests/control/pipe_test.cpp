#include "control/pipe.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/command_line.h"
#include "run/report.h"
#include "support/test_handles.h"

namespace downloader {
namespace {

using Args = std::vector<std::string>;

TEST(PipeArguments, BlanksAreSpaceAndTabOnly) {
  EXPECT_EQ(SplitPipeArguments("/NoPrompts /Updates prog.obj"),
            (Args{"/NoPrompts", "/Updates", "prog.obj"}));
  EXPECT_EQ(SplitPipeArguments("  prog.obj  "), (Args{"prog.obj"}));
  EXPECT_EQ(SplitPipeArguments("\t/GetInfo\t \tprog.obj"), (Args{"/GetInfo", "prog.obj"}));
  EXPECT_EQ(SplitPipeArguments(""), Args{});
  EXPECT_EQ(SplitPipeArguments(" \t  "), Args{});
  // No quoting, and CR LF stay part of the last argument.
  EXPECT_EQ(SplitPipeArguments("\"my file.obj\"\r\n"), (Args{"\"my", "file.obj\"\r\n"}));
}

class PipeRead : public ::testing::Test {
 protected:
  void SetUp() override {
    pipe_ = testing::CreateTestPipe();
    ASSERT_NE(pipe_.read, kInvalidHandle);
    saved_ = ReadHandle;
    ReadHandle = pipe_.read;
  }
  void TearDown() override {
    ReadHandle = saved_;
    testing::CloseTestHandle(pipe_.read);
    testing::CloseTestHandle(pipe_.write);
  }
  void Send(const std::string& bytes) { ASSERT_TRUE(testing::WriteTestHandle(pipe_.write, bytes)); }
  void CloseWriter() { testing::CloseTestHandle(pipe_.write); }

  testing::TestPipe pipe_;
  Handle saved_ = kInvalidHandle;
};

TEST_F(PipeRead, AtMostOneKibibyteARead) {
  Send(std::string(1024, 'a') + std::string(476, 'b'));
  std::string text;
  ASSERT_TRUE(PipeReadText(text));
  EXPECT_EQ(text, std::string(1024, 'a'));
  ASSERT_TRUE(PipeReadText(text));
  EXPECT_EQ(text, std::string(476, 'b'));
}

TEST_F(PipeRead, TwoMessagesWaitingAreOneCommandLine) {
  Send("a.obj");
  Send(" b.obj");
  ASSERT_TRUE(ReadPipeArguments());
  EXPECT_EQ(ArgumentList, (Args{"a.obj", "b.obj"}));
}

TEST_F(PipeRead, TextEndsAtANulByte) {
  Send(std::string("/GetInfo\0junk", 13));
  std::string text;
  ASSERT_TRUE(PipeReadText(text));
  EXPECT_EQ(text, "/GetInfo");
}

TEST_F(PipeRead, EndOfFileEndsPipeMode) {
  Send("x");
  CloseWriter();
  ASSERT_TRUE(ReadPipeArguments());
  EXPECT_FALSE(ReadPipeArguments());
  EXPECT_TRUE(ArgumentList.empty());
}

TEST(PipeReadNoHandle, Fails) {
  const Handle saved = ReadHandle;
  ReadHandle = kInvalidHandle;
  std::string text = "old";
  EXPECT_FALSE(PipeReadText(text));
  ReadHandle = saved;
}

}  // namespace
}  // namespace downloader
