// A whole removal of a sample product by the built program, answered as a person would:
// shared libraries, a read-only file and a file that another program holds open.
#include <windows.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "support/program_run.h"
#include "support/testenv.h"
#include "support/windows.h"

namespace {

using testenv::FileExists;
using winui::Press;
using winui::WindowInfo;

const char kSharedDlls[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const DWORD kNoValue = 0xFFFFFFFF;

class FilePassEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    block_.messages = testenv::StandardMessages();
    // Listed in install order; the pass removes them in reverse.
    block_.files = {{".", "plain.txt", 0},
                    {".", "shared2.dll", blockfmt::FE_SHARED},
                    {".", "shared1.dll", blockfmt::FE_SHARED},
                    {".", "readonly.txt", 0},
                    {".", "inuse.txt", blockfmt::FE_CHECK_IN_USE}};
    for (const blockfmt::FileItem &file : block_.files)
      ASSERT_TRUE(testenv::WriteText(dir_ / file.name, file.name));
    // Not listed: keeps the folder after the run.
    ASSERT_TRUE(testenv::WriteText(dir_ / "user-data.txt", "mine"));
    ASSERT_TRUE(SetFileAttributesA((dir_ / "readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(testenv::SetRegDword(HKEY_LOCAL_MACHINE, kSharedDlls, dir_ / "shared2.dll", 2));
    ASSERT_TRUE(testenv::SetRegDword(HKEY_LOCAL_MACHINE, kSharedDlls, dir_ / "shared1.dll", 1));
    ASSERT_TRUE(testenv::InstallStub(exe_, block_));
    // Held without sharing, as a running program would hold its file.
    inUse_ = CreateFileA((dir_ / "inuse.txt").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, inUse_);
  }
  void TearDown() override {
    Release();
    for (const char *name : {"shared2.dll", "shared1.dll"})
      RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kSharedDlls, (dir_ / name).c_str());
  }
  void Release() {
    if (inUse_ != INVALID_HANDLE_VALUE) CloseHandle(inUse_);
    inUse_ = INVALID_HANDLE_VALUE;
  }
  DWORD Count(const char *name) {
    DWORD count = kNoValue;
    testenv::GetRegDword(HKEY_LOCAL_MACHINE, kSharedDlls, dir_ / name, &count);
    return count;
  }

  testenv::ScopedTestDir dir_{"file-pass-e2e"};
  blockfmt::Block block_;
  std::string exe_ = dir_ / "uninstall.exe";
  HANDLE inUse_ = INVALID_HANDLE_VALUE;
};

TEST_F(FilePassEndToEnd, RetryAfterReleaseRemovesExactlyWhatNoOneElseUses) {
  const std::string readOnly = dir_ / "readonly.txt", shared1 = dir_ / "shared1.dll";
  testenv::ProgramRun run("\"" + exe_ + "\"");
  ASSERT_TRUE(run.started());
  run.answers().Answer("<1>", Press::Click, IDOK, 1);
  run.answers().Answer("<9> " + readOnly, Press::Click, IDYES, 1);
  run.answers().Answer("<10> " + shared1, Press::Click, IDYES, 1);
  run.answers().Answer("<2>", Press::Click, IDOK, 1);
  // The warning is answered here, once the file is free: Retry must then go on.
  HWND warning = winui::WaitForWindow(run.id(), "#32770", "<15>", 30000);
  ASSERT_NE(nullptr, warning);
  // Pressed once the answerer has recorded it, so that the count below is exact.
  for (DWORD start = GetTickCount(); GetTickCount() - start < 5000; Sleep(20))
    if (winui::CountShown(run.answers().Seen(), "<15>") > 0) break;
  Release();
  ASSERT_TRUE(winui::PressOn(warning, Press::Click, IDRETRY));
  DWORD code = run.Wait();
  // Checked at once: the self-deletion script may remove the program itself any moment.
  std::vector<WindowInfo> seen = run.answers().Seen();
  std::string all = winui::DescribeAll(seen);
  EXPECT_EQ(0u, code) << all;

  for (const char *gone : {"plain.txt", "inuse.txt", "readonly.txt", "shared1.dll"})
    EXPECT_FALSE(FileExists(dir_ / gone)) << gone;
  EXPECT_TRUE(FileExists(dir_ / "shared2.dll"));  // another product still counts it
  EXPECT_TRUE(FileExists(dir_ / "user-data.txt"));
  EXPECT_TRUE(testenv::DirExists(dir_.path()));
  EXPECT_EQ(1u, Count("shared2.dll"));
  EXPECT_EQ(kNoValue, Count("shared1.dll"));

  // The questions: each exactly once, and none about the library others still use.
  for (const std::string &text : std::vector<std::string>{"<1>", "<15>", "<9> ", "<9> " + readOnly,
                                                          "<10> ", "<10> " + shared1, "<2>"})
    EXPECT_EQ(1, winui::CountShown(seen, text)) << text << "\n" << all;
  // In run order: confirmation, warning, then the pass's questions, the closing message last.
  ASSERT_FALSE(seen.empty());
  EXPECT_TRUE(seen.front().Contains("<1>")) << all;
  EXPECT_TRUE(seen.back().Contains("<2>")) << all;
  size_t prompt = 0, question = 0;
  for (size_t i = 0; i < seen.size(); ++i) {
    if (seen[i].Contains("<9> ")) prompt = i;
    if (seen[i].Contains("<10> ")) question = i;
  }
  EXPECT_LT(prompt, question) << all;  // the read-only file is listed after shared1.dll
}

TEST_F(FilePassEndToEnd, CancelledWarningRemovesNothing) {
  testenv::ProgramRun run("\"" + exe_ + "\"");
  ASSERT_TRUE(run.started());
  run.answers().Answer("<1>", Press::Click, IDOK, 1);
  run.answers().Answer("<15>", Press::Click, IDCANCEL, 1);
  DWORD code = run.Wait();
  std::vector<WindowInfo> seen = run.answers().Seen();
  std::string all = winui::DescribeAll(seen);
  EXPECT_EQ(0u, code) << all;
  ASSERT_EQ(2u, seen.size()) << all;  // no progress, no closing message
  EXPECT_TRUE(seen[0].Contains("<1>")) << all;
  EXPECT_TRUE(seen[1].Contains("<15>")) << all;

  for (const blockfmt::FileItem &file : block_.files)
    EXPECT_TRUE(FileExists(dir_ / file.name)) << file.name;
  EXPECT_EQ(2u, Count("shared2.dll"));
  EXPECT_EQ(1u, Count("shared1.dll"));
  // A cancelled run does not delete itself either.
  Sleep(500);
  EXPECT_TRUE(FileExists(exe_));
}

}  // namespace
