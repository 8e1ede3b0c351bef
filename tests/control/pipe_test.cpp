#include "control/pipe.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/command_line.h"
#include "control/report.h"

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
    ASSERT_EQ(::pipe(fds_), 0);
    saved_ = ReadHandle;
    ReadHandle = fds_[0];
  }
  void TearDown() override {
    ReadHandle = saved_;
    ::close(fds_[0]);
    if (fds_[1] >= 0) ::close(fds_[1]);
  }
  void Send(const std::string& bytes) {
    ASSERT_EQ(::write(fds_[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  void CloseWriter() {
    ::close(fds_[1]);
    fds_[1] = -1;
  }

  int fds_[2] = {-1, -1};
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
