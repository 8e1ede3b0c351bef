// The setup helper's changes to the user's PATH: the install folder is added once and taken
// out again, and nothing else of the user's PATH changes.

#include "path_list.h"

#include <gtest/gtest.h>

namespace downloader::setup {
namespace {

const std::wstring kFolder = L"C:\\Program Files\\Downloader";

TEST(UserPath, TheFolderIsAddedOnce) {
  EXPECT_EQ(WithFolder(L"", kFolder), kFolder);
  EXPECT_EQ(WithFolder(L"C:\\Tools", kFolder), L"C:\\Tools;" + kFolder);
  EXPECT_EQ(WithFolder(L"C:\\Tools;", kFolder), L"C:\\Tools;" + kFolder);
  // Already there, in another letter case or with a backslash at its end.
  EXPECT_EQ(WithFolder(L"c:\\program files\\downloader\\;C:\\Tools", kFolder),
            L"c:\\program files\\downloader\\;C:\\Tools");
}

TEST(UserPath, OnlyTheFolderIsTakenOut) {
  EXPECT_EQ(WithoutFolder(L"C:\\Tools;" + kFolder, kFolder), L"C:\\Tools");
  EXPECT_EQ(WithoutFolder(kFolder + L"\\;%USERPROFILE%\\bin;;D:\\x;", kFolder),
            L"%USERPROFILE%\\bin;;D:\\x;");
  EXPECT_EQ(WithoutFolder(kFolder, kFolder), L"");
  // A folder inside it, or one whose name begins the same, is another folder.
  const std::wstring others = kFolder + L"\\examples;" + kFolder + L" 2";
  EXPECT_EQ(WithoutFolder(others, kFolder), others);
  EXPECT_EQ(WithFolder(WithoutFolder(L"A;B", kFolder), kFolder), L"A;B;" + kFolder);
}

}  // namespace
}  // namespace downloader::setup
