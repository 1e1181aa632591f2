// The self-deletion script: batch file naming, and a copy of this test program that
// deletes itself and its folder the way the removal program does at its end.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "app/state.h"
#include "external/external.h"
#include "support/testenv.h"

using testenv::ScopedTestDir;

namespace {

const char kChildVariable[] = "TALLOWIN_SELFDELETE_CHILD";

std::string OwnPath() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, n < MAX_PATH ? n : 0);
}

// Points the temporary folder of this process (and of its children) elsewhere.
class ScopedTemp {
 public:
  explicit ScopedTemp(const std::string &folder) {
    Save("TMP", &tmp_);
    Save("TEMP", &temp_);
    SetEnvironmentVariableA("TMP", folder.c_str());
    SetEnvironmentVariableA("TEMP", folder.c_str());
  }
  ~ScopedTemp() {
    SetEnvironmentVariableA("TMP", tmp_.empty() ? nullptr : tmp_.c_str());
    SetEnvironmentVariableA("TEMP", temp_.empty() ? nullptr : temp_.c_str());
  }

 private:
  static void Save(const char *name, std::string *value) {
    char text[MAX_PATH];
    DWORD n = GetEnvironmentVariableA(name, text, MAX_PATH);
    if (n > 0 && n < MAX_PATH) *value = text;
  }
  std::string tmp_, temp_;
};

int CountBatchFiles(const std::string &folder) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "\\delme*.bat").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return 0;
  int n = 0;
  do ++n;
  while (FindNextFileA(find, &data));
  FindClose(find);
  return n;
}

TEST(CreateBatchFile, TakesTheFirstFreeNumber) {
  ScopedTestDir dir("selfdelete-names");
  ScopedTemp temp(dir.path());
  testenv::WriteText(dir / "delme1.bat", "one");
  testenv::WriteText(dir / "delme2.bat", "two");
  char path[260];
  HANDLE file = CreateBatchFile(path, "delme%d.bat");
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  CloseHandle(file);
  EXPECT_EQ(dir / "delme3.bat", std::string(path));

  // A name that exists but cannot be opened for reading is not taken either.
  testenv::MakeDirs(dir / "delme4.bat");
  file = CreateBatchFile(path, "delme%d.bat");
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  CloseHandle(file);
  EXPECT_EQ(dir / "delme5.bat", std::string(path));
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(testenv::ReadBytes(dir / "delme1.bat", &bytes));
  EXPECT_EQ("one", std::string(bytes.begin(), bytes.end()));
  EXPECT_TRUE(testenv::DirExists(dir / "delme4.bat"));
}

// Runs only inside the copy that the tests below start.
TEST(SelfDeleteChild, StartsTheScript) {
  if (GetEnvironmentVariableA(kChildVariable, nullptr, 0) == 0) GTEST_SKIP();
  std::string own = OwnPath();
  // Held open without delete sharing, the file resists the script's first tries as a
  // running program's file does.
  HANDLE hold =
      CreateFileA(own.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, hold);
  testenv::PrepareRunState(own.substr(0, own.rfind('\\')));
  StartSelfDeletion();
  Sleep(2500);
  EXPECT_TRUE(testenv::FileExists(own));
  CloseHandle(hold);
}

class SelfDeletionTest : public ::testing::Test {
 protected:
  SelfDeletionTest() : dir_("selfdelete"), temp_(dir_ / "t&mp 100% \xe9t\xe9") {
    testenv::MakeDirs(temp_);
    char folder[MAX_PATH];
    ExpandEnvironmentStringsA("%ProgramFiles%", folder, MAX_PATH);
    programFiles_ = folder;
    install_ = programFiles_ + "\\A&B 100%";
    exe_ = install_ + "\\uninstall.exe";
    // Names that a script which split or expanded the path would reach instead.
    siblings_ = {programFiles_ + "\\A", programFiles_ + "\\A&B 100"};
    for (const std::string &sibling : siblings_) testenv::MakeDirs(sibling);
    testenv::MakeDirs(install_);
  }
  ~SelfDeletionTest() override {
    testenv::RemoveTree(install_);
    for (const std::string &sibling : siblings_) RemoveDirectoryA(sibling.c_str());
  }

  // Starts the copy and waits for the exe to go; true when it went.
  bool RunCopyAndWaitForExe() {
    if (!CopyFileA(OwnPath().c_str(), exe_.c_str(), FALSE)) return false;
    ScopedTemp temp(temp_);
    SetEnvironmentVariableA(kChildVariable, "1");
    DWORD code = testenv::RunAndWait("\"" + exe_ + "\" --gtest_filter=SelfDeleteChild.*", 60000);
    SetEnvironmentVariableA(kChildVariable, nullptr);
    EXPECT_EQ(0u, code);
    for (int i = 0; i < 200 && testenv::FileExists(exe_); ++i) Sleep(50);
    return !testenv::FileExists(exe_);
  }
  bool WaitForBatchGone() {
    for (int i = 0; i < 100 && CountBatchFiles(temp_) > 0; ++i) Sleep(50);
    return CountBatchFiles(temp_) == 0;
  }

  ScopedTestDir dir_;
  std::string temp_, programFiles_, install_, exe_;
  std::vector<std::string> siblings_;
};

TEST_F(SelfDeletionTest, RemovesTheProgramItsFolderAndTheScript) {
  ASSERT_TRUE(RunCopyAndWaitForExe()) << "the program file is still there";
  for (int i = 0; i < 100 && testenv::DirExists(install_); ++i) Sleep(50);
  EXPECT_FALSE(testenv::DirExists(install_));
  EXPECT_TRUE(WaitForBatchGone());
  for (const std::string &sibling : siblings_) EXPECT_TRUE(testenv::DirExists(sibling)) << sibling;
  EXPECT_TRUE(testenv::DirExists(programFiles_));
}

TEST_F(SelfDeletionTest, AFolderThatStillHoldsFilesStays) {
  testenv::WriteText(install_ + "\\leftover.txt", "kept");
  ASSERT_TRUE(RunCopyAndWaitForExe()) << "the program file is still there";
  EXPECT_TRUE(WaitForBatchGone());
  EXPECT_TRUE(testenv::FileExists(install_ + "\\leftover.txt"));
  EXPECT_TRUE(testenv::DirExists(install_));
}

}  // namespace
