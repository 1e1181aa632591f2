// A whole removal of a sample product by the built program, answered as a person would:
// shared libraries, a read-only file and a file that another program holds open.
#include <windows.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "support/program_run.h"
#include "support/testenv.h"
#include "support/windows.h"
#include "ui/resource_ids.h"

namespace {

using testenv::FileExists;
using winui::Press;
using winui::WindowInfo;

const char kSharedDlls[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const DWORD kNoValue = 0xFFFFFFFF;

int Shown(const std::vector<WindowInfo> &seen, const std::string &text) {
  int n = 0;
  for (const WindowInfo &w : seen) n += w.Contains(text) ? 1 : 0;
  return n;
}
std::string DescribeAll(const std::vector<WindowInfo> &seen) {
  std::string out;
  for (const WindowInfo &w : seen) out += w.Describe();
  return out;
}

class FilePassEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    // Bracketed texts, so that none is a part of another ("<1>" is not in "<15>").
    for (int i = 0; i < 16; ++i)
      block_.messages.push_back("<" + std::to_string(i) + ">" + (i >= 7 && i <= 10 ? " %s" : ""));
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
    if (Shown(run.answers().Seen(), "<15>") > 0) break;
  Release();
  ASSERT_TRUE(winui::PressOn(warning, Press::Click, IDRETRY));
  DWORD code = run.Wait();
  // Checked at once: the self-deletion script may remove the program itself any moment.
  std::vector<WindowInfo> seen = run.answers().Seen();
  std::string all = DescribeAll(seen);
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
    EXPECT_EQ(1, Shown(seen, text)) << text << "\n" << all;
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
  std::string all = DescribeAll(seen);
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

// The answerer itself: a dialog whose text is filled in only after it is shown (as a
// message box can be read in that moment) is still answered by a rule on its text.
INT_PTR CALLBACK LateTextProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      SetTimer(dialog, 1, 300, nullptr);
      return TRUE;
    case WM_TIMER:
      KillTimer(dialog, 1);
      SetDlgItemTextA(dialog, IDC_TEXT, "late text");
      return TRUE;
    case WM_COMMAND:
      EndDialog(dialog, LOWORD(wParam));
      return TRUE;
  }
  return FALSE;
}

TEST(DialogAnswererTexts, ADialogWhoseTextComesLateIsAnsweredByItsText) {
  // The file prompt's template: a text line that stays empty until its owner fills it in.
  HMODULE stub = LoadLibraryExA(testenv::StubPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(nullptr, stub) << testenv::StubPath();
  winui::DialogAnswerer answerer;
  answerer.Answer("late text", Press::Click, IDC_PROMPT_NO, 1);
  answerer.Answer("", Press::Click, IDC_PROMPT_YES, 1);  // what an early read would get
  INT_PTR result =
      DialogBoxParamA(stub, MAKEINTRESOURCEA(IDD_FILE_PROMPT), nullptr, LateTextProc, 0);
  answerer.Stop();
  FreeLibrary(stub);
  EXPECT_EQ(IDC_PROMPT_NO, result);
  std::vector<WindowInfo> seen = answerer.Seen();
  ASSERT_EQ(1u, seen.size());
  EXPECT_TRUE(seen[0].Contains("late text")) << seen[0].Describe();
}

}  // namespace
